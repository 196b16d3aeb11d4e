#include "uSandboxOptions.h"

#include "uVersion.h"
#include "zentrik_config.h"

namespace {

inline constexpr int FallbackPort = 18443;
inline constexpr int FallbackTestPort = 18444;

bool ParsePort(const std::string& Text, int& Port) {
  if (Text.empty() || Text.size() > 5 || Text.find_first_not_of("0123456789") != std::string::npos) return false;
  int p = std::stoi(Text);
  if (p < 1 || p > 65535) return false;
  Port = p;
  return true;
}

std::string DirOf(const std::string& Path) {
  auto slash = Path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : Path.substr(0, slash);
}

}  // namespace

int PortOfUrl(const std::string& Url) {
  auto start = Url.find("//");
  start = start == std::string::npos ? 0 : start + 2;
  auto end = Url.find('/', start);
  std::string host = Url.substr(start, end == std::string::npos ? std::string::npos : end - start);
  auto colon = host.rfind(':');
  if (colon == std::string::npos || host.find(']', colon) != std::string::npos) return 0;
  int port = 0;
  return ParsePort(host.substr(colon + 1), port) ? port : 0;
}

bool ParseSandboxArgs(const std::vector<std::string>& Args, TSandboxConfig& Cfg, std::string& Err) {
  Cfg = TSandboxConfig{};
  Cfg.Version = AppVersion;
  Cfg.Accounts.push_back({DemoUser, DemoPassword});
  int port = PortOfUrl(zentrik_config::ProductionUrl);
  int testPort = PortOfUrl(zentrik_config::TestUrl);
  Cfg.Port = port > 0 ? port : FallbackPort;
  Cfg.TestPort = testPort > 0 ? testPort : FallbackTestPort;
  bool caDirGiven = false;

  for (size_t i = 0; i < Args.size(); ++i) {
    std::string name = Args[i], value;
    bool inlineValue = false;
    if (name.rfind("--", 0) == 0) {
      auto eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inlineValue = true;
      }
    }
    if (name == "--list") {
      Cfg.List = true;
      continue;
    }
    if (name == "--help" || name == "-h") {
      Cfg.Help = true;
      continue;
    }
    static const char* withValue[] = {"--data", "--port", "--test-port", "--ca-dir", "--version", "--package-dir",
                                      "--account", "--standzak", "--misbehave"};
    bool known = false;
    for (const char* w : withValue) known = known || name == w;
    if (!known) {
      Err = "unknown argument: " + Args[i];
      return false;
    }
    if (!inlineValue) {
      if (i + 1 >= Args.size()) {
        Err = name + " needs a value";
        return false;
      }
      value = Args[++i];
    }
    if (name == "--data") {
      Cfg.DataDir = value;
    } else if (name == "--port" || name == "--test-port") {
      int& target = name == "--port" ? Cfg.Port : Cfg.TestPort;
      if (!ParsePort(value, target)) {
        Err = name + ": not a port number: " + value;
        return false;
      }
    } else if (name == "--ca-dir") {
      Cfg.CaDir = value;
      caDirGiven = true;
    } else if (name == "--version") {
      Cfg.Version = value;
    } else if (name == "--package-dir") {
      Cfg.PackageDir = value;
    } else if (name == "--account") {
      auto colon = value.find(':');
      if (colon == std::string::npos || colon == 0) {
        Err = "--account takes user:password";  // the value itself may hold a password
        return false;
      }
      std::string user = value.substr(0, colon);
      bool replaced = false;
      for (auto& a : Cfg.Accounts)
        if (a.User == user) {
          a.Password = value.substr(colon + 1);
          replaced = true;
        }
      if (!replaced) Cfg.Accounts.push_back({user, value.substr(colon + 1)});
    } else if (name == "--standzak") {
      if (value.empty()) {
        Err = "--standzak needs a name";
        return false;
      }
      Cfg.StandardOrders.push_back(value);
    } else if (name == "--misbehave") {
      Cfg.Misbehave.push_back(value);
    }
  }
  if (Cfg.Help) return true;
  if (Cfg.DataDir.empty()) {
    Err = "--data DIR is required";
    return false;
  }
  while (Cfg.DataDir.size() > 1 && Cfg.DataDir.back() == '/') Cfg.DataDir.pop_back();
  if (Cfg.Port == Cfg.TestPort) {
    Err = "the production and the test stand-in need different ports (--port, --test-port)";
    return false;
  }
  if (!caDirGiven) {
    std::string caFile = zentrik_config::CaFile;
    if (caFile.empty()) {
      Cfg.CaDir = Cfg.DataDir;
    } else {
      Cfg.CaDir = DirOf(caFile);
      std::string base = caFile.substr(caFile.rfind('/') == std::string::npos ? 0 : caFile.rfind('/') + 1);
      if (base != "ca.pem") Cfg.CaCopy = caFile;
    }
  }
  while (Cfg.CaDir.size() > 1 && Cfg.CaDir.back() == '/') Cfg.CaDir.pop_back();
  return true;
}

std::string SandboxUsage() {
  return "zentrik-sandbox: a local HTTPS stand-in for the operator's order, letter and version services\n"
         "\n"
         "  zentrik-sandbox --data DIR [options]   serve until SIGINT/SIGTERM\n"
         "  zentrik-sandbox --data DIR --list      print what DIR holds and exit\n"
         "\n"
         "  --port P            production stand-in on https://127.0.0.1:P (default: the build's)\n"
         "  --test-port T       test stand-in on https://localhost:T (default: the build's)\n"
         "  --ca-dir D          CA and server certificate folder (default: the build's CA folder, else DIR)\n"
         "  --version X         version the version service offers (default: the client's own)\n"
         "  --package-dir F     folder served as the upgrade package (update.list and files)\n"
         "  --account U:P       one more account (demo:demo123 always exists)\n"
         "  --standzak NAME     accept only these standard orders (default: any non-empty)\n"
         "  --misbehave CMD     a control command applied at start, e.g. fail=order2&status=503&count=2\n"
         "\n"
         "Control at run time: POST https://127.0.0.1:P/_sandbox/control?CMD (see README).\n";
}
