// The operating-system layer. The rest of the code base includes no POSIX header; another
// platform is one more implementation of these functions.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Platform {

inline constexpr char PathDelim = '/';

// ---- console --------------------------------------------------------------------------
// One line to standard output, with the platform line end, flushed; safe from any thread.
void ConsoleWriteLine(const std::string& Line);
// Text to standard output as one write, without a line end.
void ConsoleWrite(const std::string& Text);
// Reads one line from standard input; false at end of input.
bool ConsoleReadLine(std::string& Line);
bool StdErrIsTerminal();
// Text to standard error as it is (progress lines use "\r" to rewrite themselves).
void StdErrWrite(const std::string& Text);

// ---- files and directories --------------------------------------------------------------
bool FileExists(const std::string& Path);       // exists and is not a directory
bool DirectoryExists(const std::string& Path);
bool CreateDir(const std::string& Path);        // the last level only
bool ForceDirectories(const std::string& Path); // with every missing parent
bool DeleteFile(const std::string& Path);
bool RemoveDir(const std::string& Path);        // an empty directory
// Recursively removes a directory tree; true when nothing is left.
bool RemoveTree(const std::string& Path);
// Moves a file or directory; fails when the target exists (never replaces). Err gets the reason.
bool MoveNoReplace(const std::string& From, const std::string& To, std::string* Err = nullptr);
bool CopyFile(const std::string& From, const std::string& To, std::string* Err = nullptr);
// Size in bytes, -1 when the file does not exist.
int64_t FileSize(const std::string& Path);
// Whole file into Bytes; false (with Err) when it cannot be read.
bool ReadFile(const std::string& Path, std::string& Bytes, std::string* Err = nullptr);
// Writes (replaces) a whole file.
bool WriteFile(const std::string& Path, const std::string& Bytes, std::string* Err = nullptr);
// Appends to a file, creating it when missing.
bool AppendFile(const std::string& Path, const std::string& Bytes, std::string* Err = nullptr);
// Names (not paths) of the entries directly inside Dir, in the order the file system lists
// them; with FilesOnly, directories are left out. False when Dir cannot be read.
bool ListDirectory(const std::string& Dir, std::vector<std::string>& Names, bool FilesOnly, std::string* Err = nullptr);
// A file opened for appending through a bare descriptor: each Write is one write() at the end
// of the file (O_APPEND), nothing is buffered, and other programs may read the file meanwhile.
class TAppendFile {
 public:
  TAppendFile() = default;
  ~TAppendFile();
  TAppendFile(const TAppendFile&) = delete;
  TAppendFile& operator=(const TAppendFile&) = delete;
  // Opens (creating when missing) Path; an open file is closed first.
  bool Open(const std::string& Path);
  void Close();
  bool IsOpen() const { return fFd >= 0; }
  bool Write(const std::string& Bytes);
  // Size of the open file in bytes, -1 when none is open.
  int64_t Size() const;

 private:
  int fFd = -1;
};
// Text of the last OS error (errno), for messages.
std::string LastErrorText();
std::string ErrorText(int Code);

// ---- paths ---------------------------------------------------------------------------------
std::string ExtractFileName(const std::string& Path);  // after the last separator
std::string ExtractFilePath(const std::string& Path);  // up to and including the last separator
std::string ExtractFileExt(const std::string& Path);   // from the last dot of the name, dot included
std::string IncludeTrailingPathDelimiter(const std::string& Path);
std::string ExpandFileName(const std::string& Path);   // absolute, without "." and ".." steps
// Directory of the running program, with its trailing separator.
std::string ProgramDirectory();
// Full path of the running program.
std::string ProgramPath();
std::string CurrentDirectory();
std::string TempDirectory();  // system temporary directory, with its trailing separator

// ---- processes and threads --------------------------------------------------------------
int ProcessId();
int ThreadId();
// Starts Program with Args (argv[1..]) in a new session, not waited for; output inherited.
bool SpawnDetached(const std::string& Program, const std::vector<std::string>& Args, std::string* Err = nullptr);

// While it lives, the calling thread converts characters as UTF-8, whatever the process's
// locale: libraries that convert file names through the locale (the 7z writer) would
// otherwise drop every non-ASCII name under the "C" locale.
class TUtf8CharacterScope {
 public:
  TUtf8CharacterScope();
  ~TUtf8CharacterScope();
  TUtf8CharacterScope(const TUtf8CharacterScope&) = delete;
  TUtf8CharacterScope& operator=(const TUtf8CharacterScope&) = delete;

 private:
  void* fLocale = nullptr;    // locale_t of this scope
  void* fPrevious = nullptr;  // the thread's locale before
};

// ---- time ------------------------------------------------------------------------------------
struct TDateTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Replaceable clock: tests install their own to fix time stamps and skip waiting.
class TClock {
 public:
  virtual ~TClock() = default;
  virtual TDateTime Now();            // local time with milliseconds
  virtual int64_t MonotonicMs();      // for durations
  virtual void Sleep(int Milliseconds);
};

TClock& Clock();
// Installs a clock (nullptr restores the system clock). Not thread-safe: set it before use.
void SetClock(std::shared_ptr<TClock> C);

inline TDateTime Now() { return Clock().Now(); }
inline int64_t MonotonicMs() { return Clock().MonotonicMs(); }
inline void SleepMs(int Milliseconds) { Clock().Sleep(Milliseconds); }

}  // namespace Platform
