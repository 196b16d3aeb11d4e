// The sandbox started as the end-to-end tests and the demo start it: no ports, no CA folder
// given. It must then serve exactly the base addresses the client was built with, signed by
// the CA file the client was built to trust.
#include <gtest/gtest.h>

#include "uSandboxProcess.h"
#include "uTestSupport.h"
#include "zentrik_config.h"

namespace {

using namespace TestSupport;

TEST(SandboxDefaults, ServesTheBuildsAddressesWithTheBuildsCa) {
  TSandbox sandbox;
  EXPECT_NE(sandbox.Output().find(std::string("zentrik-sandbox ready production=") + zentrik_config::ProductionUrl +
                                  " test=" + zentrik_config::TestUrl + "\n"),
            std::string::npos)
      << sandbox.Output();
  std::string ca = zentrik_config::CaFile;
  ASSERT_FALSE(ca.empty()) << "the sandbox preset names a CA file";
  EXPECT_EQ(sandbox.CaFile(), ca);
  for (const char* base : {zentrik_config::ProductionUrl, zentrik_config::TestUrl}) {
    auto r = RunProcess("/usr/bin/curl", {"-sS", "--cacert", ca, "-F", "type=4", std::string(base) + "/zentrik/version/"});
    EXPECT_EQ(r.ExitCode, 0) << base << ": " << r.Err;
    EXPECT_EQ(r.Out, "Version: 1.0.5") << base;
  }
  EXPECT_TRUE(sandbox.SetVersion("1.0.6"));
  EXPECT_EQ(sandbox.InventoryLines("version").size(), 2u);
  EXPECT_TRUE(sandbox.Inventory().find("version standin=test type=4") != std::string::npos);
}

}  // namespace
