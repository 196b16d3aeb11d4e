#include "ZentrikLogRenderer.h"

#include <string>

namespace {

std::string Pad(int Value, int Digits) {
  std::string s = std::to_string(Value);
  while (static_cast<int>(s.size()) < Digits) s.insert(s.begin(), '0');
  return s;
}

// The locale's time separator; on this platform the time is always written with ":".
constexpr const char* TimeSeparator = ":";

}  // namespace

std::string LogLevelName(TLogLevel Level) {
  switch (Level) {
    case TLogLevel::llDebug: return "DEBUG";
    case TLogLevel::llInfo: return "INFO";
    case TLogLevel::llWarning: return "WARN";
    case TLogLevel::llError: return "ERROR";
    default: return "UNKNOWN";
  }
}

std::string TZentrikLogRenderer::RenderLogItem(const TLogRecord& Item) {
  const auto& t = Item.Time;
  std::string line = Pad(t.Year, 4) + "-" + Pad(t.Month, 2) + "-" + Pad(t.Day, 2) + " " + Pad(t.Hour, 2) +
                     TimeSeparator + Pad(t.Minute, 2) + TimeSeparator + Pad(t.Second, 2) + "." + Pad(t.Millisecond, 3);
  std::string level = LogLevelName(Item.Level);
  if (level.size() < 8) level.append(8 - level.size(), ' ');
  line += " [" + level + "]";
  line += Item.Message;
  line += " [" + Item.Tag + "]";
  return line;
}
