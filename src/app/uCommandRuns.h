// What follows the entry routine's checks: the upgrade command, and the transfer runs
// (version notice, one worker per existing input file, run strictly one after another).
#pragma once

#include <string>
#include <vector>

#include "uLog.h"
#include "uSettings.h"

// The upgrade command (Settings.pType is 0).
void RunUpgradeCommand(const TSettings& Settings, TLogWriter& Log);
// The transfer run of orvel (pType 1) or kalvio (pType 2) over FileList.
void RunTransfers(const TSettings& Settings, TLogWriter& Log, const std::vector<std::string>& FileList);
