#include "uEntry.h"

// Placeholder until the entry routine lands.
int ZentrikMain(const std::vector<std::string>&) { return 0; }
std::string RebuildCommandLine(const std::vector<std::string>&) { return {}; }
