// The built zentrik as a calling script sees it: console, application log, exit status.
#include <gtest/gtest.h>

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
