// The built `update` program run for real: a stand-in client process, real files, the real
// 4 s pause after a fatal message.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "uTestSupport.h"

extern char** environ;

using namespace TestSupport;

namespace {

std::string Updater() { return BinDir() + "/update"; }

// A client folder whose "zentrik" is a running program (a copy of sleep), so the updater
// has a real process to find by its executable path and to end. With DeafToSigterm it keeps
// SIGTERM blocked and stays however often it is asked to go.
struct TRunningClient {
  TTempDir Tmp;
  std::string Dir = Tmp.Path() + "/";
  pid_t Pid = -1;

  explicit TRunningClient(bool DeafToSigterm = false) {
    std::filesystem::copy_file("/bin/sleep", Dir + "zentrik");
    std::string prog = Dir + "zentrik";
    char arg[] = "30";
    char* argv[] = {prog.data(), arg, nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (DeafToSigterm) BlockSigterm(attr);
    if (posix_spawn(&Pid, prog.c_str(), nullptr, &attr, argv, environ) != 0) Pid = -1;
    posix_spawnattr_destroy(&attr);
  }
  static void BlockSigterm(posix_spawnattr_t& Attr) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    posix_spawnattr_setsigmask(&Attr, &set);
    posix_spawnattr_setflags(&Attr, POSIX_SPAWN_SETSIGMASK);
  }
  ~TRunningClient() {
    if (Pid > 0) {
      ::kill(Pid, SIGKILL);
      ::waitpid(Pid, nullptr, 0);
    }
  }
  // How the stand-in ended: the signal that ended it, 0 if it is still running.
  int EndSignal() {
    int status = 0;
    if (::waitpid(Pid, &status, WNOHANG) != Pid) return 0;
    Pid = -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
  }
};

TEST(UpdateProgram, TwoEntriesReplaceTheRunningClientAndCleanUp) {
  TRunningClient client;
  ASSERT_GT(client.Pid, 0);
  const std::string& dir = client.Dir;
  client.Tmp.Write("libfoo.so", "old library");
  client.Tmp.Write("tmpu/zentrik", "new client");
  client.Tmp.Write("tmpu/libfoo.so", "new library");
  client.Tmp.Write("tmpu/update.list", dir + "zentrik;" + dir + "tmpu/zentrik\r\n" + dir + "libfoo.so;" + dir +
                                           "tmpu/libfoo.so\r\n");

  auto r = RunProcess(Updater(), {dir + "tmpu/update.list;" + dir, ""}, dir, "", 30000);
  EXPECT_EQ(r.ExitCode, 0) << r.Out;
  std::vector<std::string> expected{"Zavíraní aplikace Zentrik",
                                    "Ukončení \"zentrik\"",
                                    "Ukončení \"zentrik\", čekání: 19 sekund.",
                                    "Vytváří se záloha starého souboru",
                                    "Hotovo.",
                                    "Přesunutí stáhnutého souboru do požadovaného adresáře",
                                    "Vytváří se záloha starého souboru",
                                    "Hotovo.",
                                    "Přesunutí stáhnutého souboru do požadovaného adresáře",
                                    "Hotovo"};
  EXPECT_EQ(Lines(r.Out), expected);
  EXPECT_EQ(client.EndSignal(), SIGTERM);
  EXPECT_EQ(ReadText(dir + "zentrik"), "new client");
  EXPECT_EQ(ReadText(dir + "libfoo.so"), "new library");
  EXPECT_EQ(ListNames(client.Tmp.Path()), (std::vector<std::string>{"libfoo.so", "zentrik"}));
}

TEST(UpdateProgram, ExistingBackupIsDeletedFirst) {
  TTempDir tmp;
  const std::string dir = tmp.Path() + "/";
  tmp.Write("zentrik", "old client");
  tmp.Write("zentrik.backup", "backup of an earlier upgrade");
  tmp.Write("tmpu/zentrik", "new client");
  tmp.Write("tmpu/update.list", dir + "zentrik;" + dir + "tmpu/zentrik\r\n");

  auto r = RunProcess(Updater(), {dir + "tmpu/update.list;" + dir, ""}, dir, "", 30000);
  EXPECT_EQ(r.ExitCode, 0) << r.Out;
  EXPECT_EQ(Lines(r.Out).back(), "Hotovo");
  EXPECT_EQ(ReadText(dir + "zentrik"), "new client");
  EXPECT_EQ(ListNames(tmp.Path()), std::vector<std::string>{"zentrik"});
}

// A caller that stops reading the output must not stop the updater halfway through its moves.
TEST(UpdateProgram, ClosedOutputDoesNotStopTheMoves) {
  TTempDir tmp;
  const std::string dir = tmp.Path() + "/";
  tmp.Write("zentrik", "old client");
  tmp.Write("tmpu/zentrik", "new client");
  tmp.Write("tmpu/update.list", dir + "zentrik;" + dir + "tmpu/zentrik\r\n");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // nobody will ever read
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  std::string prog = Updater(), arg = dir + "tmpu/update.list;" + dir, empty;
  char* argv[] = {prog.data(), arg.data(), empty.data(), nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  ::close(fds[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(ReadText(dir + "zentrik"), "new client");
  EXPECT_EQ(ListNames(tmp.Path()), std::vector<std::string>{"zentrik"});
}

// The client starts the updater with SIGTERM blocked (its own watcher thread takes it), and
// the mask survives exec; the updater still ends on SIGTERM, here while it waits for a client
// that does not go.
TEST(UpdateProgram, EndsOnSigtermThoughItsStarterBlockedIt) {
  TRunningClient client(true);
  ASSERT_GT(client.Pid, 0);
  const std::string& dir = client.Dir;
  client.Tmp.Write("tmpu/zentrik", "new client");
  client.Tmp.Write("tmpu/update.list", dir + "zentrik;" + dir + "tmpu/zentrik\r\n");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  TRunningClient::BlockSigterm(attr);
  std::string prog = Updater(), arg = dir + "tmpu/update.list;" + dir, empty;
  char* argv[] = {prog.data(), arg.data(), empty.data(), nullptr};
  pid_t pid;
  ASSERT_EQ(posix_spawn(&pid, prog.c_str(), &fa, &attr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);

  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // well inside the 20 s wait
  ::kill(pid, SIGTERM);
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 50 && ended == 0; ++i) {
    ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (ended == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  ASSERT_EQ(ended, pid) << "update went on waiting with SIGTERM still blocked";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(ReadText(dir + "tmpu/zentrik"), "new client");
}

// A fatal message is the only line, followed by the 4 s pause and exit code 1.
TEST(UpdateProgram, FatalMessagePausesAndEndsWithCodeOne) {
  TTempDir tmp;
  const std::string dir = tmp.Path() + "/";
  tmp.Write("zentrik", "old client");
  tmp.Write("tmpu/update.list", dir + "zentrik;" + dir + "tmpu/zentrik\r\n");
  struct TCase {
    const char* Name;
    std::vector<std::string> Args;
    std::string Line;
  } cases[] = {
      {"no argument", {}, "Chyba: neexistuje aktualizační seznam."},
      {"missing download", {dir + "tmpu/update.list;" + dir, ""},
       "Chyba: Buď cílový \"" + dir + "zentrik\" nebo stažený soubor \"" + dir + "tmpu/zentrik\" neexistuje."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto started = std::chrono::steady_clock::now();
    auto r = RunProcess(Updater(), c.Args, dir, "", 30000);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(Lines(r.Out), std::vector<std::string>{c.Line});
    EXPECT_GE(ms, 4000);
    EXPECT_LT(ms, 7000);
    EXPECT_EQ(ReadText(dir + "zentrik"), "old client");
  }
}

}  // namespace
