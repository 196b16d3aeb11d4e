// The two HTTPS listeners (production and test stand-in) on loopback, the service paths on
// both, the control endpoint on the production one, and the fault rules applied on the way.
#pragma once

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "uCertificates.h"
#include "uSandboxFaults.h"
#include "uSandboxOptions.h"
#include "uSandboxServices.h"
#include "uSandboxStore.h"

inline constexpr const char* OrderPath = "/commandApi/common.php";
inline constexpr const char* LetterPath = "/kalvio/kalvioApi.php";
inline constexpr const char* VersionPath = "/zentrik/version/";
inline constexpr const char* ControlPath = "/_sandbox/control";

class TSandboxServer {
 public:
  TSandboxServer(const TSandboxConfig& Config, TSandboxStore& Store, TFaultPlan& Faults, TSandboxServices& Services);
  ~TSandboxServer();

  // Binds both ports and serves until Stop; true once both accept connections.
  bool Start(const TCertificateFiles& Certs, std::string& Err);
  void Stop();

  std::string ProductionUrl() const;
  std::string TestUrl() const;

 private:
  void Install(httplib::Server& Server, const std::string& StandIn);
  void Serve(const httplib::Request& Req, httplib::Response& Res, const httplib::ContentReader& Reader,
             const std::string& Service, const std::string& StandIn);
  void Control(const httplib::Request& Req, httplib::Response& Res);
  // Waits Ms, or less when the sandbox is stopping.
  void Stall(int Ms);
  void LogLine(const std::string& Line);

  const TSandboxConfig& fConfig;
  TSandboxStore& fStore;
  TFaultPlan& fFaults;
  TSandboxServices& fServices;
  std::unique_ptr<httplib::SSLServer> fProduction;
  std::unique_ptr<httplib::SSLServer> fTest;
  std::thread fProductionThread;
  std::thread fTestThread;
  std::mutex fStopLock;
  std::condition_variable fStopSignal;
  bool fStopping = false;
  std::atomic<long> fUploadSeq{0};
};
