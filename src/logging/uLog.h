// Log writer: records with level, message and tag, rendered to one line each and appended to
// a file chosen by the tag. Safe to call from any thread; records of one writer reach the
// file in the order they were made; each line is flushed at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "uPlatform.h"

enum class TLogLevel { llDebug = 0, llInfo = 1, llWarning = 2, llError = 3, llFatal = 4 };

struct TLogRecord {
  TLogLevel Level = TLogLevel::llInfo;
  std::string Message;
  std::string Tag;
  Platform::TDateTime Time;  // when the record was made
  int ThreadId = 0;
};

// Turns one record into one line (without line end). Empty: the default layout.
using TLogRenderer = std::function<std::string(const TLogRecord&)>;

// Default layout: "2026-03-26 08:15:42:123 [TID     4711][INFO   ] Start aplikace [APL]".
std::string DefaultLogRender(const TLogRecord& Item);

struct TLogWriterConfig {
  std::string Directory;        // created with its parents before the first record
  std::string FileNamePattern;  // "{tag}", "{pid}" (8 digits), "{number}" (2 digits) replaced
  int MaxFiles = 1;             // files kept in the rotation set
  int64_t MaxFileSize = 1024000;  // bytes; rotation once a line makes the file grow beyond it
  TLogRenderer Renderer;        // empty: DefaultLogRender
  TLogLevel MinLevel = TLogLevel::llInfo;
};

class TLogWriter {
 public:
  explicit TLogWriter(TLogWriterConfig Config);
  ~TLogWriter();
  TLogWriter(const TLogWriter&) = delete;
  TLogWriter& operator=(const TLogWriter&) = delete;

  void Log(TLogLevel Level, const std::string& Message, const std::string& Tag);
  void Debug(const std::string& Message, const std::string& Tag) { Log(TLogLevel::llDebug, Message, Tag); }
  void Info(const std::string& Message, const std::string& Tag) { Log(TLogLevel::llInfo, Message, Tag); }
  void Warn(const std::string& Message, const std::string& Tag) { Log(TLogLevel::llWarning, Message, Tag); }
  void Error(const std::string& Message, const std::string& Tag) { Log(TLogLevel::llError, Message, Tag); }
  void Fatal(const std::string& Message, const std::string& Tag) { Log(TLogLevel::llFatal, Message, Tag); }

  // Full path of the current file (number 00) for a tag.
  std::string FileNameFor(const std::string& Tag) const;
  // Full path of the file with the given number in a tag's rotation set (00 is the current one).
  std::string FileNameFor(const std::string& Tag, int Number) const;
  const TLogWriterConfig& Config() const { return fConfig; }

 private:
  void Rotate(const std::string& Tag);

  struct TImpl;
  TLogWriterConfig fConfig;
  std::unique_ptr<TImpl> fImpl;
};
