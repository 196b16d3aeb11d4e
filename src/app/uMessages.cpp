#include "uMessages.h"

#include "zentrik_config.h"

namespace {

// Host name of a base address: scheme and port dropped.
std::string HostOf(const std::string& Url) {
  std::string rest = Url;
  auto scheme = rest.find("://");
  if (scheme != std::string::npos) rest = rest.substr(scheme + 3);
  auto slash = rest.find('/');
  if (slash != std::string::npos) rest = rest.substr(0, slash);
  if (!rest.empty() && rest[0] == '[') {
    auto close = rest.find(']');
    return close == std::string::npos ? rest : rest.substr(0, close + 1);
  }
  auto colon = rest.find(':');
  return colon == std::string::npos ? rest : rest.substr(0, colon);
}

std::string BaseAddress(std::string Url) {
  while (!Url.empty() && Url.back() == '/') Url.pop_back();
  return Url;
}

std::string BuildHelp() {
  static const char* const Lines[] = {
      "Aplikace: Zentrik, verze %s, datum sestavení %s ",
      "Parametry: ",
      "kalvio",
      "orvel",
      "upgrade",
      "-d  =  {0,1}  Kontrola duplicity u služby Kalvio. 0=vypnuto,1=zapnuto. Defaultně je kontrola zapnuta",
      "-f  =  {soubor}  orvel - konfigurační soubor/y pro vytvoření zakázky, kalvio - XML soubor. Formát -f=\"soubor\", -f:(\"soubor\"), nebo -f:(\"soubor\",\"soubor\"...)",
      "-k  =  {0,1}  Pouze u služby Orvel. Určuje, zda se vytvoří kontrolní soubor .ok, nebo .ko (0=vypnuto,1=zapnuto). Defaultně je nastaveno 1",
      "-l  =  {cesta}  Adresář pro uložení logu apliakce. Pokud se nevyplní, použije se adresář logs",
      "-ln =  {název}  Název souboru pro log aplikace. Pokud není přepínač uveden, použije se defaultní název.",
      "-lf =  {cesta}  Adresář pro uložení logu apliakce. Pokud se nevyplní, použije se adresář logs u aplikace",
      "-lfn = {název}  Název souboru pro log, který se vztahuje k přenosu zakázky/zásilky. Pokud není přepínač uveden, použije se defaultní název.",
      "-p  =  {heslo}  Heslo",
      "-t  =  {cesta}  Adresář pro dočasné soubory. Pokud se nevyplní, použije se adresář tmp",
      "-u  =  {uživatel}  Uživatelské jméno",
      "-x  =  {<[protocol://][user:password@]proxyhost[:port]>}  Nastavení proxy",
  };
  std::string text;
  for (const char* line : Lines) {
    text += line;
    text += "\n\r";
  }
  text += "-test  Pokud je přepínač uveden, je zapnut testovací režim. Vše se odesílá na testovací server ";
  text += HostOf(zentrik_config::TestUrl);
  text += " a nic se nezpracovává";
  return text;
}

}  // namespace

const std::string MsgHelp = BuildHelp();

const std::string MsgTestMode =
    "Aplikace přepnuta do testovacího režimu. Vše se odesílá na testovací server " +
    BaseAddress(zentrik_config::TestUrl) + ". Data se nijak nezpracovávají";

std::string WithoutCode(const std::string& Text) {
  if (Text.size() >= 6 && Text[0] == '[' && Text[4] == ']' && Text[5] == ' ') return Text.substr(6);
  return Text;
}
