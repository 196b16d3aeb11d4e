#include "uPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <iostream>
#include <mutex>

extern char** environ;

namespace Platform {

namespace {

std::mutex ConsoleLock;

bool WriteAll(int Fd, const char* Data, size_t Size) {
  while (Size > 0) {
    ssize_t n = ::write(Fd, Data, Size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    Data += n;
    Size -= static_cast<size_t>(n);
  }
  return true;
}

void SetErr(std::string* Err, const std::string& Text) {
  if (Err) *Err = Text;
}

}  // namespace

void ConsoleWriteLine(const std::string& Line) {
  std::lock_guard<std::mutex> g(ConsoleLock);
  std::string s = Line + "\n";
  WriteAll(STDOUT_FILENO, s.data(), s.size());
}

void ConsoleWrite(const std::string& Text) {
  std::lock_guard<std::mutex> g(ConsoleLock);
  WriteAll(STDOUT_FILENO, Text.data(), Text.size());
}

bool ConsoleReadLine(std::string& Line) {
  Line.clear();
  char c;
  bool any = false;
  while (true) {
    ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return any;
    any = true;
    if (c == '\n') return true;
    Line += c;
  }
}

bool StdErrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void StdErrWrite(const std::string& Text) {
  std::lock_guard<std::mutex> g(ConsoleLock);
  WriteAll(STDERR_FILENO, Text.data(), Text.size());
}

bool FileExists(const std::string& Path) {
  struct stat st;
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& Path) {
  struct stat st;
  return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const std::string& Path) {
  if (Path.empty()) return false;
  return ::mkdir(Path.c_str(), 0777) == 0 || (errno == EEXIST && DirectoryExists(Path));
}

bool ForceDirectories(const std::string& Path) {
  if (Path.empty()) return false;
  std::string p = Path;
  while (p.size() > 1 && p.back() == PathDelim) p.pop_back();
  if (DirectoryExists(p)) return true;
  auto slash = p.find_last_of(PathDelim);
  if (slash != std::string::npos && slash > 0) {
    if (!ForceDirectories(p.substr(0, slash))) return false;
  }
  return CreateDir(p);
}

bool DeleteFile(const std::string& Path) { return ::unlink(Path.c_str()) == 0; }

bool RemoveDir(const std::string& Path) { return ::rmdir(Path.c_str()) == 0; }

bool RemoveTree(const std::string& Path) {
  struct stat st;
  if (::lstat(Path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return ::unlink(Path.c_str()) == 0;
  std::vector<std::string> names;
  if (ListDirectory(Path, names, false)) {
    for (const auto& n : names) RemoveTree(IncludeTrailingPathDelimiter(Path) + n);
  }
  return ::rmdir(Path.c_str()) == 0;
}

bool MoveNoReplace(const std::string& From, const std::string& To, std::string* Err) {
  // renameat2 with RENAME_NOREPLACE: plain rename() would silently replace the target.
  long r = ::syscall(SYS_renameat2, AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), 1 /* RENAME_NOREPLACE */);
  if (r == 0) return true;
  SetErr(Err, ErrorText(errno));
  return false;
}

bool CopyFile(const std::string& From, const std::string& To, std::string* Err) {
  int in = ::open(From.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    SetErr(Err, ErrorText(errno));
    return false;
  }
  struct stat st;
  ::fstat(in, &st);
  int out = ::open(To.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777);
  if (out < 0) {
    SetErr(Err, ErrorText(errno));
    ::close(in);
    return false;
  }
  char buf[1 << 16];
  bool ok = true;
  while (true) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) { ok = false; break; }
    if (n == 0) break;
    if (!WriteAll(out, buf, static_cast<size_t>(n))) { ok = false; break; }
  }
  if (!ok) SetErr(Err, ErrorText(errno));
  ::close(in);
  if (::close(out) != 0 && ok) {
    SetErr(Err, ErrorText(errno));
    ok = false;
  }
  return ok;
}

int64_t FileSize(const std::string& Path) {
  struct stat st;
  if (::stat(Path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool ReadFile(const std::string& Path, std::string& Bytes, std::string* Err) {
  Bytes.clear();
  int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetErr(Err, ErrorText(errno));
    return false;
  }
  char buf[1 << 16];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetErr(Err, ErrorText(errno));
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    Bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

namespace {

// Opens with Flags, writes everything, closes; a failed close counts as a failed write.
bool WriteWhole(const std::string& Path, const std::string& Bytes, int Flags, std::string* Err) {
  int fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | Flags, 0666);
  if (fd < 0) {
    SetErr(Err, ErrorText(errno));
    return false;
  }
  bool ok = WriteAll(fd, Bytes.data(), Bytes.size());
  if (!ok) SetErr(Err, ErrorText(errno));
  if (::close(fd) != 0 && ok) {
    SetErr(Err, ErrorText(errno));
    ok = false;
  }
  return ok;
}

}  // namespace

bool WriteFile(const std::string& Path, const std::string& Bytes, std::string* Err) {
  return WriteWhole(Path, Bytes, O_TRUNC, Err);
}

TAppendFile::~TAppendFile() { Close(); }

bool TAppendFile::Open(const std::string& Path) {
  Close();
  if (Path.empty()) return false;
  fFd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  return fFd >= 0;
}

void TAppendFile::Close() {
  if (fFd >= 0) ::close(fFd);
  fFd = -1;
}

bool TAppendFile::Write(const std::string& Bytes) { return fFd >= 0 && WriteAll(fFd, Bytes.data(), Bytes.size()); }

int64_t TAppendFile::Size() const {
  struct stat st;
  if (fFd < 0 || ::fstat(fFd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool AppendFile(const std::string& Path, const std::string& Bytes, std::string* Err) {
  return WriteWhole(Path, Bytes, O_APPEND, Err);
}

bool ListDirectory(const std::string& Dir, std::vector<std::string>& Names, bool FilesOnly, std::string* Err) {
  DIR* d = ::opendir(Dir.c_str());
  if (!d) {
    SetErr(Err, ErrorText(errno));
    return false;
  }
  std::string base = IncludeTrailingPathDelimiter(Dir);
  while (dirent* e = ::readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    if (FilesOnly) {
      bool isDir = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) isDir = DirectoryExists(base + n);
      if (isDir) continue;
    }
    Names.push_back(n);
  }
  ::closedir(d);
  return true;
}

std::string LastErrorText() { return ErrorText(errno); }

std::string ErrorText(int Code) {
  char buf[256];
  return ::strerror_r(Code, buf, sizeof buf);
}

std::string ExtractFileName(const std::string& Path) {
  auto p = Path.find_last_of(PathDelim);
  return p == std::string::npos ? Path : Path.substr(p + 1);
}

std::string ExtractFilePath(const std::string& Path) {
  auto p = Path.find_last_of(PathDelim);
  return p == std::string::npos ? std::string() : Path.substr(0, p + 1);
}

std::string ExtractFileExt(const std::string& Path) {
  std::string name = ExtractFileName(Path);
  auto p = name.find_last_of('.');
  return p == std::string::npos ? std::string() : name.substr(p);
}

std::string IncludeTrailingPathDelimiter(const std::string& Path) {
  if (!Path.empty() && Path.back() == PathDelim) return Path;
  return Path + PathDelim;
}

std::string ExpandFileName(const std::string& Path) {
  std::string full = (!Path.empty() && Path[0] == PathDelim) ? Path : IncludeTrailingPathDelimiter(CurrentDirectory()) + Path;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= full.size()) {
    auto end = full.find(PathDelim, start);
    if (end == std::string::npos) end = full.size();
    std::string part = full.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& p : parts) out += PathDelim + p;
  if (out.empty()) out = std::string(1, PathDelim);
  if (!full.empty() && full.back() == PathDelim && out.back() != PathDelim) out += PathDelim;
  return out;
}

std::string ProgramPath() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

std::string ProgramDirectory() { return ExtractFilePath(ProgramPath()); }

std::string CurrentDirectory() {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof buf)) return std::string(".");
  return buf;
}

std::string TempDirectory() {
  const char* t = ::getenv("TMPDIR");
  return IncludeTrailingPathDelimiter(t && *t ? t : "/tmp");
}

int ProcessId() { return static_cast<int>(::getpid()); }

int ThreadId() { return static_cast<int>(::gettid()); }

bool SpawnDetached(const std::string& Program, const std::vector<std::string>& Args, std::string* Err) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(Program.c_str()));
  for (const auto& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The started program begins with no signal blocked: our own mask (the stop-request
  // watcher blocks SIGTERM) must not carry over, or it could not be stopped.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  pid_t pid;
  int rc = ::posix_spawn(&pid, Program.c_str(), nullptr, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    SetErr(Err, ErrorText(rc));
    return false;
  }
  return true;
}

TDateTime TClock::Now() {
  timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  ::localtime_r(&ts.tv_sec, &t);
  TDateTime d;
  d.Year = t.tm_year + 1900;
  d.Month = t.tm_mon + 1;
  d.Day = t.tm_mday;
  d.Hour = t.tm_hour;
  d.Minute = t.tm_min;
  d.Second = t.tm_sec;
  d.Millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return d;
}

int64_t TClock::MonotonicMs() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void TClock::Sleep(int Milliseconds) {
  if (Milliseconds <= 0) return;
  timespec ts{Milliseconds / 1000, static_cast<long>(Milliseconds % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

namespace {
std::shared_ptr<TClock>& ClockSlot() {
  static std::shared_ptr<TClock> c = std::make_shared<TClock>();
  return c;
}
}  // namespace

TClock& Clock() { return *ClockSlot(); }

void SetClock(std::shared_ptr<TClock> C) { ClockSlot() = C ? std::move(C) : std::make_shared<TClock>(); }

TUtf8CharacterScope::TUtf8CharacterScope() {
  // Only the character type changes; the thread's other categories are kept.
  locale_t base = ::duplocale(::uselocale(static_cast<locale_t>(0)));
  if (!base) return;
  locale_t l = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", base);
  if (!l) {  // no UTF-8 locale installed: the thread's locale stays
    ::freelocale(base);
    return;
  }
  fLocale = l;
  fPrevious = ::uselocale(l);
}

TUtf8CharacterScope::~TUtf8CharacterScope() {
  if (!fLocale) return;
  ::uselocale(static_cast<locale_t>(fPrevious));
  ::freelocale(static_cast<locale_t>(fLocale));
}

}  // namespace Platform
