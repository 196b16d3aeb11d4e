#include "uSandboxStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace {

std::string Percent(unsigned char C) {
  static const char* hex = "0123456789ABCDEF";
  return std::string{'%', hex[C >> 4], hex[C & 15]};
}

// Record files: one "key=value" a line; "\", line breaks escaped.
std::string EscapeValue(const std::string& V) {
  std::string out;
  for (char c : V) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string UnescapeValue(const std::string& V) {
  std::string out;
  for (size_t i = 0; i < V.size(); ++i) {
    if (V[i] == '\\' && i + 1 < V.size()) {
      char n = V[++i];
      out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
    } else {
      out += V[i];
    }
  }
  return out;
}

using TRecord = std::vector<std::pair<std::string, std::string>>;

std::string RecordText(const TRecord& R) {
  std::string s;
  for (const auto& [k, v] : R) s += k + "=" + EscapeValue(v) + "\n";
  return s;
}

TRecord ParseRecord(const std::string& Text) {
  TRecord r;
  std::istringstream in(Text);
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq != std::string::npos) r.emplace_back(line.substr(0, eq), UnescapeValue(line.substr(eq + 1)));
  }
  return r;
}

std::string Get(const TRecord& R, const std::string& Key) {
  for (const auto& [k, v] : R)
    if (k == Key) return v;
  return "";
}

// Written beside the target and renamed over it, so a reader never sees half a file.
bool WriteAtomic(const std::string& Path, const std::string& Bytes, std::string& Err) {
  std::ostringstream tmpName;
  tmpName << Path << ".tmp" << getpid() << "-" << std::this_thread::get_id();
  std::string tmp = tmpName.str();
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    Err = "cannot write " + Path + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  while (done < Bytes.size()) {
    ssize_t w = write(fd, Bytes.data() + done, Bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  bool ok = done == Bytes.size();
  ok = close(fd) == 0 && ok;
  if (!ok || rename(tmp.c_str(), Path.c_str()) != 0) {
    Err = "cannot write " + Path + ": " + std::strerror(errno);
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

std::vector<std::string> Names(const std::string& Dir, bool Files) {
  std::vector<std::string> out;
  DIR* d = opendir(Dir.c_str());
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    struct stat st;
    if (stat((Dir + "/" + n).c_str(), &st) != 0) continue;
    if (Files ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode)) out.push_back(n);
  }
  closedir(d);
  return out;
}

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

bool MakeDirs(const std::string& Path) {
  for (size_t i = 1; i <= Path.size(); ++i) {
    if (i == Path.size() || Path[i] == '/') {
      std::string p = Path.substr(0, i);
      if (mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  struct stat st;
  return stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void RemoveTree(const std::string& P) {
  struct stat st;
  if (lstat(P.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    for (const auto& n : Names(P, true)) unlink((P + "/" + n).c_str());
    for (const auto& n : Names(P, false)) RemoveTree(P + "/" + n);
    rmdir(P.c_str());
  } else {
    unlink(P.c_str());
  }
}

}  // namespace

bool ReadWhole(const std::string& Path, std::string& Out) {
  std::ifstream f(Path, std::ios::binary);
  if (!f) return false;
  std::stringstream ss;
  ss << f.rdbuf();
  Out = ss.str();
  return true;
}

std::string InventoryValue(const std::string& Text) {
  std::string out;
  for (unsigned char c : Text) {
    if (c == '%' || c <= ' ' || c == 0x7f) out += Percent(c);
    else out += static_cast<char>(c);
  }
  return out;
}

std::string InventoryTail(const std::string& Text) {
  std::string out;
  for (unsigned char c : Text) {
    if (c < ' ' || c == 0x7f) out += Percent(c);
    else out += static_cast<char>(c);
  }
  return out;
}

bool IsHashText(const std::string& Text) {
  return !Text.empty() && Text.size() <= 200 && Text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string SafeFileName(const std::string& Name) {
  auto cut = Name.find_last_of("/\\");
  std::string base = cut == std::string::npos ? Name : Name.substr(cut + 1);
  if (base.empty() || base == "." || base == ".." || base.size() > 255) return "";
  for (unsigned char c : base)
    if (c < ' ' || c == 0x7f) return "";
  return base;
}

TSandboxStore::TSandboxStore(std::string DataDir) : fDir(std::move(DataDir)) {}

bool TSandboxStore::Prepare(std::string& Err) {
  for (const char* sub : {"", "/orders", "/shipments"}) {
    if (!MakeDirs(fDir + sub)) {
      Err = "cannot create the folder " + fDir + sub + ": " + std::strerror(errno);
      return false;
    }
  }
  RemoveTree(UploadDir());
  if (!MakeDirs(UploadDir())) {
    Err = "cannot create the folder " + UploadDir() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

long TSandboxStore::NextNumber(const std::string& Counter) {
  std::string path = fDir + "/counters.txt", text, err;
  ReadWhole(path, text);
  TRecord r = ParseRecord(text);
  long next = 1;
  bool found = false;
  for (auto& [k, v] : r) {
    if (k != Counter) continue;
    next = std::atol(v.c_str()) + 1;
    v = std::to_string(next);
    found = true;
  }
  if (!found) r.emplace_back(Counter, std::to_string(next));
  WriteAtomic(path, RecordText(r), err);
  return next;
}

bool TSandboxStore::SaveTransfer(const TTransfer& T, std::string& Err) {
  if (!IsHashText(T.Hash)) {
    Err = "not a transfer hash";
    return false;
  }
  TRecord r = {{"hash", T.Hash},         {"seq", std::to_string(T.Seq)}, {"standin", T.StandIn},
               {"user", T.User},         {"standzak", T.StandZak},       {"jobzak", T.JobZak},
               {"poznamka", T.Note},     {"aplikace_info", T.AppInfo},   {"state", T.Closed ? "closed" : "open"},
               {"kodobjednavky", T.Order}};
  for (const auto& e : T.Entries) r.emplace_back("entry", std::to_string(e.Size) + " " + e.Sha256 + " " + e.Name);
  return WriteAtomic(fDir + "/orders/" + T.Hash + ".txt", RecordText(r), Err);
}

bool TSandboxStore::LoadTransfer(const std::string& Hash, TTransfer& T) const {
  if (!IsHashText(Hash)) return false;
  std::string text;
  if (!ReadWhole(fDir + "/orders/" + Hash + ".txt", text)) return false;
  TRecord r = ParseRecord(text);
  T = TTransfer{};
  T.Hash = Get(r, "hash");
  T.Seq = std::atol(Get(r, "seq").c_str());
  T.StandIn = Get(r, "standin");
  T.User = Get(r, "user");
  T.StandZak = Get(r, "standzak");
  T.JobZak = Get(r, "jobzak");
  T.Note = Get(r, "poznamka");
  T.AppInfo = Get(r, "aplikace_info");
  T.Closed = Get(r, "state") == "closed";
  T.Order = Get(r, "kodobjednavky");
  for (const auto& [k, v] : r) {
    if (k != "entry") continue;
    auto s1 = v.find(' ');
    auto s2 = s1 == std::string::npos ? s1 : v.find(' ', s1 + 1);
    if (s2 == std::string::npos) continue;
    T.Entries.push_back({v.substr(s2 + 1), std::atoll(v.substr(0, s1).c_str()), v.substr(s1 + 1, s2 - s1 - 1)});
  }
  return T.Hash == Hash;
}

std::vector<TTransfer> TSandboxStore::Transfers() const {
  std::vector<TTransfer> out;
  for (const auto& n : Names(fDir + "/orders", true)) {
    if (!EndsWith(n, ".txt")) continue;
    TTransfer t;
    if (LoadTransfer(n.substr(0, n.size() - 4), t)) out.push_back(t);
  }
  std::sort(out.begin(), out.end(), [](const TTransfer& A, const TTransfer& B) { return A.Seq < B.Seq; });
  return out;
}

std::string TSandboxStore::VolumePath(const std::string& Hash, const std::string& Name) const {
  return fDir + "/orders/" + Hash + "/" + Name;
}

bool TSandboxStore::StoreVolume(const std::string& Hash, const std::string& Name, const std::string& From,
                                std::string& Err) {
  if (!IsHashText(Hash) || SafeFileName(Name) != Name) {
    Err = "unusable volume name";
    return false;
  }
  std::string dir = fDir + "/orders/" + Hash;
  if (!MakeDirs(dir) || rename(From.c_str(), (dir + "/" + Name).c_str()) != 0) {
    Err = "cannot store " + Name + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::vector<TVolumeInfo> TSandboxStore::Volumes(const std::string& Hash) const {
  std::vector<TVolumeInfo> out;
  if (!IsHashText(Hash)) return out;
  std::string dir = fDir + "/orders/" + Hash;
  auto names = Names(dir, true);
  std::sort(names.begin(), names.end(), NaturalLess);
  for (const auto& n : names) {
    struct stat st;
    if (stat((dir + "/" + n).c_str(), &st) == 0) out.push_back({n, static_cast<int64_t>(st.st_size)});
  }
  return out;
}

bool TSandboxStore::SaveShipment(const TShipment& S, const std::string& Content, std::string& Err) {
  TRecord r = {{"kod_objednavky", S.Order}, {"podaci_cislo", S.PostingNumber},
               {"seq", std::to_string(S.Seq)}, {"standin", S.StandIn},
               {"user", S.User},            {"file", S.FileName},
               {"duplicita", S.Duplicita},  {"size", std::to_string(S.Size)},
               {"sha256", S.Sha256},        {"aplikace_info", S.AppInfo}};
  std::string base = fDir + "/shipments/" + S.Order;
  return WriteAtomic(base + ".xml", Content, Err) && WriteAtomic(base + ".txt", RecordText(r), Err);
}

std::vector<TShipment> TSandboxStore::Shipments() const {
  std::vector<TShipment> out;
  for (const auto& n : Names(fDir + "/shipments", true)) {
    if (!EndsWith(n, ".txt")) continue;
    std::string text;
    if (!ReadWhole(fDir + "/shipments/" + n, text)) continue;
    TRecord r = ParseRecord(text);
    TShipment s;
    s.Order = Get(r, "kod_objednavky");
    s.PostingNumber = Get(r, "podaci_cislo");
    s.Seq = std::atol(Get(r, "seq").c_str());
    s.StandIn = Get(r, "standin");
    s.User = Get(r, "user");
    s.FileName = Get(r, "file");
    s.Duplicita = Get(r, "duplicita");
    s.Size = std::atoll(Get(r, "size").c_str());
    s.Sha256 = Get(r, "sha256");
    s.AppInfo = Get(r, "aplikace_info");
    out.push_back(s);
  }
  std::sort(out.begin(), out.end(), [](const TShipment& A, const TShipment& B) { return A.Seq < B.Seq; });
  return out;
}

void TSandboxStore::Record(const std::string& File, const std::string& Line) {
  std::lock_guard<std::mutex> g(fRecordLock);
  std::string l = Line + "\n";
  int fd = open((fDir + "/" + File).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t w = write(fd, l.data(), l.size());
  (void)w;
  close(fd);
}

std::string TSandboxStore::Inventory() const {
  std::ostringstream out;
  auto transfers = Transfers();
  int orders = 0, refused = 0, faults = 0, versions = 0;
  for (const auto& t : transfers) {
    auto vols = Volumes(t.Hash);
    out << "transfer " << t.Hash << " standin=" << t.StandIn << " user=" << InventoryValue(t.User)
        << " state=" << (t.Closed ? "closed" : "open") << " order=" << InventoryValue(t.Order)
        << " volumes=" << vols.size() << " aplikace_info=" << InventoryTail(t.AppInfo) << "\n";
    for (const auto& v : vols) out << "volume " << t.Hash << " size=" << v.Size << " name=" << InventoryTail(v.Name) << "\n";
  }
  std::vector<const TTransfer*> closed;
  for (const auto& t : transfers)
    if (t.Closed) closed.push_back(&t);
  std::sort(closed.begin(), closed.end(), [](const TTransfer* A, const TTransfer* B) { return A->Order < B->Order; });
  for (const TTransfer* t : closed) {
    ++orders;
    out << "order " << InventoryValue(t->Order) << " hash=" << t->Hash << " standin=" << t->StandIn
        << " user=" << InventoryValue(t->User) << " standzak=" << InventoryValue(t->StandZak)
        << " jobzak=" << InventoryValue(t->JobZak) << " entries=" << t->Entries.size()
        << " poznamka=" << InventoryTail(t->Note) << "\n";
    for (const auto& e : t->Entries)
      out << "entry " << InventoryValue(t->Order) << " size=" << e.Size << " sha256=" << e.Sha256
          << " name=" << InventoryTail(e.Name) << "\n";
  }
  auto shipments = Shipments();
  for (const auto& s : shipments)
    out << "shipment " << InventoryValue(s.Order) << " podaci_cislo=" << InventoryValue(s.PostingNumber)
        << " standin=" << s.StandIn << " user=" << InventoryValue(s.User) << " duplicita=" << InventoryValue(s.Duplicita)
        << " size=" << s.Size << " sha256=" << s.Sha256 << " file=" << InventoryTail(s.FileName) << "\n";
  auto lines = [&](const std::string& File, int& Count) {
    std::string text;
    if (!ReadWhole(fDir + "/" + File, text)) return;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
      if (!l.empty()) {
        out << l << "\n";
        ++Count;
      }
  };
  lines("versions.txt", versions);
  lines("refused.txt", refused);
  lines("faults.txt", faults);
  out << "summary transfers=" << transfers.size() << " orders=" << orders << " shipments=" << shipments.size()
      << " versions=" << versions << " refused=" << refused << " faults=" << faults << "\n";
  return out.str();
}
