#include "uUpdaterOs.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace UpdaterOs {

bool PathExists(const std::string& Path) {
  struct stat st;
  return !Path.empty() && ::lstat(Path.c_str(), &st) == 0;
}

bool DeleteFile(const std::string& Path) { return ::unlink(Path.c_str()) == 0; }

bool RemoveDir(const std::string& Path) { return ::rmdir(Path.c_str()) == 0; }

bool MoveNoReplace(const std::string& From, const std::string& To) {
  // renameat2 with RENAME_NOREPLACE: plain rename() would silently replace the target.
  return ::syscall(SYS_renameat2, AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), 1 /* RENAME_NOREPLACE */) == 0;
}

bool ReadFile(const std::string& Path, std::string& Bytes) {
  Bytes.clear();
  int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[1 << 16];
  bool ok = true;
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    Bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

void CarryExecuteBits(const std::string& From, const std::string& To) {
  struct stat from, to;
  if (::stat(From.c_str(), &from) != 0 || ::lstat(To.c_str(), &to) != 0 || !S_ISREG(to.st_mode)) return;
  mode_t exec = from.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH);
  if ((to.st_mode & exec) != exec) ::chmod(To.c_str(), (to.st_mode & 07777) | exec);
}

std::vector<TProcessInfo> ListProcesses() {
  std::vector<TProcessInfo> list;
  DIR* d = ::opendir("/proc");
  if (!d) return list;
  while (dirent* e = ::readdir(d)) {
    char* end;
    long pid = std::strtol(e->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    TProcessInfo p;
    p.Pid = static_cast<int>(pid);
    char buf[PATH_MAX];
    std::string link = std::string("/proc/") + e->d_name + "/exe";
    ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0) p.ExePath.assign(buf, static_cast<size_t>(n));
    list.push_back(p);
  }
  ::closedir(d);
  return list;
}

std::string ProcessTitle(int Pid) {
  std::string comm;
  if (!ReadFile("/proc/" + std::to_string(Pid) + "/comm", comm)) return std::string();
  while (!comm.empty() && (comm.back() == '\n' || comm.back() == '\r')) comm.pop_back();
  return comm;
}

void RequestEnd(int Pid) { ::kill(Pid, SIGTERM); }

bool ProcessRunning(int Pid) {
  std::string stat;
  if (!ReadFile("/proc/" + std::to_string(Pid) + "/stat", stat)) return false;
  // "pid (name) S ...": the state follows the last ")", the name may hold anything.
  size_t p = stat.rfind(')');
  if (p == std::string::npos || p + 2 >= stat.size()) return false;
  char state = stat[p + 2];
  return state != 'Z' && state != 'X';
}

int OwnPid() { return static_cast<int>(::getpid()); }

void UnblockSignals() {
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void IgnoreBrokenOutput() { ::signal(SIGPIPE, SIG_IGN); }

void WriteLine(const std::string& Line) {
  std::string s = Line + "\n";
  const char* p = s.data();
  size_t left = s.size();
  while (left > 0) {
    ssize_t n = ::write(STDOUT_FILENO, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void SleepMs(int Milliseconds) {
  timespec ts{Milliseconds / 1000, static_cast<long>(Milliseconds % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace UpdaterOs
