// The few operating-system services the updater needs. The updater shares no code with the
// client, so these are its own, kept small.
#pragma once

#include <string>
#include <vector>

namespace UpdaterOs {

struct TProcessInfo {
  int Pid = 0;
  std::string ExePath;  // full path of the program; empty when it cannot be read
};

// Something of that name exists (a file, folder or link, also a dangling one).
bool PathExists(const std::string& Path);
bool DeleteFile(const std::string& Path);
bool RemoveDir(const std::string& Path);
// Renames; fails when the target exists (never replaces).
bool MoveNoReplace(const std::string& From, const std::string& To);
bool ReadFile(const std::string& Path, std::string& Bytes);
// Gives To the execute bits that From has, so a replaced program stays runnable.
void CarryExecuteBits(const std::string& From, const std::string& To);

std::vector<TProcessInfo> ListProcesses();
// The process name (what the system shows as its title).
std::string ProcessTitle(int Pid);
// Asks the process to end (SIGTERM).
void RequestEnd(int Pid);
// Still running: exists and is not a zombie.
bool ProcessRunning(int Pid);
int OwnPid();

// Clears the blocked-signal mask inherited from the starter (the client blocks SIGTERM and the
// like for its own watcher thread, and exec keeps the mask), so the updater can be stopped.
void UnblockSignals();
// Output whose reader has gone away must not end the program halfway through its moves.
void IgnoreBrokenOutput();
void WriteLine(const std::string& Line);
void SleepMs(int Milliseconds);

}  // namespace UpdaterOs
