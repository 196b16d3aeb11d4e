// The built zentrik as a calling script sees it: console, application log, exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "uMessages.h"
#include "uStrings.h"
#include "uTestSupport.h"
#include "uVersion.h"

namespace {

using TestSupport::Lines;

struct TZentrikRun {
  TestSupport::TProcessResult Process;
  std::string LogName;  // the one file in logs/, empty when there is none
  std::string Log;
};

TZentrikRun RunZentrik(const TestSupport::TTempDir& Dir, const std::vector<std::string>& Args,
                       const std::string& Input = "") {
  TZentrikRun r;
  r.Process = TestSupport::RunProcess(TestSupport::BinDir() + "/zentrik", Args, Dir.Path(), Input, 20000);
  if (TestSupport::Exists(Dir / "logs")) {
    auto names = TestSupport::ListNames(Dir / "logs");
    EXPECT_EQ(names.size(), 1u);
    if (!names.empty()) {
      r.LogName = names[0];
      r.Log = TestSupport::ReadText(Dir / ("logs/" + names[0]));
    }
  }
  return r;
}

// "2026-03-26 08:15:42:123 [TID     4711]", in front of the level.
const std::regex RecordHead(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} \[TID +\d+\])");

std::string Body(const std::string& Line) { return std::regex_replace(Line, RecordHead, ""); }

TEST(ZentrikEntry, NoArgumentShowsHelpAndWaitsForEnter) {
  TestSupport::TTempDir dir;
  auto r = RunZentrik(dir, {}, "\n");
  ASSERT_FALSE(r.Process.TimedOut);
  EXPECT_EQ(r.Process.ExitCode, 0);
  std::string help = Format(MsgHelp, AppVersion, AppBuildDate);
  EXPECT_EQ(r.Process.Out, "Start aplikace\n\n" + help + "\n");
  EXPECT_TRUE(std::regex_match(r.LogName, std::regex(R"(Zentrik_pid_\d{8}\.00\.APL\.log)"))) << r.LogName;
  // The help record spans the help's own line separators; the closing record follows it.
  EXPECT_TRUE(std::regex_search(r.Log, RecordHead));
  EXPECT_NE(r.Log.find("][WARNING] " + help + " [APL]\n"), std::string::npos) << r.Log;
  auto lines = Lines(r.Log);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(Body(lines.back()), "[INFO   ] Konec aplikace [APL]");
  EXPECT_EQ(r.Log.find("Start aplikace"), std::string::npos);  // the help run logs no start record
}

TEST(ZentrikEntry, ChecksEndTheRunWithTheirRecords) {
  struct TCase {
    std::vector<std::string> Args;
    std::vector<std::string> Records;  // every record, in order, without time stamp and thread
  };
  const TCase cases[] = {
      {{"orvel"}, {"[INFO   ] Start aplikace [APL]", "[ERROR  ] " + MsgNoSwitchF + " [APL]", "[INFO   ] Konec aplikace [APL]"}},
      {{"orvel", "-f+x"},
       {"[INFO   ] Start aplikace [APL]", "[ERROR  ] " + MsgNoOrderFiles + " [APL]", "[INFO   ] Konec aplikace [APL]"}},
      {{"kalvio", "-u=x"},
       {"[INFO   ] Start aplikace [APL]", "[WARNING] " + MsgNoPassword + " [APL]", "[INFO   ] Konec aplikace [APL]"}},
      {{"-test"},
       {"[INFO   ] Start aplikace [APL]", "[INFO   ] " + MsgTestMode + " [APL]", "[ERROR  ] " + MsgNoSwitchF + " [APL]",
        "[INFO   ] Konec aplikace [APL]"}},
  };
  for (const auto& c : cases) {
    TestSupport::TTempDir dir;
    auto r = RunZentrik(dir, c.Args);
    std::string label = c.Args[0] + (c.Args.size() > 1 ? " " + c.Args[1] : "");
    ASSERT_FALSE(r.Process.TimedOut) << label;
    EXPECT_EQ(r.Process.ExitCode, 0) << label;
    EXPECT_EQ(r.Process.Out, "Start aplikace\n\n") << label;
    auto lines = Lines(r.Log);
    std::vector<std::string> bodies;
    for (const auto& l : lines) bodies.push_back(Body(l));
    EXPECT_EQ(bodies, c.Records) << label;
  }
}

TEST(ZentrikEntry, LogNameFromTwoWordsAndDebugLevel) {
  TestSupport::TTempDir dir;
  auto r = RunZentrik(dir, {"-ln=muj log.txt", "-f=a.cfg"});
  EXPECT_EQ(r.Process.ExitCode, 0);
  EXPECT_TRUE(std::regex_match(r.LogName, std::regex(R"(muj_log_pid_\d{8}\.00\.APL\.log)"))) << r.LogName;
  EXPECT_NE(r.Log.find("][DEBUG  ] 1 Switch[-] Option[ln] Flag[=] Values[\"muj log.txt\"] [APL]"), std::string::npos)
      << r.Log;
  EXPECT_EQ(Body(Lines(r.Log).back()), "[INFO   ] Konec aplikace [APL]");
}

TEST(ZentrikEntry, OddSwitchValuesAndTheMissingLogDirectory) {
  TestSupport::TTempDir dir;
  // Odd -d and -k values leave both switched on; the run gets past every check of its own.
  auto odd = RunZentrik(dir, {"kalvio", "-u=a", "-p=b", "-d=7", "-k=ab", "-f=missing.xml"});
  EXPECT_EQ(odd.Process.ExitCode, 0);
  EXPECT_EQ(odd.Process.Out.find("Exception"), std::string::npos) << odd.Process.Out;
  EXPECT_EQ(odd.Log.find("][ERROR  ] Neb"), std::string::npos) << odd.Log;
  EXPECT_EQ(Body(Lines(odd.Log).back()), "[INFO   ] Konec aplikace [APL]");

  TestSupport::TTempDir other;
  auto missing = RunZentrik(other, {"orvel", "-f=a.cfg", "-l=no/such/logs"});
  EXPECT_EQ(missing.Process.ExitCode, 0);
  EXPECT_EQ(missing.Process.Out, "Start aplikace\n\n" + Format(MsgDirNotCreated, "no/such/logs") + "\n");
  EXPECT_TRUE(TestSupport::ListNames(other.Path()).empty());
}

// Every listed input file missing: one console line and one error record per entry
// (duplicates included), then the "none left" record; no worker starts.
TEST(ZentrikEntry, EveryListedFileMissingStartsNoWorker) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Missing;  // format of the per-file text
    std::vector<std::string> Files;
    std::string NoneLeft;
  };
  const TCase cases[] = {
      {{"orvel", "-f:(a.cfg,b.cfg)"}, MsgOrderFileMissing, {"a.cfg", "b.cfg"}, MsgNoOrderFileLeft},
      {{"kalvio", "-u=a", "-p=b", "-f:(s.xml,s.xml)"}, MsgShipmentFileMissing, {"s.xml", "s.xml"}, MsgNoShipmentFileLeft},
  };
  for (const auto& c : cases) {
    TestSupport::TTempDir dir;
    auto r = RunZentrik(dir, c.Args);
    std::string label = c.Args[0];
    ASSERT_FALSE(r.Process.TimedOut) << label;
    EXPECT_EQ(r.Process.ExitCode, 0) << label;
    std::string console = "Start aplikace\n\n";
    std::vector<std::string> records = {"[INFO   ] Start aplikace [APL]"};
    for (const auto& f : c.Files) {
      console += Format(c.Missing, f) + "\n";
      records.push_back("[ERROR  ] " + Format(c.Missing, f) + " [APL]");
    }
    records.push_back("[ERROR  ] " + c.NoneLeft + " [APL]");
    records.push_back("[INFO   ] Konec aplikace [APL]");
    EXPECT_EQ(r.Process.Out, console) << label;
    std::vector<std::string> bodies;
    for (const auto& l : Lines(r.Log))
      if (l.find("[100]") == std::string::npos) bodies.push_back(Body(l));  // a version notice may come first
    EXPECT_EQ(bodies, records) << label;
  }
}

// An order that fails (its document is missing, so no exchange is needed) leaves its ".ko"
// file in the -lf folder when one is given, otherwise beside the order file, which for a name
// without a directory is the current folder; -k=0 leaves none. Without -lf and a directory,
// the transfer log goes to the program's folder.
TEST(ZentrikEntry, FailedOrderLeavesItsControlFileWhereItBelongs) {
  struct TCase {
    std::vector<std::string> Args;  // "{dir}" stands for the test's folder, "{name}" for the order file's name
    std::string ControlDir;         // where the ".ko" file must be, in the test's folder; "-" for nowhere
    std::string TransferLogDir;     // "{bin}" for the program's folder
  };
  const TCase cases[] = {
      {{"orvel", "-f={name}"}, ".", "{bin}"},
      {{"orvel", "-f={dir}/{name}", "-lf={dir}/out"}, "out", "{dir}/out"},
      {{"orvel", "-f={dir}/{name}", "-k=0"}, "-", "{dir}"},
  };
  for (const auto& c : cases) {
    TestSupport::TTempDir dir;
    // Unique, since the program's folder is shared by every run.
    const std::string name = "ko_" + std::filesystem::path(dir.Path()).filename().string() + ".cfg";
    dir.Write(name, "jmeno=demo\nheslo=x\nstandzak=S\nsoubor=chybi.pdf\n");
    std::vector<std::string> args;
    std::string label;
    for (const auto& a : c.Args) {
      args.push_back(ReplaceAll(ReplaceAll(a, "{dir}", dir.Path()), "{name}", name));
      label += a + " ";
    }
    args.push_back("-t=" + dir / "tmp");
    auto r = RunZentrik(dir, args);
    ASSERT_FALSE(r.Process.TimedOut) << label;
    EXPECT_EQ(r.Process.ExitCode, 0) << label;
    EXPECT_NE(r.Process.Out.find("\n" + Format(MsgOrderFailedConsole, name) + "\n"), std::string::npos) << label;
    EXPECT_NE(r.Log.find("][ERROR  ] " + Format(MsgOrderFailed, name, "chybi.pdf") + " [APL]"), std::string::npos)
        << label << "\n" << r.Log;

    for (const std::string place : {".", "out"}) {
      const std::string ko = dir / (place + "/" + name + ".ko");
      EXPECT_EQ(TestSupport::Exists(ko), place == c.ControlDir) << label << ko;
      if (place == c.ControlDir) {
        EXPECT_EQ(TestSupport::ReadText(ko), "") << label;
      }
    }
    EXPECT_FALSE(TestSupport::Exists(dir / (name + ".ok"))) << label;

    const std::string logDir =
        ReplaceAll(ReplaceAll(c.TransferLogDir, "{dir}", dir.Path()), "{bin}", TestSupport::BinDir());
    bool found = false;
    for (const auto& n : TestSupport::ListNames(logDir)) {
      if (!EndsWith(n, "." + name + ".log")) continue;
      found = true;
      if (c.TransferLogDir == "{bin}") std::filesystem::remove(logDir + "/" + n);  // leave the program's folder clean
    }
    EXPECT_TRUE(found) << label << ": no transfer log in " << logDir;
  }
}

}  // namespace

namespace {

// update closes a running client with SIGTERM, usually during its closing pause: the client
// must still end with its last record and exit status 0, not die of the signal.
TEST(ZentrikEntry, TerminationRequestEndsTheRunCleanlyWithStatusZero) {
  TestSupport::TTempDir dir;
  auto r = TestSupport::RunProcess("/usr/bin/timeout", {"--preserve-status", "-s", "TERM", "0.4",
                                                        TestSupport::BinDir() + "/zentrik", "orvel"},
                                   dir.Path(), "", 20000);
  EXPECT_EQ(r.ExitCode, 0);
  auto names = TestSupport::ListNames(dir / "logs");
  ASSERT_EQ(names.size(), 1u);
  auto lines = Lines(TestSupport::ReadText(dir / ("logs/" + names[0])));
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("Konec aplikace [APL]"), std::string::npos);
}

}  // namespace
