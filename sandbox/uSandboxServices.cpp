#include "uSandboxServices.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <fstream>
#include <pugixml.hpp>
#include <sstream>

namespace {

// Order service result codes ("hodnota"); 0 is success.
enum : int {
  hvOk = 0,
  hvCredentials = 1,
  hvNoStandardOrder = 2,
  hvUnknownStandardOrder = 3,
  hvUnknownHash = 4,
  hvNoVolume = 5,
  hvBadVolumeName = 6,
  hvClosed = 7,
  hvNothingReceived = 8,
  hvBadArchive = 9,
  hvEmptyArchive = 10,
  hvUnknownStep = 11,
  hvStorage = 99,
};

// Letter service error codes ("kod").
enum : int { kvCredentials = -1, kvNoFile = -2, kvNotXml = -3, kvDuplicate = -35, kvStorage = -99 };

inline constexpr const char* XmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
inline constexpr int64_t MaxShipmentSize = 64 * 1024 * 1024;

std::string Trimmed(const std::string& S) {
  size_t b = 0, e = S.size();
  while (b < e && static_cast<unsigned char>(S[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(S[e - 1]) <= ' ') --e;
  return S.substr(b, e - b);
}

std::string FieldOr(const TForm& F, const std::string& Name) {
  const std::string* v = F.Field(Name);
  return v ? *v : "";
}

std::string OrderXml(int Code, const std::string* Popis, const std::string& Hash, const std::string& Order) {
  std::string s = XmlHead;
  s += "<odpoved>\n  <hodnota>" + std::to_string(Code) + "</hodnota>\n";
  if (!Hash.empty()) s += "  <hash>" + XmlEscape(Hash) + "</hash>\n";
  if (Popis) s += "  <popis>" + XmlEscape(*Popis) + "</popis>\n";
  if (!Order.empty()) s += "  <kodobjednavky>" + XmlEscape(Order) + "</kodobjednavky>\n";
  return s + "</odpoved>\n";
}

std::string Numbered(const char* Pattern, long N) {
  char buf[64];
  std::snprintf(buf, sizeof buf, Pattern, N);
  return buf;
}

std::string WithLength(std::string Hash, int Length) {
  while (static_cast<int>(Hash.size()) < Length) Hash += RandomSha1Hex();
  return Hash.substr(0, static_cast<size_t>(Length));
}

}  // namespace

std::string XmlEscape(const std::string& Text) {
  std::string out;
  for (char c : Text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

const std::string* TForm::Field(const std::string& Name) const {
  for (const auto& [k, v] : Fields)
    if (k == Name) return &v;
  return nullptr;
}

const TFormFile* TForm::File(const std::string& Name) const {
  auto it = Files.find(Name);
  return it == Files.end() ? nullptr : &it->second;
}

TSandboxServices::TSandboxServices(const TSandboxConfig& Config, TSandboxStore& Store, TFaultPlan& Faults)
    : fConfig(Config), fStore(Store), fFaults(Faults) {}

bool TSandboxServices::CheckAccount(const std::string& User, const std::string& Password) const {
  bool ok = false;
  for (const auto& a : fConfig.Accounts) {
    bool sameUser = a.User == User;
    bool samePassword = a.Password.size() == Password.size() &&
                        CRYPTO_memcmp(a.Password.data(), Password.data(), Password.size()) == 0;
    ok = ok || (sameUser && samePassword);
  }
  return ok;
}

std::shared_ptr<std::mutex> TSandboxServices::TransferLock(const std::string& Hash) {
  std::lock_guard<std::mutex> g(fLocksLock);
  auto& m = fTransferLocks[Hash];
  if (!m) m = std::make_shared<std::mutex>();
  return m;
}

// ---- order service ------------------------------------------------------------------------

TAnswer TSandboxServices::OrderRefusal(int Step, const std::string& StandIn, const std::string& User, int Code,
                                       const std::string& Reason, const std::string& Hash) {
  std::string line = "refused order step=" + std::to_string(Step) + " standin=" + StandIn +
                     " user=" + InventoryValue(User) + " hodnota=" + std::to_string(Code);
  if (!Hash.empty()) line += " hash=" + InventoryValue(Hash);
  fStore.Record("refused.txt", line + " reason=" + InventoryTail(Reason));
  TAnswer a;
  a.Body = OrderXml(Code, &Reason, "", "");
  a.Summary = "hodnota=" + std::to_string(Code) + " " + Reason;
  return a;
}

TAnswer TSandboxServices::Order(const TForm& Form, const std::string& StandIn, const TAnswerTweaks& Tweaks) {
  std::string step = Trimmed(FieldOr(Form, "krok"));
  if (step == "1") return OpenTransfer(Form, StandIn, Tweaks);
  if (step == "2") return StoreVolume(Form, StandIn, Tweaks);
  if (step == "3") return CloseOrder(Form, StandIn, Tweaks);
  return OrderRefusal(0, StandIn, "", hvUnknownStep, "Neznámý krok: \"" + step + "\"");
}

TAnswer TSandboxServices::OpenTransfer(const TForm& Form, const std::string& StandIn, const TAnswerTweaks& Tweaks) {
  std::string user = FieldOr(Form, "user");
  if (!CheckAccount(user, FieldOr(Form, "passwd")))
    return OrderRefusal(1, StandIn, user, hvCredentials, "Neplatné uživatelské jméno nebo heslo");
  std::string standZak = Trimmed(FieldOr(Form, "standzak"));
  if (standZak.empty()) return OrderRefusal(1, StandIn, user, hvNoStandardOrder, "Chybí standardní zakázka");
  if (!fConfig.StandardOrders.empty()) {
    bool known = false;
    for (const auto& s : fConfig.StandardOrders) known = known || s == standZak;
    if (!known) return OrderRefusal(1, StandIn, user, hvUnknownStandardOrder, "Neznámá standardní zakázka: " + standZak);
  }
  TTransfer t;
  t.Hash = WithLength(RandomSha1Hex(), Tweaks.HashLength);
  t.StandIn = StandIn;
  t.User = user;
  t.StandZak = standZak;
  t.JobZak = FieldOr(Form, "jobzak");
  t.Note = FieldOr(Form, "poznamka");
  t.AppInfo = FieldOr(Form, "aplikace_info");
  std::string err;
  bool saved;
  {
    std::lock_guard<std::mutex> g(fStore.Lock());
    t.Seq = fStore.NextNumber("transfer");
    saved = fStore.SaveTransfer(t, err);
  }
  if (!saved) return OrderRefusal(1, StandIn, user, hvStorage, "Chyba úložiště: " + err);
  TAnswer a;
  std::string popis = "Přenos zahájen";
  a.Body = OrderXml(hvOk, &popis, t.Hash, "");
  a.Summary = "hodnota=0 hash=" + t.Hash;
  return a;
}

TAnswer TSandboxServices::StoreVolume(const TForm& Form, const std::string& StandIn, const TAnswerTweaks& Tweaks) {
  std::string hash = Trimmed(FieldOr(Form, "hash"));
  TTransfer t;
  // Production and test are separate systems: a hash is known only where it was given out.
  if (!fStore.LoadTransfer(hash, t) || t.StandIn != StandIn)
    return OrderRefusal(2, StandIn, "", hvUnknownHash, "Neznámý hash přenosu", hash);
  auto lock = TransferLock(hash);
  std::lock_guard<std::mutex> g(*lock);
  if (!fStore.LoadTransfer(hash, t) || t.Closed)
    return OrderRefusal(2, StandIn, t.User, hvClosed, "Zakázka již byla uzavřena", hash);
  const TFormFile* file = Form.File("soubor");
  if (!file) return OrderRefusal(2, StandIn, t.User, hvNoVolume, "Chybí soubor", hash);
  std::string name = SafeFileName(file->FileName);
  if (name.empty())
    return OrderRefusal(2, StandIn, t.User, hvBadVolumeName, "Neplatný název souboru: \"" + file->FileName + "\"", hash);
  std::string err;
  if (!fStore.StoreVolume(hash, name, file->TempPath, err))
    return OrderRefusal(2, StandIn, t.User, hvStorage, "Chyba úložiště: " + err, hash);
  TAnswer a;
  std::string popis = "Soubor " + name + " přijat";
  a.Body = OrderXml(hvOk, Tweaks.NoPopis ? nullptr : &popis, "", "");
  a.Summary = "hodnota=0 volume=" + name + " size=" + std::to_string(file->Size) + (Tweaks.NoPopis ? " (no popis)" : "");
  return a;
}

TAnswer TSandboxServices::CloseOrder(const TForm& Form, const std::string& StandIn, const TAnswerTweaks& Tweaks) {
  std::string hash = Trimmed(FieldOr(Form, "hash"));
  TTransfer t;
  if (!fStore.LoadTransfer(hash, t) || t.StandIn != StandIn)
    return OrderRefusal(3, StandIn, "", hvUnknownHash, "Neznámý hash přenosu", hash);
  auto lock = TransferLock(hash);
  std::lock_guard<std::mutex> g(*lock);
  fStore.LoadTransfer(hash, t);
  TAnswer a;
  std::string popis;
  if (!t.Closed) {
    auto volumes = fStore.Volumes(hash);
    if (volumes.empty()) return OrderRefusal(3, StandIn, t.User, hvNothingReceived, "Nebyl přijat žádný soubor", hash);
    std::vector<std::string> paths;
    for (const auto& v : volumes) paths.push_back(fStore.VolumePath(hash, v.Name));
    std::vector<TArchiveEntry> entries;
    std::string err;
    if (!ReadVolumeSet(paths, entries, err))
      return OrderRefusal(3, StandIn, t.User, hvBadArchive, "Přijatá data nejsou čitelný archiv 7z: " + err, hash);
    if (entries.empty()) return OrderRefusal(3, StandIn, t.User, hvEmptyArchive, "Archiv neobsahuje žádný dokument", hash);
    {
      std::lock_guard<std::mutex> sg(fStore.Lock());
      t.Order = Numbered("ZK%07ld", fStore.NextNumber("order"));
      t.Closed = true;
      t.Entries = entries;
      if (!fStore.SaveTransfer(t, err)) return OrderRefusal(3, StandIn, t.User, hvStorage, "Chyba úložiště: " + err, hash);
    }
    popis = "Zakázka přijata, dokumentů: " + std::to_string(entries.size());
  } else {
    // A repeated close (the client did not get the first answer) gives the same number again.
    popis = "Zakázka již byla přijata, dokumentů: " + std::to_string(t.Entries.size());
  }
  a.Body = OrderXml(hvOk, Tweaks.NoPopis ? nullptr : &popis, "", t.Order);
  a.Summary = "hodnota=0 kodobjednavky=" + t.Order + (Tweaks.NoPopis ? " (no popis)" : "");
  return a;
}

// ---- letter service -----------------------------------------------------------------------

TAnswer TSandboxServices::LetterRefusal(const std::string& StandIn, const std::string& User, int Code,
                                        const std::string& Reason, const std::string& EarlierOrder) {
  std::string line = "refused letter standin=" + StandIn + " user=" + InventoryValue(User) + " kod=" + std::to_string(Code);
  if (!EarlierOrder.empty()) line += " kod_objednavky=" + InventoryValue(EarlierOrder);
  fStore.Record("refused.txt", line + " reason=" + InventoryTail(Reason));
  TAnswer a;
  // The description is the second child node of "chyba", after the white space before it.
  a.Body = std::string(XmlHead) + "<odpoved>\n  <chyby stav=\"1\">\n    <zasilka stav=\"1\">\n      <chyba kod=\"" +
           std::to_string(Code) + "\">\n        <popis>" + XmlEscape(Reason) +
           "</popis>\n      </chyba>\n    </zasilka>\n  </chyby>\n  <kod_objednavky>" + XmlEscape(EarlierOrder) +
           "</kod_objednavky>\n  <podaci_cislo></podaci_cislo>\n</odpoved>\n";
  a.Summary = "kod=" + std::to_string(Code) + " " + Reason;
  return a;
}

TAnswer TSandboxServices::Letter(const TForm& Form, const std::string& StandIn) {
  std::string user = FieldOr(Form, "user");
  if (!CheckAccount(user, FieldOr(Form, "password")))
    return LetterRefusal(StandIn, user, kvCredentials, "Neplatné uživatelské jméno nebo heslo");
  const TFormFile* file = Form.File("soubor");
  if (!file) return LetterRefusal(StandIn, user, kvNoFile, "Chybí soubor zásilky");
  std::string content;
  if (file->Size > MaxShipmentSize || !ReadWhole(file->TempPath, content))
    return LetterRefusal(StandIn, user, kvNoFile, "Soubor zásilky nelze přečíst");
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(content.data(), content.size());
  if (!parsed || !doc.document_element())
    return LetterRefusal(StandIn, user, kvNotXml,
                         std::string("Soubor zásilky není správně utvořený XML dokument: ") +
                             (parsed ? "chybí kořenový prvek" : parsed.description()) + " (pozice " +
                             std::to_string(parsed.offset) + ")");
  std::string duplicita = Trimmed(FieldOr(Form, "duplicita"));
  TShipment s;
  s.StandIn = StandIn;
  s.User = user;
  s.FileName = file->FileName;
  s.Duplicita = duplicita;
  s.Sha256 = Sha256Hex(content);
  s.Size = static_cast<int64_t>(content.size());
  s.AppInfo = FieldOr(Form, "aplikace_info");
  std::string err;
  {
    std::lock_guard<std::mutex> g(fStore.Lock());
    if (duplicita == "1") {
      for (const auto& earlier : fStore.Shipments())
        if (earlier.StandIn == StandIn && earlier.User == user && earlier.Sha256 == s.Sha256)
          return LetterRefusal(StandIn, user, kvDuplicate, "Zásilka se stejným obsahem již byla přijata", earlier.Order);
    }
    long n = fStore.NextNumber("shipment");
    s.Seq = n;
    s.Order = Numbered("KZ%07ld", n);
    s.PostingNumber = Numbered("RR%09ldCZ", n);
    if (!fStore.SaveShipment(s, content, err)) return LetterRefusal(StandIn, user, kvStorage, "Chyba úložiště: " + err);
  }
  TAnswer a;
  a.Body = std::string(XmlHead) + "<odpoved>\n  <chyby stav=\"0\"/>\n  <kod_objednavky>" + s.Order +
           "</kod_objednavky>\n  <podaci_cislo>" + s.PostingNumber + "</podaci_cislo>\n</odpoved>\n";
  a.Summary = "stav=0 kod_objednavky=" + s.Order + " podaci_cislo=" + s.PostingNumber;
  return a;
}

// ---- version service ----------------------------------------------------------------------

TAnswer TSandboxServices::Version(const TForm& Form, const std::string& StandIn) {
  std::string type = Trimmed(FieldOr(Form, "type"));
  std::string line = "version standin=" + StandIn + " type=" + InventoryValue(type) +
                     " apltype=" + InventoryValue(FieldOr(Form, "apltype"));
  TAnswer a;
  a.ContentType = "text/plain; charset=UTF-8";
  if (type == "4") {
    std::string offered = fFaults.Version();
    fStore.Record("versions.txt", line + " offered=" + InventoryTail(offered));
    a.Body = "Version: " + offered;
    a.Summary = a.Body;
    return a;
  }
  if (type == "5") {
    std::string asked = FieldOr(Form, "version");
    std::string err;
    if (fConfig.PackageDir.empty() || !BuildZipFromFolder(fConfig.PackageDir, a.Body, err)) {
      std::string reason = fConfig.PackageDir.empty() ? "Balíček aktualizace není k dispozici" : "Balíček nelze sestavit: " + err;
      fStore.Record("refused.txt", "refused version standin=" + StandIn + " type=5 status=404 reason=" + InventoryTail(reason));
      a.Status = 404;
      a.Body = reason + "\n";
      a.Summary = "404 " + reason;
      return a;
    }
    fStore.Record("versions.txt", line + " size=" + std::to_string(a.Body.size()) + " sha256=" + Sha256Hex(a.Body) +
                                      " version=" + InventoryTail(asked));
    a.ContentType = "application/zip";
    a.Summary = "package size=" + std::to_string(a.Body.size());
    return a;
  }
  std::string reason = "Neznámý typ požadavku: \"" + type + "\"";
  fStore.Record("refused.txt", "refused version standin=" + StandIn + " type=" + InventoryValue(type) +
                                   " status=400 reason=" + InventoryTail(reason));
  a.Status = 400;
  a.Body = reason + "\n";
  a.Summary = "400 " + reason;
  return a;
}

// ---- faults ---------------------------------------------------------------------------------

TAnswer TSandboxServices::Malformed(const TRequestKind& Request) {
  TAnswer a;
  if (Request.Service == "version") {
    a.ContentType = "text/plain; charset=UTF-8";
    a.Body = Request.Step == 5 ? "Toto není balíček aktualizace\n" : "<html><body>Služba není dostupná</body></html>\n";
  } else if (Request.Service == "letter") {
    a.Body = std::string(XmlHead) + "<odpoved>\n  <chyby stav=\"0\">\n  <kod_objednavky>KZ";
  } else {
    a.Body = std::string(XmlHead) + "<odpoved>\n  <hodnota>0</hodnota>\n  <popis>Odpověď přeruš";
  }
  a.Summary = "malformed answer";
  return a;
}

void TSandboxServices::RecordFault(const TRequestKind& Request, const std::string& StandIn, const TFaultRule& Rule) {
  std::string line = "fault " + Request.Service + " step=" + std::to_string(Request.Step) + " standin=" + StandIn +
                     " kind=" + FaultKindName(Rule.Kind);
  if (Rule.Kind == TFaultKind::fkStatus) line += " status=" + std::to_string(Rule.Status);
  if (Rule.Kind == TFaultKind::fkStall) line += " ms=" + std::to_string(Rule.Ms);
  if (Rule.Kind == TFaultKind::fkHashLength) line += " length=" + std::to_string(Rule.HashLength);
  fStore.Record("faults.txt", line);
}
