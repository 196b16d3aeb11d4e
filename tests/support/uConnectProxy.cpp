#include "uConnectProxy.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace TestSupport {

namespace {

bool SendAll(int Fd, const char* Data, size_t Len) {
  while (Len > 0) {
    ssize_t n = ::send(Fd, Data, Len, MSG_NOSIGNAL);
    if (n <= 0) return false;
    Data += n;
    Len -= static_cast<size_t>(n);
  }
  return true;
}

bool SendText(int Fd, const std::string& Text) { return SendAll(Fd, Text.data(), Text.size()); }

int ConnectTo(const std::string& HostPort) {
  size_t colon = HostPort.rfind(':');
  if (colon == std::string::npos) return -1;
  std::string host = HostPort.substr(0, colon), port = HostPort.substr(colon + 1);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &res) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = res; a && fd < 0; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(res);
  return fd;
}

std::string HeaderValue(const std::string& Head, const std::string& LowerName) {
  size_t pos = 0;
  while ((pos = Head.find("\r\n", pos)) != std::string::npos) {
    pos += 2;
    size_t end = Head.find("\r\n", pos);
    std::string line = Head.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (name == LowerName) {
      std::string v = line.substr(colon + 1);
      while (!v.empty() && v.front() == ' ') v.erase(0, 1);
      while (!v.empty() && (v.back() == ' ' || v.back() == '\r')) v.pop_back();
      return v;
    }
  }
  return "";
}

}  // namespace

std::string Base64(const std::string& Text) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < Text.size(); i += 3) {
    uint32_t v = (uint8_t(Text[i]) << 16) | (uint8_t(Text[i + 1]) << 8) | uint8_t(Text[i + 2]);
    out += abc[v >> 18];
    out += abc[(v >> 12) & 63];
    out += abc[(v >> 6) & 63];
    out += abc[v & 63];
  }
  if (i + 1 == Text.size()) {
    uint32_t v = uint8_t(Text[i]) << 16;
    out += abc[v >> 18];
    out += abc[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == Text.size()) {
    uint32_t v = (uint8_t(Text[i]) << 16) | (uint8_t(Text[i + 1]) << 8);
    out += abc[v >> 18];
    out += abc[(v >> 12) & 63];
    out += abc[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

TConnectProxy::TConnectProxy(const std::string& User, const std::string& Password) {
  if (!User.empty()) fExpectedAuth = "Basic " + Base64(User + ":" + Password);
  fListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fListen < 0) throw std::runtime_error("proxy: socket failed");
  int one = 1;
  ::setsockopt(fListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fListen, 16) != 0)
    throw std::runtime_error("proxy: bind failed");
  socklen_t len = sizeof a;
  ::getsockname(fListen, reinterpret_cast<sockaddr*>(&a), &len);
  fPort = ntohs(a.sin_port);
  fAcceptThread = std::thread([this] { AcceptLoop(); });
}

TConnectProxy::~TConnectProxy() {
  fStop = true;
  if (fAcceptThread.joinable()) fAcceptThread.join();
  for (auto& t : fWorkers)
    if (t.joinable()) t.join();
  ::close(fListen);
}

std::vector<TConnectProxy::TRequest> TConnectProxy::Requests() const {
  std::lock_guard<std::mutex> g(fLock);
  return fRequests;
}

void TConnectProxy::AcceptLoop() {
  while (!fStop) {
    pollfd p{fListen, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int c = ::accept4(fListen, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    std::lock_guard<std::mutex> g(fLock);
    fWorkers.emplace_back([this, c] { Serve(c); });
  }
}

void TConnectProxy::Serve(int Client) {
  // The request head, byte by byte so nothing of the tunnel is swallowed.
  std::string head;
  while (head.size() < 16384 && head.find("\r\n\r\n") == std::string::npos) {
    pollfd p{Client, POLLIN, 0};
    if (fStop) break;
    if (::poll(&p, 1, 50) <= 0) continue;
    char ch;
    if (::recv(Client, &ch, 1, 0) != 1) break;
    head += ch;
  }
  size_t eol = head.find("\r\n");
  if (eol == std::string::npos) {
    ::close(Client);
    return;
  }
  TRequest r;
  r.Line = head.substr(0, eol);
  r.Authorization = HeaderValue(head, "proxy-authorization");
  size_t idx;
  {
    std::lock_guard<std::mutex> g(fLock);
    fRequests.push_back(r);
    idx = fRequests.size() - 1;
  }

  int target = -1;
  if (r.Line.rfind("CONNECT ", 0) != 0) {
    SendText(Client, "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  } else if (!fExpectedAuth.empty() && r.Authorization != fExpectedAuth) {
    SendText(Client,
             "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"test\"\r\n"
             "Content-Length: 0\r\nConnection: close\r\n\r\n");
  } else {
    std::string hostPort = r.Line.substr(8);
    hostPort = hostPort.substr(0, hostPort.find(' '));
    target = ConnectTo(hostPort);
    if (target < 0) SendText(Client, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  }
  if (target < 0) {
    ::close(Client);
    return;
  }
  {
    std::lock_guard<std::mutex> g(fLock);
    fRequests[idx].Tunnelled = true;
  }
  SendText(Client, "HTTP/1.1 200 Connection established\r\n\r\n");

  // Relay both ways until either side closes.
  char buf[65536];
  bool open = true;
  while (open && !fStop) {
    pollfd p[2] = {{Client, POLLIN, 0}, {target, POLLIN, 0}};
    if (::poll(p, 2, 50) <= 0) continue;
    for (int i = 0; i < 2 && open; ++i) {
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      int from = i == 0 ? Client : target, to = i == 0 ? target : Client;
      ssize_t n = ::recv(from, buf, sizeof buf, 0);
      if (n <= 0 || !SendAll(to, buf, static_cast<size_t>(n))) open = false;
    }
  }
  ::close(target);
  ::close(Client);
}

}  // namespace TestSupport
