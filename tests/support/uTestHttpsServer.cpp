#include "uTestHttpsServer.h"

#include <stdexcept>

#include "uCertificates.h"
#include "uServiceUrls.h"

namespace TestSupport {

TTestHttpsServer::TTestHttpsServer() {
  std::string err;
  if (!EnsureCertificates(fDir.Path(), &err)) throw std::runtime_error(err);
  auto files = CertificateFilesIn(fDir.Path());
  fServer = std::make_unique<httplib::SSLServer>(files.ServerCert.c_str(), files.ServerKey.c_str());
  if (!fServer->is_valid()) throw std::runtime_error("test HTTPS server could not load its certificate");
  fPort = fServer->bind_to_any_port("127.0.0.1");
  if (fPort <= 0) throw std::runtime_error("test HTTPS server could not bind");
}

TTestHttpsServer::~TTestHttpsServer() {
  fServer->stop();
  if (fThread.joinable()) fThread.join();
  SetServiceOverrides("", "", "");
}

void TTestHttpsServer::Start() {
  fThread = std::thread([this] { fServer->listen_after_bind(); });
  while (!fServer->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  SetServiceOverrides(BaseUrl(), BaseUrl(), CaFile());
}

std::string TTestHttpsServer::BaseUrl() const { return "https://127.0.0.1:" + std::to_string(fPort); }

std::string TTestHttpsServer::CaFile() const { return CertificateFilesIn(fDir.Path()).CaCert; }

}  // namespace TestSupport
