// An HTTPS server on loopback inside the test process (cpp-httplib), with a CA made for the
// test run that the client is told to trust through the service overrides.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "uTestSupport.h"

namespace TestSupport {

class TTestHttpsServer {
 public:
  // Makes a CA and a server certificate in a temporary folder and binds a free port.
  TTestHttpsServer();
  ~TTestHttpsServer();  // stops the server and restores the build's service addresses

  httplib::SSLServer& Server() { return *fServer; }
  // Starts serving (after the handlers are installed) and points both service base
  // addresses and the CA bundle at this server.
  void Start();
  int Port() const { return fPort; }
  std::string BaseUrl() const;  // https://127.0.0.1:<port>
  std::string CaFile() const;
  const std::string& CertDir() const { return fDir.Path(); }

 private:
  TTempDir fDir;
  std::unique_ptr<httplib::SSLServer> fServer;
  std::thread fThread;
  int fPort = 0;
};

}  // namespace TestSupport
