// Version check, package download and hand-off: the answer rule, the list rewriting, the
// exchanges against an in-process HTTPS server, and extraction of good and hostile packages
// built here with libarchive.
#include "uUpgrade.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <mutex>

#include "uErrors.h"
#include "uPlatform.h"
#include "uServiceUrls.h"
#include "uTestHttpsServer.h"
#include "uTestSupport.h"

using namespace TestSupport;

namespace {

// ---- zip packages -----------------------------------------------------------------------

struct TZipEntry {
  enum TKind { File, Dir, Symlink } Kind = File;
  std::string Name;
  std::string Data;  // file content, or the link's target
};

TZipEntry F(std::string Name, std::string Data) { return {TZipEntry::File, std::move(Name), std::move(Data)}; }
TZipEntry D(std::string Name) { return {TZipEntry::Dir, std::move(Name), ""}; }
TZipEntry L(std::string Name, std::string Target) { return {TZipEntry::Symlink, std::move(Name), std::move(Target)}; }

la_ssize_t AppendToString(struct archive*, void* Client, const void* Buf, size_t Len) {
  static_cast<std::string*>(Client)->append(static_cast<const char*>(Buf), Len);
  return static_cast<la_ssize_t>(Len);
}

// A zip archive holding the entries as given, hostile names included.
std::string MakeZip(const std::vector<TZipEntry>& Entries) {
  std::string bytes;
  struct archive* a = archive_write_new();
  archive_write_set_format_zip(a);
  archive_write_open(a, &bytes, nullptr, AppendToString, nullptr);
  for (const auto& e : Entries) {
    struct archive_entry* en = archive_entry_new();
    archive_entry_set_pathname(en, e.Name.c_str());
    switch (e.Kind) {
      case TZipEntry::File:
        archive_entry_set_filetype(en, AE_IFREG);
        archive_entry_set_perm(en, 0644);
        archive_entry_set_size(en, static_cast<la_int64_t>(e.Data.size()));
        break;
      case TZipEntry::Dir:
        archive_entry_set_filetype(en, AE_IFDIR);
        archive_entry_set_perm(en, 0755);
        break;
      case TZipEntry::Symlink:
        archive_entry_set_filetype(en, AE_IFLNK);
        archive_entry_set_perm(en, 0777);
        archive_entry_set_symlink(en, e.Data.c_str());
        break;
    }
    EXPECT_EQ(archive_write_header(a, en), ARCHIVE_OK) << e.Name << ": " << archive_error_string(a);
    if (e.Kind == TZipEntry::File && !e.Data.empty()) archive_write_data(a, e.Data.data(), e.Data.size());
    archive_entry_free(en);
  }
  archive_write_close(a);
  archive_write_free(a);
  return bytes;
}

TMemoryStream AsStream(const std::string& Bytes) {
  TMemoryStream s;
  s.Write(Bytes.data(), Bytes.size());
  return s;
}

// No test waits for the half second before unpacking.
class TNoWaitClock : public Platform::TClock {
 public:
  void Sleep(int) override {}
};

// An installation folder, a private temporary folder and a recorder of the updater's start.
class UpgradeInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("TMPDIR");
    fOldTmp = old ? old : "";
    fHadTmp = old != nullptr;
    setenv("TMPDIR", TempRoot.Path().c_str(), 1);
    Platform::SetClock(std::make_shared<TNoWaitClock>());
  }
  void TearDown() override {
    Platform::SetClock(nullptr);
    if (fHadTmp)
      setenv("TMPDIR", fOldTmp.c_str(), 1);
    else
      unsetenv("TMPDIR");
  }

  std::unique_ptr<TUpgrade> NewUpgrade(const TSettings& S = TSettings()) {
    auto u = std::make_unique<TUpgrade>(S);
    u->InstallDir = Install.Path();
    u->OnStartUpdater = [this](const std::string& Program, const std::vector<std::string>& Args) {
      Started.push_back(Program);
      StartArgs = Args;
      return true;
    };
    return u;
  }
  std::string Dir() const { return Install.Path() + "/"; }
  std::string ListText() const { return ReadText(Dir() + "tmpu/update.list"); }

  TTempDir TempRoot;  // the user's temporary folder during the test
  TTempDir Install;
  std::vector<std::string> Started;
  std::vector<std::string> StartArgs;

 private:
  std::string fOldTmp;
  bool fHadTmp = false;
};

// ---- the version answer -------------------------------------------------------------------

TEST(UpgradeVersionAnswer, EighthCharacterSkippedMarkKept) {
  struct TCase {
    std::string Body;
    bool Ok;
    std::string Version;
  } cases[] = {
      {"\r\nVersion: 1.0.6\r\n", true, "1.0.6"},
      {"Version=1.0.6", true, "1.0.6"},
      {"Version 1.0.6", true, "1.0.6"},
      {"Version1.0.6", true, ".0.6"},
      {"Version\xC4\x8D" "1.0.6", true, "1.0.6"},  // a two-byte eighth character goes whole
      {" \t Version:   1.0.6 \x01", true, "1.0.6"},
      {"Version: 1.0.6\r\nBuild: 7", true, "1.0.6\r\nBuild: 7"},
      {"Version", true, ""},
      {"Version:", true, ""},
      {"Version: 1.0\xFF", true, "1.0\xEF\xBF\xBD"},  // invalid UTF-8 is decoded leniently
      {"version 1.0.6", false, ""},
      {"\xEF\xBB\xBFVersion: 1.0.6", false, ""},
      {"Versio", false, ""},
      {"", false, ""},
      {"<html>Version: 1.0.6</html>", false, ""},
  };
  for (const auto& c : cases) {
    std::string v = "stale";
    EXPECT_EQ(TUpgrade::ParseVersionAnswer(c.Body, v), c.Ok) << c.Body;
    EXPECT_EQ(v, c.Version) << c.Body;
  }
}

TEST(UpgradeSplitField, FieldsAtTheSeparator) {
  struct TCase {
    std::string Text;
    int Index;
    std::string Sep;
    std::string Expected;
  } cases[] = {
      {"a;b", 0, ";", "a"}, {"a;b", 1, ";", "b"},   {"a;b", 2, ";", ""},      {"abc", 0, ";", "abc"},
      {"", 0, ";", ""},     {"a;;b", 1, ";", ""},   {"a;;b", 2, ";", "b"},    {"a;b;", 2, ";", ""},
      {";", 1, ";", ""},    {"a::b", 1, "::", "b"}, {"a;b", -1, ";", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TUpgrade::SplitField(c.Text, c.Index, c.Sep), c.Expected) << '"' << c.Text << "\" " << c.Index;
}

TEST(UpgradeListLine, ApplicationLinesBecomeMoves) {
  const std::string dir = "/opt/zentrik/";
  struct TCase {
    std::string Line;
    std::string Expected;
  } cases[] = {
      {"apl zentrik;zentrik", "/opt/zentrik/zentrik;/opt/zentrik/tmpu/zentrik"},
      {"apl  a.dll ; b.dll  ", "/opt/zentrik/b.dll;/opt/zentrik/tmpu/a.dll"},
      {"apl a;b;ignored;too", "/opt/zentrik/b;/opt/zentrik/tmpu/a"},
      {"apl a", "/opt/zentrik/;/opt/zentrik/tmpu/a"},  // no installed name: the folder itself
      {"apl lib/x.so;lib/x.so", "/opt/zentrik/lib/x.so;/opt/zentrik/tmpu/lib/x.so"},
      {"Apl a;b", "Apl a;b"},
      {"apla;b", "apla;b"},
      {"apl\ta;b", "apl\ta;b"},
      {" apl a;b", " apl a;b"},
      {"/srv/x;/srv/tmpu/x", "/srv/x;/srv/tmpu/x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TUpgrade::RewriteListLine(c.Line, dir), c.Expected) << c.Line;
}

// ---- extraction ----------------------------------------------------------------------------

TEST(UpgradeExtract, UnpacksFoldersAndReplacesFiles) {
  TTempDir tmp;
  std::string zip = tmp.Write("p.zip", MakeZip({F("update.list", "apl a;a\r\n"), D("lib/"), F("lib/deep/x.so", "x"),
                                                F("a", "new a"), L("lib/current", "deep/x.so")}));
  tmp.Write("out/a", "old a");
  std::string err;
  ASSERT_TRUE(TUpgrade::ExtractPackage(zip, tmp / "out", &err)) << err;
  EXPECT_EQ(ReadText(tmp / "out/a"), "new a");
  EXPECT_EQ(ReadText(tmp / "out/lib/deep/x.so"), "x");
  EXPECT_EQ(ReadText(tmp / "out/lib/current"), "x");  // a link that stays inside is kept
  EXPECT_EQ(ListNames(tmp / "out"), (std::vector<std::string>{"a", "lib", "update.list"}));

  // A target folder reached through a link on disk is fine; only links inside are guarded.
  Platform::ForceDirectories(tmp / "real");
  std::filesystem::create_directory_symlink(tmp / "real", tmp / "via");
  ASSERT_TRUE(TUpgrade::ExtractPackage(zip, tmp / "via/stage", &err)) << err;
  EXPECT_EQ(ReadText(tmp / "real/stage/a"), "new a");
}

TEST(UpgradeExtract, RefusesEntriesThatWouldLandOutside) {
  struct TCase {
    const char* Name;
    std::vector<TZipEntry> Entries;  // "{out}" stands for the sibling folder that must stay empty
  } cases[] = {
      {"absolute path", {F("update.list", "x"), F("{out}/abs.txt", "evil")}},
      {"dot-dot step", {F("../outside/dots.txt", "evil")}},
      {"dot-dot inside a path", {F("lib/../../outside/dots.txt", "evil")}},
      {"backslash dot-dot step", {F("..\\outside\\dots.txt", "evil")}},
      {"link to an absolute folder, then a file through it", {L("evil", "{out}"), F("evil/through.txt", "evil")}},
      {"link climbing out, then a file through it", {L("evil", "../outside"), F("evil/through.txt", "evil")}},
      {"link climbing out from a sub-folder", {D("sub/"), L("sub/evil", "../../outside/x")}},
      {"link to a link's parent", {L("here", "."), L("up", "here/.."), F("up/outside/through.txt", "evil")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TTempDir tmp;
    Platform::ForceDirectories(tmp / "outside");
    tmp.Write("outside/victim", "untouched");
    std::vector<TZipEntry> entries = c.Entries;
    for (auto& e : entries)
      for (auto* s : {&e.Name, &e.Data})
        if (auto p = s->find("{out}"); p != std::string::npos) s->replace(p, 5, tmp / "outside");
    std::string zip = tmp.Write("p.zip", MakeZip(entries));
    std::string err;
    EXPECT_FALSE(TUpgrade::ExtractPackage(zip, tmp / "stage", &err));
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(ListNames(tmp / "outside"), std::vector<std::string>{"victim"});
    EXPECT_EQ(ReadText(tmp / "outside/victim"), "untouched");
  }
}

TEST(UpgradeExtract, DamagedOrMissingArchiveFails) {
  TTempDir tmp;
  // Bytes that do not compress, so that the cut falls inside the entry's data.
  std::string noise;
  for (uint32_t x = 12345; noise.size() < 20000;) noise += static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  std::string zip = MakeZip({F("update.list", noise)});
  std::string cut = tmp.Write("cut.zip", zip.substr(0, zip.size() / 2));
  std::string junk = tmp.Write("junk.zip", "this is not a zip archive");
  EXPECT_FALSE(TUpgrade::ExtractPackage(cut, tmp / "a"));
  EXPECT_FALSE(TUpgrade::ExtractPackage(junk, tmp / "b"));
  EXPECT_FALSE(TUpgrade::ExtractPackage(tmp / "none.zip", tmp / "c"));
}

// ---- installation and hand-off -------------------------------------------------------------

TEST_F(UpgradeInstall, StagesRewritesAndStartsTheUpdater) {
  auto u = NewUpgrade();
  auto pkg = AsStream(MakeZip({F("update.list", "apl zentrik;zentrik\nkeep;as is\napl libs/a.so ; a.so\n"),
                               F("zentrik", "new client"), F("libs/a.so", "new lib")}));
  ASSERT_TRUE(u->InstallPackage(pkg));

  const std::string d = Dir();
  EXPECT_EQ(ListText(), d + "zentrik;" + d + "tmpu/zentrik\r\nkeep;as is\r\n" + d + "a.so;" + d + "tmpu/libs/a.so\r\n");
  EXPECT_EQ(ReadText(d + "tmpu/zentrik"), "new client");
  EXPECT_EQ(ReadText(d + "tmpu/libs/a.so"), "new lib");
  EXPECT_EQ(Started, std::vector<std::string>{d + "update"});
  EXPECT_EQ(StartArgs, (std::vector<std::string>{d + "tmpu/update.list;" + d, ""}));
  EXPECT_TRUE(ListNames(TempRoot.Path()).empty()) << "the downloaded package is removed once unpacked";
}

TEST_F(UpgradeInstall, UpdaterLineInstallsANewUpdater) {
  struct TCase {
    const char* Name;
    std::string List;
    bool PackageHasUpdater;
    std::string Expected;  // "{d}" is the installation folder
    bool UpdaterReplaced;
  } cases[] = {
      {"updater line and updater", "update\r\napl zentrik;zentrik\r\n", true, "{d}zentrik;{d}tmpu/zentrik\r\n", true},
      {"updater as an application line", "apl update;update\r\napl zentrik;zentrik\r\n", true,
       "{d}zentrik;{d}tmpu/zentrik\r\n", true},
      {"updater line without updater", "apl update;update\r\napl zentrik;zentrik\r\n", false,
       "{d}update;{d}tmpu/update\r\n{d}zentrik;{d}tmpu/zentrik\r\n", false},
      {"the list's own name does not count", "apl update.list;notes\r\n", true, "{d}notes;{d}tmpu/update.list\r\n",
       false},
      {"a longer name does not count", "apl myupdate;myupdate\r\n", true, "{d}myupdate;{d}tmpu/myupdate\r\n", false},
      {"only the first line counts", "apl zentrik;zentrik\r\napl update;update\r\n", true,
       "{d}zentrik;{d}tmpu/zentrik\r\n{d}update;{d}tmpu/update\r\n", false},
      {"only the updater line", "update\r\n", true, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Platform::RemoveTree(Dir() + "tmpu");
    Install.Write("update", "old updater");
    Started.clear();
    std::vector<TZipEntry> entries{F("update.list", c.List), F("zentrik", "client"), F("myupdate", "m")};
    if (c.PackageHasUpdater) entries.push_back(F("update", "new updater"));
    auto u = NewUpgrade();
    ASSERT_TRUE(u->InstallPackage(AsStream(MakeZip(entries))));
    std::string expected = c.Expected;
    for (size_t p; (p = expected.find("{d}")) != std::string::npos;) expected.replace(p, 3, Dir());
    EXPECT_EQ(ListText(), expected);
    EXPECT_EQ(ReadText(Dir() + "update"), c.UpdaterReplaced ? "new updater" : "old updater");
    EXPECT_EQ(Exists(Dir() + "tmpu/update"), c.PackageHasUpdater && !c.UpdaterReplaced);
    EXPECT_EQ(Started.size(), 1u);
  }
}

TEST_F(UpgradeInstall, NewUpdaterKeepsTheInstalledOnesPermissions) {
  Install.Write("update", "old updater");
  ASSERT_EQ(::chmod((Dir() + "update").c_str(), 0755), 0);
  auto u = NewUpgrade();
  ASSERT_TRUE(u->InstallPackage(AsStream(MakeZip({F("update.list", "update\r\n"), F("update", "new")}))));
  struct stat st;
  ASSERT_EQ(::stat((Dir() + "update").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

// The list keeps its 8-bit encoding byte for byte; marks are dropped; lines end in CR LF.
TEST_F(UpgradeInstall, ListEncodingAndLineEnds) {
  const std::string d = Dir();
  struct TCase {
    const char* Name;
    std::string List;
    std::string Expected;
  } cases[] = {
      {"UTF-8 with a mark", "\xEF\xBB\xBF" "apl \xC5\xA1" "ablona;\xC5\xA1" "ablona\n",
       d + "\xC5\xA1" "ablona;" + d + "tmpu/\xC5\xA1" "ablona\r\n"},
      {"Windows-1250 without a mark", "apl \x9A" "ablona;\x9A" "ablona\r\n",
       d + "\x9A" "ablona;" + d + "tmpu/\x9A" "ablona\r\n"},
      {"UTF-16 LE with a mark", std::string("\xFF\xFE" "a\0p\0l\0 \0x\0;\0y\0\n\0", 18), d + "y;" + d + "tmpu/x\r\n"},
      {"CR line ends, no final line end", "keep;1\rkeep;2", "keep;1\r\nkeep;2\r\n"},
      {"an empty line in between", "keep;1\r\n\r\nkeep;2\r\n", "keep;1\r\n\r\nkeep;2\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Platform::RemoveTree(d + "tmpu");
    auto u = NewUpgrade();
    ASSERT_TRUE(u->InstallPackage(AsStream(MakeZip({F("update.list", c.List)}))));
    EXPECT_EQ(ListText(), c.Expected);
  }
}

TEST_F(UpgradeInstall, EmptyPackageDoesNothing) {
  auto u = NewUpgrade();
  EXPECT_TRUE(u->InstallPackage(TMemoryStream()));
  EXPECT_TRUE(ListNames(Install.Path()).empty());
  EXPECT_TRUE(ListNames(TempRoot.Path()).empty());
  EXPECT_TRUE(Started.empty());
}

TEST_F(UpgradeInstall, HostileOrDamagedPackageFailsWithoutStartingTheUpdater) {
  for (const std::string& pkg : {MakeZip({F("update.list", "apl a;a"), F("../escaped", "evil")}),
                                 std::string("PK\x03\x04 not really a zip")}) {
    auto u = NewUpgrade();
    EXPECT_FALSE(u->InstallPackage(AsStream(pkg)));
    EXPECT_FALSE(u->LastError().empty());
    EXPECT_FALSE(Exists(Install.Path() + "/escaped"));
    EXPECT_TRUE(ListNames(TempRoot.Path()).empty());
  }
  EXPECT_TRUE(Started.empty());
}

TEST_F(UpgradeInstall, PackageWithoutAUsableListRaises) {
  auto u = NewUpgrade();
  EXPECT_THROW(u->InstallPackage(AsStream(MakeZip({F("zentrik", "x")}))), EInOutError);
  EXPECT_THROW(u->InstallPackage(AsStream(MakeZip({F("update.list", "")}))), EListError);
  EXPECT_TRUE(Started.empty());
}

// ---- the exchanges -------------------------------------------------------------------------

// The version service: records each request's form and answers as told. One server serves
// the whole suite, because making its certificates is the slow part.
class UpgradeService : public UpgradeInstall {
 protected:
  struct TRequest {
    std::string Path;
    std::vector<std::pair<std::string, std::string>> Parts;  // in the order of the body
  };
  struct TState {
    std::mutex Lock;
    std::vector<TRequest> Requests;
    int VersionStatus = 200;
    std::string VersionBody = "Version: 1.0.6";
    int PackageStatus = 200;
    std::string Package;
  };

  static void SetUpTestSuite() {
    fState = new TState;
    fServer = new TTestHttpsServer;
    fServer->Server().Post(R"(/.*)", [](const httplib::Request& Req, httplib::Response& Res,
                                         const httplib::ContentReader& Content) {
      TRequest r{Req.path, {}};
      // The parts as they arrive, so that their order is seen.
      Content(
          [&](const httplib::MultipartFormData& Part) {
            r.Parts.push_back({Part.name, ""});
            return true;
          },
          [&](const char* Data, size_t Len) {
            r.Parts.back().second.append(Data, Len);
            return true;
          });
      std::string type;
      for (const auto& [name, value] : r.Parts)
        if (name == "type") type = value;
      std::lock_guard<std::mutex> g(fState->Lock);
      fState->Requests.push_back(r);
      if (type == "4") {
        Res.status = fState->VersionStatus;
        Res.set_content(fState->VersionBody, "text/plain");
      } else {
        Res.status = fState->PackageStatus;
        Res.set_content(fState->Package, "application/zip");
      }
    });
    fServer->Start();
  }
  static void TearDownTestSuite() {
    delete fServer;
    delete fState;
  }
  void SetUp() override {
    UpgradeInstall::SetUp();
    std::lock_guard<std::mutex> g(fState->Lock);
    fState->Requests.clear();
    fState->VersionStatus = 200;
    fState->VersionBody = "Version: 1.0.6";
    fState->PackageStatus = 200;
    fState->Package.clear();
    SetServiceOverrides(fServer->BaseUrl(), fServer->BaseUrl(), fServer->CaFile());
  }

  std::vector<std::pair<std::string, std::string>> Form(const std::string& Type, const std::string& Version) {
    return {{"type", Type}, {"version", Version}, {"apltype", "zentrik_w"}};
  }
  std::vector<TRequest> Requests() {
    std::lock_guard<std::mutex> g(fState->Lock);
    return fState->Requests;
  }

  static inline TTestHttpsServer* fServer = nullptr;
  static inline TState* fState = nullptr;
};

TEST_F(UpgradeService, VersionQuery) {
  auto u = NewUpgrade();
  ASSERT_TRUE(u->TestUpgrades());
  EXPECT_EQ(u->OnlineVersion(), "1.0.6");
  ASSERT_EQ(Requests().size(), 1u);
  EXPECT_EQ(Requests()[0].Path, "/zentrik/version/");
  EXPECT_EQ(Requests()[0].Parts, Form("4", ""));

  // A failed query empties what an earlier one found.
  for (auto [status, body] : {std::pair{200, std::string("version 1.0.6")}, std::pair{500, std::string("Version 2")}}) {
    fState->VersionStatus = status;
    fState->VersionBody = body;
    EXPECT_FALSE(u->TestUpgrades()) << body;
    EXPECT_EQ(u->OnlineVersion(), "");
  }
}

TEST_F(UpgradeService, AlwaysAsksTheProductionService) {
  // The test service points nowhere; only the production one answers.
  SetServiceOverrides(fServer->BaseUrl(), "https://127.0.0.1:1", fServer->CaFile());
  TSettings s;
  s.TestUrl = true;
  auto u = NewUpgrade(s);
  EXPECT_TRUE(u->TestUpgrades());
  EXPECT_EQ(u->OnlineVersion(), "1.0.6");
}

TEST_F(UpgradeService, DownloadAsksAgainThenFetchesAndInstalls) {
  fState->Package = MakeZip({F("update.list", "apl zentrik;zentrik\r\n"), F("zentrik", "new client")});
  auto u = NewUpgrade();
  ASSERT_TRUE(u->TestUpgrades());
  ASSERT_TRUE(u->DownloadUpgrade());
  EXPECT_EQ(u->OnlineVersion(), "");
  ASSERT_EQ(Requests().size(), 3u);
  EXPECT_EQ(Requests()[1].Parts, Form("4", ""));
  EXPECT_EQ(Requests()[2].Parts, Form("5", "1.0.6"));
  EXPECT_EQ(ReadText(Dir() + "tmpu/zentrik"), "new client");
  EXPECT_EQ(Started.size(), 1u);
}

TEST_F(UpgradeService, FailedExchangesInstallNothing) {
  struct TCase {
    const char* Name;
    int VersionStatus;
    std::string VersionBody;
    int PackageStatus;
    size_t Requests;
  } cases[] = {
      {"version query refused", 503, "Version: 1.0.6", 200, 1},
      {"no version in the answer", 200, "Nothing new", 200, 1},
      {"package refused", 200, "Version: 1.0.6", 404, 2},
  };
  fState->Package = MakeZip({F("update.list", "apl zentrik;zentrik\r\n"), F("zentrik", "new client")});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    fState->Requests.clear();
    fState->VersionStatus = c.VersionStatus;
    fState->VersionBody = c.VersionBody;
    fState->PackageStatus = c.PackageStatus;
    auto u = NewUpgrade();
    EXPECT_FALSE(u->DownloadUpgrade());
    EXPECT_EQ(u->OnlineVersion(), "");
    EXPECT_EQ(Requests().size(), c.Requests);
    EXPECT_FALSE(Exists(Dir() + "tmpu"));
    EXPECT_TRUE(Started.empty());
  }
}

TEST_F(UpgradeService, EmptyPackageIsASuccessThatTouchesNothing) {
  fState->Package.clear();
  auto u = NewUpgrade();
  EXPECT_TRUE(u->DownloadUpgrade());
  EXPECT_TRUE(ListNames(Install.Path()).empty());
  EXPECT_TRUE(Started.empty());
}

TEST_F(UpgradeService, DiagnosticsGoToTheAttachedLogAsErrors) {
  fState->VersionStatus = 500;
  TTempDir logs;
  {
    TLogWriterConfig cfg;
    cfg.Directory = logs.Path();
    cfg.FileNamePattern = "{tag}.log";
    cfg.MinLevel = TLogLevel::llDebug;
    TLogWriter log(cfg);
    auto u = NewUpgrade();
    u->Log = &log;
    EXPECT_FALSE(u->TestUpgrades());
  }
  auto lines = Lines(ReadText(logs / "APL.log"));
  ASSERT_FALSE(lines.empty());
  for (const auto& l : lines) EXPECT_NE(l.find("[ERROR"), std::string::npos) << l;
  EXPECT_NE(ReadText(logs / "APL.log").find("500"), std::string::npos);
}

TEST_F(UpgradeService, InvalidProxyPortIsNotCaughtHere) {
  TSettings s;
  s.ProxyUse = true;
  s.ProxyHost = "127.0.0.1";
  s.ProxyPort = "80x";
  auto u = NewUpgrade(s);
  EXPECT_THROW(u->TestUpgrades(), EConvertError);
  EXPECT_TRUE(Requests().empty());
}

}  // namespace
