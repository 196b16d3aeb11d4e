// Line layout of the per-transfer logs:
// "2026-03-26 08:15:42.123 [INFO    ][000] Start vlákna zakazka1.cfg [zakazka1.cfg]".
#pragma once

#include <string>

#include "uLog.h"

// "DEBUG", "INFO", "WARN", "ERROR"; "UNKNOWN" for any other level.
std::string LogLevelName(TLogLevel Level);

class TZentrikLogRenderer {
 public:
  void Setup() {}
  void TearDown() {}
  static std::string RenderLogItem(const TLogRecord& Item);
};
