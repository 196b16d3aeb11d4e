// `zentrik orvel` end to end: the built client against the sandbox over real HTTPS, read
// through its console, its transfer and application logs, the control files and what the
// sandbox received.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "uSandboxProcess.h"
#include "uTestSupport.h"

using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using testing::SizeIs;
using namespace TestSupport;

namespace {

std::string Sha256(const std::string& Bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  EVP_Digest(Bytes.data(), Bytes.size(), md, &len, EVP_sha256(), nullptr);
  static const char* hex = "0123456789abcdef";
  std::string r;
  for (unsigned i = 0; i < len; ++i) {
    r += hex[md[i] >> 4];
    r += hex[md[i] & 15];
  }
  return r;
}

std::string Document(size_t Size, unsigned Seed) {
  std::mt19937 rng(Seed);
  std::string s;
  while (s.size() < Size) {
    s += "%PDF-1.4 obj " + std::to_string(rng() % 1000) + " stream\n";
    for (int i = 0; i < 512; ++i) s += static_cast<char>(rng());
  }
  s.resize(Size);
  return s;
}

class OrvelEndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    fDocs = {fWork.Write("docs/faktura 1.pdf", Document(700000, 1)), fWork.Write("docs/dopis.pdf", Document(20000, 2)),
             fWork.Write("docs/p\xC5\x99\xC3\xADloha.txt", "P\xC5\x99\xC3\xADloha k zak\xC3\xA1zce\n")};
    fOrder = Order("zakazka.cfg");
  }
  std::string Order(const std::string& Name, const std::string& StandZak = "STD1") {
    std::string text = "jmeno=demo\nheslo=demo123\nstandzak=" + StandZak + "\npoznamka=Faktury za b\xC5\x99" "ezen\n";
    for (const auto& d : fDocs) text += "soubor=" + d + "\n";
    return fWork.Write(Name, text);
  }
  TClientRun Run(std::vector<std::string> Args) {
    Args.push_back("-t=" + fWork / "tmp");
    TClientRun r = RunClient(fWork.Path(), Args, 120000);
    EXPECT_FALSE(r.Process.TimedOut);
    EXPECT_EQ(r.Process.ExitCode, 0);
    // Whatever happened, no volume is left behind.
    EXPECT_THAT(ListNames(fWork / "tmp"), IsEmpty());
    return r;
  }
  // The transfer log of an order file, from the folder it was written to.
  std::string TransferLog(const std::string& Dir, const std::string& Tag) const {
    std::string all;
    for (const auto& name : ListNames(Dir))
      if (name.ends_with("." + Tag + ".log")) all += ReadText(Dir + "/" + name);
    return all;
  }
  // The codes of a transfer log's entries in order, with the level's first letter.
  static std::vector<std::string> Codes(const std::string& Log) {
    std::vector<std::string> r;
    for (const auto& line : Lines(Log)) {
      auto p = line.find("][");
      if (line.size() > 38 && p == 33) r.push_back(line.substr(25, 1) + line.substr(p + 2, 3));
    }
    return r;
  }

  TSandbox fSandbox;
  TTempDir fWork;
  std::vector<std::string> fDocs;
  std::string fOrder;
};

TEST_F(OrvelEndToEnd, OneOrderOfThreeDocuments) {
  TClientRun run = Run({"orvel", "-f=" + fOrder});
  EXPECT_THAT(run.Console, Contains("Start vlákna zakazka.cfg"));
  EXPECT_THAT(run.Console, Contains("Komprese dat"));
  EXPECT_THAT(run.Console, Contains(HasSubstr("Odesílání souboru " + fWork / "tmp/zakaz")));
  EXPECT_THAT(run.Console, Contains("Uzavírání zakázky"));
  EXPECT_THAT(run.Console, Contains("Zakázka zakazka.cfg byla uzavřena pod číslem ZK0000001"));
  EXPECT_THAT(run.Process.Err, IsEmpty()) << "progress only ever goes to a terminal";
  EXPECT_THAT(run.AppLog, HasSubstr("[150] Zakázka zakazka.cfg byla přenesena a uzavřena pod číslem ZK0000001 [APL]"));

  const std::string log = TransferLog(fWork.Path(), "zakazka.cfg");
  EXPECT_THAT(Codes(log), ElementsAre("I000", "I006", "I110", "I111", "I111", "I111", "I120", "I121", "I130", "I140",
                                      "I150"));
  EXPECT_THAT(log, HasSubstr("[INFO    ][006] Faktury za březen [zakazka.cfg]"));
  EXPECT_THAT(log, HasSubstr("[INFO    ][111] Přidán soubor " + fDocs[0] + " [zakazka.cfg]"));
  EXPECT_TRUE(Exists(fOrder + ".ok"));
  EXPECT_EQ(ReadText(fOrder + ".ok"), "");

  // What arrived is, byte for byte, what the order listed.
  auto entries = fSandbox.InventoryLines("entry");
  ASSERT_THAT(entries, SizeIs(3));
  for (size_t i = 0; i < fDocs.size(); ++i) {
    const std::string name = fDocs[i].substr(fDocs[i].rfind('/') + 1);
    EXPECT_THAT(entries, Contains(AllOf(HasSubstr("sha256=" + Sha256(ReadText(fDocs[i]))), HasSubstr("name=" + name))))
        << name;
  }
  EXPECT_THAT(fSandbox.InventoryLines("order"), ElementsAre(AllOf(HasSubstr("standzak=STD1"), HasSubstr("user=demo"))));
}

TEST_F(OrvelEndToEnd, FirstOfTwoOrderFilesMissing) {
  const std::string second = Order("druha.cfg");
  TClientRun run = Run({"orvel", "-f:(" + fWork / "chybi.cfg" + "," + second + ")", "-k=0"});
  EXPECT_THAT(run.Console, Contains("Neexistuje cesta ke konfiguračnímu souboru " + fWork / "chybi.cfg" + "."));
  EXPECT_THAT(run.AppLog, HasSubstr("Neexistuje cesta ke konfiguračnímu souboru " + fWork / "chybi.cfg" + ". [APL]"));
  EXPECT_THAT(run.Console, Contains("Zakázka druha.cfg byla uzavřena pod číslem ZK0000001"));
  // -k=0: no control file at all.
  EXPECT_FALSE(Exists(second + ".ok"));
  EXPECT_FALSE(Exists(fWork / "chybi.cfg.ko"));
  EXPECT_THAT(fSandbox.InventoryLines("order"), SizeIs(1));
}

TEST_F(OrvelEndToEnd, LogFolderGivenAndTheFirstUploadFailing) {
  ASSERT_TRUE(fSandbox.FailNext("order2", 503, 1));
  TClientRun run = Run({"orvel", "-f=" + fOrder, "-lf=" + fWork / "vysledky"});
  EXPECT_THAT(run.Console, Contains(HasSubstr("Pokus č. 1 o odeslání souboru ")));
  EXPECT_THAT(run.Console, Contains("Zakázka zakazka.cfg byla uzavřena pod číslem ZK0000001"));
  const std::string log = TransferLog(fWork / "vysledky", "zakazka.cfg");
  EXPECT_THAT(Codes(log), ElementsAre("I000", "I006", "I110", "I111", "I111", "I111", "I120", "I121", "I130", "W132",
                                      "I131", "I140", "I150"));
  EXPECT_THAT(log, HasSubstr("[WARN    ][132] Nepodařilo se přenést soubor na server "));
  EXPECT_THAT(log, HasSubstr("[INFO    ][131] Pokus č. 1 o odeslání souboru "));
  EXPECT_TRUE(Exists(fWork / "vysledky/zakazka.cfg.ok"));
  EXPECT_FALSE(Exists(fOrder + ".ok")) << "with -lf nothing lands beside the order file";
  EXPECT_THAT(fSandbox.InventoryLines("entry"), SizeIs(3));
}

TEST_F(OrvelEndToEnd, CloseRefusedFourTimes) {
  ASSERT_TRUE(fSandbox.FailNext("order3", 500, 4));
  TClientRun run = Run({"orvel", "-f=" + fOrder});
  // The failure is reported twice: once before [144] is raised, once by the final handling.
  EXPECT_EQ(std::count(run.Console.begin(), run.Console.end(), "Nepodařilo se zpracovat zakázku zakazka.cfg"), 2);
  EXPECT_THAT(run.AppLog, HasSubstr("[900] Nepodařilo se zpracovat zakázku zakazka.cfg. Chyba: "));
  const std::string log = TransferLog(fWork.Path(), "zakazka.cfg");
  EXPECT_THAT(log, HasSubstr("[WARN    ][141] Uzavírání zakázky, pokus č. 3 [zakazka.cfg]"));
  EXPECT_THAT(log, HasSubstr("[ERROR   ][144] Nepodařilo se uzavřít zakázku [zakazka.cfg]"));
  EXPECT_TRUE(Exists(fOrder + ".ko"));
  EXPECT_FALSE(Exists(fOrder + ".ok"));
  EXPECT_THAT(fSandbox.InventoryLines("order"), IsEmpty());
}

TEST_F(OrvelEndToEnd, TestSwitchReachesTheTestStandIn) {
  TClientRun run = Run({"orvel", "-test", "-f=" + fOrder});
  EXPECT_THAT(run.Console, Contains("Zakázka zakazka.cfg byla uzavřena pod číslem ZK0000001"));
  EXPECT_THAT(fSandbox.InventoryLines("transfer"), ElementsAre(HasSubstr("standin=test")));
}

}  // namespace
