// The updater: ends the running client, then for every entry of the move list backs up the
// installed file, moves the downloaded one into its place, and cleans up. Every step is one
// console line; a fatal message is followed by a 4 s pause and exit code 1.
#pragma once

#include <string>
#include <vector>

#include "uUpdaterOs.h"

// Everything the updater asks of the system, replaceable so that tests control time,
// processes and failures.
class TUpdaterSystem {
 public:
  virtual ~TUpdaterSystem() = default;
  virtual void WriteLine(const std::string& Line) { UpdaterOs::WriteLine(Line); }
  virtual void Sleep(int Milliseconds) { UpdaterOs::SleepMs(Milliseconds); }
  virtual std::vector<UpdaterOs::TProcessInfo> ListProcesses() { return UpdaterOs::ListProcesses(); }
  virtual std::string ProcessTitle(int Pid) { return UpdaterOs::ProcessTitle(Pid); }
  virtual void RequestEnd(int Pid) { UpdaterOs::RequestEnd(Pid); }
  virtual bool ProcessRunning(int Pid) { return UpdaterOs::ProcessRunning(Pid); }
  virtual bool PathExists(const std::string& Path) { return UpdaterOs::PathExists(Path); }
  virtual bool DeleteFile(const std::string& Path) { return UpdaterOs::DeleteFile(Path); }
  virtual bool RemoveDir(const std::string& Path) { return UpdaterOs::RemoveDir(Path); }
  virtual bool MoveNoReplace(const std::string& From, const std::string& To) {
    return UpdaterOs::MoveNoReplace(From, To);
  }
  virtual bool ReadFile(const std::string& Path, std::string& Bytes) { return UpdaterOs::ReadFile(Path, Bytes); }
  virtual void CarryExecuteBits(const std::string& From, const std::string& To) {
    UpdaterOs::CarryExecuteBits(From, To);
  }
};

// Field Index (from 0) of Text split at Separator; empty beyond the last field.
std::string SplitField(const std::string& Text, int Index, const std::string& Separator);
// After the last "/" (the whole text without one) / up to and including it (empty without one).
std::string NamePart(const std::string& Path);
std::string FolderPart(const std::string& Path);
// Lines at CR LF, LF or CR; a final line end gives no empty last line.
std::vector<std::string> SplitTextLines(const std::string& Text);

class TUpdater {
 public:
  explicit TUpdater(TUpdaterSystem& System) : fSystem(System) {}

  // The whole program over its arguments (argv[1..]); returns the exit code.
  int Run(const std::vector<std::string>& Args);

  static constexpr int FatalPauseMs = 4000;
  static constexpr int PollMs = 200;
  static constexpr int CloseTimeoutMs = 20000;
  static constexpr int ResendMs = 2000;

 private:
  struct TFatal {};

  void RunUpdate(const std::vector<std::string>& Args);
  void Say(const std::string& Text, bool Fatal = false);
  void ReadUpdateList(const std::string& Path);
  void CloseClient();
  void CloseClientProcess(int Pid);
  std::string BackupPath(const std::string& Target) const;

  TUpdaterSystem& fSystem;
  std::vector<std::string> UpdateLines;
  std::string OldFile;
  std::string NewFile;
  std::string BackupFile;
  std::string fClientDir;  // field 1 of the first argument
};
