// The sandbox driven from outside, as a client would: plain curl requests over HTTPS against
// the built binary, on free ports, with 7-Zip making the archives it has to check.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <pugixml.hpp>
#include <regex>
#include <thread>

#include "uSandboxProcess.h"
#include "uTestSupport.h"

namespace {

using namespace TestSupport;

inline constexpr const char* OrderPath = "/commandApi/common.php";
inline constexpr const char* LetterPath = "/kalvio/kalvioApi.php";
inline constexpr const char* VersionPath = "/zentrik/version/";

// One CA for the whole test program; every sandbox below signs with it.
const std::string& SharedCaDir() {
  static TTempDir dir;
  return dir.Path();
}

struct TReply {
  int CurlExit = -1;  // 0 when an answer arrived
  int Status = 0;
  std::string Body;
  std::string Err;
  double Seconds = 0;
};

struct TPart {
  std::string Name;
  std::string Value;
  bool File = false;  // Value is a path
};

TReply Curl(const std::vector<std::string>& Extra, const std::string& Url, const std::string& CaFile) {
  std::vector<std::string> args = {"-sS", "--cacert", CaFile, "-w", "\n%{http_code}"};
  args.insert(args.end(), Extra.begin(), Extra.end());
  args.push_back(Url);
  auto start = std::chrono::steady_clock::now();
  auto r = RunProcess("/usr/bin/curl", args, "", "", 60000);
  TReply reply;
  reply.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  reply.CurlExit = r.ExitCode;
  reply.Err = r.Err;
  auto nl = r.Out.rfind('\n');
  reply.Body = nl == std::string::npos ? "" : r.Out.substr(0, nl);
  reply.Status = std::atoi(r.Out.substr(nl == std::string::npos ? 0 : nl + 1).c_str());
  return reply;
}

TReply Post(const TSandbox& S, const std::string& Path, const std::vector<TPart>& Parts, bool Test = false,
            std::vector<std::string> Extra = {}) {
  for (const auto& p : Parts) {
    Extra.push_back(p.File ? "-F" : "--form-string");
    Extra.push_back(p.Name + "=" + (p.File ? "@" + p.Value : p.Value));
  }
  return Curl(Extra, (Test ? S.TestUrl() : S.ProductionUrl()) + Path, S.CaFile());
}

std::string Text(const std::string& Xml, const char* Element) {
  pugi::xml_document d;
  if (!d.load_string(Xml.c_str())) return "<unparsed>";
  pugi::xml_node n = d.document_element().child(Element);
  return n ? n.text().get() : "<missing>";
}

bool ParsesAsXml(const std::string& Xml) {
  pugi::xml_document d;
  return static_cast<bool>(d.load_string(Xml.c_str()));
}

bool Contains(const std::vector<std::string>& Lines, const std::string& Part) {
  for (const auto& l : Lines)
    if (l.find(Part) != std::string::npos) return true;
  return false;
}

std::string Sha256Of(const std::string& Path) {
  auto r = RunProcess("/usr/bin/sha256sum", {Path});
  return r.Out.substr(0, 64);
}

// Documents packed by 7-Zip into 1 KiB volumes; returns the volume paths in number order.
std::vector<std::string> MakeVolumes(const TTempDir& Dir, const std::string& Base) {
  Dir.Write("docs/a.bin", std::string(2500, 'a') + std::string(500, 'b'));
  Dir.Write("docs/dopis č.1.txt", "Vážený zákazníku,\n");
  auto r = RunProcess("/usr/bin/7z", {"a", "-t7z", "-v1k", "-mx0", Dir / ("vol/" + Base + ".7z"), "a.bin", "dopis č.1.txt"},
                      Dir / "docs");
  EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
  std::vector<std::string> out;
  for (const auto& n : ListNames(Dir / "vol")) out.push_back(Dir / ("vol/" + n));
  EXPECT_GE(out.size(), 3u);
  return out;
}

class SandboxTest : public ::testing::Test {
 public:
  std::unique_ptr<TSandbox> Start(TSandboxOptions Options = {}) {
    Options.Port = -1;
    Options.TestPort = -1;
    Options.CaDir = SharedCaDir();
    return std::make_unique<TSandbox>(Options);
  }
  void SetUp() override { Sandbox = Start(); }

  std::string OpenTransfer(bool Test = false) {
    auto r = Post(*Sandbox, OrderPath,
                  {{"krok", "1"}, {"typvystupu", "xml"}, {"user", "demo"}, {"passwd", "demo123"}, {"jobzak", "J1"},
                   {"poznamka", "první zakázka"}, {"standzak", "STD1"},
                   {"aplikace_info", "Zentrik Windows, version 1.0.5, date 26/03/2026"}},
                  Test);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(Text(r.Body, "hodnota"), "0") << r.Body;
    return Text(r.Body, "hash");
  }
  TReply Upload(const std::string& Hash, const std::string& File, bool Test = false) {
    return Post(*Sandbox, OrderPath, {{"krok", "2"}, {"typvystupu", "xml"}, {"hash", Hash}, {"soubor", File, true}}, Test);
  }
  TReply Close(const std::string& Hash, bool Test = false) {
    return Post(*Sandbox, OrderPath, {{"krok", "3"}, {"typvystupu", "xml"}, {"hash", Hash}}, Test);
  }
  TReply Letter(const std::string& File, const std::string& Duplicita = "1", const std::string& Password = "demo123",
                bool Test = false) {
    return Post(*Sandbox, LetterPath,
                {{"user", "demo"}, {"password", Password}, {"duplicita", Duplicita}, {"soubor", File, true},
                 {"aplikace_info", "Zentrik Windows, version 1.0.5, date 26/03/2026"}},
                Test);
  }
  TReply Version(const std::string& Type, const std::string& V = "") {
    return Post(*Sandbox, VersionPath, {{"type", Type}, {"version", V}, {"apltype", "zentrik_w"}});
  }

  TTempDir Work;
  std::unique_ptr<TSandbox> Sandbox;
};

// ---- order service ------------------------------------------------------------------------

TEST_F(SandboxTest, OrderVolumesAreJoinedInNumberOrderAndTheEntriesListed) {
  // Volumes arrive in any order and may be numbered past 999: the sandbox joins them by number.
  struct TCase {
    const char* What;
    std::vector<std::string> Numbers;
  } cases[] = {{"three-digit numbers", {"001", "002", "003", "004"}},
               {"numbers past 999", {"998", "999", "1000", "1001"}}};
  int orderNo = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TTempDir dir;
    auto volumes = MakeVolumes(dir, "zakaz03070_5124");
    ASSERT_EQ(volumes.size(), c.Numbers.size());
    std::vector<std::string> renamed;
    for (size_t i = 0; i < volumes.size(); ++i) {
      renamed.push_back(dir / ("zakaz03070_5124.7z." + c.Numbers[i]));
      ASSERT_EQ(std::rename(volumes[i].c_str(), renamed.back().c_str()), 0);
    }
    std::string hash = OpenTransfer();
    ASSERT_EQ(hash.size(), 40u);
    EXPECT_TRUE(std::regex_match(hash, std::regex("[0-9a-f]{40}")));
    for (auto it = renamed.rbegin(); it != renamed.rend(); ++it) {
      auto r = Upload(hash, *it);
      EXPECT_EQ(Text(r.Body, "hodnota"), "0") << r.Body;
      EXPECT_NE(Text(r.Body, "popis"), "<missing>");
    }
    auto closed = Close(hash);
    ASSERT_EQ(Text(closed.Body, "hodnota"), "0") << closed.Body;
    std::string number = Text(closed.Body, "kodobjednavky");
    EXPECT_EQ(number, "ZK000000" + std::to_string(++orderNo));
    EXPECT_EQ(Text(Close(hash).Body, "kodobjednavky"), number) << "a repeated close gives the same number";

    EXPECT_EQ(Sandbox->InventoryLines("entry " + number),
              (std::vector<std::string>{"entry " + number + " size=3000 sha256=" + Sha256Of(dir / "docs/a.bin") + " name=a.bin",
                                        "entry " + number + " size=23 sha256=" + Sha256Of(dir / "docs/dopis č.1.txt") +
                                            " name=dopis č.1.txt"}));
    EXPECT_TRUE(Contains(Sandbox->InventoryLines("order"),
                         "order " + number + " hash=" + hash +
                             " standin=production user=demo standzak=STD1 jobzak=J1 entries=2 poznamka=první zakázka"));
    EXPECT_EQ(Sandbox->InventoryLines("volume " + hash).size(), renamed.size());
    EXPECT_TRUE(Contains(Sandbox->InventoryLines("volume " + hash), "size=1024 name=zakaz03070_5124.7z." + c.Numbers[0]));
  }
}

TEST_F(SandboxTest, VolumesThatDoNotFormOneArchiveAreRefusedAndTheTransferStaysOpen) {
  struct TCase {
    const char* What;
    std::function<void(std::vector<std::string>&)> Spoil;
  } cases[] = {
      {"a byte changed inside a document",
       [](std::vector<std::string>& V) {
         std::string b = ReadText(V[1]);
         b[500] = static_cast<char>(b[500] ^ 0x55);
         std::FILE* f = std::fopen(V[1].c_str(), "wb");
         std::fwrite(b.data(), 1, b.size(), f);
         std::fclose(f);
       }},
      {"a volume missing", [](std::vector<std::string>& V) { V.erase(V.begin() + 1); }},
      {"no archive at all",
       [](std::vector<std::string>& V) {
         V.resize(1);
         std::FILE* f = std::fopen(V[0].c_str(), "wb");
         std::fputs("toto není archiv", f);
         std::fclose(f);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    TTempDir dir;
    auto volumes = MakeVolumes(dir, "z");
    c.Spoil(volumes);
    std::string hash = OpenTransfer();
    for (const auto& v : volumes) EXPECT_EQ(Text(Upload(hash, v).Body, "hodnota"), "0");
    auto r = Close(hash);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(Text(r.Body, "hodnota"), "9");
    EXPECT_EQ(Text(r.Body, "popis").rfind("Přijatá data nejsou čitelný archiv 7z: ", 0), 0u) << r.Body;
    EXPECT_EQ(Text(r.Body, "kodobjednavky"), "<missing>");
    EXPECT_TRUE(Contains(Sandbox->InventoryLines("transfer " + hash), "state=open"));
    EXPECT_TRUE(Contains(Sandbox->InventoryLines("refused"), "refused order step=3 standin=production user=demo hodnota=9 hash=" + hash));
  }
  EXPECT_TRUE(Sandbox->InventoryLines("order").empty());
}

TEST_F(SandboxTest, OrderRefusalsCarryACodeAndACzechReason) {
  Sandbox.reset();
  TSandboxOptions o;
  o.StandardOrders = {"STD1", "STD2"};
  Sandbox = Start(o);
  TTempDir dir;
  std::string volume = dir.Write("v.7z.001", "x");
  // A record beside the order folder that a hash with path steps would reach.
  Work.Write(Sandbox->DataDir() + "/escape.txt", "hash=../escape\nstandin=production\nuser=demo\nstate=open\n");
  std::string closedHash = OpenTransfer();
  for (const auto& v : MakeVolumes(dir, "c")) Upload(closedHash, v);
  ASSERT_EQ(Text(Close(closedHash).Body, "hodnota"), "0");
  std::string productionHash = OpenTransfer();
  std::string emptyHash = OpenTransfer();

  auto step1 = [](std::string User, std::string Password, std::string StandZak) {
    return std::vector<TPart>{{"krok", "1"}, {"typvystupu", "xml"}, {"user", User}, {"passwd", Password},
                              {"jobzak", ""}, {"poznamka", ""}, {"standzak", StandZak}, {"aplikace_info", "x"}};
  };
  struct TCase {
    const char* What;
    std::vector<TPart> Parts;
    bool Test;
    const char* Hodnota;
    const char* Popis;
  } cases[] = {
      {"wrong password", step1("demo", "demo124", "STD1"), false, "1", "Neplatné uživatelské jméno nebo heslo"},
      {"unknown user", step1("nobody", "demo123", "STD1"), false, "1", "Neplatné uživatelské jméno nebo heslo"},
      {"user name in another case", step1("Demo", "demo123", "STD1"), false, "1", "Neplatné uživatelské jméno nebo heslo"},
      {"no standard order", step1("demo", "demo123", " "), false, "2", "Chybí standardní zakázka"},
      {"standard order not configured", step1("demo", "demo123", "STD9"), false, "3", "Neznámá standardní zakázka: STD9"},
      {"hash never given out", {{"krok", "2"}, {"hash", std::string(40, 'a')}, {"soubor", volume, true}}, false, "4",
       "Neznámý hash přenosu"},
      {"hash with path steps", {{"krok", "3"}, {"hash", "../../" + closedHash}}, false, "4", "Neznámý hash přenosu"},
      {"production hash at the test stand-in", {{"krok", "2"}, {"hash", productionHash}, {"soubor", volume, true}}, true,
       "4", "Neznámý hash přenosu"},
      {"step 2 without a file", {{"krok", "2"}, {"hash", productionHash}}, false, "5", "Chybí soubor"},
      {"volume name that names no file", {{"krok", "2"}, {"hash", productionHash}, {"soubor", volume + ";filename=..", true}},
       false, "6", "Neplatný název souboru: \"..\""},
      {"hash leading out of the order folder",
       {{"krok", "2"}, {"hash", "../escape"}, {"soubor", volume, true}}, false, "4", "Neznámý hash přenosu"},
      {"step 2 after the close", {{"krok", "2"}, {"hash", closedHash}, {"soubor", volume, true}}, false, "7",
       "Zakázka již byla uzavřena"},
      {"close without volumes", {{"krok", "3"}, {"hash", emptyHash}}, false, "8", "Nebyl přijat žádný soubor"},
      {"unknown step", {{"krok", "4"}, {"hash", productionHash}}, false, "11", "Neznámý krok: \"4\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    auto r = Post(*Sandbox, OrderPath, c.Parts, c.Test);
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(Text(r.Body, "hodnota"), c.Hodnota) << r.Body;
    EXPECT_EQ(Text(r.Body, "popis"), c.Popis);
    EXPECT_EQ(Text(r.Body, "hash"), "<missing>");
  }
  auto refused = Sandbox->InventoryLines("refused");
  EXPECT_EQ(refused.size(), std::size(cases));
  EXPECT_TRUE(Contains(refused, "refused order step=1 standin=production user=nobody hodnota=1 reason=Neplatné"));
  EXPECT_TRUE(Contains(refused, "refused order step=2 standin=test user= hodnota=4 hash=" + productionHash));
  EXPECT_FALSE(Contains(Sandbox->InventoryLines("volume " + productionHash), "v.7z.001"));
  EXPECT_FALSE(Exists(Sandbox->DataDir() + "/escape")) << "a hash with path steps stored a volume";

  // A file name with folders is stored under its last part, inside the transfer's folder.
  auto stored = Upload(productionHash, volume + ";filename=../../evil.7z.001");
  EXPECT_EQ(Text(stored.Body, "popis"), "Soubor evil.7z.001 přijat");
  EXPECT_EQ(Sandbox->InventoryLines("volume " + productionHash),
            std::vector<std::string>{"volume " + productionHash + " size=1 name=evil.7z.001"});
  EXPECT_FALSE(Exists(Sandbox->DataDir() + "/evil.7z.001"));
}

// ---- letter service -----------------------------------------------------------------------

TEST_F(SandboxTest, AcceptedShipmentAnswersWithItsNumbers) {
  std::string file = Work.Write("z1.xml", "<?xml version=\"1.0\"?>\n<zasilky><zasilka id=\"1\"/></zasilky>\n");
  auto r = Letter(file);
  ASSERT_EQ(r.Status, 200);
  pugi::xml_document d;
  ASSERT_TRUE(d.load_string(r.Body.c_str()));
  EXPECT_STREQ(d.select_node("//chyby").node().attribute("stav").value(), "0");
  EXPECT_STREQ(d.select_node("//kod_objednavky").node().text().get(), "KZ0000001");
  EXPECT_STREQ(d.select_node("//podaci_cislo").node().text().get(), "RR000000001CZ");
  EXPECT_EQ(Sandbox->InventoryLines("shipment"),
            std::vector<std::string>{"shipment KZ0000001 podaci_cislo=RR000000001CZ standin=production user=demo duplicita=1 "
                                     "size=" + std::to_string(ReadText(file).size()) + " sha256=" + Sha256Of(file) + " file=z1.xml"});
  EXPECT_EQ(ReadText(Sandbox->DataDir() + "/shipments/KZ0000001.xml"), ReadText(file));
}

// A refusal as the client reads it: the first "chyba" below a "chyby" child with stav 1;
// its description is its second child node, white-space text nodes counted.
struct TLetterError {
  std::string RootState, Code, Description, Order;
};

TLetterError ReadLetterError(const std::string& Body) {
  pugi::xml_document d;
  if (!d.load_string(Body.c_str(), pugi::parse_default | pugi::parse_ws_pcdata)) return {"<unparsed>", "", "", ""};
  TLetterError e;
  pugi::xml_node chyby = d.select_node("//chyby").node();
  e.RootState = chyby.attribute("stav").value();
  for (pugi::xml_node child : chyby.children()) {
    if (child.type() != pugi::node_element || std::string(child.attribute("stav").value()) != "1") continue;
    pugi::xml_node chyba = child.child("chyba");
    e.Code = chyba.attribute("kod").value();
    pugi::xml_node second = chyba.first_child().next_sibling();
    e.Description = second.type() == pugi::node_element ? second.text().get() : second.value();
  }
  e.Order = d.select_node("//kod_objednavky").node().text().get();
  return e;
}

TEST_F(SandboxTest, LetterRefusalsCarryKodAndDescriptionWhereTheClientReadsThem) {
  std::string good = Work.Write("ok.xml", "<zasilky/>");
  ASSERT_EQ(ReadLetterError(Letter(good).Body).RootState, "0");
  struct TCase {
    const char* What;
    std::string File;
    std::string Password;
    const char* Code;
    const char* Description;
  } cases[] = {
      {"wrong password", good, "x", "-1", "Neplatné uživatelské jméno nebo heslo"},
      {"not well-formed", Work.Write("bad.xml", "<zasilky><zasilka></zasilky>"), "demo123", "-3",
       "Soubor zásilky není správně utvořený XML dokument: "},
      {"no root element", Work.Write("empty.xml", "<?xml version=\"1.0\"?>"), "demo123", "-3",
       "Soubor zásilky není správně utvořený XML dokument: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    auto r = Letter(c.File, "0", c.Password);
    EXPECT_EQ(r.Status, 200);
    auto e = ReadLetterError(r.Body);
    EXPECT_EQ(e.RootState, "1");
    EXPECT_EQ(e.Code, c.Code);
    EXPECT_EQ(e.Description.rfind(c.Description, 0), 0u) << e.Description;
    EXPECT_EQ(e.Order, "");
  }
  auto noFile = Post(*Sandbox, LetterPath, {{"user", "demo"}, {"password", "demo123"}, {"duplicita", "1"}});
  EXPECT_EQ(ReadLetterError(noFile.Body).Code, "-2");
  EXPECT_EQ(Sandbox->InventoryLines("refused").size(), std::size(cases) + 1);
  EXPECT_EQ(Sandbox->InventoryLines("shipment").size(), 1u);
}

TEST_F(SandboxTest, DuplicateContentIsRefusedOnlyWithTheCheckOnAndOnlyOnTheSameStandIn) {
  std::string first = Work.Write("a.xml", "<zasilky><zasilka id=\"7\"/></zasilky>");
  std::string sameContent = Work.Write("b.xml", ReadText(first));
  ASSERT_EQ(ReadLetterError(Letter(first).Body).RootState, "0");

  auto dup = ReadLetterError(Letter(sameContent, "1").Body);
  EXPECT_EQ(dup.RootState, "1");
  EXPECT_EQ(dup.Code, "-35");
  EXPECT_EQ(dup.Order, "KZ0000001") << "the earlier order code";
  EXPECT_FALSE(dup.Description.empty());

  EXPECT_EQ(ReadLetterError(Letter(sameContent, "0").Body).RootState, "0") << "duplicita 0 accepts it again";
  EXPECT_EQ(ReadLetterError(Letter(sameContent, "1", "demo123", true).Body).RootState, "0")
      << "the test stand-in keeps its own shipments";
  EXPECT_EQ(ReadLetterError(Letter(Work.Write("c.xml", "<zasilky><zasilka id=\"8\"/></zasilky>"), "1").Body).RootState, "0");

  auto shipments = Sandbox->InventoryLines("shipment");
  ASSERT_EQ(shipments.size(), 4u);
  EXPECT_TRUE(Contains(shipments, "shipment KZ0000003 podaci_cislo=RR000000003CZ standin=test"));
  EXPECT_TRUE(Contains(Sandbox->InventoryLines("refused"), "refused letter standin=production user=demo kod=-35 kod_objednavky=KZ0000001"));
}

// ---- version service ------------------------------------------------------------------------

TEST_F(SandboxTest, VersionQueryOffersTheConfiguredVersion) {
  EXPECT_EQ(Version("4").Body, "Version: 1.0.5") << "by default the client's own version";
  ASSERT_TRUE(Sandbox->SetVersion("1.0.6"));
  EXPECT_EQ(Version("4").Body, "Version: 1.0.6");
  ASSERT_TRUE(Sandbox->Reset());
  EXPECT_EQ(Version("4").Body, "Version: 1.0.5");

  Sandbox.reset();
  TSandboxOptions o;
  o.Version = "2.0.0";
  Sandbox = Start(o);
  EXPECT_EQ(Version("4").Body, "Version: 2.0.0");
  auto bad = Version("7");
  EXPECT_EQ(bad.Status, 400);
  EXPECT_EQ(Version("5").Status, 404) << "no package folder given";
  auto versions = Sandbox->InventoryLines("version");
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0], "version standin=production type=4 apltype=zentrik_w offered=2.0.0");
  EXPECT_EQ(Sandbox->InventoryLines("refused").size(), 2u);
}

TEST_F(SandboxTest, PackageRequestAnswersAZipOfThePackageFolder) {
  TTempDir pkg;
  pkg.Write("update.list", "update.exe\r\napl zentrik;zentrik\r\n");
  pkg.Write("zentrik", "new client");
  pkg.Write("lang/cs.txt", "čeština");
  Sandbox.reset();
  TSandboxOptions o;
  o.Version = "1.0.6";
  o.PackageDir = pkg.Path();
  Sandbox = Start(o);
  auto r = Post(*Sandbox, VersionPath, {{"type", "5"}, {"version", "1.0.6"}, {"apltype", "zentrik_w"}}, false,
                {"-o", Work / "p.zip"});
  ASSERT_EQ(r.Status, 200);
  auto x = RunProcess("/usr/bin/7z", {"x", "-y", "-o" + Work / "out", Work / "p.zip"});
  ASSERT_EQ(x.ExitCode, 0) << x.Out;
  EXPECT_EQ(ListNames(Work / "out"), (std::vector<std::string>{"lang", "update.list", "zentrik"}));
  for (const char* f : {"update.list", "zentrik", "lang/cs.txt"}) EXPECT_EQ(ReadText(Work / ("out/" + std::string(f))), ReadText(pkg / f)) << f;
  EXPECT_TRUE(Contains(Sandbox->InventoryLines("version"), "type=5 apltype=zentrik_w size="));
  EXPECT_TRUE(Contains(Sandbox->InventoryLines("version"), "version=1.0.6"));
}

// ---- misbehaviour -----------------------------------------------------------------------------

TEST_F(SandboxTest, FaultRulesHitTheNextRequestsOfTheirTarget) {
  std::string hash = OpenTransfer();
  std::string vol = Work.Write("x.7z.001", "data");
  ASSERT_TRUE(Sandbox->FailNext("order2", 503, 2));
  ASSERT_TRUE(Sandbox->DropNext("order2"));
  EXPECT_EQ(Post(*Sandbox, VersionPath, {{"type", "4"}}).Status, 200) << "other targets are not hit";
  EXPECT_EQ(Close(hash).Status, 200) << "other steps are not hit";
  EXPECT_EQ(Upload(hash, vol).Status, 503);
  EXPECT_EQ(Upload(hash, vol).Status, 503);
  EXPECT_NE(Upload(hash, vol).CurlExit, 0) << "the drop queued behind the failures";
  auto ok = Upload(hash, vol);
  EXPECT_EQ(ok.Status, 200);
  EXPECT_EQ(Text(ok.Body, "hodnota"), "0");
  auto faults = Sandbox->InventoryLines("fault");
  EXPECT_EQ(faults, (std::vector<std::string>{"fault order step=2 standin=production kind=fail status=503",
                                              "fault order step=2 standin=production kind=fail status=503",
                                              "fault order step=2 standin=production kind=drop"}));
}

TEST_F(SandboxTest, EachKindOfMisbehaviour) {
  std::string small = Work.Write("s.7z.001", "data");
  std::string big = Work.Write("b.7z.001", std::string(4 * 1024 * 1024, 'v'));
  std::string shipment = Work.Write("z.xml", "<zasilky/>");
  struct TCase {
    const char* What;
    std::string Command;
    std::function<void(SandboxTest&)> Check;
  } cases[] = {
      {"status for a letter", "fail=letter&status=502",
       [&](SandboxTest& T) { EXPECT_EQ(T.Letter(shipment).Status, 502); }},
      {"drop before the answer", "drop=letter",
       [&](SandboxTest& T) {
         auto r = T.Letter(shipment);
         EXPECT_NE(r.CurlExit, 0);
         EXPECT_EQ(r.Status, 0) << "no answer at all";
       }},
      {"drop while a volume is still being sent", "drop=order2",
       [&](SandboxTest& T) {
         std::string h = T.OpenTransfer();
         EXPECT_NE(T.Upload(h, big).CurlExit, 0);
         EXPECT_TRUE(T.Sandbox->InventoryLines("volume " + h).empty()) << "nothing of it is kept";
       }},
      {"stall", "stall=version4&ms=800",
       [&](SandboxTest& T) {
         auto r = T.Version("4");
         EXPECT_EQ(r.Body, "Version: 1.0.5") << "served after the wait";
         EXPECT_GE(r.Seconds, 0.8);
       }},
      {"stall longer than the client waits", "stall=order1&ms=3000",
       [&](SandboxTest& T) {
         auto r = Post(*T.Sandbox, OrderPath, {{"krok", "1"}}, false, {"-m", "0.5"});
         EXPECT_EQ(r.CurlExit, 28) << "curl time-out";
       }},
      {"malformed order answer", "malformed=order1",
       [&](SandboxTest& T) {
         auto r = Post(*T.Sandbox, OrderPath, {{"krok", "1"}, {"user", "demo"}, {"passwd", "demo123"}, {"standzak", "S"}});
         EXPECT_EQ(r.Status, 200);
         EXPECT_FALSE(ParsesAsXml(r.Body)) << r.Body;
       }},
      {"malformed letter answer", "malformed=letter",
       [&](SandboxTest& T) { EXPECT_FALSE(ParsesAsXml(T.Letter(shipment).Body)); }},
      {"malformed version answer", "malformed=version4",
       [&](SandboxTest& T) { EXPECT_NE(T.Version("4").Body.rfind("Version", 0), 0u); }},
      {"hash of 39", "hash=39", [&](SandboxTest& T) { EXPECT_EQ(T.OpenTransfer().size(), 39u); }},
      {"hash of 41", "hash=41", [&](SandboxTest& T) { EXPECT_EQ(T.OpenTransfer().size(), 41u); }},
      {"step 2 without popis", "nopopis=order2",
       [&](SandboxTest& T) {
         auto r = T.Upload(T.OpenTransfer(), small);
         EXPECT_EQ(Text(r.Body, "hodnota"), "0");
         EXPECT_EQ(Text(r.Body, "popis"), "<missing>");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    ASSERT_TRUE(Sandbox->Control(c.Command));
    c.Check(*this);
    std::string rules;
    ASSERT_TRUE(Sandbox->Control("rules", &rules));
    EXPECT_EQ(rules, "ok\nversion=1.0.5\n") << "the rule was used up";
  }
  EXPECT_EQ(Sandbox->InventoryLines("fault").size(), std::size(cases));
  EXPECT_TRUE(Contains(Sandbox->InventoryLines("fault"), "fault order step=2 standin=production kind=drop"));
}

TEST_F(SandboxTest, RulesGivenAtStartAndBadCommandsRefused) {
  Sandbox.reset();
  TSandboxOptions o;
  o.Misbehave = {"fail=any&status=500&count=2", "hash=41"};
  Sandbox = Start(o);
  EXPECT_EQ(Version("4").Status, 500);
  EXPECT_EQ(Post(*Sandbox, OrderPath, {{"krok", "1"}}, true).Status, 500) << "any: the test stand-in too";
  EXPECT_EQ(OpenTransfer().size(), 41u);

  for (const char* bad : {"", "bogus=1", "fail=ordr2", "fail=order2&status=99", "fail=order&count=0",
                          "stall=order", "nopopis=letter", "hash=abc", "drop=order&ms=5"}) {
    std::string answer;
    EXPECT_FALSE(Sandbox->Control(bad, &answer)) << bad;
    EXPECT_NE(answer.find_first_not_of(" \n"), std::string::npos) << "a reason is given for " << bad;
  }
  std::string rules;
  ASSERT_TRUE(Sandbox->Control("rules", &rules));
  EXPECT_EQ(rules, "ok\nversion=1.0.5\n") << "refused commands change nothing";
  auto viaGet = Curl({}, Sandbox->ProductionUrl() + "/_sandbox/control?fail=letter%26status=418", Sandbox->CaFile());
  EXPECT_EQ(viaGet.Status, 400) << "an escaped '&' stays part of the target";
  auto get = Curl({}, Sandbox->ProductionUrl() + "/_sandbox/control?fail=letter&status=418", Sandbox->CaFile());
  EXPECT_EQ(get.Status, 200);
  EXPECT_EQ(Letter(Work.Write("z.xml", "<a/>")).Status, 418);
  EXPECT_EQ(Curl({}, Sandbox->TestUrl() + "/_sandbox/control?reset", Sandbox->CaFile()).Status, 404)
      << "control only on the production port";
}

// ---- inventory, secrets, start-up -------------------------------------------------------------

TEST_F(SandboxTest, SecretsAreNeitherStoredNorPrinted) {
  Sandbox.reset();
  TSandboxOptions o;
  o.Accounts = {"firma:Tajne-Heslo-42"};
  Sandbox = Start(o);
  Post(*Sandbox, OrderPath, {{"krok", "1"}, {"user", "firma"}, {"passwd", "Tajne-Heslo-42"}, {"standzak", "S"}});
  Post(*Sandbox, OrderPath, {{"krok", "1"}, {"user", "firma"}, {"passwd", "Spatne-Heslo-43"}, {"standzak", "S"}});
  Post(*Sandbox, LetterPath, {{"user", "firma"}, {"password", "Tajne-Heslo-42"}, {"soubor", Work.Write("z.xml", "<a/>"), true}});
  Post(*Sandbox, LetterPath, {{"user", "firma"}, {"password", "Spatne-Heslo-43"}, {"soubor", Work / "z.xml", true}});
  auto grep = RunProcess("/bin/grep", {"-r", "-l", "-e", "Heslo-4", Sandbox->DataDir()});
  EXPECT_EQ(grep.Out, "") << "found in the data folder";
  EXPECT_EQ(Sandbox->Inventory().find("Heslo-4"), std::string::npos);
  EXPECT_EQ(Sandbox->Output().find("Heslo-4"), std::string::npos);
  EXPECT_TRUE(Contains(Sandbox->InventoryLines("transfer"), "user=firma"));
  EXPECT_EQ(Sandbox->InventoryLines("shipment").size(), 1u);
}

TEST_F(SandboxTest, InventoryOfAFreshFolderAndOfNone) {
  EXPECT_EQ(Sandbox->Inventory(), "summary transfers=0 orders=0 shipments=0 versions=0 refused=0 faults=0\n");
  auto r = RunProcess(BinDir() + "/zentrik-sandbox", {"--data", Work / "missing", "--list"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Err.find("no data folder"), std::string::npos);
  EXPECT_FALSE(Exists(Work / "missing"));
}

TEST_F(SandboxTest, BadStartArgumentsAreRefusedWithAReason) {
  std::string sb = BinDir() + "/zentrik-sandbox";
  std::string data = Work / "d";
  struct TCase {
    std::vector<std::string> Args;
    int Exit;
    const char* Message;
  } cases[] = {
      {{"--port", "1"}, 2, "--data DIR is required"},
      {{"--data", data, "--bogus"}, 2, "unknown argument: --bogus"},
      {{"--data", data, "--port", "70000"}, 2, "not a port number"},
      {{"--data", data, "--port", "20001", "--test-port", "20001"}, 2, "different ports"},
      {{"--data", data, "--account", "nopassword"}, 2, "--account takes user:password"},
      {{"--data", data, "--misbehave", "fail=nowhere"}, 2, "unknown target"},
      {{"--data", data, "--ca-dir", Work / "ca", "--port", std::to_string(Sandbox->Port()), "--test-port",
        std::to_string(TSandbox::FreePort())},
       1, "cannot listen on 127.0.0.1:"},
  };
  for (const auto& c : cases) {
    auto r = RunProcess(sb, c.Args, "", "", 30000);
    EXPECT_EQ(r.ExitCode, c.Exit) << c.Message;
    EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
    EXPECT_EQ(r.Out.find("ready"), std::string::npos);
  }
}

TEST_F(SandboxTest, TwoSandboxesStartingTogetherShareOneNewCa) {
  TTempDir ca;
  TSandboxOptions o;
  o.Port = -1;
  o.TestPort = -1;
  o.CaDir = ca.Path();
  std::unique_ptr<TSandbox> a, b;
  std::thread ta([&] { a = std::make_unique<TSandbox>(o); });
  std::thread tb([&] { b = std::make_unique<TSandbox>(o); });
  ta.join();
  tb.join();
  ASSERT_TRUE(a && b);
  for (TSandbox* s : {a.get(), b.get()}) {
    EXPECT_EQ(Curl({"--form-string", "type=4"}, s->ProductionUrl() + VersionPath, ca / "ca.pem").Status, 200);
    EXPECT_EQ(Curl({"--form-string", "type=4"}, s->TestUrl() + VersionPath, ca / "ca.pem").Status, 200);
  }
}

}  // namespace
