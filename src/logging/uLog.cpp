#include "uLog.h"

#include <map>
#include <mutex>

#include "uStrings.h"

namespace {

std::string Pad(int Value, int Digits) {
  std::string s = std::to_string(Value);
  while (static_cast<int>(s.size()) < Digits) s.insert(s.begin(), '0');
  return s;
}

const char* DefaultLevelName(TLogLevel Level) {
  switch (Level) {
    case TLogLevel::llDebug: return "DEBUG";
    case TLogLevel::llInfo: return "INFO";
    case TLogLevel::llWarning: return "WARNING";
    case TLogLevel::llError: return "ERROR";
    case TLogLevel::llFatal: return "FATAL";
  }
  return "";
}

std::string PadRight(std::string Text, size_t Width) {
  if (Text.size() < Width) Text.append(Width - Text.size(), ' ');
  return Text;
}

std::string PadLeft(std::string Text, size_t Width) {
  if (Text.size() < Width) Text.insert(0, Width - Text.size(), ' ');
  return Text;
}

}  // namespace

std::string DefaultLogRender(const TLogRecord& Item) {
  const auto& t = Item.Time;
  std::string line = Pad(t.Year, 4) + "-" + Pad(t.Month, 2) + "-" + Pad(t.Day, 2) + " " + Pad(t.Hour, 2) + ":" +
                     Pad(t.Minute, 2) + ":" + Pad(t.Second, 2) + ":" + Pad(t.Millisecond, 3) + " ";
  line += "[TID " + PadLeft(std::to_string(Item.ThreadId), 8) + "]";
  line += "[" + PadRight(DefaultLevelName(Item.Level), 7) + "]";
  line += " " + Item.Message + " [" + Item.Tag + "]";
  return line;
}

// One open file per tag; everything under one lock, so records of this writer reach their
// files in the order they were made, whichever thread made them.
struct TLogWriter::TImpl {
  std::mutex Lock;
  std::map<std::string, Platform::TAppendFile> Files;
};

TLogWriter::TLogWriter(TLogWriterConfig Config) : fConfig(std::move(Config)), fImpl(std::make_unique<TImpl>()) {
  if (fConfig.MaxFiles < 1) fConfig.MaxFiles = 1;
}

TLogWriter::~TLogWriter() = default;

std::string TLogWriter::FileNameFor(const std::string& Tag) const { return FileNameFor(Tag, 0); }

std::string TLogWriter::FileNameFor(const std::string& Tag, int Number) const {
  std::string name = fConfig.FileNamePattern;
  name = ReplaceAll(name, "{pid}", Pad(Platform::ProcessId(), 8));
  name = ReplaceAll(name, "{number}", Pad(Number, 2));
  name = ReplaceAll(name, "{tag}", Tag);
  if (fConfig.Directory.empty()) return name;
  return Platform::IncludeTrailingPathDelimiter(fConfig.Directory) + name;
}

void TLogWriter::Log(TLogLevel Level, const std::string& Message, const std::string& Tag) {
  if (static_cast<int>(Level) < static_cast<int>(fConfig.MinLevel)) return;
  TLogRecord item;
  item.Level = Level;
  item.Message = Message;
  item.Tag = Tag;
  item.Time = Platform::Now();
  item.ThreadId = Platform::ThreadId();
  std::string line = (fConfig.Renderer ? fConfig.Renderer(item) : DefaultLogRender(item)) + "\n";

  std::lock_guard<std::mutex> guard(fImpl->Lock);
  Platform::TAppendFile& file = fImpl->Files[Tag];
  if (!file.IsOpen()) {
    // A directory or file that cannot be made loses this record; the next one tries again.
    if (!fConfig.Directory.empty() && !Platform::ForceDirectories(fConfig.Directory)) return;
    if (!file.Open(FileNameFor(Tag))) return;
  }
  if (!file.Write(line)) return;
  if (file.Size() > fConfig.MaxFileSize) {
    file.Close();
    Rotate(Tag);
  }
}

// The full file becomes number 01 and the older ones move up one; the last one is dropped.
// With one file only, the full file is simply deleted. The next record starts a new 00.
void TLogWriter::Rotate(const std::string& Tag) {
  int n = fConfig.MaxFiles;
  Platform::DeleteFile(FileNameFor(Tag, n - 1));
  for (int i = n - 2; i >= 0; --i) Platform::MoveNoReplace(FileNameFor(Tag, i), FileNameFor(Tag, i + 1));
}
