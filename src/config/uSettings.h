// Everything the command line configures for one run. A plain value record: each worker,
// order configuration and upgrade object keeps its own copy.
#pragma once

#include <cstdint>
#include <string>

struct TSettings {
  bool ProxyUse = false;
  std::string ProxyHost;
  std::string ProxyPort;
  std::string ProxyUser;
  std::string ProxyPassword;
  uint8_t pType = 0;  // 0 none (also upgrade), 1 orvel, 2 kalvio
  std::string UserName;
  std::string Password;
  std::string Temp;         // temporary files; the default has no final separator
  std::string LogApl;       // application log directory
  std::string LogItem;      // per-transfer logs and control files; when set, ends with a separator
  std::string LogAplName;   // name the application log's file name is made from
  std::string LogItemName;  // name the per-transfer log's file name is made from
  uint8_t Duplicate = 0;    // 1: the letter service checks for duplicates
  uint8_t ControleFile = 0; // 1: orders leave ".ok"/".ko" control files
  bool AplUpdate = false;   // never set
  bool TestUrl = false;     // orders and letters go to the test services
};
