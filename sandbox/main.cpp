// zentrik-sandbox: a local HTTPS stand-in for the operator's order, letter and version
// services, for trying scripts and for the end-to-end tests.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "uCertificates.h"
#include "uSandboxFaults.h"
#include "uSandboxOptions.h"
#include "uSandboxServer.h"
#include "uSandboxServices.h"
#include "uSandboxStore.h"

namespace {

bool MakeDirs(const std::string& Path) {
  for (size_t i = 1; i <= Path.size(); ++i)
    if (i == Path.size() || Path[i] == '/') mkdir(Path.substr(0, i).c_str(), 0755);
  struct stat st;
  return stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ReadAll(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

// Two sandboxes may start at once on one CA folder: the first makes the files, the other
// waits on the lock and then finds them.
bool PrepareCertificates(const TSandboxConfig& Cfg, std::string& Err) {
  if (!MakeDirs(Cfg.CaDir)) {
    Err = "cannot create the CA folder " + Cfg.CaDir + ": " + std::strerror(errno);
    return false;
  }
  std::string lockPath = Cfg.CaDir + "/.sandbox-ca.lock";
  int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    Err = "cannot open " + lockPath + ": " + std::strerror(errno);
    return false;
  }
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
  }
  bool ok = EnsureCertificates(Cfg.CaDir, &Err);
  if (ok && !Cfg.CaCopy.empty()) {
    std::string ca = ReadAll(CertificateFilesIn(Cfg.CaDir).CaCert);
    if (ReadAll(Cfg.CaCopy) != ca) {
      std::string tmp = Cfg.CaCopy + ".tmp" + std::to_string(getpid());
      std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
      out << ca;
      out.close();
      if (!out || rename(tmp.c_str(), Cfg.CaCopy.c_str()) != 0) {
        unlink(tmp.c_str());
        Err = "cannot copy the CA to " + Cfg.CaCopy;
        ok = false;
      }
    }
  }
  flock(fd, LOCK_UN);
  close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  TSandboxConfig cfg;
  std::string err;
  if (!ParseSandboxArgs(args, cfg, err)) {
    std::cerr << "zentrik-sandbox: " << err << "\n\n" << SandboxUsage();
    return 2;
  }
  if (cfg.Help) {
    std::cout << SandboxUsage();
    return 0;
  }
  TSandboxStore store(cfg.DataDir);
  if (cfg.List) {
    struct stat st;
    if (stat(cfg.DataDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::cerr << "zentrik-sandbox: no data folder " << cfg.DataDir << "\n";
      return 1;
    }
    std::cout << store.Inventory();
    return 0;
  }

  TFaultPlan faults(cfg.Version);
  for (const auto& m : cfg.Misbehave) {
    if (!faults.Apply(m, err)) {
      std::cerr << "zentrik-sandbox: --misbehave " << m << ": " << err << "\n";
      return 2;
    }
  }
  if (!store.Prepare(err) || !PrepareCertificates(cfg, err)) {
    std::cerr << "zentrik-sandbox: " << err << "\n";
    return 1;
  }
  if (!cfg.PackageDir.empty()) {
    struct stat st;
    if (stat((cfg.PackageDir + "/update.list").c_str(), &st) != 0)
      std::cerr << "zentrik-sandbox: warning: " << cfg.PackageDir << " holds no update.list\n";
  }

  // Signals are taken by sigwait below; every thread started from here on inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a dropped or vanished client must not end the sandbox

  TSandboxServices services(cfg, store, faults);
  TSandboxServer server(cfg, store, faults, services);
  TCertificateFiles certs = CertificateFilesIn(cfg.CaDir);
  if (!server.Start(certs, err)) {
    std::cerr << "zentrik-sandbox: " << err << "\n";
    server.Stop();
    return 1;
  }
  std::string users;
  for (const auto& a : cfg.Accounts) users += (users.empty() ? "" : ", ") + a.User;
  std::printf("zentrik-sandbox data=%s ca=%s accounts=%s version=%s\n", cfg.DataDir.c_str(), certs.CaCert.c_str(),
              users.c_str(), cfg.Version.c_str());
  std::printf("zentrik-sandbox ready production=%s test=%s\n", server.ProductionUrl().c_str(), server.TestUrl().c_str());
  std::fflush(stdout);

  int sig = 0;
  sigwait(&stopSignals, &sig);
  server.Stop();
  std::printf("zentrik-sandbox stopped\n");
  std::fflush(stdout);
  return 0;
}
