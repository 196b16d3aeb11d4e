// Error classes. Each carries the type name that the entry routine prints before its message.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& Message) : std::runtime_error(Message) {}
  virtual const char* ClassName() const noexcept { return "Exception"; }
};

#define ZENTRIK_DECLARE_ERROR(Name, Base)                                   \
  class Name : public Base {                                                \
   public:                                                                  \
    explicit Name(const std::string& Message) : Base(Message) {}            \
    const char* ClassName() const noexcept override { return #Name; }       \
  };

// A text that is not a number where one is required: "'%s' is not a valid integer value".
ZENTRIK_DECLARE_ERROR(EConvertError, Exception)
// A file or directory operation that failed.
ZENTRIK_DECLARE_ERROR(EInOutError, Exception)
// A lookup of an absent key ("Item not found") or a duplicate key ("Duplicates not allowed").
ZENTRIK_DECLARE_ERROR(EListError, Exception)
// A worker gives up its transfer with the complete message text.
ZENTRIK_DECLARE_ERROR(EThreadError, Exception)

// Type name of any caught error, for the one console line of the entry routine.
inline const char* ErrorClassName(const std::exception& E) {
  if (auto* e = dynamic_cast<const Exception*>(&E)) return e->ClassName();
  return "Exception";
}
