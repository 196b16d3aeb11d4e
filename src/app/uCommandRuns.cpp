#include "uCommandRuns.h"

// Placeholder until the command runs land.
void RunUpgradeCommand(const TSettings&, TLogWriter&) {}
void RunTransfers(const TSettings&, TLogWriter&, const std::vector<std::string>&) {}
