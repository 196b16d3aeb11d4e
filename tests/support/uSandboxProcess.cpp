#include "uSandboxProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "zentrik_config.h"

extern char** environ;

namespace TestSupport {

namespace {

// Port of a base address "https://host[:port]"; 0 when it names none.
int PortOf(const std::string& Url) {
  auto hostStart = Url.find("//");
  hostStart = hostStart == std::string::npos ? 0 : hostStart + 2;
  auto slash = Url.find('/', hostStart);
  std::string host = Url.substr(hostStart, slash == std::string::npos ? std::string::npos : slash - hostStart);
  auto colon = host.rfind(':');
  if (colon == std::string::npos || host.find(']', colon) != std::string::npos) return 0;
  try {
    return std::stoi(host.substr(colon + 1));
  } catch (...) {
    return 0;
  }
}

std::string DefaultCaDir(const std::string& DataDir) {
  std::string ca = zentrik_config::CaFile;
  if (ca.empty()) return DataDir;
  auto slash = ca.rfind('/');
  return slash == std::string::npos ? std::string(".") : ca.substr(0, slash);
}

int ChoosePort(int Wanted, bool Test) {
  if (Wanted > 0) return Wanted;
  if (Wanted < 0) return TSandbox::FreePort();
  return TSandbox::BuildPort(Test);
}

std::string QueryEscape(const std::string& Text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : Text) {
    if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool Alive(int Pid) {
  int status = 0;
  return waitpid(Pid, &status, WNOHANG) == 0;
}

}  // namespace

int TSandbox::BuildPort(bool Test) {
  int p = PortOf(Test ? zentrik_config::TestUrl : zentrik_config::ProductionUrl);
  return p > 0 ? p : (Test ? 18444 : 18443);
}

int TSandbox::FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) throw std::runtime_error("no socket for a free port");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(s);
  if (port <= 0) throw std::runtime_error("no free port");
  return port;
}

TSandbox::TSandbox(const TSandboxOptions& Options) {
  fDataDir = fDir / "data";
  fLogFile = fDir / "sandbox.out";
  fPort = ChoosePort(Options.Port, false);
  fTestPort = ChoosePort(Options.TestPort, true);
  while (fTestPort == fPort && Options.TestPort < 0) fTestPort = FreePort();
  fCaDir = Options.CaDir.empty() ? DefaultCaDir(fDataDir) : Options.CaDir;

  std::string program = BinDir() + "/zentrik-sandbox";
  // Without a port asked for, the sandbox takes the build's ports itself.
  std::vector<std::string> args = {program, "--data", fDataDir};
  if (Options.Port != 0) args.insert(args.end(), {"--port", std::to_string(fPort)});
  if (Options.TestPort != 0) args.insert(args.end(), {"--test-port", std::to_string(fTestPort)});
  if (!Options.CaDir.empty()) args.insert(args.end(), {"--ca-dir", Options.CaDir});
  if (!Options.Version.empty()) args.insert(args.end(), {"--version", Options.Version});
  if (!Options.PackageDir.empty()) args.insert(args.end(), {"--package-dir", Options.PackageDir});
  for (const auto& a : Options.Accounts) args.insert(args.end(), {"--account", a});
  for (const auto& s : Options.StandardOrders) args.insert(args.end(), {"--standzak", s});
  for (const auto& m : Options.Misbehave) args.insert(args.end(), {"--misbehave", m});
  args.insert(args.end(), Options.ExtraArgs.begin(), Options.ExtraArgs.end());

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, fLogFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  fPid = pid;

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (true) {
    if (ReadText(fLogFile).find("zentrik-sandbox ready ") != std::string::npos) return;
    bool alive = Alive(fPid);
    if (!alive || std::chrono::steady_clock::now() > deadline) {
      if (alive) {
        kill(fPid, SIGKILL);
        waitpid(fPid, nullptr, 0);
      }
      fPid = -1;
      throw std::runtime_error(std::string(alive ? "zentrik-sandbox did not get ready" : "zentrik-sandbox ended") +
                               "; its output:\n" + ReadText(fLogFile));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

TSandbox::~TSandbox() {
  if (fPid <= 0) return;
  kill(fPid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    if (!Alive(fPid)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(fPid, SIGKILL);
  waitpid(fPid, nullptr, 0);
}

std::string TSandbox::ProductionUrl() const { return "https://127.0.0.1:" + std::to_string(fPort); }
std::string TSandbox::TestUrl() const { return "https://localhost:" + std::to_string(fTestPort); }
std::string TSandbox::CaFile() const { return fCaDir + "/ca.pem"; }
std::string TSandbox::Output() const { return ReadText(fLogFile); }

bool TSandbox::Control(const std::string& Command, std::string* Answer) {
  httplib::SSLClient cli("127.0.0.1", fPort);
  cli.set_ca_cert_path(CaFile().c_str());
  cli.enable_server_certificate_verification(true);
  cli.set_connection_timeout(5);
  cli.set_read_timeout(10);
  auto res = cli.Post(("/_sandbox/control?" + Command).c_str(), "", "text/plain");
  if (!res) {
    if (Answer) *Answer = "no answer: " + httplib::to_string(res.error());
    return false;
  }
  if (Answer) *Answer = res->body;
  return res->status == 200;
}

bool TSandbox::FailNext(const std::string& Target, int Status, int Count) {
  return Control("fail=" + Target + "&status=" + std::to_string(Status) + "&count=" + std::to_string(Count));
}
bool TSandbox::DropNext(const std::string& Target, int Count) {
  return Control("drop=" + Target + "&count=" + std::to_string(Count));
}
bool TSandbox::StallNext(const std::string& Target, int Ms, int Count) {
  return Control("stall=" + Target + "&ms=" + std::to_string(Ms) + "&count=" + std::to_string(Count));
}
bool TSandbox::MalformedNext(const std::string& Target, int Count) {
  return Control("malformed=" + Target + "&count=" + std::to_string(Count));
}
bool TSandbox::WrongHashLength(int Length, int Count) {
  return Control("hash=" + std::to_string(Length) + "&count=" + std::to_string(Count));
}
bool TSandbox::NoPopisNext(const std::string& Target, int Count) {
  return Control("nopopis=" + Target + "&count=" + std::to_string(Count));
}
bool TSandbox::SetVersion(const std::string& Version) { return Control("version=" + QueryEscape(Version)); }
bool TSandbox::Reset() { return Control("reset"); }

std::string TSandbox::Inventory() const {
  auto r = RunProcess(BinDir() + "/zentrik-sandbox", {"--data", fDataDir, "--list"}, "", "", 30000);
  return r.Out;
}

std::vector<std::string> TSandbox::InventoryLines(const std::string& Kind) const {
  std::vector<std::string> out;
  for (const auto& l : Lines(Inventory()))
    if (l.rfind(Kind + " ", 0) == 0) out.push_back(l);
  return out;
}

}  // namespace TestSupport
