// The updater's rules with the system replaced where it matters: time and processes are
// simulated (no test waits), files are real files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <set>

#include "uTestSupport.h"
#include "uUpdater.h"

using TestSupport::ReadText;
using TestSupport::TTempDir;

namespace {

// Simulated time and processes; file operations go to the real file system unless a move is
// told to fail.
class TFakeSystem : public TUpdaterSystem {
 public:
  struct TProc {
    std::string Exe;
    std::string Title;
    int EndsAtMs = 0;  // ends this long after its first SIGTERM; < 0: never
  };
  std::map<int, TProc> Procs;
  std::map<int, std::vector<int>> TermTimes;  // pid -> virtual times of its SIGTERMs
  std::vector<std::string> Out;
  int NowMs = 0;
  std::set<std::pair<std::string, std::string>> FailingMoves;

  void WriteLine(const std::string& Line) override { Out.push_back(Line); }
  void Sleep(int Ms) override { NowMs += Ms; }
  std::vector<UpdaterOs::TProcessInfo> ListProcesses() override {
    std::vector<UpdaterOs::TProcessInfo> r;
    for (const auto& [pid, p] : Procs) r.push_back({pid, p.Exe});
    return r;
  }
  std::string ProcessTitle(int Pid) override { return Procs.at(Pid).Title; }
  void RequestEnd(int Pid) override { TermTimes[Pid].push_back(NowMs); }
  bool ProcessRunning(int Pid) override {
    const auto& p = Procs.at(Pid);
    auto t = TermTimes.find(Pid);
    if (p.EndsAtMs < 0 || t == TermTimes.end()) return true;
    return NowMs < t->second.front() + p.EndsAtMs;
  }
  bool MoveNoReplace(const std::string& From, const std::string& To) override {
    if (FailingMoves.count({From, To})) return false;
    return TUpdaterSystem::MoveNoReplace(From, To);
  }

  std::vector<std::string> WaitingLines() const {
    std::vector<std::string> r;
    for (const auto& l : Out)
      if (l.find("čekání") != std::string::npos) r.push_back(l);
    return r;
  }
};

// An installed client folder with a staging folder and a move list over both.
struct TInstall {
  TTempDir Tmp;
  std::string Dir = Tmp.Path() + "/";
  std::string Staging = Dir + "tmpu/";
  std::string List = Staging + "update.list";

  // Each entry: installed name, old content ("" = not installed yet), new content.
  void Prepare(const std::vector<std::tuple<std::string, std::string, std::string>>& Entries) {
    std::string list;
    for (const auto& [name, oldText, newText] : Entries) {
      if (!oldText.empty()) Tmp.Write(name, oldText);
      Tmp.Write("tmpu/" + name, newText);
      list += Dir + name + ";" + Staging + name + "\r\n";
    }
    Tmp.Write("tmpu/update.list", list);
  }
  std::vector<std::string> Args() const { return {List + ";" + Dir, ""}; }
};

TEST(UpdateSplitField, FieldsAtTheSeparator) {
  struct TCase {
    std::string Text;
    int Index;
    std::string Expected;
  } cases[] = {
      {"a;b", 0, "a"},      {"a;b", 1, "b"},   {"a;b", 2, ""},    {"abc", 0, "abc"}, {"abc", 1, ""},
      {"", 0, ""},          {"a;;b", 1, ""},   {"a;;b", 2, "b"},  {";", 0, ""},      {"a;b;", 2, ""},
      {"/x/tmpu/update.list;/x/", 1, "/x/"}, {"a;b", -1, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SplitField(c.Text, c.Index, ";"), c.Expected) << '"' << c.Text << "\" index " << c.Index;
}

TEST(UpdateTextParts, NameAndFolderParts) {
  EXPECT_EQ(NamePart("/opt/app/zentrik"), "zentrik");
  EXPECT_EQ(FolderPart("/opt/app/zentrik"), "/opt/app/");
  EXPECT_EQ(NamePart("zentrik"), "zentrik");
  EXPECT_EQ(FolderPart("zentrik"), "");
  EXPECT_EQ(FolderPart("/opt/app/"), "/opt/app/");
}

TEST(UpdateTextParts, LinesEndAtAnyLineBreak) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitTextLines("a\r\n"), (V{"a"}));
  EXPECT_EQ(SplitTextLines("a\r\n\r\n"), (V{"a", ""}));
  EXPECT_EQ(SplitTextLines(""), V{});
}

// How long the client takes to go after the first SIGTERM decides the countdown.
TEST(UpdateClosing, CountdownAndSignals) {
  struct TCase {
    const char* Name;
    int EndsAtMs;
    std::vector<int> Seconds;  // n of each waiting line
    std::vector<int> Signals;  // virtual times of the SIGTERMs
  } cases[] = {
      {"gone within the first round", 150, {19}, {0}},
      {"gone just after the second signal", 2100, {19, 19, 19, 19, 19, 18, 18, 18, 18, 18, 17}, {0, 2000}},
      {"gone exactly at the second signal's round", 2000, {19, 19, 19, 19, 19, 18, 18, 18, 18, 18}, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TInstall in;
    in.Prepare({{"zentrik", "old", "new"}});
    TFakeSystem sys;
    sys.Procs[4711] = {in.Dir + "zentrik", "zentrik", c.EndsAtMs};
    EXPECT_EQ(TUpdater(sys).Run(in.Args()), 0);
    std::vector<std::string> expected;
    for (int n : c.Seconds) expected.push_back("Ukončení \"zentrik\", čekání: " + std::to_string(n) + " sekund.");
    EXPECT_EQ(sys.WaitingLines(), expected);
    EXPECT_EQ(sys.TermTimes[4711], c.Signals);
    EXPECT_EQ(ReadText(in.Dir + "zentrik"), "new");
  }
}

TEST(UpdateClosing, ClientThatStaysIsFatalBeforeAnyFileIsTouched) {
  TInstall in;
  in.Prepare({{"zentrik", "old", "new"}});
  TFakeSystem sys;
  sys.Procs[4711] = {in.Dir + "zentrik", "zentrik", -1};
  EXPECT_EQ(TUpdater(sys).Run(in.Args()), 1);

  std::vector<int> tenSignals;
  for (int t = 0; t < 20000; t += 2000) tenSignals.push_back(t);
  EXPECT_EQ(sys.TermTimes[4711], tenSignals);
  auto waiting = sys.WaitingLines();
  ASSERT_EQ(waiting.size(), 100u);
  EXPECT_EQ(waiting.front(), "Ukončení \"zentrik\", čekání: 19 sekund.");
  EXPECT_EQ(waiting.back(), "Ukončení \"zentrik\", čekání: 0 sekund.");
  EXPECT_EQ(sys.Out.back(), "Chyba: Nejde ukončit aplikace zentrik");
  EXPECT_EQ(sys.NowMs, 20000 + 4000);  // the full wait, then the pause after the fatal message
  EXPECT_EQ(ReadText(in.Dir + "zentrik"), "old");
  EXPECT_EQ(ReadText(in.Staging + "zentrik"), "new");
}

TEST(UpdateClosing, OnlyTheFirstTargetsProgramIsClosed) {
  TInstall in;
  in.Prepare({{"zentrik", "old", "new"}, {"helper", "old helper", "new helper"}});
  TFakeSystem sys;
  sys.Procs[10] = {"/elsewhere/zentrik", "zentrik", 0};  // same name, another installation
  sys.Procs[11] = {in.Dir + "helper", "helper", 0};      // the second entry's program
  sys.Procs[12] = {in.Dir + "zentrik", "zentrik", 100};
  sys.Procs[13] = {in.Dir + "zentrik", "zentrik", 100};  // a second client instance
  sys.Procs[14] = {"", "unreadable", 0};

  EXPECT_EQ(TUpdater(sys).Run(in.Args()), 0);
  EXPECT_EQ(sys.TermTimes.count(10), 0u);
  EXPECT_EQ(sys.TermTimes.count(11), 0u);
  EXPECT_EQ(sys.TermTimes.count(14), 0u);
  EXPECT_EQ(sys.TermTimes.count(12), 1u);
  EXPECT_EQ(sys.TermTimes.count(13), 1u);
  std::vector<std::string> expected{"Zavíraní aplikace Zentrik",
                                    "Ukončení \"zentrik\"",
                                    "Ukončení \"zentrik\", čekání: 19 sekund.",
                                    "Ukončení \"zentrik\"",
                                    "Ukončení \"zentrik\", čekání: 19 sekund.",
                                    "Vytváří se záloha starého souboru",
                                    "Hotovo.",
                                    "Přesunutí stáhnutého souboru do požadovaného adresáře",
                                    "Vytváří se záloha starého souboru",
                                    "Hotovo.",
                                    "Přesunutí stáhnutého souboru do požadovaného adresáře",
                                    "Hotovo"};
  EXPECT_EQ(sys.Out, expected);
}

// Lists that stop the run before anything is touched: the message, the pause, exit code 1.
TEST(UpdateList, BadListsAreFatal) {
  struct TCase {
    const char* Name;
    std::string List;  // "\x01" = no list file at all
    std::string Message;
  } cases[] = {
      {"no list", "\x01", "Chyba: neexistuje aktualizační seznam.{list}"},
      {"empty file", "", "Chyba: aktualizační soubor je prázdný."},
      {"ends in an empty line", "{dir}zentrik;{dir}tmpu/zentrik\r\n\r\n", "Chyba: aktualizační soubor je prázdný."},
      {"entry without a separator", "{dir}zentrik\r\n",
       "Syntax: zentrik StarySoubor NovySoubor\r\nProsím, nespouštět tento soubor na přímo."},
      {"entry without a target", ";{dir}tmpu/zentrik\r\n",
       "Syntax:  StarySoubor NovySoubor\r\nProsím, nespouštět tento soubor na přímo."},
      {"missing download", "{dir}zentrik;{dir}tmpu/gone\r\n",
       "Chyba: Buď cílový \"{dir}zentrik\" nebo stažený soubor \"{dir}tmpu/gone\" neexistuje."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TInstall in;
    in.Tmp.Write("zentrik", "old");
    in.Tmp.Write("tmpu/zentrik", "new");
    auto fill = [&](std::string s) {
      for (size_t p; (p = s.find("{dir}")) != std::string::npos;) s.replace(p, 5, in.Dir);
      for (size_t p; (p = s.find("{list}")) != std::string::npos;) s.replace(p, 6, in.List);
      return s;
    };
    if (c.List != "\x01") in.Tmp.Write("tmpu/update.list", fill(c.List));
    TFakeSystem sys;
    sys.Procs[12] = {in.Dir + "zentrik", "zentrik", 100};
    EXPECT_EQ(TUpdater(sys).Run(in.Args()), 1);
    EXPECT_EQ(sys.Out, std::vector<std::string>{fill(c.Message)});
    EXPECT_EQ(sys.NowMs, 4000);
    EXPECT_TRUE(sys.TermTimes.empty());
    EXPECT_EQ(ReadText(in.Dir + "zentrik"), "old");
  }
}

TEST(UpdateList, NoArgumentReportsTheMissingListWithNothingAfterIt) {
  TFakeSystem sys;
  EXPECT_EQ(TUpdater(sys).Run({}), 1);
  EXPECT_EQ(sys.Out, std::vector<std::string>{"Chyba: neexistuje aktualizační seznam."});
}

TEST(UpdateFiles, NewTargetIsInstalledWithoutBackup) {
  TInstall in;
  in.Prepare({{"zentrik", "old", "new"}, {"extra.dat", "", "extra"}});
  TFakeSystem sys;
  EXPECT_EQ(TUpdater(sys).Run(in.Args()), 0);
  EXPECT_EQ(ReadText(in.Dir + "extra.dat"), "extra");
  // The second entry has no "Hotovo." of a backup.
  std::vector<std::string> tail(sys.Out.end() - 3, sys.Out.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Vytváří se záloha starého souboru",
                                            "Přesunutí stáhnutého souboru do požadovaného adresáře", "Hotovo"}));
  EXPECT_EQ(TestSupport::ListNames(in.Tmp.Path()), (std::vector<std::string>{"extra.dat", "zentrik"}));
}

TEST(UpdateFiles, ReplacedProgramKeepsItsExecuteBits) {
  TInstall in;
  in.Prepare({{"zentrik", "old", "new"}});
  ASSERT_EQ(::chmod((in.Dir + "zentrik").c_str(), 0755), 0);
  ASSERT_EQ(::chmod((in.Staging + "zentrik").c_str(), 0644), 0);
  TFakeSystem sys;
  EXPECT_EQ(TUpdater(sys).Run(in.Args()), 0);
  struct stat st;
  ASSERT_EQ(::stat((in.Dir + "zentrik").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST(UpdateFiles, FailedBackupIsFatal) {
  TInstall in;
  in.Prepare({{"zentrik", "old", "new"}});
  TFakeSystem sys;
  sys.FailingMoves.insert({in.Dir + "zentrik", in.Dir + "zentrik.backup"});
  EXPECT_EQ(TUpdater(sys).Run(in.Args()), 1);
  EXPECT_EQ(sys.Out.back(), "Nepodařilo se vytvořit zálohu souboru \"" + in.Dir + "zentrik.backup\" z \"" + in.Dir +
                                "zentrik\"");
  EXPECT_EQ(ReadText(in.Dir + "zentrik"), "old");
}

// A move that fails after its target was backed up puts the backup back first, so the
// client never goes missing under its own name; earlier entries stay installed.
TEST(UpdateFiles, FailedMoveRestoresTheBackup) {
  TInstall in;
  in.Prepare({{"first.dat", "old first", "new first"}, {"zentrik", "old", "new"}});
  TFakeSystem sys;
  sys.FailingMoves.insert({in.Staging + "zentrik", in.Dir + "zentrik"});
  EXPECT_EQ(TUpdater(sys).Run(in.Args()), 1);
  EXPECT_EQ(sys.Out.back(), "Chyba při přesunutí \"" + in.Staging + "zentrik\" do \"" + in.Dir + "zentrik\"");
  EXPECT_EQ(ReadText(in.Dir + "zentrik"), "old");
  EXPECT_FALSE(TestSupport::Exists(in.Dir + "zentrik.backup"));
  EXPECT_EQ(ReadText(in.Dir + "first.dat"), "new first");
  EXPECT_TRUE(TestSupport::Exists(in.List));  // nothing is cleaned up after a fatal message
}

TEST(UpdateFiles, CleanUpLeavesANonEmptyStagingFolder) {
  TInstall in;
  in.Prepare({{"zentrik", "old", "new"}});
  in.Tmp.Write("tmpu/stray.txt", "x");
  TFakeSystem sys;
  EXPECT_EQ(TUpdater(sys).Run(in.Args()), 0);
  EXPECT_EQ(TestSupport::ListNames(in.Staging), std::vector<std::string>{"stray.txt"});
  EXPECT_FALSE(TestSupport::Exists(in.Dir + "zentrik.backup"));
  EXPECT_EQ(sys.Out.back(), "Hotovo");
}

}  // namespace
