#include "uMessages.h"

#include <gtest/gtest.h>

#include <vector>

#include "uFunction.h"
#include "uStrings.h"
#include "uVersion.h"
#include "zentrik_config.h"

namespace {

std::string TestHost() {
  std::string protocol, user, password, host, port, path, query;
  ParseURL(zentrik_config::TestUrl, protocol, user, password, host, port, path, query);
  return host;
}

// The help text is read by people and by scripts: every line, blank and separator counts.
TEST(Messages, HelpTextLinesAndSeparators) {
  const std::vector<std::string> expected = {
      "Aplikace: Zentrik, verze 1.0.5, datum sestavení 26/03/2026 ",
      "Parametry: ",
      "kalvio",
      "orvel",
      "upgrade",
      "-d  =  {0,1}  Kontrola duplicity u služby Kalvio. 0=vypnuto,1=zapnuto. Defaultně je kontrola zapnuta",
      "-f  =  {soubor}  orvel - konfigurační soubor/y pro vytvoření zakázky, kalvio - XML soubor. Formát -f=\"soubor\", "
      "-f:(\"soubor\"), nebo -f:(\"soubor\",\"soubor\"...)",
      "-k  =  {0,1}  Pouze u služby Orvel. Určuje, zda se vytvoří kontrolní soubor .ok, nebo .ko (0=vypnuto,1=zapnuto). "
      "Defaultně je nastaveno 1",
      "-l  =  {cesta}  Adresář pro uložení logu apliakce. Pokud se nevyplní, použije se adresář logs",
      "-ln =  {název}  Název souboru pro log aplikace. Pokud není přepínač uveden, použije se defaultní název.",
      "-lf =  {cesta}  Adresář pro uložení logu apliakce. Pokud se nevyplní, použije se adresář logs u aplikace",
      "-lfn = {název}  Název souboru pro log, který se vztahuje k přenosu zakázky/zásilky. Pokud není přepínač uveden, "
      "použije se defaultní název.",
      "-p  =  {heslo}  Heslo",
      "-t  =  {cesta}  Adresář pro dočasné soubory. Pokud se nevyplní, použije se adresář tmp",
      "-u  =  {uživatel}  Uživatelské jméno",
      "-x  =  {<[protocol://][user:password@]proxyhost[:port]>}  Nastavení proxy",
      "-test  Pokud je přepínač uveden, je zapnut testovací režim. Vše se odesílá na testovací server " + TestHost() +
          " a nic se nezpracovává",
  };
  std::string joined;
  for (size_t i = 0; i < expected.size(); ++i) joined += (i ? "\n\r" : "") + expected[i];

  std::string help = Format(MsgHelp, AppVersion, AppBuildDate);
  EXPECT_EQ(help, joined);
  EXPECT_EQ(help.find("\r\n"), std::string::npos);
  EXPECT_TRUE(StartsWith(help, "Aplikace: Zentrik, verze 1.0.5, datum sestavení 26/03/2026 \n\r"));
  EXPECT_FALSE(EndsWith(help, "\r"));
}

TEST(Messages, TestModeNamesTheTestBaseAddress) {
  std::string base = zentrik_config::TestUrl;
  EXPECT_EQ(MsgTestMode, "Aplikace přepnuta do testovacího režimu. Vše se odesílá na testovací server " + base +
                             ". Data se nijak nezpracovávají");
  EXPECT_NE(base.back(), '/');
}

TEST(Messages, CodesAndFormatting) {
  struct TCase {
    std::string Text, Expected;
  };
  const TCase cases[] = {
      {WithoutCode(MsgThreadStart), "Start vlákna "},
      {Format(MsgSendVolumeRetry, 2, "a.7z.001", 3, 5), "[131] Pokus č. 2 o odeslání souboru a.7z.001 (3/5)"},
      {WithoutCode(Format(MsgOrderTransferred, "Z-1")), "Zakázka byla přenesena a uzavřena pod číslem Z-1"},
      {Format(MsgShipmentDuplicate, "a.xml", "dup", "RR1"),
       "[900] Nepodařilo se zpracovat zásilku a.xml. Chyba: dup. Zásilka byla již odesláná pod číslem RR1"},
      {Format(MsgDirNotCreated, "/x/y"), "Nepodařilo se vytvořit adresář: /x/y"},
      {WithoutCode(MsgAppEnd), "Konec aplikace"},  // no code: whole
      {WithoutCode("[12] x"), "[12] x"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Text, c.Expected);
  // Separate entries that share a text, and texts that differ only in their code.
  EXPECT_EQ(MsgSendVolumeFailed, MsgSendFileFailed);
  EXPECT_EQ(WithoutCode(MsgAnswerFailed), WithoutCode(MsgSendAnswerFailed));
  EXPECT_EQ(WithoutCode(MsgAnswerFailed), WithoutCode(MsgCloseAnswerFailed));
  EXPECT_EQ(WithoutCode(MsgConnectFailed), WithoutCode(MsgCloseConnectFailed));
}

}  // namespace
