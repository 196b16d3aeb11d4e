#include "uSandboxServer.h"

#include <fcntl.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

inline constexpr size_t MaxTextField = 1024 * 1024;
inline constexpr size_t MaxPlainBody = 4 * 1024 * 1024;

// Collects a multipart form as it arrives: text fields in memory, file parts on disk.
class TFormCollector {
 public:
  TFormCollector(std::string Dir, std::string Prefix) : fDir(std::move(Dir)), fPrefix(std::move(Prefix)) {}
  ~TFormCollector() {
    EndPart();
    for (const auto& [name, f] : Form.Files) unlink(f.TempPath.c_str());  // those not moved away
  }

  bool BeginPart(const httplib::MultipartFormData& Part) {
    EndPart();
    fName = Part.name;
    fInPart = true;
    fText.clear();
    fIsFile = !Part.filename.empty() || Part.name == "soubor";
    if (!fIsFile) return true;
    if (Form.Files.count(Part.name)) {  // a second file of one name is read and dropped
      fFd = -1;
      fSkipFile = true;
      return true;
    }
    fSkipFile = false;
    std::string path = fDir + "/" + fPrefix + "-" + std::to_string(Form.Files.size());
    fFd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fFd < 0) {
      Error = "cannot store the upload";
      return false;
    }
    Form.Files[Part.name] = TFormFile{Part.filename, path, 0};
    return true;
  }

  bool Append(const char* Data, size_t Size) {
    if (!fInPart) return true;
    if (!fIsFile) {
      if (fText.size() + Size > MaxTextField) {
        Error = "field " + fName + " is too long";
        return false;
      }
      fText.append(Data, Size);
      return true;
    }
    if (fSkipFile) return true;
    size_t done = 0;
    while (done < Size) {
      ssize_t w = write(fFd, Data + done, Size - done);
      if (w <= 0) {
        Error = "cannot store the upload";
        return false;
      }
      done += static_cast<size_t>(w);
    }
    Form.Files[fName].Size += static_cast<int64_t>(Size);
    return true;
  }

  void EndPart() {
    if (!fInPart) return;
    fInPart = false;
    if (fIsFile) {
      if (fFd >= 0) close(fFd);
      fFd = -1;
    } else {
      Form.Fields.emplace_back(fName, fText);
    }
  }

  TForm Form;
  std::string Error;

 private:
  std::string fDir, fPrefix, fName, fText;
  bool fInPart = false, fIsFile = false, fSkipFile = false;
  int fFd = -1;
};

// Step of a request as far as received: "krok" for the order service, "type" for the version service.
int StepOf(const TForm& Form, const std::string& Service) {
  const std::string* v = Form.Field(Service == "order" ? "krok" : Service == "version" ? "type" : "");
  if (!v) return 0;
  std::string t;
  for (char c : *v)
    if (static_cast<unsigned char>(c) > ' ') t += c;
  if (t.size() != 1 || t[0] < '0' || t[0] > '9') return 0;
  return t[0] - '0';
}

bool IsLoopback(const std::string& Addr) {
  return Addr.rfind("127.", 0) == 0 || Addr == "::1" || Addr.rfind("::ffff:127.", 0) == 0;
}

// Ends the connection under the request at once: no answer goes out.
void DropConnection(const httplib::Request& Req) {
  int fd = Req.ssl ? SSL_get_fd(Req.ssl) : -1;
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

}  // namespace

TSandboxServer::TSandboxServer(const TSandboxConfig& Config, TSandboxStore& Store, TFaultPlan& Faults,
                               TSandboxServices& Services)
    : fConfig(Config), fStore(Store), fFaults(Faults), fServices(Services) {}

TSandboxServer::~TSandboxServer() { Stop(); }

std::string TSandboxServer::ProductionUrl() const { return "https://127.0.0.1:" + std::to_string(fConfig.Port); }
std::string TSandboxServer::TestUrl() const { return "https://localhost:" + std::to_string(fConfig.TestPort); }

void TSandboxServer::LogLine(const std::string& Line) {
  std::string l = Line + "\n";
  std::fwrite(l.data(), 1, l.size(), stdout);
  std::fflush(stdout);
}

void TSandboxServer::Install(httplib::Server& Server, const std::string& StandIn) {
  auto serve = [this, StandIn](const char* Service) {
    return [this, StandIn, Service](const httplib::Request& Req, httplib::Response& Res,
                                    const httplib::ContentReader& Reader) { Serve(Req, Res, Reader, Service, StandIn); };
  };
  Server.Post(OrderPath, serve("order"));
  Server.Post(LetterPath, serve("letter"));
  Server.Post(VersionPath, serve("version"));
  if (StandIn == "production") {
    Server.Get(ControlPath, [this](const httplib::Request& Req, httplib::Response& Res) { Control(Req, Res); });
    Server.Post(ControlPath, [this](const httplib::Request& Req, httplib::Response& Res) { Control(Req, Res); });
  }
  Server.set_exception_handler([this](const httplib::Request& Req, httplib::Response& Res, std::exception_ptr Ep) {
    std::string what = "unknown error";
    try {
      if (Ep) std::rethrow_exception(Ep);
    } catch (const std::exception& E) {
      what = E.what();
    } catch (...) {
    }
    LogLine("error " + Req.path + ": " + what);
    Res.status = 500;
    Res.set_content("Vnitřní chyba sandboxu\n", "text/plain; charset=UTF-8");
  });
}

void TSandboxServer::Serve(const httplib::Request& Req, httplib::Response& Res, const httplib::ContentReader& Reader,
                           const std::string& Service, const std::string& StandIn) {
  TRequestKind kind{Service, 0};
  std::optional<TFaultRule> rule;
  bool decided = false, dropped = false;
  // The rule is chosen as soon as the request's kind is known, so a drop hits while the
  // rest of the request is still on its way.
  auto decide = [&](const TForm& Form) {
    if (decided) return;
    if (Service != "letter") kind.Step = StepOf(Form, Service);
    decided = true;
    rule = fFaults.Take(kind);
    if (rule && rule->Kind == TFaultKind::fkDrop) {
      fServices.RecordFault(kind, StandIn, *rule);
      DropConnection(Req);
      dropped = true;
    }
  };

  TFormCollector form(fStore.UploadDir(), std::to_string(fUploadSeq.fetch_add(1)));
  bool read = true;
  if (Service == "letter") decide(form.Form);
  if (!dropped && Req.is_multipart_form_data()) {
    read = Reader(
        [&](const httplib::MultipartFormData& Part) {
          form.EndPart();
          if (!decided && StepOf(form.Form, Service) > 0) decide(form.Form);
          if (dropped) return false;
          return form.BeginPart(Part);
        },
        [&](const char* Data, size_t Size) { return form.Append(Data, Size); });
    form.EndPart();
  } else if (!dropped) {
    std::string body;
    read = Reader([&](const char* Data, size_t Size) {
      if (body.size() + Size > MaxPlainBody) return false;
      body.append(Data, Size);
      return true;
    });
    for (auto& [k, v] : ParseQuery(body)) form.Form.Fields.emplace_back(k, v);
  }
  if (!dropped) decide(form.Form);
  std::string head = StandIn + " " + Service + (kind.Step ? " step=" + std::to_string(kind.Step) : "");
  if (dropped) {
    LogLine(head + " -> dropped the connection");
    return;
  }
  if (!read) {
    Res.status = 400;
    Res.set_content("Neúplný požadavek: " + (form.Error.empty() ? std::string("tělo nelze přečíst") : form.Error) + "\n",
                    "text/plain; charset=UTF-8");
    LogLine(head + " -> 400 incomplete request");
    return;
  }

  TAnswerTweaks tweaks;
  if (rule) {
    fServices.RecordFault(kind, StandIn, *rule);
    switch (rule->Kind) {
      case TFaultKind::fkStatus:
        Res.status = rule->Status;
        Res.set_content("Simulovaná chyba " + std::to_string(rule->Status) + "\n", "text/plain; charset=UTF-8");
        LogLine(head + " -> " + std::to_string(rule->Status) + " (fault)");
        return;
      case TFaultKind::fkMalformed: {
        TAnswer a = TSandboxServices::Malformed(kind);
        Res.set_content(a.Body, a.ContentType.c_str());
        LogLine(head + " -> 200 malformed answer (fault)");
        return;
      }
      case TFaultKind::fkStall: Stall(rule->Ms); break;
      case TFaultKind::fkHashLength: tweaks.HashLength = rule->HashLength; break;
      case TFaultKind::fkNoPopis: tweaks.NoPopis = true; break;
      case TFaultKind::fkDrop: break;
    }
  }
  TAnswer a = Service == "order"    ? fServices.Order(form.Form, StandIn, tweaks)
              : Service == "letter" ? fServices.Letter(form.Form, StandIn)
                                    : fServices.Version(form.Form, StandIn);
  Res.status = a.Status;
  Res.set_content(a.Body, a.ContentType.c_str());
  LogLine(head + " -> " + std::to_string(a.Status) + " " + a.Summary + (rule ? " (" + FaultKindName(rule->Kind) + ")" : ""));
}

void TSandboxServer::Control(const httplib::Request& Req, httplib::Response& Res) {
  if (!IsLoopback(Req.remote_addr)) {
    Res.status = 403;
    Res.set_content("control only from this machine\n", "text/plain");
    return;
  }
  auto q = Req.target.find('?');
  std::string command = q == std::string::npos ? "" : Req.target.substr(q + 1);
  if (command.empty() && !Req.body.empty()) command = Req.body;  // also accepted as the body
  std::string err;
  if (!fFaults.Apply(command, err)) {
    Res.status = 400;
    Res.set_content(err + "\n", "text/plain; charset=UTF-8");
    LogLine("control " + command + " -> refused: " + err);
    return;
  }
  Res.set_content(fFaults.Describe(), "text/plain; charset=UTF-8");
  LogLine("control " + command + " -> ok");
}

void TSandboxServer::Stall(int Ms) {
  std::unique_lock<std::mutex> g(fStopLock);
  fStopSignal.wait_for(g, std::chrono::milliseconds(Ms), [this] { return fStopping; });
}

bool TSandboxServer::Start(const TCertificateFiles& Certs, std::string& Err) {
  fProduction = std::make_unique<httplib::SSLServer>(Certs.ServerCert.c_str(), Certs.ServerKey.c_str());
  fTest = std::make_unique<httplib::SSLServer>(Certs.ServerCert.c_str(), Certs.ServerKey.c_str());
  if (!fProduction->is_valid() || !fTest->is_valid()) {
    Err = "cannot load the server certificate " + Certs.ServerCert;
    return false;
  }
  Install(*fProduction, "production");
  Install(*fTest, "test");
  // Not the library's default SO_REUSEPORT: a port already served by another sandbox must
  // fail here, not be shared with it connection by connection.
  auto exclusive = [](socket_t Sock) {
    int yes = 1;
    setsockopt(Sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  };
  fProduction->set_socket_options(exclusive);
  fTest->set_socket_options(exclusive);
  if (!fProduction->bind_to_port("127.0.0.1", fConfig.Port)) {
    Err = "cannot listen on 127.0.0.1:" + std::to_string(fConfig.Port) + " (in use?)";
    return false;
  }
  if (!fTest->bind_to_port("127.0.0.1", fConfig.TestPort)) {
    Err = "cannot listen on 127.0.0.1:" + std::to_string(fConfig.TestPort) + " (in use?)";
    return false;
  }
  fProductionThread = std::thread([this] { fProduction->listen_after_bind(); });
  fTestThread = std::thread([this] { fTest->listen_after_bind(); });
  for (int i = 0; i < 1000 && !(fProduction->is_running() && fTest->is_running()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (!fProduction->is_running() || !fTest->is_running()) {
    Err = "the listeners did not start";
    return false;
  }
  return true;
}

void TSandboxServer::Stop() {
  {
    std::lock_guard<std::mutex> g(fStopLock);
    fStopping = true;
  }
  fStopSignal.notify_all();
  if (fProduction) fProduction->stop();
  if (fTest) fTest->stop();
  if (fProductionThread.joinable()) fProductionThread.join();
  if (fTestThread.joinable()) fTestThread.join();
}
