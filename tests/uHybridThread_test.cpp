#include "uHybridThread.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "uPlatform.h"
#include "uServiceUrls.h"
#include "uTestHttpsServer.h"
#include "uTestSupport.h"

namespace {

using TestSupport::ReadText;
using TestSupport::TTempDir;
using TestSupport::TTestHttpsServer;

const std::string Hash40 = "0123456789abcdef0123456789abcdef01234567";

std::string Answer(const std::string& Code, const std::string& Rest = "") {
  return "<?xml version=\"1.0\"?><odpoved><hodnota>" + Code + "</hodnota>" + Rest + "</odpoved>";
}

struct TReply {
  int Status = 200;
  std::string Body;
};

struct TRequest {
  int Step = 0;
  std::string Host;
  std::map<std::string, std::string> Fields;
  std::string FileName;  // of the "soubor" part
  std::string Content;
};

// The order service: answers each step from its queue of replies, or with success.
class TOrderService {
 public:
  TOrderService() {
    fServer.Server().Post("/commandApi/common.php", [this](const httplib::Request& Req, httplib::Response& Res) {
      TRequest r;
      for (const auto& [name, part] : Req.files) {
        if (name == "soubor") {
          r.FileName = part.filename;
          r.Content = part.content;
        } else {
          r.Fields[name] = part.content;
        }
      }
      r.Step = std::atoi(r.Fields["krok"].c_str());
      r.Host = Req.get_header_value("Host");
      TReply reply;
      {
        std::lock_guard<std::mutex> g(fLock);
        auto& queue = fReplies[r.Step];
        if (!queue.empty()) {
          reply = queue.front();
          queue.pop_front();
        } else {
          reply = Default(r.Step);
        }
        fRequests.push_back(r);
      }
      Res.status = reply.Status;
      Res.set_content(reply.Body, "text/xml");
    });
    fServer.Start();
  }
  static TReply Default(int Step) {
    if (Step == 1) return {200, Answer("0", "<hash>" + Hash40 + "</hash>")};
    if (Step == 2) return {200, Answer("0", "<popis>OK</popis>")};
    return {200, Answer("0", "<popis>Uzavreno</popis><kodobjednavky>Z-2026-17</kodobjednavky>")};
  }
  void Reset() {
    std::lock_guard<std::mutex> g(fLock);
    fReplies.clear();
    fRequests.clear();
  }
  void Queue(int Step, TReply Reply) {
    std::lock_guard<std::mutex> g(fLock);
    fReplies[Step].push_back(Reply);
  }
  std::vector<TRequest> Requests(int Step) {
    std::lock_guard<std::mutex> g(fLock);
    std::vector<TRequest> r;
    for (const auto& q : fRequests)
      if (q.Step == Step) r.push_back(q);
    return r;
  }
  int Port() const { return fServer.Port(); }
  std::string CaFile() const { return fServer.CaFile(); }

 private:
  TTestHttpsServer fServer;
  std::mutex fLock;
  std::map<int, std::deque<TReply>> fReplies;
  std::vector<TRequest> fRequests;
};

// Mostly incompressible, so that a small volume size gives several volumes.
std::string Document(size_t Size, unsigned Seed) {
  std::mt19937 rng(Seed);
  std::string s(Size, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

struct TOutcome {
  std::vector<std::string> Log;        // level letter and code of each entry: "I000", "E?" (no code)
  std::vector<std::string> Messages;   // the entries' texts
  std::vector<int> States;
  std::vector<std::string> Items;
  bool StatesInMainThread = true;
  std::string ErrStr, KodObj, TmpAdr, TmpFile;
};

class OrderThread : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings.Temp = Dir / "tmp";
    Settings.LogItem = Dir / "logs/";
    Settings.ControleFile = 1;
    Platform::ForceDirectories(Settings.Temp);
    Docs = {Dir.Write("docs/a.pdf", Document(60000, 1)), Dir.Write("docs/b.pdf", Document(60000, 2)),
            Dir.Write("docs/c.pdf", Document(60000, 3))};
  }
  std::string OrderFile(const std::string& Text) { return Dir.Write("zakazka.cfg", Text); }
  std::string FullOrder() {
    return OrderFile("jmeno=novak\nheslo=tajne\nstandzak=42\njobzak=7\npoznamka=Faktury\nsoubor=" + Docs[0] +
                     "\nsoubor=" + Dir.Path() + "/docs/*.pdf\n");
  }

  TOutcome Run(const std::string& FileName, int64_t VolumeSize = 64 * 1024,
               const std::function<void(THybridApiThread&)>& BeforeStart = {}) {
    TOutcome out;
    // Every run its own log folder: runs of one test share the process id and the tag.
    Settings.LogItem = Dir / ("logs" + std::to_string(++fRuns) + "/");
    const auto mainThread = std::this_thread::get_id();
    {
      THybridApiThread t(FileName, Settings, true);
      t.SetVolumeSize(VolumeSize);
      t.OnItem = [&](THybridApiThread*, const std::string& Item) { out.Items.push_back(Item); };
      t.OnStateChange = [&](THybridApiThread* Sender, THybSendThreadState State) {
        out.States.push_back(State);
        if (std::this_thread::get_id() != mainThread) out.StatesInMainThread = false;
        out.ErrStr = Sender->ErrStr();
      };
      out.TmpAdr = t.TmpAdr();
      out.TmpFile = t.TmpFile();
      if (BeforeStart) BeforeStart(t);
      t.Start();
      t.WaitFor();
      out.ErrStr = t.ErrStr();
      out.KodObj = t.KodObj();
    }
    const std::string tag = Platform::ExtractFileName(FileName);
    const std::string log = ReadText(Settings.LogItem + "Zentrik_pid_" + Pid() + ".00." + tag + ".log");
    for (const auto& line : TestSupport::Lines(log)) {
      // "2026-03-26 08:15:42.123 [INFO    ][000] Start ... [tag]"
      if (line.size() < 35 || line[4] != '-' || line[23] != ' ') continue;
      const std::string level = line.substr(25, 8);
      std::string message = line.substr(34, line.rfind(" [") - 34);
      const bool coded = message.size() >= 5 && message[0] == '[' && message[4] == ']';
      const std::string entry = level.substr(0, 1) + (coded ? message.substr(1, 3) : "?");
      // The lines of one HTTP diagnostic record count as one entry.
      if (entry == "E?" && !out.Log.empty() && out.Log.back() == "E?") continue;
      out.Log.push_back(entry);
      out.Messages.push_back(message);
    }
    return out;
  }
  static std::string Pid() {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08d", Platform::ProcessId());
    return buf;
  }
  std::vector<std::string> LeftInTemp() const { return TestSupport::ListNames(Settings.Temp); }

  TTempDir Dir;
  TSettings Settings;
  std::vector<std::string> Docs;
  int fRuns = 0;
};

const std::vector<std::string> Opening = {"I000", "I006", "I110", "I111", "I111", "I111", "I111", "I120", "I121"};
const std::vector<int> OpenStates = {dtsPreparing, dtsProcess};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> Parts) {
  std::vector<std::string> r;
  for (const auto& p : Parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

std::vector<int> JoinStates(std::initializer_list<std::vector<int>> Parts) {
  std::vector<int> r;
  for (const auto& p : Parts) r.insert(r.end(), p.begin(), p.end());
  return r;
}

// Three different documents of 60 000 incompressible bytes (one listed twice) in 64 KiB
// volumes: always three volumes.
TEST_F(OrderThread, TransfersTheOrderVolumeByVolume) {
  TOrderService service;
  auto out = Run(FullOrder());
  auto volumes = service.Requests(2);
  ASSERT_EQ(volumes.size(), 3u);

  EXPECT_EQ(out.Log, Join({Opening, {"I130", "I130", "I130", "I140", "I150"}}));
  EXPECT_EQ(out.States, JoinStates({OpenStates, {dtsSend, dtsSend, dtsSend, dtsProcess, dtsFinished}}));
  EXPECT_TRUE(out.StatesInMainThread);
  EXPECT_EQ(out.KodObj, "Z-2026-17");
  EXPECT_EQ(out.Messages.back(), "[150] Zakázka byla přenesena a uzavřena pod číslem Z-2026-17");
  EXPECT_EQ(out.Messages[1], "[006] Faktury");
  EXPECT_EQ(out.Messages[3], "[111] Přidán soubor " + Docs[0]);

  // Step 1 carries the order's values; every later step the hash it returned.
  auto open = service.Requests(1);
  ASSERT_EQ(open.size(), 1u);
  EXPECT_EQ(open[0].Fields, (std::map<std::string, std::string>{{"krok", "1"},
                                                                {"typvystupu", "xml"},
                                                                {"user", "novak"},
                                                                {"passwd", "tajne"},
                                                                {"jobzak", "7"},
                                                                {"poznamka", "Faktury"},
                                                                {"standzak", "42"},
                                                                {"aplikace_info", "Zentrik Windows, version 1.0.5, date 26/03/2026"}}));
  EXPECT_EQ(open[0].Host, "127.0.0.1:" + std::to_string(service.Port()));
  auto close = service.Requests(3);
  ASSERT_EQ(close.size(), 1u);
  EXPECT_EQ(close[0].Fields, (std::map<std::string, std::string>{{"krok", "3"}, {"typvystupu", "xml"}, {"hash", Hash40}}));

  // Volumes in number order, named after the base name and the worker's id, all full but
  // the last; together they are the archive of the documents, which 7-Zip reads.
  std::string archive;
  for (size_t i = 0; i < volumes.size(); ++i) {
    EXPECT_EQ(volumes[i].Fields, (std::map<std::string, std::string>{{"krok", "2"}, {"typvystupu", "xml"}, {"hash", Hash40}}));
    const std::string& name = volumes[i].FileName;
    EXPECT_EQ(name.substr(name.size() - 7), ".7z.00" + std::to_string(i + 1));
    EXPECT_EQ(name.rfind(out.TmpFile + "_", 0), 0u) << name;
    EXPECT_EQ(out.Messages[9 + i], "[130] Odesílání souboru " + out.TmpAdr + name + " (" + std::to_string(i + 1) + "/3)");
    if (i + 1 < volumes.size()) {
      EXPECT_EQ(volumes[i].Content.size(), 64u * 1024);
    }
    archive += volumes[i].Content;
  }
  const std::string copy = Dir.Write("received.7z", archive);
  auto x = TestSupport::RunProcess("/usr/bin/7z", {"x", "-aou", "-o" + Dir / "got", copy});
  EXPECT_EQ(x.ExitCode, 0) << x.Out;
  EXPECT_EQ(ReadText(Dir / "got/a.pdf"), ReadText(Docs[0]));
  EXPECT_EQ(ReadText(Dir / "got/a_1.pdf"), ReadText(Docs[0]));
  EXPECT_EQ(ReadText(Dir / "got/b.pdf"), ReadText(Docs[1]));
  EXPECT_EQ(ReadText(Dir / "got/c.pdf"), ReadText(Docs[2]));

  EXPECT_TRUE(LeftInTemp().empty());
  EXPECT_EQ(out.Items, (std::vector<std::string>{"Start vlákna zakazka.cfg", "Komprese dat",
                                                 "Odesílání souboru " + out.TmpAdr + volumes[0].FileName + " (1/3)",
                                                 "Odesílání souboru " + out.TmpAdr + volumes[1].FileName + " (2/3)",
                                                 "Odesílání souboru " + out.TmpAdr + volumes[2].FileName + " (3/3)",
                                                 "Uzavírání zakázky"}));
}

TEST_F(OrderThread, ExchangesThatFailOrAreRepeated) {
  const TReply refused{500, "nic"};
  const TReply closeRefused{200, Answer("9", "<popis>Zakazka nenalezena</popis>")};
  const std::string anyText = "*";
  struct Case {
    const char* What;
    std::vector<std::pair<int, TReply>> Replies;  // step and reply, in the order they are used
    std::vector<std::string> Log;                 // after [000] .. [120]; "E?" is the HTTP diagnostic record
    std::vector<int> States;                      // after dtsPreparing, dtsProcess
    size_t Uploads, Closes;
    std::string ErrStr;                           // "*": any text
  };
  // Fatal entries show the level name "UNKNOWN" in the transfer log.
  const Case cases[] = {
      {"a volume failing by status, then by its answer, then sent",
       {{2, refused}, {2, {200, Answer("5", "<popis>Spatny svazek</popis>")}}},
       {"I121", "I130", "E?", "W132", "I131", "W134", "I131", "I130", "I130", "I140", "I150"},
       {dtsSend, dtsSend, dtsSend, dtsProcess, dtsFinished}, 5, 1, ""},
      {"code 0 without popis is a failed upload",
       {{2, {200, Answer("0")}}},
       {"I121", "I130", "W134", "I131", "I130", "I130", "I140", "I150"},
       {dtsSend, dtsSend, dtsSend, dtsProcess, dtsFinished}, 4, 1, ""},
      {"the second volume failing four times",
       {{2, TOrderService::Default(2)}, {2, refused}, {2, refused}, {2, refused},
        {2, {200, Answer("5", "<popis>Konec</popis>")}}},
       {"I121", "I130", "I130", "E?", "W132", "I131", "E?", "W132", "I131", "E?", "W132", "I131", "W134", "E133"},
       {dtsSend, dtsSend, dtsFailed}, 5, 0, "Konec"},
      {"close failing four times",
       {{3, closeRefused}, {3, refused}, {3, closeRefused}, {3, {200, Answer("x", "<popis/>")}}},
       {"I121", "I130", "I130", "I130", "I140", "W142", "W141", "E?", "W143", "W141", "W142", "W141", "W142",
        "E144"},
       {dtsSend, dtsSend, dtsSend, dtsProcess, dtsProcess, dtsProcess, dtsProcess, dtsFailed, dtsFailed}, 3, 4,
       "'x' is not a valid integer value"},
      {"close succeeding at the last attempt",
       {{3, refused}, {3, refused}, {3, {200, "<a><hodnota>0</hodnota></a>"}}, {3, {200, Answer("0", "<popis/>")}}},
       {"I121", "I130", "I130", "I130", "I140", "E?", "W143", "W141", "E?", "W143", "W141", "W142", "W141", "I150"},
       {dtsSend, dtsSend, dtsSend, dtsProcess, dtsProcess, dtsProcess, dtsProcess, dtsFinished}, 3, 4, ""},
      {"a hash of 39 characters",
       {{1, {200, Answer("0", "<hash>" + Hash40.substr(1) + "</hash>")}}}, {"U123", "E123"},
       {dtsFailed, dtsFailed}, 0, 0, ""},
      {"a hash of 41 characters",
       {{1, {200, Answer("0", "<hash>" + Hash40 + "8</hash>")}}}, {"U123", "E123"}, {dtsFailed, dtsFailed}, 0, 0,
       ""},
      {"opening refused by the service",
       {{1, {200, Answer("3", "<popis>Spatne heslo</popis>")}}}, {"U123", "E123"}, {dtsFailed, dtsFailed}, 0, 0,
       "Spatne heslo"},
      {"opening refused by status", {{1, refused}}, {"E?", "U122", "E122"}, {dtsFailed, dtsFailed}, 0, 0, anyText},
  };
  TOrderService service;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    service.Reset();
    for (const auto& [step, reply] : c.Replies) service.Queue(step, reply);
    auto out = Run(FullOrder());
    std::vector<std::string> opening(Opening.begin(), Opening.end() - 1);  // up to [120]
    EXPECT_EQ(out.Log, Join({opening, c.Log}));
    EXPECT_EQ(out.States, JoinStates({OpenStates, c.States}));
    EXPECT_EQ(service.Requests(2).size(), c.Uploads);
    EXPECT_EQ(service.Requests(3).size(), c.Closes);
    if (c.ErrStr == anyText)
      EXPECT_FALSE(out.ErrStr.empty());
    else
      EXPECT_EQ(out.ErrStr, c.ErrStr);
    EXPECT_TRUE(LeftInTemp().empty()) << "volumes left behind";
    EXPECT_TRUE(out.StatesInMainThread);
  }
}

TEST_F(OrderThread, DoubledFailureTextsAndAnEmptyOrderNumber) {
  {
    TOrderService service;
    service.Queue(1, {200, Answer("0", "<hash>kratky</hash>")});
    auto out = Run(FullOrder());
    ASSERT_GE(out.Messages.size(), 2u);
    EXPECT_EQ(out.Messages[out.Messages.size() - 2], "[123] Nepodařilo se načíst odpověď ze serveru. Chyba: ");
    EXPECT_EQ(out.Messages.back(), out.Messages[out.Messages.size() - 2]);
  }
  {
    TOrderService service;
    service.Queue(3, {200, Answer("0", "<popis>OK</popis>")});
    auto out = Run(FullOrder());
    EXPECT_EQ(out.Messages.back(), "[150] Zakázka byla přenesena a uzavřena pod číslem ");
    EXPECT_EQ(out.KodObj, "");
    EXPECT_EQ(out.States.back(), dtsFinished);
  }
}

TEST_F(OrderThread, OrdersThatNeverReachTheService) {
  TOrderService service;
  struct Case {
    const char* What;
    std::function<std::string()> Order;
    std::function<void(TSettings&)> Adjust;
    std::vector<std::string> Log;
    std::vector<int> States;
    std::string LastMessage;
    std::string ErrStr;
  };
  const Case cases[] = {
      {"nothing filled in",
       [&] { return OrderFile("jmeno=\nheslo= \t\nstandzak=<b></b>\nsoubor=" + Docs[0]); }, {},
       {"I000", "E104", "E105", "E106", "E101"}, {dtsPreparing, dtsFailed}, "[101] Chyba v konfiguračním souboru", ""},
      {"the order file missing", [&] { return Dir / "chybi.cfg"; }, {}, {"I000", "E102", "E101"},
       {dtsPreparing, dtsFailed}, "[101] Chyba v konfiguračním souboru", ""},
      {"a document missing",
       [&] { return OrderFile("jmeno=a\nheslo=b\nstandzak=1\nsoubor=" + Docs[0] + "\nsoubor=" + Dir / "docs/x.pdf"); }, {},
       {"I000", "E107", "E101"}, {dtsPreparing, dtsFailed}, "[101] Chyba v konfiguračním souboru", Dir / "docs/x.pdf"},
      {"credentials from the command line, a proxy port that is not a number",
       [&] { return OrderFile("standzak=1\nsoubor=" + Docs[0]); },
       [](TSettings& S) {
         S.UserName = "u";
         S.Password = "p";
         S.ProxyUse = true;
         S.ProxyHost = "127.0.0.1";
         S.ProxyPort = "abc";
       },
       {"I000", "I006", "I110", "I111", "I120", "E?"}, {dtsPreparing, dtsProcess, dtsFailed},
       "'abc' is not a valid integer value", ""},
      {"no documents", [&] { return OrderFile("jmeno=a\nheslo=b\nstandzak=1\npoznamka="); }, {},
       {"I000", "I006", "I110", "E112"}, {dtsPreparing, dtsFailed}, "[112] Nepodařila se komprese dat. Chyba: ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const TSettings saved = Settings;
    if (c.Adjust) c.Adjust(Settings);
    auto out = Run(c.Order());
    Settings = saved;
    EXPECT_EQ(out.Log, c.Log);
    EXPECT_EQ(out.States, c.States);
    ASSERT_FALSE(out.Messages.empty());
    EXPECT_EQ(out.Messages.back(), c.LastMessage);
    EXPECT_EQ(out.ErrStr, c.ErrStr);
    EXPECT_TRUE(LeftInTemp().empty());
  }
  EXPECT_TRUE(service.Requests(1).empty());
  EXPECT_TRUE(service.Requests(2).empty());
}

TEST_F(OrderThread, OnlyItsOwnVolumesAreSentAndRemoved) {
  TOrderService service;
  std::string foreign;
  auto out = Run(FullOrder(), 64 * 1024, [&](THybridApiThread& T) {
    foreign = T.TmpAdr() + T.TmpFile() + "_1.7z.001";
    Dir.Write(foreign, "not part of this order");
  });
  EXPECT_EQ(out.States.back(), dtsFinished);
  for (const auto& r : service.Requests(2)) EXPECT_NE(r.Content, "not part of this order");
  EXPECT_EQ(service.Requests(2).size(), 3u);
  EXPECT_EQ(LeftInTemp(), (std::vector<std::string>{Platform::ExtractFileName(foreign)}));
}

// A fixed creation time: 5 March, 10:42:07.
class TFixedClock : public Platform::TClock {
 public:
  Platform::TDateTime Now() override { return {2026, 3, 5, 10, 42, 7, 0}; }
};

TEST_F(OrderThread, BaseNameIsTheNameStartMonthSecondAndZero) {
  Platform::SetClock(std::make_shared<TFixedClock>());
  struct Case {
    std::string Name, Base;
  };
  const Case cases[] = {{"zakazka.cfg", "zakaz03070"}, {"objednavka", "o03070"}, {"a.b.txt", "a.b.t03070"},
                        {"\xC4\x8Dr.cfg", "\xC4\x8Dr.cf03070"}, {"x.cfg", "x.cfg03070"}};
  for (const auto& c : cases) {
    THybridApiThread t(Dir / c.Name, Settings, true);
    EXPECT_EQ(t.TmpFile(), c.Base) << c.Name;
  }
  Platform::SetClock(nullptr);
}

TEST_F(OrderThread, TestModeUsesTheTestAddress) {
  TOrderService service;
  SetServiceOverrides("https://127.0.0.1:" + std::to_string(service.Port()),
                      "https://localhost:" + std::to_string(service.Port()), service.CaFile());
  Settings.TestUrl = true;
  auto out = Run(FullOrder());
  EXPECT_EQ(out.States.back(), dtsFinished);
  for (int step = 1; step <= 3; ++step)
    for (const auto& r : service.Requests(step)) EXPECT_EQ(r.Host, "localhost:" + std::to_string(service.Port()));
}

TEST_F(OrderThread, StopBeforeTheStartAndTheCompletionEvent) {
  TOrderService service;
  std::vector<std::thread::id> terminated;
  auto out = Run(FullOrder(), 64 * 1024, [&](THybridApiThread& T) {
    T.Terminate();
    T.OnTerminate = [&](TThread*) { terminated.push_back(std::this_thread::get_id()); };
  });
  EXPECT_EQ(out.Log, (std::vector<std::string>{"I000"}));
  EXPECT_EQ(out.States, (std::vector<int>{dtsAborted}));
  ASSERT_EQ(terminated.size(), 1u);  // once, in the worker
  EXPECT_NE(terminated[0], std::this_thread::get_id());
  EXPECT_TRUE(service.Requests(1).empty());
}

}  // namespace
