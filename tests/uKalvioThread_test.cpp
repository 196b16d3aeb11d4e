// The letter thread against an HTTPS server in this process: what it sends, how often it
// tries, which progress texts and states it reports, and where its result files land.
#include "uKalvioThread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "uLog.h"
#include "uServiceUrls.h"
#include "uTestHttpsServer.h"
#include "uTestSupport.h"

using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using TestSupport::Exists;
using TestSupport::ListNames;
using TestSupport::ReadText;
using TestSupport::TTempDir;
using TestSupport::TTestHttpsServer;
using S = TKalvioSendThreadState;

namespace {

const std::string PositiveBody =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<odpoved>\r\n <chyby stav=\"0\"/>\r\n"
    " <kod_objednavky>A1</kod_objednavky>\r\n <podaci_cislo>RR9</podaci_cislo>\r\n</odpoved>\r\n";
const std::string DuplicateBody =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<odpoved>\n <chyby stav=\"1\">\n  <zaznam stav=\"1\">"
    "<chyba kod=\"-35\">\n   <popis> Zásilka již existuje </popis>\n  </chyba></zaznam>\n </chyby>\n"
    " <kod_objednavky>OLD-77</kod_objednavky>\n</odpoved>\n \n";
const std::string ShipmentXml = "<?xml version=\"1.0\"?>\n<zasilka><adresat>Jan Novák</adresat></zasilka>\n";

struct TPart {
  std::string Name, Content, FileName;
};

struct TRequest {
  std::string Path, Host;
  std::vector<TPart> Parts;
};

struct TReply {
  int Status;
  std::string Body;
};

// The letter service: records every request, answers from a script (the last reply repeats).
class TLetterService {
 public:
  TLetterService() {
    fServer.Server().Post(KalvioApiPath, [this](const httplib::Request& Req, httplib::Response& Res,
                                                const httplib::ContentReader& Reader) {
      TRequest r;
      r.Path = Req.path;
      r.Host = Req.get_header_value("Host");
      Reader(
          [&](const httplib::MultipartFormData& F) {
            r.Parts.push_back({F.name, "", F.filename});
            return true;
          },
          [&](const char* Data, size_t Len) {
            r.Parts.back().Content.append(Data, Len);
            return true;
          });
      std::lock_guard<std::mutex> g(fLock);
      fRequests.push_back(r);
      TReply reply = fReplies.front();
      if (fReplies.size() > 1) fReplies.pop_front();
      Res.status = reply.Status;
      Res.set_content(reply.Body, "application/xml");
    });
    fServer.Start();
  }
  // A fresh script and record, and the service addresses pointing here again.
  void Reset() {
    std::lock_guard<std::mutex> g(fLock);
    fReplies = {{200, PositiveBody}};
    fRequests.clear();
    SetServiceOverrides(fServer.BaseUrl(), fServer.BaseUrl(), fServer.CaFile());
  }
  void Script(std::deque<TReply> Replies) {
    std::lock_guard<std::mutex> g(fLock);
    fReplies = std::move(Replies);
  }
  std::vector<TRequest> Requests() {
    std::lock_guard<std::mutex> g(fLock);
    return fRequests;
  }
  int Port() const { return fServer.Port(); }

 private:
  TTestHttpsServer fServer;
  std::mutex fLock;
  std::deque<TReply> fReplies{{200, PositiveBody}};
  std::vector<TRequest> fRequests;
};

// What a thread reported, read after its end.
struct TRun {
  std::vector<std::string> Items;
  std::vector<S> States;
  // What the handler could read at each final state: KodObj, ErrStr, ErrCode.
  std::string KodObj, ErrStr;
  int32_t ErrCode = 0;
  int Terminations = 0;
  bool TerminatedInWorker = false;
};

class KalvioThread : public testing::Test {
 protected:
  // One server for the suite: making its certificates is the slow part.
  static void SetUpTestSuite() { Service = new TLetterService(); }
  static void TearDownTestSuite() {
    delete Service;
    Service = nullptr;
  }
  void SetUp() override { Service->Reset(); }

  TKalvioApiThread* Make(const TSettings& Settings) {
    fThread = std::make_unique<TKalvioApiThread>(fInput, "uzivatel", "Tajne-Heslo-9", Settings, true);
    return fThread.get();
  }

  TRun Run(const TSettings& Settings, TLogWriter* Log = nullptr, bool TerminateFirst = false) {
    TKalvioApiThread* t = Make(Settings);
    TRun run;
    std::mutex lock;
    const auto main = std::this_thread::get_id();
    t->Log = Log;
    t->OnItem = [&](TKalvioApiThread* Sender, const std::string& Item) {
      EXPECT_EQ(Sender, t);
      std::lock_guard<std::mutex> g(lock);
      run.Items.push_back(Item);
      if (!fTerminateAfter.empty() && Item.starts_with(fTerminateAfter)) Sender->Terminate();
    };
    t->OnStateChange = [&](TKalvioApiThread* Sender, S State) {
      EXPECT_EQ(std::this_thread::get_id(), main) << "state changes run in the main thread";
      std::lock_guard<std::mutex> g(lock);
      run.States.push_back(State);
      if (State == S::dtsFinished || State == S::dtsFailed) {
        run.KodObj = Sender->KodObj();
        run.ErrStr = Sender->ErrStr();
        run.ErrCode = Sender->ErrCode();
      }
    };
    t->OnTerminate = [&](TThread*) {
      std::lock_guard<std::mutex> g(lock);
      ++run.Terminations;
      run.TerminatedInWorker = std::this_thread::get_id() != main;
    };
    if (TerminateFirst) t->Terminate();
    t->Start();
    t->WaitFor();
    return run;
  }

  TTempDir fDir;
  std::string fInput = fDir.Write("z1.xml", ShipmentXml);
  std::unique_ptr<TKalvioApiThread> fThread;
  std::string fTerminateAfter;  // a progress text beginning so makes the handler ask the thread to stop
  static TLetterService* Service;
};

TLetterService* KalvioThread::Service = nullptr;

TEST_F(KalvioThread, FourFailedExchangesThenGivesUp) {
  Service->Script({{500, "<chyba/>"}});
  TRun run = Run(TSettings{});
  const std::string failed = "[132] Nepodařilo se přenést soubor na server " + fInput + ". Chyba: Internal Server Error";
  EXPECT_THAT(run.Items, ElementsAre("Start vlákna z1.xml", "Odesílání souboru " + fInput, failed,
                                     "Pokus č. 1 o odeslání souboru " + fInput, failed,
                                     "Pokus č. 2 o odeslání souboru " + fInput, failed,
                                     "Pokus č. 3 o odeslání souboru " + fInput, failed,
                                     "[133] Nepodařil se přenos souboru"));
  EXPECT_THAT(run.States, ElementsAre(S::dtsPreparing, S::dtsSend, S::dtsFailed));
  EXPECT_EQ(Service->Requests().size(), 4u);
  EXPECT_EQ(run.ErrStr, "Internal Server Error");
  EXPECT_EQ(run.ErrCode, 0);
  EXPECT_THAT(ListNames(fDir.Path()), ElementsAre("z1.xml")) << "a failed exchange leaves no result file";
  EXPECT_EQ(run.Terminations, 1);
  EXPECT_TRUE(run.TerminatedInWorker);
}

TEST_F(KalvioThread, FailedExchangeThenAccepted) {
  Service->Script({{503, ""}, {200, PositiveBody}});
  TRun run = Run(TSettings{});
  EXPECT_THAT(run.Items, ElementsAre("Start vlákna z1.xml", "Odesílání souboru " + fInput,
                                     "[132] Nepodařilo se přenést soubor na server " + fInput +
                                         ". Chyba: Service Unavailable",
                                     "Pokus č. 1 o odeslání souboru " + fInput));
  EXPECT_THAT(run.States, ElementsAre(S::dtsPreparing, S::dtsSend, S::dtsFinished));
  EXPECT_EQ(Service->Requests().size(), 2u);
  EXPECT_EQ(run.KodObj, "A1");
  EXPECT_EQ(fThread->KodRR(), "RR9");
  EXPECT_EQ(ReadText(fInput + ".ok.xml"), PositiveBody);
  EXPECT_EQ(run.Terminations, 1);
}

TEST_F(KalvioThread, RejectedShipmentIsNotRepeated) {
  Service->Script({{200, DuplicateBody}});
  TRun run = Run(TSettings{});
  EXPECT_THAT(run.Items, ElementsAre("Start vlákna z1.xml", "Odesílání souboru " + fInput, "Zásilka již existuje",
                                     "[133] Nepodařil se přenos souboru"));
  EXPECT_THAT(run.States, ElementsAre(S::dtsPreparing, S::dtsSend, S::dtsFailed));
  EXPECT_EQ(Service->Requests().size(), 1u);
  EXPECT_EQ(run.ErrStr, "Zásilka již existuje");
  EXPECT_EQ(run.ErrCode, -35);
  EXPECT_EQ(run.KodObj, "OLD-77");
  EXPECT_EQ(ReadText(fInput + ".ko.xml"), DuplicateBody);
  EXPECT_FALSE(Exists(fInput + ".ok.xml"));
}

TEST_F(KalvioThread, UnreadableAnswerIsRejectedWithTheReadersMessage) {
  Service->Script({{200, "<odpoved><chyby stav=\"0\"></odpoved>"}});
  TRun run = Run(TSettings{});
  EXPECT_THAT(run.States, ElementsAre(S::dtsPreparing, S::dtsSend, S::dtsFailed));
  EXPECT_EQ(Service->Requests().size(), 1u);
  EXPECT_EQ(run.ErrStr, "Start-end tags mismatch");
  EXPECT_EQ(ReadText(fInput + ".ko.xml"), "<odpoved><chyby stav=\"0\"></odpoved>");
}

// The form, part by part in the order the service reads it, for both duplicate settings.
TEST_F(KalvioThread, FormPartsInOrder) {
  for (uint8_t duplicate : {1, 0}) {
    SCOPED_TRACE(int(duplicate));
    TSettings s;
    s.Duplicate = duplicate;
    const size_t before = Service->Requests().size();
    Run(s);
    auto requests = Service->Requests();
    ASSERT_EQ(requests.size(), before + 1);
    const TRequest& r = requests.back();
    EXPECT_EQ(r.Path, "/kalvio/kalvioApi.php");
    ASSERT_EQ(r.Parts.size(), 5u);
    EXPECT_EQ(r.Parts[0].Name, "user");
    EXPECT_EQ(r.Parts[0].Content, "uzivatel");
    EXPECT_EQ(r.Parts[1].Name, "password");
    EXPECT_EQ(r.Parts[1].Content, "Tajne-Heslo-9");
    EXPECT_EQ(r.Parts[2].Name, "duplicita");
    EXPECT_EQ(r.Parts[2].Content, duplicate ? "1" : "0");
    EXPECT_EQ(r.Parts[3].Name, "soubor");
    EXPECT_EQ(r.Parts[3].FileName, "z1.xml");
    EXPECT_EQ(r.Parts[3].Content, ShipmentXml);
    EXPECT_EQ(r.Parts[4].Name, "aplikace_info");
    EXPECT_EQ(r.Parts[4].Content, "Zentrik Windows, version 1.0.5, date 26/03/2026");
  }
}

TEST_F(KalvioThread, TestModeUsesTheTestAddressOnly) {
  const std::string port = std::to_string(Service->Port());
  // Both names reach this server; the Host header tells which address the thread chose.
  SetServiceOverrides("https://127.0.0.1:" + port, "https://localhost:" + port, ServiceCaFile());
  for (bool test : {true, false}) {
    SCOPED_TRACE(test);
    TSettings s;
    s.TestUrl = test;
    TRun run = Run(s);
    EXPECT_THAT(run.States, ElementsAre(S::dtsPreparing, S::dtsSend, S::dtsFinished));
    EXPECT_EQ(Service->Requests().back().Host, (test ? "localhost:" : "127.0.0.1:") + port);
  }
}

TEST_F(KalvioThread, ResultFileBesideTheInputReplacesAnOldOne) {
  fDir.Write("z1.xml.ok.xml", std::string(PositiveBody.size() * 3, 'x'));
  Run(TSettings{});
  EXPECT_EQ(ReadText(fInput + ".ok.xml"), PositiveBody);
}

TEST_F(KalvioThread, ResultFileInTheTransferLogFolder) {
  TTempDir logs;
  TSettings s;
  s.LogItem = logs.Path() + "/";
  Service->Script({{200, DuplicateBody}});
  Run(s);
  EXPECT_THAT(ListNames(logs.Path()), ElementsAre("z1.xml.ko.xml"));
  EXPECT_EQ(ReadText(logs / "z1.xml.ko.xml"), DuplicateBody);
  EXPECT_THAT(ListNames(fDir.Path()), ElementsAre("z1.xml"));
}

TEST_F(KalvioThread, UnwritableResultFileIsAFailureNotASuccess) {
  TSettings s;
  s.LogItem = fDir / "missing/";
  TRun run = Run(s);
  EXPECT_THAT(run.States, ElementsAre(S::dtsPreparing, S::dtsSend, S::dtsFailed));
  ASSERT_EQ(run.Items.size(), 3u) << "no give-up text after an error";
  EXPECT_THAT(run.Items.back(), HasSubstr(fDir / "missing/z1.xml.ok.xml"));
  EXPECT_EQ(Service->Requests().size(), 1u);
}

TEST_F(KalvioThread, InvalidProxyPortFailsWithoutARequest) {
  TSettings s;
  s.ProxyUse = true;
  s.ProxyHost = "127.0.0.1";
  s.ProxyPort = "abc";
  TRun run = Run(s);
  EXPECT_THAT(run.Items, ElementsAre("Start vlákna z1.xml", "Odesílání souboru " + fInput,
                                     "'abc' is not a valid integer value"));
  EXPECT_THAT(run.States, ElementsAre(S::dtsPreparing, S::dtsSend, S::dtsFailed));
  EXPECT_TRUE(Service->Requests().empty());
}

TEST_F(KalvioThread, TerminatedBeforeItsStartIsAborted) {
  TRun run = Run(TSettings{}, nullptr, true);
  EXPECT_THAT(run.Items, ElementsAre("Start vlákna z1.xml"));
  EXPECT_THAT(run.States, ElementsAre(S::dtsAborted));
  EXPECT_TRUE(Service->Requests().empty());
  EXPECT_EQ(run.Terminations, 1);
}

// A stop request between attempts ends the loop quietly: no repetition, no failure reported.
TEST_F(KalvioThread, TerminatedBetweenAttemptsStopsQuietly) {
  Service->Script({{500, ""}});
  fTerminateAfter = "[132]";
  TRun run = Run(TSettings{});
  ASSERT_EQ(run.Items.size(), 3u);
  EXPECT_THAT(run.Items.back(), HasSubstr("[132]"));
  EXPECT_THAT(run.States, ElementsAre(S::dtsPreparing, S::dtsSend));
  EXPECT_EQ(Service->Requests().size(), 1u);
  EXPECT_EQ(run.Terminations, 1);
}

// The HTTP diagnostics of a failed exchange reach the attached log, without the password.
TEST_F(KalvioThread, DiagnosticsGoToTheAttachedLog) {
  TTempDir logDir;
  TLogWriterConfig c;
  c.Directory = logDir.Path();
  c.FileNamePattern = "app.{tag}.log";
  TLogWriter log(c);
  Service->Script({{500, "<vnitrni-chyba/>"}});
  Run(TSettings{}, &log);
  const std::string text = ReadText(log.FileNameFor("APL"));
  EXPECT_THAT(text, HasSubstr("=== HTTP ERROR (NON-200) ==="));
  EXPECT_THAT(text, HasSubstr("<vnitrni-chyba/>"));
  EXPECT_THAT(text, HasSubstr("[ERROR"));
  EXPECT_THAT(text, Not(HasSubstr("Tajne-Heslo-9")));
}

}  // namespace
