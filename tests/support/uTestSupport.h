// Shared test fixtures: temporary folders, running the built binaries, reading files.
#pragma once

#include <string>
#include <vector>

namespace TestSupport {

// A fresh folder under the system temporary directory, removed with everything in it.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return fPath; }  // without a trailing separator
  std::string operator/(const std::string& Name) const { return fPath + "/" + Name; }
  // Writes a file (parents created) and returns its path.
  std::string Write(const std::string& Name, const std::string& Bytes) const;

 private:
  std::string fPath;
};

struct TProcessResult {
  int ExitCode = -1;    // -1: killed by a signal or the time-out
  bool TimedOut = false;
  std::string Out;      // standard output
  std::string Err;      // standard error
};

// Runs Program with Args (argv[1..]) in WorkDir, feeding Input on standard input, and waits
// at most TimeoutMs. Extra environment entries "NAME=value" are added to the current ones.
TProcessResult RunProcess(const std::string& Program, const std::vector<std::string>& Args,
                          const std::string& WorkDir = "", const std::string& Input = "", int TimeoutMs = 60000,
                          const std::vector<std::string>& Env = {});

// One run of the built zentrik, as a calling script sees it.
struct TClientRun {
  TProcessResult Process;
  std::vector<std::string> Console;  // standard output, line by line
  std::string AppLog;                // this run's application log files, concatenated
};

// Runs <BinDir>/zentrik in WorkDir. WorkDir/logs is removed first, so AppLog holds the
// records of this run only.
TClientRun RunClient(const std::string& WorkDir, const std::vector<std::string>& Args, int TimeoutMs = 60000);
// Every application log file (*.APL.log) directly in Dir, concatenated.
std::string ApplicationLogs(const std::string& Dir);

// Folder of the built binaries (zentrik, update, zentrik-sandbox); ZENTRIK_BIN_DIR overrides it.
std::string BinDir();
std::string SourceDir();
std::string ReadText(const std::string& Path);  // empty when missing
bool Exists(const std::string& Path);
// Names in a folder, sorted.
std::vector<std::string> ListNames(const std::string& Dir);
// Lines of a text, split at "\n" (a trailing "\r" kept).
std::vector<std::string> Lines(const std::string& Text);

}  // namespace TestSupport
