// The client's own version and build date: shown in the help text, sent to the services,
// compared with the version the version service offers.
#pragma once

#include <string>

#include "uStrings.h"

inline constexpr const char* AppName = "Zentrik";
inline constexpr const char* AppVersion = "1.0.5";
inline constexpr const char* AppBuildDate = "26/03/2026";

// The "aplikace_info" text the services receive: "Zentrik Windows, version 1.0.5, date 26/03/2026".
// The services know their clients by it, so it keeps the platform name they have always been sent.
inline std::string AppInfo() {
  return Format("%s %s, version %s, date %s", AppName, "Windows", AppVersion, AppBuildDate);
}
