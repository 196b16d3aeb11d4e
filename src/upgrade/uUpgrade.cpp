#include "uUpgrade.h"

// Placeholder bodies until the unit lands; the header is what the command runs code against.
TUpgrade::TUpgrade(const TSettings& AOptions) : fOptions(AOptions), fCommonHttp(std::make_unique<TCommonHttp>()) {}
TUpgrade::~TUpgrade() {
  fCommonHttp.reset();
  Clear();
}
void TUpgrade::Clear() { fOnlineVersion.clear(); }
bool TUpgrade::TestUpgrades() {
  Clear();
  return false;
}
bool TUpgrade::DownloadUpgrade() {
  Clear();
  return false;
}
bool TUpgrade::InstallPackage(const TMemoryStream&) { return false; }
bool TUpgrade::ExtractPackage(const std::string&, const std::string&, std::string*) { return false; }
bool TUpgrade::ParseVersionAnswer(const std::string&, std::string&) { return false; }
std::string TUpgrade::SplitField(const std::string&, int, const std::string&) { return {}; }
std::string TUpgrade::RewriteListLine(const std::string& Line, const std::string&) { return Line; }
