// Forgiving command-line option parser: turns one command-line text into a table of named
// options, each with the switch and flag characters written with it and its text values.
// It never rejects input; a malformed line yields fewer or different options, never an error.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class TOption;

// One value of an option.
class TParam {
 public:
  virtual ~TParam();
  virtual std::string AsString() const = 0;
  virtual void SetAsString(const std::string& aValue) = 0;
};

// One text value; points back to its option without owning it.
class TStringParam : public TParam {
 public:
  explicit TStringParam(TOption* aParent = nullptr) : fParent(aParent) {}
  std::string AsString() const override { return fValue; }
  void SetAsString(const std::string& aValue) override { fValue = aValue; }
  const std::string& Value() const { return fValue; }
  void SetValue(const std::string& aValue) { fValue = aValue; }
  TOption* Parent() const { return fParent; }
  // The value as written back to a command line: wrapped in double quotes when it holds a
  // space, in apostrophes when it holds a double quote as well.
  std::string AsQuotedString() const;

 private:
  std::string fValue;
  TOption* fParent;
};

// One named option. Owns its values.
class TOption {
 public:
  TOption() = default;
  TOption(const TOption&) = delete;
  TOption& operator=(const TOption&) = delete;
  virtual ~TOption();

  const std::string& Name() const { return fName; }
  void SetName(const std::string& aValue) { fName = aValue; }
  const std::string& Switch() const { return fSwitch; }
  void SetSwitch(const std::string& aValue) { fSwitch = aValue; }
  const std::string& Flag() const { return fFlag; }
  void SetFlag(const std::string& aValue) { fFlag = aValue; }
  bool Given() const { return fGiven; }
  void SetGiven(bool aValue) { fGiven = aValue; }
  // Rank of first appearance in a parse (table size right after the addition); 0 when declared.
  int32_t Order() const { return fOrder; }
  void SetOrder(int32_t aValue) { fOrder = aValue; }

  // Creates a value of the option's type, appends it and returns it (owned by the option).
  virtual TParam* AddParam() = 0;
  virtual std::string AsCommandLine() const = 0;
  // Sets Given to false and frees every value.
  virtual void ClearValues() = 0;
  virtual std::string Debug() const = 0;
  // Text of the first value, or "" (never the default value).
  virtual std::string AsString() const = 0;
  virtual std::vector<std::string> AsStringList() const = 0;

 private:
  std::string fName;
  std::string fSwitch;
  std::string fFlag;
  bool fGiven = false;
  int32_t fOrder = 0;
};

// The option with text values, the only value type the client uses.
class TStringOption : public TOption {
 public:
  using TParamList = std::vector<std::unique_ptr<TStringParam>>;

  TStringParam* AddParam() override;
  std::string AsCommandLine() const override;
  void ClearValues() override;
  std::string Debug() const override;
  std::string AsString() const override;
  std::vector<std::string> AsStringList() const override;

  const std::string& DefaultValue() const { return fDefaultValue; }
  void SetDefaultValue(const std::string& aValue) { fDefaultValue = aValue; }
  // First value, or DefaultValue while there is none.
  std::string Value() const;
  std::vector<std::string> ValueList() const;
  bool MultiParams() const { return fParams.size() > 1; }
  const TParamList& Params() const { return fParams; }
  // One value as is; several joined with ";" inside "(" ")"; "" when there is none.
  std::string ValuesText() const;

 private:
  TParamList fParams;
  std::string fDefaultValue;
};

// Name table of options. Operations taking a name lower-case it (A-Z only); the table's own
// lookups (ContainsKey, Item, TryGetValue) compare keys exactly. Owns its options.
// Enumeration runs in the order the options entered the table.
class TOptionParser {
 public:
  // Orders options by Order: -1, 0 or 1.
  struct TOptionComparer {
    static int Compare(const TOption& aLeft, const TOption& aRight);
    bool operator()(const TOption* aLeft, const TOption* aRight) const {
      return Compare(*aLeft, *aRight) < 0;
    }
  };

  class const_iterator {
   public:
    using Base = std::vector<std::unique_ptr<TOption>>::const_iterator;
    explicit const_iterator(Base aIt) : fIt(aIt) {}
    TOption& operator*() const { return **fIt; }
    TOption* operator->() const { return fIt->get(); }
    const_iterator& operator++() {
      ++fIt;
      return *this;
    }
    bool operator==(const const_iterator& aOther) const { return fIt == aOther.fIt; }
    bool operator!=(const const_iterator& aOther) const { return fIt != aOther.fIt; }

   private:
    Base fIt;
  };

  TOptionParser();  // room for 19 options
  TOptionParser(const TOptionParser&) = delete;
  TOptionParser& operator=(const TOptionParser&) = delete;
  ~TOptionParser();

  // Sets the option's Name to aName and adds it under the lower-cased name; the parser then
  // owns it (aOption is left empty). A key already present throws EListError
  // "Duplicates not allowed": the table is unchanged and aOption still holds the option,
  // untouched, so the caller keeps it. Call as Declare(name, std::move(option)) or with
  // std::make_unique<...>(); the pointer is taken by reference, with its own type, so that
  // no converted temporary can swallow the option when the declaration fails.
  template <class T>
    requires std::derived_from<T, TOption>
  void Declare(const std::string& aName, std::unique_ptr<T>&& aOption) {
    ReserveKey(aName, aOption.get());
    Adopt(aName, std::unique_ptr<TOption>(aOption.release()));
  }
  // Declares a new text option with the given default value; the parser owns it.
  TStringOption* DeclareTyped(const std::string& aName, const std::string& aDefault);

  // Parses a whole command line into the table; accepts any text and never fails.
  void Parse(const std::string& aOptions);

  bool Given(const std::string& aName) const;
  // The option's AsString; aDefault when there is no such option or its text is empty.
  std::string AsString(const std::string& aName, const std::string& aDefault) const;
  std::vector<std::string> AsStringList(const std::string& aName) const;
  void ClearValues();
  // Appends one line per option, in enumeration order.
  void Debug(std::vector<std::string>& Strings) const;
  std::string Duplicate() const;
  // Writes the table back as one command line (" " before each option, ascending Order);
  // options whose Name matches one of aNames (ASCII case ignored) are left out.
  std::string DuplicateExcluding(const std::vector<std::string>& aNames) const;

  bool ContainsKey(const std::string& Key) const;
  // Throws EListError "Item not found" for an absent key.
  TOption& Item(const std::string& Key) const;
  bool TryGetValue(const std::string& Key, TOption*& Option) const;
  size_t Count() const { return fItems.size(); }

  const_iterator begin() const { return const_iterator(fItems.begin()); }
  const_iterator end() const { return const_iterator(fItems.end()); }
  void ForEach(const std::function<void(TOption&)>& aAction) const;

 private:
  TOption* Find(const std::string& Key) const;
  // Declaring in two halves: the first checks the key and makes room, and is the only one
  // that fails; the second takes the option over.
  void ReserveKey(const std::string& aName, const TOption* aOption);
  void Adopt(const std::string& aName, std::unique_ptr<TOption> aOption);

  std::vector<std::unique_ptr<TOption>> fItems;     // enumeration order
  std::unordered_map<std::string, size_t> fIndex;   // key -> position in fItems
};
