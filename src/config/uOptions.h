// The configuration of one order: reads the order configuration file (key=value lines),
// finds the documents its "soubor" lines name, answers the order's values and passes the
// values of its settings copy on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "uSettings.h"

class TOptions {
 public:
  // An empty FileName means "orvelcmd.cfg" in the program's directory. Nothing is read yet.
  explicit TOptions(const std::string& FileName);
  virtual ~TOptions() = default;

  // Reads and checks the file; ErrorSate() then tells the outcome. Raises when the file
  // cannot be read or a pattern's directory is empty or missing.
  void Init();

  virtual bool ProxyUse() const { return fSettings.ProxyUse; }
  virtual void SetProxyUse(bool Value) { fSettings.ProxyUse = Value; }
  virtual std::string ProxyHost() const { return fSettings.ProxyHost; }
  virtual void SetProxyHost(const std::string& Value) { fSettings.ProxyHost = Value; }
  virtual std::string ProxyPort() const { return fSettings.ProxyPort; }
  virtual void SetProxyPort(const std::string& Value) { fSettings.ProxyPort = Value; }
  virtual std::string ProxyUser() const { return fSettings.ProxyUser; }
  virtual void SetProxyUser(const std::string& Value) { fSettings.ProxyUser = Value; }
  virtual std::string ProxyPassword() const { return fSettings.ProxyPassword; }
  virtual void SetProxyPassword(const std::string& Value) { fSettings.ProxyPassword = Value; }
  virtual bool AplUpdate() const { return fSettings.AplUpdate; }
  virtual void SetAplUpdate(bool Value) { fSettings.AplUpdate = Value; }
  virtual std::string Temp() const { return fSettings.Temp; }
  virtual std::string Log() const { return fSettings.LogApl; }
  virtual std::string LogName() const { return fSettings.LogAplName; }
  virtual std::string LogItem() const { return fSettings.LogItem; }
  virtual std::string LogItemName() const { return fSettings.LogItemName; }
  virtual void SetSettings(const TSettings& Value) { fSettings = Value; }
  // Command-line user name when given, otherwise the first 30 characters of "jmeno".
  virtual std::string User() const;
  // Command-line password when given, otherwise the first 30 characters of "heslo".
  virtual std::string Passwd() const;
  virtual std::string StandZak() const;
  virtual std::string JobZak() const;
  virtual std::string Note() const;
  virtual uint8_t Duplicate() const { return fSettings.Duplicate; }
  virtual void SetDuplicate(uint8_t Value) { fSettings.Duplicate = Value; }
  virtual bool ControleFile() const { return fSettings.ControleFile != 0; }
  virtual bool TestUrl() const { return fSettings.TestUrl; }

  // 0 no error, 1 the configuration file does not exist, 2 its content is not usable.
  uint8_t ErrorSate() const { return fErrorState; }
  // With state 2: the "soubor" value that matched no file (empty when the file had no line).
  const std::string& ErrorStr() const { return fErrorStr; }
  // Paths of the order's documents, in the order found.
  const std::vector<std::string>& ListFiles() const { return fListFiles; }
  const std::string& FileName() const { return fFileName; }

  // Appends the full path of every file directly inside Directory whose name matches Mask,
  // adding 1 to Count for each. Raises EInOutError for an empty or missing Directory.
  void GetFilesAddr(std::vector<std::string>& List, int& Count, const std::string& Directory,
                    const std::string& Mask);

 protected:
  virtual bool LoadConf();
  virtual bool ParseConf();

 private:
  std::string GetConfValue(const std::string& Key) const;

  std::vector<std::string> fConfList;
  std::vector<std::string> fListFiles;
  std::string fFileName;
  TSettings fSettings;
  uint8_t fErrorState = 0;
  std::string fErrorStr;
};
