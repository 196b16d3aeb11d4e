// A small forward proxy on loopback that only tunnels (CONNECT), optionally demanding Basic
// proxy credentials, and remembers what it was asked, so tests can prove a client used it.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace TestSupport {

class TConnectProxy {
 public:
  // Listens on 127.0.0.1 at a free port. With a non-empty User every CONNECT must carry
  // "Proxy-Authorization: Basic" for User:Password, otherwise it is answered with 407.
  explicit TConnectProxy(const std::string& User = "", const std::string& Password = "");
  ~TConnectProxy();
  TConnectProxy(const TConnectProxy&) = delete;
  TConnectProxy& operator=(const TConnectProxy&) = delete;

  int Port() const { return fPort; }

  struct TRequest {
    std::string Line;           // "CONNECT 127.0.0.1:443 HTTP/1.1"
    std::string Authorization;  // value of Proxy-Authorization, empty when absent
    bool Tunnelled = false;     // credentials accepted and the target reached
  };
  std::vector<TRequest> Requests() const;

 private:
  void AcceptLoop();
  void Serve(int Client);

  std::string fExpectedAuth;  // "Basic ..." or empty
  int fListen = -1;
  int fPort = 0;
  std::atomic<bool> fStop{false};
  std::thread fAcceptThread;
  mutable std::mutex fLock;
  std::vector<TRequest> fRequests;
  std::vector<std::thread> fWorkers;
};

// Base64 of a text, as Basic authentication sends it.
std::string Base64(const std::string& Text);

}  // namespace TestSupport
