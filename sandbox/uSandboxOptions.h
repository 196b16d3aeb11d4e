// Command line of zentrik-sandbox.
#pragma once

#include <string>
#include <vector>

struct TSandboxAccount {
  std::string User;
  std::string Password;
};

struct TSandboxConfig {
  std::string DataDir;
  int Port = 0;       // production stand-in
  int TestPort = 0;   // test stand-in
  std::string CaDir;  // where ca.pem and the server certificate live
  // The build's CA file when it is not CaDir/ca.pem: the CA is copied there so the client finds it.
  std::string CaCopy;
  std::string Version;     // what the version service offers
  std::string PackageDir;  // folder served as the upgrade package (empty: none)
  std::vector<TSandboxAccount> Accounts;     // the demo account first
  std::vector<std::string> StandardOrders;   // empty: any non-empty "standzak" is accepted
  std::vector<std::string> Misbehave;        // control commands applied at start
  bool List = false;
  bool Help = false;
};

inline constexpr const char* DemoUser = "demo";
inline constexpr const char* DemoPassword = "demo123";

// Port of a base address "scheme://host[:port][/...]"; 0 when it names none.
int PortOfUrl(const std::string& Url);

// Fills Cfg from the arguments after the program name; false with Err on a bad argument.
// Defaults come from the build: ports of its service addresses, the folder of its CA file.
bool ParseSandboxArgs(const std::vector<std::string>& Args, TSandboxConfig& Cfg, std::string& Err);

std::string SandboxUsage();
