#include "uServiceUrls.h"

#include <mutex>

#include "zentrik_config.h"

namespace {
std::mutex Lock;
std::string OverrideProduction, OverrideTest, OverrideCa;
}  // namespace

std::string ServiceBaseUrl(bool Test) {
  std::lock_guard<std::mutex> g(Lock);
  if (Test) return OverrideTest.empty() ? zentrik_config::TestUrl : OverrideTest;
  return OverrideProduction.empty() ? zentrik_config::ProductionUrl : OverrideProduction;
}

std::string ServiceCaFile() {
  std::lock_guard<std::mutex> g(Lock);
  return OverrideCa.empty() ? zentrik_config::CaFile : OverrideCa;
}

void SetServiceOverrides(const std::string& ProductionUrl, const std::string& TestUrl, const std::string& CaFile) {
  std::lock_guard<std::mutex> g(Lock);
  OverrideProduction = ProductionUrl;
  OverrideTest = TestUrl;
  OverrideCa = CaFile;
}
