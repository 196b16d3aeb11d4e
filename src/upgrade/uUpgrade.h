// Self-upgrade: asks the version service which client version it offers, downloads the
// package, unpacks it into the staging folder "tmpu" beside the program, rewrites the
// package's list into the list of moves and starts the updater `update`.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "uCommonHttp.h"
#include "uLog.h"
#include "uSettings.h"

class TUpgrade {
 public:
  explicit TUpgrade(const TSettings& AOptions);
  ~TUpgrade();
  TUpgrade(const TUpgrade&) = delete;
  TUpgrade& operator=(const TUpgrade&) = delete;

  // Empties OnlineVersion.
  void Clear();
  // Asks for the offered version; true when the answer names one (then in OnlineVersion).
  bool TestUpgrades();
  // Asks for the version again, downloads the package and installs it. OnlineVersion is
  // empty afterwards. False when an exchange fails or the package cannot be unpacked.
  bool DownloadUpgrade();
  std::string OnlineVersion() const { return fOnlineVersion; }
  // Why the last installation failed (the package could not be unpacked); empty otherwise.
  std::string LastError() const { return fLastError; }

  // Receiver of the HTTP client's diagnostic lines (error level, tag "APL"); none by default.
  TLogWriter* Log = nullptr;

  // ---- building blocks, public for their tests ----------------------------------------
  // Unpacks the stored package into the staging folder, installs a new updater it brings,
  // rewrites the list and starts the updater. True for an empty package (nothing done).
  bool InstallPackage(const TMemoryStream& Package);
  // Extracts every entry of a zip file below Path (created sub-folders, replaced files).
  // Entries that would land outside Path are refused and fail the extraction.
  static bool ExtractPackage(const std::string& ZipFileName, const std::string& Path, std::string* Err = nullptr);
  // Reads the version query's answer; false when it offers no version.
  static bool ParseVersionAnswer(const std::string& Body, std::string& Version);
  // Field Index (from 0) of Text split at Separator; empty beyond the last field.
  static std::string SplitField(const std::string& Text, int Index, const std::string& Separator);
  // One line of the package list as the updater reads it: "apl A;B" becomes
  // Dir + B + ";" + Dir + "tmpu/" + A; any other line is returned unchanged.
  static std::string RewriteListLine(const std::string& Line, const std::string& Dir);

  // Test seams: the installation folder (default: the program's directory, with its
  // trailing separator) and the way the updater is started (default: a detached process).
  std::string InstallDir;
  std::function<bool(const std::string& Program, const std::vector<std::string>& Args)> OnStartUpdater;

 private:
  bool QueryVersion(const std::string& Url, std::string& Version);
  bool DownloadPackage(const std::string& Url, std::string& Version, TMemoryStream& Package);
  void PrepareExchange();
  void HttpLog(const std::string& Text, bool Overwrite);
  std::string ServiceUrl() const;
  std::string Dir() const;

  TSettings fOptions;
  std::unique_ptr<TCommonHttp> fCommonHttp;
  std::string fOnlineVersion;
  std::string fLastError;
};
