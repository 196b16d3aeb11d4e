// Every console and log text of the client. Czech, used exactly as written.
// A text that begins with a code ("[nnn] ") is logged with it and shown on the console without it.
#pragma once

#include <string>

inline const std::string MsgAppStart = "Start aplikace";
inline const std::string MsgAppEnd = "Konec aplikace";
inline const std::string MsgNoSwitchF = "Nebyl nalezen přepínač -f, který definuje konfigurační soubor zakázky.";
inline const std::string MsgNoOrderFiles = "Nebyl nalezen konfigurační soubor/y se zakázkou.";
inline const std::string MsgOrderFileMissing = "Neexistuje cesta ke konfiguračnímu souboru %s.";
inline const std::string MsgNoOrderFileLeft = "Počet souborů s konfigurací zakázky je 0.";
inline const std::string MsgShipmentFileMissing = "PDF soubor %s neexistuje.";
inline const std::string MsgNoShipmentFileLeft = "Počet PDF souborů je 0.";
inline const std::string MsgNoUserName = "Nebylo zadáno uživatelské jméno";
inline const std::string MsgNoPassword = "Nebylo zadáno uživatelské heslo";
inline const std::string MsgDirNotCreated = "Nepodařilo se vytvořit adresář: %s";
inline const std::string MsgNewVersion = "[100] Byla nalezena nová verze aplikace č. %s";
inline const std::string MsgUpgradeFailed = "Aktualizace selhala";
inline const std::string MsgOrderClosedConsole = "Zakázka %s byla uzavřena pod číslem %s";
inline const std::string MsgOrderClosed = "[150] Zakázka %s byla přenesena a uzavřena pod číslem %s";
inline const std::string MsgOrderFailedConsole = "Nepodařilo se zpracovat zakázku %s";
inline const std::string MsgOrderFailed = "[900] Nepodařilo se zpracovat zakázku %s. Chyba: %s";
inline const std::string MsgShipmentCreatedConsole = "Zásilka byla založena pod číslem %s";
inline const std::string MsgShipmentCreated = "[150] Zásilka byla přenesena a založena pod číslem %s";
inline const std::string MsgShipmentFailedConsole = "Nepodařilo se zpracovat zásilku %s";
inline const std::string MsgShipmentFailed = "[900] Nepodařilo se zpracovat zásilku %s. Chyba: %s";
inline const std::string MsgShipmentDuplicate = "[900] Nepodařilo se zpracovat zásilku %s. Chyba: %s. Zásilka byla již odesláná pod číslem %s";
inline const std::string MsgThreadStart = "[000] Start vlákna ";
inline const std::string MsgPassOn = "[006] %s";
inline const std::string MsgConfigError = "[101] Chyba v konfiguračním souboru";
inline const std::string MsgConfigNotRead = "[102] Nepodařilo se načíst konfigurační soubor %s.";
inline const std::string MsgConfigNoUser = "[104] Není vyplněno uživatelské jméno";
inline const std::string MsgConfigNoPassword = "[105] Není vyplněno uživatelské heslo";
inline const std::string MsgConfigNoStandZak = "[106] Není vyplněna standardní zakázka";
inline const std::string MsgFileNotRead = "[107] Nepodařilo se načíst soubor %s.";
inline const std::string MsgCompress = "[110] Komprese dat";
inline const std::string MsgFileAdded = "[111] Přidán soubor %s";
inline const std::string MsgCompressFailed = "[112] Nepodařila se komprese dat. Chyba: %s";
inline const std::string MsgConnect = "[120] Spojení k serveru";
inline const std::string MsgHashMade = "[121] Vygenerován HASH pro přenos %s";
inline const std::string MsgConnectFailed = "[122] Nepodařilo se připojit k serveru. Chyba: %s";
inline const std::string MsgAnswerFailed = "[123] Nepodařilo se načíst odpověď ze serveru. Chyba: %s";
inline const std::string MsgSendVolume = "[130] Odesílání souboru %s (%d/%d)";
inline const std::string MsgSendVolumeRetry = "[131] Pokus č. %d o odeslání souboru %s (%d/%d)";
inline const std::string MsgSendVolumeFailed = "[132] Nepodařilo se přenést soubor na server %s. Chyba: %s";
inline const std::string MsgSendVolumesFailed = "[133] Nepodařil se přenos souborů";
inline const std::string MsgSendAnswerFailed = "[134] Nepodařilo se načíst odpověď ze serveru. Chyba: %s";
inline const std::string MsgCloseOrder = "[140] Uzavírání zakázky";
inline const std::string MsgCloseOrderRetry = "[141] Uzavírání zakázky, pokus č. %d";
inline const std::string MsgCloseAnswerFailed = "[142] Nepodařilo se načíst odpověď ze serveru. Chyba: %s";
inline const std::string MsgCloseConnectFailed = "[143] Nepodařilo se připojit k serveru. Chyba: %s";
inline const std::string MsgCloseFailed = "[144] Nepodařilo se uzavřít zakázku";
inline const std::string MsgOrderTransferred = "[150] Zakázka byla přenesena a uzavřena pod číslem %s";
inline const std::string MsgSendFile = "[130] Odesílání souboru %s";
inline const std::string MsgSendFileRetry = "[131] Pokus č. %d o odeslání souboru %s";
inline const std::string MsgSendFileFailed = "[132] Nepodařilo se přenést soubor na server %s. Chyba: %s";
inline const std::string MsgSendFileGiveUp = "[133] Nepodařil se přenos souboru";

// The help text: seventeen lines separated by line feed then carriage return (in that order),
// formatted with AppVersion and AppBuildDate.
extern const std::string MsgHelp;
// Test-mode notice naming the test service's base address.
extern const std::string MsgTestMode;

// The text without its leading code "[nnn] " (six characters); texts without a code stay whole.
std::string WithoutCode(const std::string& Text);
