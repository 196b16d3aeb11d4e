// TCommonHttp against real HTTPS servers in the test process: cpp-httplib where a normal
// server will do, a raw OpenSSL server where the bytes on the wire must be exact.
#include "uCommonHttp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <thread>

#include "uCertificates.h"
#include "uConnectProxy.h"
#include "uErrors.h"
#include "uPlatform.h"
#include "uStrings.h"
#include "uTestHttpsServer.h"
#include "uTestSupport.h"

using namespace TestSupport;

namespace {

// ---- a TLS server that writes exactly what a test tells it -----------------------------------

class TRawTlsServer {
 public:
  using THandler = std::function<void(SSL*, TRawTlsServer&)>;

  // MaxProto (e.g. TLS1_1_VERSION) caps the protocol and lowers the security level so that
  // OpenSSL is willing to speak it at all.
  TRawTlsServer(const std::string& CertFile, const std::string& KeyFile, THandler Handler,
                const std::string& Address = "127.0.0.1", int MaxProto = 0)
      : fAddress(Address), fHandler(std::move(Handler)) {
    fCtx = SSL_CTX_new(TLS_server_method());
    if (MaxProto) {
      SSL_CTX_set_security_level(fCtx, 0);
      SSL_CTX_set_cipher_list(fCtx, "DEFAULT:@SECLEVEL=0");
      SSL_CTX_set_min_proto_version(fCtx, TLS1_VERSION);
      SSL_CTX_set_max_proto_version(fCtx, MaxProto);
    }
    if (SSL_CTX_use_certificate_chain_file(fCtx, CertFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(fCtx, KeyFile.c_str(), SSL_FILETYPE_PEM) != 1)
      throw std::runtime_error("raw TLS server: certificate not loaded");
    fListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fListen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, Address.c_str(), &a.sin_addr);
    if (::bind(fListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fListen, 8) != 0)
      throw std::runtime_error("raw TLS server: bind failed");
    socklen_t len = sizeof a;
    ::getsockname(fListen, reinterpret_cast<sockaddr*>(&a), &len);
    fPort = ntohs(a.sin_port);
    fThread = std::thread([this] { Loop(); });
  }

  ~TRawTlsServer() {
    fStop = true;
    fThread.join();
    ::close(fListen);
    SSL_CTX_free(fCtx);
  }

  int Port() const { return fPort; }
  std::string Url(const std::string& Path) const { return "https://" + fAddress + ":" + std::to_string(fPort) + Path; }
  int Handshakes() const { return fHandshakes; }
  bool Stopping() const { return fStop; }

  int Requests() const { return fRequests; }

  // The request head (up to the blank line); empty when the client sent none.
  std::string ReadHead(SSL* S) {
    std::string head;
    char ch;
    while (head.find("\r\n\r\n") == std::string::npos && SSL_read(S, &ch, 1) == 1) head += ch;
    if (!head.empty()) ++fRequests;
    return head;
  }
  static void Send(SSL* S, const std::string& Bytes) { SSL_write(S, Bytes.data(), static_cast<int>(Bytes.size())); }

 private:
  void Loop() {
    while (!fStop) {
      pollfd p{fListen, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int c = ::accept4(fListen, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      timeval tv{5, 0};
      ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      SSL* s = SSL_new(fCtx);
      SSL_set_fd(s, c);
      if (SSL_accept(s) == 1) {
        ++fHandshakes;
        fHandler(s, *this);
        SSL_shutdown(s);
      }
      SSL_free(s);
      ::close(c);
    }
  }

  std::string fAddress;
  THandler fHandler;
  SSL_CTX* fCtx = nullptr;
  int fListen = -1;
  int fPort = 0;
  std::atomic<bool> fStop{false};
  std::atomic<int> fHandshakes{0};
  std::atomic<int> fRequests{0};
  std::thread fThread;
};

// A raw answer: reads the request head, writes Answer as it stands.
TRawTlsServer::THandler Answer(std::function<std::string()> Make) {
  return [Make](SSL* s, TRawTlsServer& self) {
    if (self.ReadHead(s).empty()) return;
    TRawTlsServer::Send(s, Make());
  };
}

// A port on loopback where nothing listens.
int ClosedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

// The wrapper with its time and size limits within a test's reach.
class TTestHttp : public TCommonHttp {
 public:
  using TCommonHttp::fMaxBodySize;
  using TCommonHttp::fStallTimeoutSec;
};

class CommonHttp : public ::testing::Test {
 protected:
  void SetUp() override {
    Http.OnLog = [this](const std::string& Text, bool Overwrite) {
      EXPECT_FALSE(Overwrite);
      Lines.push_back(Text);
    };
  }

  TCertificateFiles Certs() const { return CertificateFilesIn(Server.CertDir()); }
  std::string Url(const std::string& Path) const { return Server.BaseUrl() + Path; }

  bool Exchange(const std::string& Url, THttpMethod Method = hmGET) {
    Data.Clear();
    THttpClient client;
    return Http.DownloadPage(client, Url, Method, Data);
  }

  // Compares a record line for line; the duration can only be checked for its form.
  void ExpectRecord(const std::vector<std::string>& Expected) {
    ASSERT_EQ(Lines.size(), Expected.size()) << ::testing::PrintToString(Lines);
    for (size_t i = 0; i < Expected.size(); ++i) {
      if (Expected[i] == "DurationMs: *")
        EXPECT_TRUE(std::regex_match(Lines[i], std::regex("DurationMs: [0-9]+"))) << Lines[i];
      else
        EXPECT_EQ(Lines[i], Expected[i]) << "line " << i;
    }
  }

  TTestHttpsServer Server;
  TTestHttp Http;
  TMemoryStream Data;
  std::vector<std::string> Lines;
};

// ---- answers -----------------------------------------------------------------------------------

TEST_F(CommonHttp, Status200SucceedsWithTheBodyRewoundAndNoRecord) {
  Server.Server().Get("/ok", [](const httplib::Request&, httplib::Response& r) {
    r.set_content("hello, světe", "text/plain");
  });
  Server.Start();
  EXPECT_TRUE(Exchange(Url("/ok")));
  EXPECT_EQ(Data.Bytes, "hello, světe");
  EXPECT_EQ(Data.Position, 0u);
  EXPECT_EQ(Http.GetLastErrorMsg(), "");
  EXPECT_TRUE(Lines.empty());
}

TEST_F(CommonHttp, OtherSuccessCodesFailWithTheirReasonPhraseWhichOutlivesALaterSuccess) {
  Server.Server().Get(R"(/status/(\d+))", [](const httplib::Request& q, httplib::Response& r) {
    r.status = std::stoi(q.matches[1]);
  });
  Server.Start();
  for (auto [code, phrase] : {std::pair{201, "Created"}, {204, "No Content"}}) {
    Lines.clear();
    EXPECT_FALSE(Exchange(Url("/status/" + std::to_string(code)))) << code;
    EXPECT_EQ(Http.GetLastErrorMsg(), phrase);
    ASSERT_GE(Lines.size(), 6u);
    EXPECT_EQ(Lines[0], "=== HTTP ERROR (NON-200) ===");
    EXPECT_EQ(Lines[4], "StatusCode: " + std::to_string(code));
    EXPECT_EQ(Lines[5], std::string("StatusText: ") + phrase);
  }
  Lines.clear();
  EXPECT_TRUE(Exchange(Url("/status/200")));
  EXPECT_EQ(Http.GetLastErrorMsg(), "No Content");
  EXPECT_TRUE(Lines.empty());
}

TEST_F(CommonHttp, Non200RecordShowsMaskedAddressChosenHeadersInOrderAndMaskedBody) {
  Server.Start();
  const std::string body = R"({"chyba":"zásilka nenalezena","token":"t-1","password":"heslo123"})";
  TRawTlsServer raw(Certs().ServerCert, Certs().ServerKey, Answer([&] {
    return "HTTP/1.1 404 Zásilka nenalezena\r\n"
           "X-Request-Id: req-42\r\n"
           "Server: internal/1.0\r\n"
           "content-type: application/json\r\n"
           "Set-Cookie: sid=abc\r\n"
           "Date: Tue, 01 Apr 2025 10:00:00 GMT\r\n"
           "X-Correlation-Id:   Authorization: Bearer tok123  \r\n"
           "Content-Length: " + std::to_string(body.size()) + "\r\n"
           "Connection: close\r\n\r\n" + body;
  }));
  EXPECT_FALSE(Exchange(raw.Url("/api?user=jan&password=tajne")));
  EXPECT_EQ(Http.GetLastErrorMsg(), "Zásilka nenalezena");
  EXPECT_EQ(Data.Bytes, body);
  ExpectRecord({
      "=== HTTP ERROR (NON-200) ===",
      "Method: GET",
      "URL: " + raw.Url("/api?user=jan&password=***"),
      "DurationMs: *",
      "StatusCode: 404",
      "StatusText: Zásilka nenalezena",
      "Headers:",
      "X-Request-Id: req-42",
      "content-type: application/json",
      "Date: Tue, 01 Apr 2025 10:00:00 GMT",
      "X-Correlation-Id: Authorization: Bearer ***",
      "Content-Length: " + std::to_string(body.size()),
      "Body:",
      R"({"chyba":"zásilka nenalezena","token":"***","password":"***"})",
  });
}

TEST_F(CommonHttp, ReasonPhraseAsReceivedOrTheStandardOne) {
  Server.Start();
  struct {
    const char* StatusLine;
    bool Ok;
    const char* Error;
  } cases[] = {
      {"HTTP/1.1 418 I'm a teapot", false, "I'm a teapot"},
      {"HTTP/1.1 404", false, "Not Found"},
      {"HTTP/1.1 500 ", false, "Internal Server Error"},
      {"HTTP/1.1 599", false, "HTTP status 599"},
      {"HTTP/1.1 200 Whatever", true, ""},
  };
  std::string statusLine;
  TRawTlsServer raw(Certs().ServerCert, Certs().ServerKey, Answer([&] {
    return statusLine + "\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
  }));
  for (const auto& c : cases) {
    statusLine = c.StatusLine;
    TTestHttp fresh;
    fresh.OnLog = Http.OnLog;
    THttpClient client;
    Data.Clear();
    EXPECT_EQ(fresh.DownloadPage(client, raw.Url("/"), hmGET, Data), c.Ok) << c.StatusLine;
    EXPECT_EQ(fresh.GetLastErrorMsg(), c.Error) << c.StatusLine;
  }
}

TEST_F(CommonHttp, ErrorBodiesAreCutOrSkippedByContentType) {
  Server.Start();
  struct {
    const char* Name;
    std::string Answer;     // status line and headers up to the body
    std::string Body;
    std::string ShownType;  // the Content-Type line of the record, empty when none
    std::string Shown;
  } cases[] = {
      {"long text", "HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/plain\r\n", std::string(5000, 'x'),
       "Content-Type: text/plain", std::string(4096, 'x') + "... [TRUNCATED]"},
      {"pdf", "HTTP/1.1 500 Internal Server Error\r\nContent-Type: application/pdf\r\n", "%PDF-1.4 binary",
       "Content-Type: application/pdf", "[Body skipped: non-text content type: application/pdf]"},
      {"no content type", "HTTP/1.1 502 Bad Gateway\r\n", "no type", "",
       "[Body skipped: non-text content type: ]"},
  };
  size_t current = 0;
  TRawTlsServer raw(Certs().ServerCert, Certs().ServerKey, Answer([&] {
    const auto& c = cases[current];
    return c.Answer + "Server: internal\r\nContent-Length: " + std::to_string(c.Body.size()) +
           "\r\nConnection: close\r\n\r\n" + c.Body;
  }));
  for (current = 0; current < std::size(cases); ++current) {
    const auto& c = cases[current];
    Lines.clear();
    EXPECT_FALSE(Exchange(raw.Url("/"))) << c.Name;
    std::vector<std::string> expected = {"Content-Length: " + std::to_string(c.Body.size()), "Body:", c.Shown};
    if (!c.ShownType.empty()) expected.insert(expected.begin(), c.ShownType);
    ASSERT_GE(Lines.size(), 7u) << c.Name;
    EXPECT_EQ(std::vector<std::string>(Lines.begin() + 7, Lines.end()), expected) << c.Name;
  }
}

// ---- transport failures ------------------------------------------------------------------------

// Each reading of the monotonic clock is 125 ms after the previous one.
class TSteppingClock : public Platform::TClock {
 public:
  int64_t MonotonicMs() override { return fNow += 125; }

 private:
  int64_t fNow = 1000;
};

TEST_F(CommonHttp, ConnectionRefusedGivesTheDetailedErrorAndAnEmptyBody) {
  const int port = ClosedPort();
  const std::string url = "https://127.0.0.1:" + std::to_string(port) + "/x?apikey=k";
  Platform::SetClock(std::make_shared<TSteppingClock>());
  const bool ok = Exchange(url, hmPOST);
  Platform::SetClock(nullptr);
  EXPECT_FALSE(ok);
  const std::string msg = Http.GetLastErrorMsg();
  // libcurl's own detail, not just the short text of its error code.
  EXPECT_NE(msg.find(std::to_string(port)), std::string::npos) << msg;
  ExpectRecord({
      "=== HTTP ERROR (EXCEPTION) ===",
      "Method: POST",
      "URL: https://127.0.0.1:" + std::to_string(port) + "/x?apikey=***",
      "DurationMs: 125",  // from the start of the exchange to the failure
      "Message: " + msg,
      "Body:",
      "",
  });
}

TEST_F(CommonHttp, ServerClosingMidAnswerKeepsAndShowsThePartialBody) {
  Server.Start();
  const std::string partial = R"({"password":"tajne","note":"začátek)";
  TRawTlsServer raw(Certs().ServerCert, Certs().ServerKey, Answer([&] {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 500\r\n\r\n" + partial;
  }));
  EXPECT_FALSE(Exchange(raw.Url("/")));
  EXPECT_EQ(Data.Bytes, partial);
  const std::string msg = Http.GetLastErrorMsg();
  EXPECT_FALSE(msg.empty());
  ExpectRecord({
      "=== HTTP ERROR (EXCEPTION) ===",
      "Method: GET",
      "URL: " + raw.Url("/"),
      "DurationMs: *",
      "Message: " + msg,
      "Body:",
      R"({"password":"***","note":"začátek)",
  });
}

TEST_F(CommonHttp, StalledAnswerEndsAfterTheTimeWithoutProgress) {
  Server.Start();
  TRawTlsServer raw(Certs().ServerCert, Certs().ServerKey, [](SSL* s, TRawTlsServer& self) {
    self.ReadHead(s);
    TRawTlsServer::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
    for (int i = 0; i < 100 && !self.Stopping(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  });
  Http.fStallTimeoutSec = 1;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(Exchange(raw.Url("/")));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
  EXPECT_NE(Http.GetLastErrorMsg().find("too slow"), std::string::npos) << Http.GetLastErrorMsg();
}

TEST_F(CommonHttp, AnswerOverTheSizeLimitEndsTheExchange) {
  Server.Server().Get(R"(/size/(\d+))", [](const httplib::Request& q, httplib::Response& r) {
    r.set_content(std::string(std::stoul(q.matches[1]), 'z'), "text/plain");
  });
  Server.Start();
  Http.fMaxBodySize = 65536;
  EXPECT_TRUE(Exchange(Url("/size/65536")));
  EXPECT_EQ(Data.Size(), 65536u);
  EXPECT_TRUE(Lines.empty());

  EXPECT_FALSE(Exchange(Url("/size/65537")));
  EXPECT_EQ(Http.GetLastErrorMsg(), "The answer is larger than the limit of 65536 bytes; the transfer was stopped");
  EXPECT_LE(Data.Size(), 65536u);
  ASSERT_EQ(Lines.size(), 7u);
  EXPECT_EQ(Lines[0], "=== HTTP ERROR (EXCEPTION) ===");
  EXPECT_EQ(Lines[4], "Message: " + Http.GetLastErrorMsg());
}

TEST_F(CommonHttp, NothingIsSentForHeadOrAnUnknownMethod) {
  int requests = 0;
  Server.Server().set_pre_routing_handler([&](const httplib::Request&, httplib::Response&) {
    ++requests;
    return httplib::Server::HandlerResponse::Unhandled;
  });
  Server.Start();
  for (auto [method, name] : {std::pair{hmHEAD, "HEAD"}, {static_cast<THttpMethod>(3), "UNKNOWN"}}) {
    Lines.clear();
    EXPECT_FALSE(Exchange(Url("/"), method)) << name;
    EXPECT_EQ(Http.GetLastErrorMsg(), std::string("The HTTP method ") + name + " is not supported; nothing was sent");
    ASSERT_EQ(Lines.size(), 7u);
    EXPECT_EQ(Lines[1], std::string("Method: ") + name);
  }
  EXPECT_EQ(requests, 0);
}

// ---- certificates and protocols ----------------------------------------------------------------

TEST_F(CommonHttp, UntrustedOrMismatchedCertificatesAreRefused) {
  Server.Start();
  TTempDir dir;
  std::string err;
  ASSERT_TRUE(MakeUntrustedCertificate(dir.Path(), &err)) << err;
  struct {
    const char* Name;
    std::string Cert, Key, Address, Reason;
  } cases[] = {
      {"self-signed", dir / "untrusted.pem", dir / "untrusted-key.pem", "127.0.0.1", "certificate problem"},
      // Trusted CA, but the certificate names 127.0.0.1 and localhost only.
      {"other host", Certs().ServerCert, Certs().ServerKey, "127.0.0.2", "subject name"},
  };
  for (const auto& c : cases) {
    Lines.clear();
    TRawTlsServer raw(c.Cert, c.Key, Answer([] { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"); }),
                      c.Address);
    EXPECT_FALSE(Exchange(raw.Url("/"))) << c.Name;
    EXPECT_NE(Http.GetLastErrorMsg().find(c.Reason), std::string::npos) << Http.GetLastErrorMsg();
    EXPECT_EQ(raw.Requests(), 0) << c.Name;
    EXPECT_EQ(Lines.size(), 7u) << c.Name;
  }
}

// True when an OpenSSL client that allows only TLS 1.1 completes a handshake with the server.
bool SpeaksTls11(int Port) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_security_level(ctx, 0);
  SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
  SSL_CTX_set_min_proto_version(ctx, TLS1_1_VERSION);
  SSL_CTX_set_max_proto_version(ctx, TLS1_1_VERSION);
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(Port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    SSL* s = SSL_new(ctx);
    SSL_set_fd(s, fd);
    ok = SSL_connect(s) == 1 && SSL_version(s) == TLS1_1_VERSION;
    SSL_shutdown(s);
    SSL_free(s);
  }
  ::close(fd);
  SSL_CTX_free(ctx);
  return ok;
}

TEST_F(CommonHttp, ServerOfferingOnlyTls11IsRefused) {
  Server.Start();
  TRawTlsServer raw(Certs().ServerCert, Certs().ServerKey,
                    Answer([] { return std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"); }), "127.0.0.1",
                    TLS1_1_VERSION);
  if (!SpeaksTls11(raw.Port())) GTEST_SKIP() << "OpenSSL here cannot be made to speak TLS 1.1";
  // The server counts the check's own handshake once it is through with it.
  for (int i = 0; i < 200 && raw.Handshakes() < 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(raw.Handshakes(), 1);
  EXPECT_FALSE(Exchange(raw.Url("/")));
  EXPECT_EQ(raw.Handshakes(), 1);
  EXPECT_EQ(raw.Requests(), 0);
  EXPECT_NE(Http.GetLastErrorMsg().find("protocol version"), std::string::npos) << Http.GetLastErrorMsg();
  EXPECT_FALSE(Http.GetLastErrorMsg().empty());
  EXPECT_EQ(Lines.size(), 7u);
}

// ---- the form ----------------------------------------------------------------------------------

struct TParsedPart {
  std::string Name, FileName, ContentType, Content;
  bool operator==(const TParsedPart&) const = default;
};

void PrintTo(const TParsedPart& P, std::ostream* Os) {
  *Os << "{" << P.Name << ", " << P.FileName << ", " << P.ContentType << ", " << P.Content.size() << " bytes}";
}

TEST_F(CommonHttp, MultipartBodyAsTheServerParsedIt) {
  std::vector<TParsedPart> parts;
  std::string contentType;
  Server.Server().Post("/form", [&](const httplib::Request& q, httplib::Response& r, const httplib::ContentReader& read) {
    parts.clear();
    contentType = q.get_header_value("Content-Type");
    read(
        [&](const httplib::MultipartFormData& f) {
          parts.push_back({f.name, f.filename, f.content_type, ""});
          return true;
        },
        [&](const char* d, size_t n) {
          parts.back().Content.append(d, n);
          return true;
        });
    r.set_content("ok", "text/plain");
  });
  Server.Start();

  TTempDir dir;
  const char binary[] = "binary\0\r\n--boundary-like\r\n\xFF\xFE end";
  const std::string bytes(binary, sizeof binary - 1);
  const std::string xml = dir.Write("dávka 1.xml", "<a>ž</a>");
  const std::string archive = dir.Write("order.7z", bytes);

  Http.ClearMime(true);
  Http.SetMime("user", "jan");
  Http.SetMime("heslo", "tajné heslo");
  Http.SetMime("empty", "");
  Http.SetMime("akce", "1");
  Http.SetFileMime("soubor", xml);
  Http.SetFileMime("archiv", archive);
  int64_t sent = 0, total = 0;
  Http.OnUploadProgress = [&](int64_t Sent, int64_t Total) {
    sent = std::max(sent, Sent);
    total = Total;
  };
  EXPECT_TRUE(Exchange(Url("/form"), hmPOST)) << Http.GetLastErrorMsg();
  Http.OnUploadProgress = nullptr;
  // The whole form was reported as sent.
  EXPECT_GT(total, static_cast<int64_t>(bytes.size()));
  EXPECT_EQ(sent, total);
  EXPECT_EQ(Data.Bytes, "ok");
  EXPECT_TRUE(StartsWith(contentType, "multipart/form-data; boundary=")) << contentType;
  EXPECT_EQ(parts, (std::vector<TParsedPart>{
                       {"user", "", "", "jan"},
                       {"heslo", "", "", "tajné heslo"},
                       {"empty", "", "", ""},
                       {"akce", "", "", "1"},
                       {"soubor", "dávka 1.xml", "application/xml", "<a>ž</a>"},
                       {"archiv", "order.7z", "application/octet-stream", bytes},
                   }));

  // The next exchange sends only its own fields.
  Http.ClearMime(true);
  Http.SetMime("a", "b");
  EXPECT_TRUE(Exchange(Url("/form"), hmPOST));
  EXPECT_EQ(parts, (std::vector<TParsedPart>{{"a", "", "", "b"}}));
}

// A large volume goes out at once: waiting for "100 Continue" would hold every upload back
// by about a second on a server that does not answer it.
TEST_F(CommonHttp, LargeFilePartIsSentWithoutWaitingForContinue) {
  std::string expect = "not seen";
  size_t received = 0;
  Server.Server().Post("/upload", [&](const httplib::Request& q, httplib::Response& r) {
    expect = q.get_header_value("Expect");
    for (const auto& f : q.files) received += f.second.content.size();
    r.set_content("ok", "text/plain");
  });
  Server.Start();
  TTempDir dir;
  const std::string volume = dir.Write("a.7z.001", std::string(2 << 20, 'v'));
  Http.ClearMime(true);
  Http.SetFileMime("soubor", volume);
  EXPECT_TRUE(Exchange(Url("/upload"), hmPOST)) << Http.GetLastErrorMsg();
  EXPECT_EQ(expect, "");
  EXPECT_EQ(received, static_cast<size_t>(2 << 20));
}

TEST_F(CommonHttp, MissingFileFailsBeforeAnythingIsSent) {
  int requests = 0;
  Server.Server().Post("/form", [&](const httplib::Request&, httplib::Response&) { ++requests; });
  Server.Start();
  Http.ClearMime(true);
  Http.SetMime("user", "jan");
  Http.SetFileMime("soubor", "/nonexistent/dir/order.7z");
  EXPECT_FALSE(Exchange(Url("/form"), hmPOST));
  EXPECT_EQ(Http.GetLastErrorMsg(), "Cannot open file \"/nonexistent/dir/order.7z\"");
  EXPECT_EQ(requests, 0);
  ASSERT_EQ(Lines.size(), 7u);
  EXPECT_EQ(Lines[4], "Message: " + Http.GetLastErrorMsg());
}

// Resident memory of this process in KiB ("VmRSS:", "VmHWM:").
long StatusKiB(const std::string& Field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind(Field, 0) == 0) return std::stol(line.substr(Field.size()));
  return -1;
}

TEST_F(CommonHttp, FilePartStreamsFromDiskWithoutGrowingMemoryByItsSize) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a sanitizer keeps freed memory in quarantine, so the peak says nothing here";
#endif
  size_t received = 0;
  Server.Server().Post("/upload", [&](const httplib::Request&, httplib::Response& r, const httplib::ContentReader& read) {
    read([](const httplib::MultipartFormData&) { return true; },
         [&](const char*, size_t n) {
           received += n;
           return true;
         });
    r.set_content("ok", "text/plain");
  });
  Server.Start();
  // A sparse file: quick to make, read like any other. The full 150 MiB figure comes from
  // bench/uCommonHttp_upload_bench.
  TTempDir dir;
  const std::string path = dir / "volume.7z.001";
  const off_t size = off_t(32) << 20;
  {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
  }
  Http.ClearMime(true);
  Http.SetFileMime("soubor", path);

  // The peak is reset to the present size, so what follows sets it.
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = StatusKiB("VmRSS:");
  if (StatusKiB("VmHWM:") > before + 1024) GTEST_SKIP() << "the peak of resident memory cannot be reset here";
  EXPECT_TRUE(Exchange(Url("/upload"), hmPOST)) << Http.GetLastErrorMsg();
  const long growth = StatusKiB("VmHWM:") - before;
  EXPECT_EQ(received, static_cast<size_t>(size));
  EXPECT_LT(growth, 8 * 1024) << "peak grew by " << growth << " KiB for a 32 MiB file";
}

// ---- proxy -------------------------------------------------------------------------------------

// Proxy variables of the environment, set for one test and restored after it.
class TProxyEnvironment {
 public:
  explicit TProxyEnvironment(const std::string& Value) {
    for (const char* n : Names) {
      const char* old = std::getenv(n);
      fOld.push_back(old ? std::optional<std::string>(old) : std::nullopt);
      ::setenv(n, Value.c_str(), 1);
    }
  }
  ~TProxyEnvironment() {
    for (size_t i = 0; i < std::size(Names); ++i) {
      if (fOld[i])
        ::setenv(Names[i], fOld[i]->c_str(), 1);
      else
        ::unsetenv(Names[i]);
    }
  }

 private:
  static constexpr const char* Names[] = {"https_proxy", "HTTPS_PROXY", "http_proxy", "ALL_PROXY", "all_proxy"};
  std::vector<std::optional<std::string>> fOld;
};

class CommonHttpProxy : public CommonHttp {
 protected:
  void SetUp() override {
    CommonHttp::SetUp();
    Server.Server().Get("/ok", [](const httplib::Request&, httplib::Response& r) { r.set_content("via", "text/plain"); });
    Server.Start();
  }
  std::string Connect() const { return "CONNECT 127.0.0.1:" + std::to_string(Server.Port()) + " HTTP/1.1"; }
};

TEST_F(CommonHttpProxy, TunnelsThroughTheProxyWithAndWithoutCredentials) {
  struct {
    const char* Name;
    std::string Host, User, Password;
  } cases[] = {
      {"without credentials", "127.0.0.1", "", ""},
      {"with credentials", "127.0.0.1", "proxyuser", "tajné:heslo"},
      // The option parser hands an IPv6 address over without its brackets.
      {"an IPv6 address", "::ffff:127.0.0.1", "", ""},
  };
  for (const auto& c : cases) {
    TConnectProxy proxy(c.User, c.Password);
    Http.SetOptions(true, c.Host, std::to_string(proxy.Port()), c.User, c.Password);
    EXPECT_TRUE(Exchange(Url("/ok"))) << c.Name << ": " << Http.GetLastErrorMsg();
    EXPECT_EQ(Data.Bytes, "via");
    auto seen = proxy.Requests();
    ASSERT_EQ(seen.size(), 1u) << c.Name;
    EXPECT_EQ(seen[0].Line, Connect());
    EXPECT_TRUE(seen[0].Tunnelled);
    EXPECT_EQ(seen[0].Authorization, c.User.empty() ? "" : "Basic " + Base64(c.User + ":" + c.Password)) << c.Name;
  }
}

TEST_F(CommonHttpProxy, RefusedProxyCredentialsFailWithoutShowingThePassword) {
  TConnectProxy proxy("proxyuser", "right");
  Http.SetOptions(true, "127.0.0.1", std::to_string(proxy.Port()), "proxyuser", "wrong-secret");
  EXPECT_FALSE(Exchange(Url("/ok")));
  EXPECT_NE(Http.GetLastErrorMsg().find("407"), std::string::npos) << Http.GetLastErrorMsg();
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_FALSE(proxy.Requests()[0].Tunnelled);
  ASSERT_FALSE(Lines.empty());
  for (const auto& l : Lines) EXPECT_EQ(l.find("wrong-secret"), std::string::npos) << l;
}

TEST_F(CommonHttpProxy, SwitchedOffMeansNoProxyEvenFromTheEnvironment) {
  TConnectProxy proxy;
  TProxyEnvironment env("http://127.0.0.1:" + std::to_string(proxy.Port()));
  Http.SetOptions(true, "127.0.0.1", std::to_string(proxy.Port()), "", "");
  Http.SetOptions(false, "127.0.0.1", std::to_string(proxy.Port()), "u", "p");
  EXPECT_TRUE(Exchange(Url("/ok"))) << Http.GetLastErrorMsg();
  EXPECT_TRUE(proxy.Requests().empty());
}

TEST_F(CommonHttpProxy, UnusableProxySettingsGiveTheSingleProxyLine) {
  struct {
    std::string Host, Port, Error;
  } cases[] = {
      {"", "8080", "The proxy host is empty"},
      {"127.0.0.1", "0", "The proxy port 0 is outside 1 to 65535"},
      {"127.0.0.1", "70000", "The proxy port 70000 is outside 1 to 65535"},
  };
  for (const auto& c : cases) {
    Lines.clear();
    Http.SetOptions(true, c.Host, c.Port, "u", "p");
    EXPECT_FALSE(Exchange(Url("/ok"))) << c.Error;
    EXPECT_EQ(Http.GetLastErrorMsg(), c.Error);
    EXPECT_EQ(Lines, std::vector<std::string>{"Proxy setup error: " + c.Error});
  }
}

TEST(CommonHttpOptions, NonNumericProxyPortRaisesTheConversionError) {
  for (const char* port : {"abc", "", "80a", "8 0", "0x50"}) {
    TCommonHttp http;
    try {
      http.SetOptions(true, "proxy", port, "u", "p");
      ADD_FAILURE() << "no error for '" << port << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("'") + port + "' is not a valid integer value");
    }
    EXPECT_NO_THROW(http.SetOptions(false, "proxy", port, "u", "p")) << port;
  }
}

// ---- where the record goes ---------------------------------------------------------------------

// Runs in a fresh current directory and restores the old one.
class TInDirectory {
 public:
  explicit TInDirectory(const std::string& Dir) : fOld(Platform::CurrentDirectory()) {
    if (::chdir(Dir.c_str()) != 0) ADD_FAILURE() << "chdir " << Dir;
  }
  ~TInDirectory() { (void)::chdir(fOld.c_str()); }

 private:
  std::string fOld;
};

TEST(CommonHttpLog, WithoutAReceiverTheRecordIsAppendedToTheFallbackFile) {
  const std::string url = "https://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  TTempDir dir;
  TInDirectory in(dir.Path());
  TCommonHttp http;
  for (int i = 0; i < 2; ++i) {
    THttpClient c;
    TMemoryStream d;
    EXPECT_FALSE(http.DownloadPage(c, url, hmGET, d));
  }
  auto lines = Lines(ReadText(dir / "client.TCommonHttp.log"));
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[0], "=== HTTP ERROR (EXCEPTION) ===");
  EXPECT_EQ(lines[4].rfind("Message: ", 0), 0u) << lines[4];
  EXPECT_EQ(lines[7], "=== HTTP ERROR (EXCEPTION) ===");
  // The last error is the second exchange's (curl's text names the milliseconds it took).
  EXPECT_EQ(lines[11], "Message: " + http.GetLastErrorMsg());
}

TEST(CommonHttpLog, AFailingSinkChangesNothingElse) {
  const std::string url = "https://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
  TTempDir dir;
  ASSERT_TRUE(Platform::CreateDir(dir / "client.TCommonHttp.log"));  // the file cannot be written
  TInDirectory in(dir.Path());
  struct {
    const char* Name;
    TCommonHttpLogEvent Receiver;
  } cases[] = {
      {"unwritable fallback file", nullptr},
      {"receiver that throws", [](const std::string&, bool) { throw std::runtime_error("log full"); }},
  };
  for (const auto& c : cases) {
    TCommonHttp http;
    http.OnLog = c.Receiver;
    THttpClient client;
    TMemoryStream d;
    bool ok = true;
    EXPECT_NO_THROW(ok = http.DownloadPage(client, url, hmGET, d)) << c.Name;
    EXPECT_FALSE(ok) << c.Name;
    EXPECT_FALSE(http.GetLastErrorMsg().empty()) << c.Name;
  }
}

}  // namespace
