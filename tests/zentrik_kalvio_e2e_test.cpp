// `zentrik kalvio` end to end: the built client against the sandbox over real HTTPS, read
// through its console, its application log and the result files it leaves.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "uSandboxProcess.h"
#include "uTestSupport.h"

using testing::Contains;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;
using testing::SizeIs;
using namespace TestSupport;

namespace {

const std::string Shipment =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<zasilka>\n  <adresat>Jana Nováková</adresat>\n</zasilka>\n";

class KalvioEndToEnd : public testing::Test {
 protected:
  // Runs zentrik in the work folder; the application logs of earlier runs are removed first,
  // so AppLog holds this run's records only.
  TClientRun Run(std::vector<std::string> Args) {
    TClientRun r = RunClient(fWork.Path(), Args);
    EXPECT_FALSE(r.Process.TimedOut);
    EXPECT_EQ(r.Process.ExitCode, 0);
    return r;
  }

  static std::vector<std::string> With(std::vector<std::string> Args, const std::vector<std::string>& More) {
    Args.insert(Args.end(), More.begin(), More.end());
    return Args;
  }

  std::vector<std::string> Shipments() const { return fSandbox.InventoryLines("shipment"); }

  TSandbox fSandbox;
  TTempDir fWork;
  std::string fInput = fWork.Write("s1.xml", Shipment);
  const std::vector<std::string> Credentials{"kalvio", "-u=demo", "-p=demo123"};
};

// Accepted, then refused as a duplicate naming the earlier number, then accepted again with
// the duplicate check switched off.
TEST_F(KalvioEndToEnd, AcceptedDuplicateAndUncheckedAgain) {
  TClientRun first = Run(With(Credentials, {"-f=s1.xml"}));
  EXPECT_THAT(first.Console, Contains("Start vlákna s1.xml"));
  EXPECT_THAT(first.Console, Contains("Odesílání souboru s1.xml"));
  EXPECT_THAT(first.Console, Contains("Zásilka byla založena pod číslem KZ0000001"));
  EXPECT_THAT(first.AppLog, HasSubstr("[150] Zásilka byla přenesena a založena pod číslem KZ0000001 [APL]"));
  const std::string ok = ReadText(fWork / "s1.xml.ok.xml");
  EXPECT_THAT(ok, HasSubstr("<chyby stav=\"0\"/>"));
  EXPECT_THAT(ok, HasSubstr("<kod_objednavky>KZ0000001</kod_objednavky>"));
  ASSERT_THAT(Shipments(), SizeIs(1));
  EXPECT_THAT(Shipments()[0], HasSubstr("KZ0000001"));

  TClientRun again = Run(With(Credentials, {"-f=s1.xml"}));
  EXPECT_THAT(again.Console, Contains("Zásilka se stejným obsahem již byla přijata"));
  EXPECT_THAT(again.Console, Contains("[133] Nepodařil se přenos souboru"));
  EXPECT_THAT(again.Console, Contains("Nepodařilo se zpracovat zásilku s1.xml"));
  EXPECT_THAT(again.AppLog, HasSubstr("[900] Nepodařilo se zpracovat zásilku s1.xml. Chyba: Zásilka se stejným obsahem "
                                      "již byla přijata. Zásilka byla již odesláná pod číslem KZ0000001 [APL]"));
  const std::string ko = ReadText(fWork / "s1.xml.ko.xml");
  EXPECT_THAT(ko, HasSubstr("<chyba kod=\"-35\">"));
  EXPECT_THAT(ko, HasSubstr("<kod_objednavky>KZ0000001</kod_objednavky>"));
  EXPECT_EQ(ReadText(fWork / "s1.xml.ok.xml"), ok) << "an earlier result file of the other kind stays";
  EXPECT_THAT(Shipments(), SizeIs(1));

  TClientRun unchecked = Run(With(Credentials, {"-d=0", "-f=s1.xml"}));
  EXPECT_THAT(unchecked.Console, Contains("Zásilka byla založena pod číslem KZ0000002"));
  EXPECT_THAT(ReadText(fWork / "s1.xml.ok.xml"), HasSubstr("<kod_objednavky>KZ0000002</kod_objednavky>"));
  EXPECT_THAT(Shipments(), SizeIs(2));
}

TEST_F(KalvioEndToEnd, MissingFileAmongTwoAndResultsInTheLogFolder) {
  fWork.Write("s2.xml", Shipment);
  TClientRun run = Run(With(Credentials, {"-f:(chybi.xml,s2.xml)", "-lf=vysledky"}));
  EXPECT_THAT(run.Console, Contains("PDF soubor chybi.xml neexistuje."));
  EXPECT_THAT(run.AppLog, HasSubstr("PDF soubor chybi.xml neexistuje. [APL]"));
  EXPECT_THAT(run.Console, Contains("Zásilka byla založena pod číslem KZ0000001"));
  EXPECT_THAT(ListNames(fWork / "vysledky"), Contains("s2.xml.ok.xml"));
  EXPECT_FALSE(Exists(fWork / "s2.xml.ok.xml")) << "with -lf nothing lands beside the input";
  EXPECT_THAT(Shipments(), SizeIs(1));
}

TEST_F(KalvioEndToEnd, MissingCredentialsSendNothing) {
  TClientRun run = Run({"kalvio", "-f=s1.xml"});
  EXPECT_THAT(run.AppLog, HasSubstr("[WARNING] Nebylo zadáno uživatelské jméno [APL]"));
  EXPECT_THAT(run.AppLog, HasSubstr("[WARNING] Nebylo zadáno uživatelské heslo [APL]"));
  EXPECT_THAT(run.Console, Not(Contains("Start vlákna s1.xml")));
  EXPECT_THAT(Shipments(), IsEmpty());
  EXPECT_THAT(fSandbox.Inventory(), Not(HasSubstr("letter"))) << "no request reached the letter service";
  EXPECT_FALSE(Exists(fWork / "s1.xml.ok.xml"));
  EXPECT_FALSE(Exists(fWork / "s1.xml.ko.xml"));
}

TEST_F(KalvioEndToEnd, EveryExchangeFailing) {
  // One rule more than the client may use: a fifth exchange would take it.
  ASSERT_TRUE(fSandbox.FailNext("letter", 500, 5));
  TClientRun run = Run(With(Credentials, {"-f=s1.xml"}));
  const std::string failed = "[132] Nepodařilo se přenést soubor na server s1.xml. Chyba: Internal Server Error";
  EXPECT_EQ(std::count(run.Console.begin(), run.Console.end(), failed), 4);
  EXPECT_THAT(run.Console, Contains("Pokus č. 3 o odeslání souboru s1.xml"));
  EXPECT_THAT(run.Console, Contains("[133] Nepodařil se přenos souboru"));
  EXPECT_THAT(run.Console, Contains("Nepodařilo se zpracovat zásilku s1.xml"));
  EXPECT_THAT(run.AppLog, HasSubstr("[900] Nepodařilo se zpracovat zásilku s1.xml. Chyba: Internal Server Error [APL]"));
  // The HTTP diagnostics of the failed exchanges are kept in the application log.
  EXPECT_THAT(run.AppLog, HasSubstr("[ERROR  ] === HTTP ERROR (NON-200) === [APL]"));
  EXPECT_THAT(run.AppLog, Not(HasSubstr("demo123")));
  EXPECT_FALSE(Exists(fWork / "s1.xml.ok.xml"));
  EXPECT_FALSE(Exists(fWork / "s1.xml.ko.xml"));
  EXPECT_THAT(Shipments(), IsEmpty());
  EXPECT_THAT(fSandbox.InventoryLines("fault"), SizeIs(4));
}

}  // namespace
