// The client's own version and build date: shown in the help text, sent to the services,
// compared with the version the version service offers.
#pragma once

inline constexpr const char* AppName = "Zentrik";
inline constexpr const char* AppVersion = "1.0.5";
inline constexpr const char* AppBuildDate = "26/03/2026";
