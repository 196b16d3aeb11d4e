#include "uTestSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace TestSupport {

namespace {

void RemoveAll(const std::string& P) {
  struct stat st;
  if (lstat(P.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    chmod(P.c_str(), 0755);
    if (DIR* d = opendir(P.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") RemoveAll(P + "/" + n);
      }
      closedir(d);
    }
    rmdir(P.c_str());
  } else {
    unlink(P.c_str());
  }
}

void MakeParents(const std::string& Path) {
  for (size_t i = 1; i < Path.size(); ++i)
    if (Path[i] == '/') mkdir(Path.substr(0, i).c_str(), 0755);
}

int64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

}  // namespace

TTempDir::TTempDir() {
  const char* t = getenv("TMPDIR");
  std::string tmpl = std::string(t && *t ? t : "/tmp") + "/zentrik-test-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  fPath = buf.data();
}

TTempDir::~TTempDir() { RemoveAll(fPath); }

std::string TTempDir::Write(const std::string& Name, const std::string& Bytes) const {
  std::string p = Name.size() && Name[0] == '/' ? Name : fPath + "/" + Name;
  MakeParents(p);
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << Bytes;
  return p;
}

TProcessResult RunProcess(const std::string& Program, const std::vector<std::string>& Args, const std::string& WorkDir,
                          const std::string& Input, int TimeoutMs, const std::vector<std::string>& Env) {
  TProcessResult r;
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) || pipe2(outPipe, O_CLOEXEC) || pipe2(errPipe, O_CLOEXEC)) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    if (!WorkDir.empty() && chdir(WorkDir.c_str()) != 0) _exit(127);
    for (const auto& e : Env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(Program.c_str()));
    for (const auto& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(Program.c_str(), argv.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  size_t written = 0;
  if (Input.empty()) {
    close(inPipe[1]);
    inPipe[1] = -1;
  }
  int64_t deadline = NowMs() + TimeoutMs;
  bool outOpen = true, errOpen = true;
  signal(SIGPIPE, SIG_IGN);
  while (outOpen || errOpen) {
    std::vector<pollfd> fds;
    if (outOpen) fds.push_back({outPipe[0], POLLIN, 0});
    if (errOpen) fds.push_back({errPipe[0], POLLIN, 0});
    if (inPipe[1] >= 0) fds.push_back({inPipe[1], POLLOUT, 0});
    int64_t left = deadline - NowMs();
    if (left <= 0) {
      r.TimedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    int n = poll(fds.data(), fds.size(), static_cast<int>(std::min<int64_t>(left, 1000)));
    if (n < 0 && errno == EINTR) continue;
    for (auto& p : fds) {
      if (!p.revents) continue;
      if (p.fd == inPipe[1]) {
        ssize_t w = write(inPipe[1], Input.data() + written, Input.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 || written >= Input.size()) {
          close(inPipe[1]);
          inPipe[1] = -1;
        }
        continue;
      }
      char buf[65536];
      ssize_t got = read(p.fd, buf, sizeof buf);
      if (got <= 0) {
        (p.fd == outPipe[0] ? outOpen : errOpen) = false;
      } else {
        (p.fd == outPipe[0] ? r.Out : r.Err).append(buf, static_cast<size_t>(got));
      }
    }
  }
  if (inPipe[1] >= 0) close(inPipe[1]);
  close(outPipe[0]);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.ExitCode = WIFEXITED(status) && !r.TimedOut ? WEXITSTATUS(status) : -1;
  return r;
}

TClientRun RunClient(const std::string& WorkDir, const std::vector<std::string>& Args, int TimeoutMs) {
  RemoveAll(WorkDir + "/logs");
  TClientRun r;
  r.Process = RunProcess(BinDir() + "/zentrik", Args, WorkDir, "", TimeoutMs);
  r.Console = Lines(r.Process.Out);
  r.AppLog = ApplicationLogs(WorkDir + "/logs");
  return r;
}

std::string ApplicationLogs(const std::string& Dir) {
  std::string all;
  for (const auto& name : ListNames(Dir))
    if (name.size() > 8 && name.compare(name.size() - 8, 8, ".APL.log") == 0) all += ReadText(Dir + "/" + name);
  return all;
}

std::string BinDir() {
  const char* b = getenv("ZENTRIK_BIN_DIR");
  return b && *b ? b : ZENTRIK_TEST_BIN_DIR;
}

std::string SourceDir() {
  const char* s = getenv("ZENTRIK_SOURCE_DIR");
  return s && *s ? s : ZENTRIK_TEST_SOURCE_DIR;
}

std::string ReadText(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool Exists(const std::string& Path) {
  struct stat st;
  return stat(Path.c_str(), &st) == 0;
}

std::vector<std::string> ListNames(const std::string& Dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(Dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < Text.size()) {
    auto nl = Text.find('\n', start);
    if (nl == std::string::npos) {
      out.push_back(Text.substr(start));
      break;
    }
    out.push_back(Text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

}  // namespace TestSupport
