// Self-upgrade end to end: copies of the built zentrik and update in an installation folder,
// the sandbox's version service offering a version and a package, the real processes.
#include <gtest/gtest.h>

#include <filesystem>

#include "uSandboxProcess.h"
#include "uTestSupport.h"

using namespace TestSupport;

namespace {

const std::string NewClientScript = "#!/bin/sh\necho \"new client 1.0.6\"\n";

// An installation folder holding the built client and updater, and a package folder the
// sandbox serves: a list and a marked new client.
struct TInstallation {
  TTempDir Install;
  TTempDir PackageDir;
  std::string Dir = std::filesystem::canonical(Install.Path()).string() + "/";

  TInstallation() {
    for (const char* name : {"zentrik", "update"}) std::filesystem::copy_file(BinDir() + "/" + name, Dir + name);
    PackageDir.Write("update.list", "apl zentrik;zentrik\r\n");
    std::string client = PackageDir.Write("zentrik", NewClientScript);
    std::filesystem::permissions(client, std::filesystem::perms(0755));
  }
  TProcessResult Run(const std::vector<std::string>& Args) { return RunProcess(Dir + "zentrik", Args, Dir, "", 60000); }
  std::string AppLog() const { return ApplicationLogs(Dir + "logs"); }
  // What an upgrade may leave behind: the staging folder and backups.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> r;
    for (const auto& n : ListNames(Dir))
      if (n == "tmpu" || n.find(".backup") != std::string::npos) r.push_back(n);
    return r;
  }
  TSandboxOptions Sandbox(const std::string& Version) const {
    TSandboxOptions o;
    o.Version = Version;
    o.PackageDir = PackageDir.Path();
    return o;
  }
};

TEST(ZentrikUpgrade, NewVersionReplacesTheClientThroughUpdate) {
  TInstallation in;
  TSandbox sandbox(in.Sandbox("1.0.6"));
  // Returns once update, which shares the client's output, has finished too.
  auto r = in.Run({"upgrade"});
  ASSERT_FALSE(r.TimedOut) << r.Out << r.Err;
  // update closes the client with SIGTERM during its closing pause: it still ends normally.
  EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_NE(in.AppLog().find("Konec aplikace [APL]"), std::string::npos) << in.AppLog();

  auto lines = Lines(r.Out);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  ASSERT_FALSE(lines.empty()) << r.Err;
  EXPECT_EQ(lines.back(), "Hotovo") << r.Out;
  EXPECT_NE(r.Out.find("Ukončení \"zentrik\""), std::string::npos) << r.Out;
  EXPECT_EQ(ReadText(in.Dir + "zentrik"), NewClientScript);
  EXPECT_EQ(in.Leftovers(), std::vector<std::string>{});
  EXPECT_EQ(in.AppLog().find("Aktualizace selhala"), std::string::npos);

  auto v = sandbox.InventoryLines("version");
  ASSERT_EQ(v.size(), 3u) << sandbox.Inventory();  // version check, version again, package
  EXPECT_NE(v[2].find("type=5"), std::string::npos) << v[2];

  // The client under the old name is the new one, and it runs.
  auto again = RunProcess(in.Dir + "zentrik", {}, in.Dir, "", 10000);
  EXPECT_EQ(again.Out, "new client 1.0.6\n");
}

TEST(ZentrikUpgrade, OwnVersionOfferedDownloadsNothing) {
  TInstallation in;
  TSandbox sandbox(in.Sandbox("1.0.5"));
  auto r = in.Run({"upgrade"});
  EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_EQ(r.Out.find("Hotovo"), std::string::npos) << r.Out;
  auto v = sandbox.InventoryLines("version");
  ASSERT_EQ(v.size(), 1u) << sandbox.Inventory();
  EXPECT_NE(v[0].find("type=4"), std::string::npos) << v[0];
  EXPECT_EQ(in.Leftovers(), std::vector<std::string>{});
  EXPECT_NE(ReadText(in.Dir + "zentrik"), NewClientScript);
}

TEST(ZentrikUpgrade, PackageThatIsNoZipIsLoggedAsFailed) {
  TInstallation in;
  TSandbox sandbox(in.Sandbox("1.0.6"));
  ASSERT_TRUE(sandbox.MalformedNext("version5"));
  auto r = in.Run({"upgrade"});
  EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_NE(in.AppLog().find("Aktualizace selhala"), std::string::npos) << in.AppLog();
  EXPECT_EQ(r.Out.find("Zavíraní aplikace Zentrik"), std::string::npos) << r.Out;  // update never started
  EXPECT_NE(ReadText(in.Dir + "zentrik"), NewClientScript);
}

TEST(ZentrikUpgrade, TransferRunLogsTheNewVersionNotice) {
  TInstallation in;
  TSandbox sandbox(in.Sandbox("1.0.6"));
  auto r = in.Run({"orvel", "-f=missing.cfg", "-u=demo", "-p=demo123"});
  EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  EXPECT_NE(in.AppLog().find("[100] Byla nalezena nová verze aplikace č. 1.0.6"), std::string::npos) << in.AppLog();
  // The notice only asks; nothing is downloaded.
  EXPECT_EQ(sandbox.InventoryLines("version").size(), 1u) << sandbox.Inventory();
  EXPECT_FALSE(Exists(in.Dir + "tmpu"));
}

}  // namespace
