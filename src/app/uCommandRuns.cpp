#include "uCommandRuns.h"

#include <memory>

#include "uEventHandlers.h"
#include "uMessages.h"
#include "uPlatform.h"
#include "uStrings.h"
#include "uUpgrade.h"
#include "uVersion.h"

namespace {

const std::string AppTag = "APL";

// The version service offers any text other than our own version as new: there is no ordering.
void VersionNotice(const TSettings& Settings, TLogWriter& Log) {
  TUpgrade upgrade(Settings);
  if (upgrade.TestUpgrades() && upgrade.OnlineVersion() != AppVersion)
    Log.Info(Format(MsgNewVersion, upgrade.OnlineVersion()), AppTag);
}

}  // namespace

void RunUpgradeCommand(const TSettings& Settings, TLogWriter& Log) {
  TUpgrade upgrade(Settings);
  if (upgrade.TestUpgrades() && upgrade.OnlineVersion() != AppVersion) {
    if (!upgrade.DownloadUpgrade()) Log.Error(MsgUpgradeFailed, AppTag);
  }
}

void RunTransfers(const TSettings& Settings, TLogWriter& Log, const std::vector<std::string>& FileList) {
  VersionNotice(Settings, Log);

  const bool orders = Settings.pType == 1;
  // Every worker is created (suspended) before the first one starts, so all see the same settings.
  std::vector<std::unique_ptr<TThread>> threadList;
  int missingCount = 0;
  for (const auto& path : FileList) {
    if (!Platform::FileExists(path)) {
      std::string text = Format(orders ? MsgOrderFileMissing : MsgShipmentFileMissing, path);
      Log.Error(text, AppTag);
      Platform::ConsoleWriteLine(text);
      ++missingCount;
      continue;
    }
    if (orders) {
      auto worker = std::make_unique<THybridApiThread>(path, Settings, true);
      InstallHandlers(*worker, Log);
      threadList.push_back(std::move(worker));
    } else {
      auto worker = std::make_unique<TKalvioApiThread>(path, Settings.UserName, Settings.Password, Settings, true);
      InstallHandlers(*worker, Log);
      worker->Log = &Log;
      worker->LogTag = AppTag;
      threadList.push_back(std::move(worker));
    }
  }
  if (missingCount == static_cast<int>(FileList.size())) {
    Log.Error(orders ? MsgNoOrderFileLeft : MsgNoShipmentFileLeft, AppTag);
    return;
  }
  // Strictly one after another: the next starts only once the previous has ended and is gone.
  for (auto& worker : threadList) {
    worker->Start();
    worker->WaitFor();
    worker.reset();
  }
}
