#include "uUpgrade.h"

#include <archive.h>
#include <archive_entry.h>

#include <atomic>
#include <filesystem>

#include "uErrors.h"
#include "uPlatform.h"
#include "uServiceUrls.h"
#include "uStrings.h"

namespace {

const std::string VersionPath = "/zentrik/version/";
const std::string AppType = "zentrik_w";
const std::string StagingName = "tmpu";
const std::string ListName = "update.list";
const std::string UpdaterName = "update";

// A name that is a whole path step: bounded by the line's ends, separators, blanks or ";".
bool IsNameBoundary(char C) {
  return C == '/' || C == '\\' || C == ';' || static_cast<unsigned char>(C) <= 32;
}

// True when Line names the updater's file as a whole name ("update", ".../update", "update;x"),
// so that "update.list" or "myupdate" never count.
bool NamesUpdater(const std::string& Line) {
  for (size_t p = Line.find(UpdaterName); p != std::string::npos; p = Line.find(UpdaterName, p + 1)) {
    size_t end = p + UpdaterName.size();
    bool startOk = p == 0 || IsNameBoundary(Line[p - 1]);
    bool endOk = end == Line.size() || IsNameBoundary(Line[end]);
    if (startOk && endOk) return true;
  }
  return false;
}

// Steps of an entry path; both separators count, so a "..\" step is caught as well.
std::vector<std::string> PathSteps(const std::string& Path) {
  std::vector<std::string> steps;
  std::string cur;
  for (char c : Path) {
    if (c == '/' || c == '\\') {
      steps.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  steps.push_back(cur);
  return steps;
}

bool HasDotDotStep(const std::string& Path) {
  for (const auto& s : PathSteps(Path))
    if (s == "..") return true;
  return false;
}

bool IsAbsoluteEntry(const std::string& Path) {
  if (Path.empty()) return false;
  if (Path[0] == '/' || Path[0] == '\\') return true;
  // A drive letter ("C:") from a package made elsewhere.
  return Path.size() >= 2 && Path[1] == ':';
}

// Whether a symbolic link at EntryPath pointing at Target stays inside the staging folder,
// taken step by step from the link's own folder.
bool LinkStaysInside(const std::string& EntryPath, const std::string& Target) {
  if (Target.empty() || IsAbsoluteEntry(Target)) return false;
  std::vector<std::string> at = PathSteps(EntryPath);
  at.pop_back();  // the link's own name
  int depth = 0;
  for (const auto& s : at)
    if (!s.empty() && s != ".") ++depth;
  for (const auto& s : PathSteps(Target)) {
    if (s.empty() || s == ".") continue;
    if (s == "..") {
      if (--depth < 0) return false;
    } else {
      ++depth;
    }
  }
  return true;
}

std::string ArchiveError(struct archive* A, const std::string& Fallback) {
  const char* e = archive_error_string(A);
  return e && *e ? std::string(e) : Fallback;
}

// Copies the data of the current entry from the reader to the disk writer.
bool CopyEntryData(struct archive* In, struct archive* Out, std::string& Err) {
  const void* buf;
  size_t size;
  la_int64_t offset;
  while (true) {
    int r = archive_read_data_block(In, &buf, &size, &offset);
    if (r == ARCHIVE_EOF) return true;
    if (r < ARCHIVE_WARN) {
      Err = ArchiveError(In, "read error");
      return false;
    }
    if (archive_write_data_block(Out, buf, size, offset) < ARCHIVE_WARN) {
      Err = ArchiveError(Out, "write error");
      return false;
    }
  }
}

// A uniquely named file in the temporary folder for the downloaded package.
std::string NewPackageFileName() {
  static std::atomic<int> counter{0};
  std::string dir = Platform::TempDirectory();
  for (int i = 0;; ++i) {
    std::string name = dir + "zentrik-upgrade-" + IntToStr(Platform::ProcessId()) + "-" +
                       IntToStr(Platform::MonotonicMs()) + "-" + IntToStr(counter++) + ".zip";
    if (!Platform::FileExists(name) && !Platform::DirectoryExists(name)) return name;
    if (i > 1000) throw EInOutError("Cannot create a temporary file in " + dir);
  }
}

// The package list's lines and how to write them back: a UTF-8 mark is dropped; a UTF-16
// list is turned into UTF-8, the 8-bit text the updater reads; any other list keeps its
// bytes as they are, so its 8-bit encoding stays what it was.
std::vector<std::string> ReadListLines(const std::string& Path) {
  std::string bytes, err;
  if (!Platform::ReadFile(Path, bytes, &err)) throw EInOutError("Cannot open file \"" + Path + "\". " + err);
  bool utf16 = bytes.size() >= 2 && ((static_cast<unsigned char>(bytes[0]) == 0xFF &&
                                      static_cast<unsigned char>(bytes[1]) == 0xFE) ||
                                     (static_cast<unsigned char>(bytes[0]) == 0xFE &&
                                      static_cast<unsigned char>(bytes[1]) == 0xFF));
  if (utf16)
    bytes = DecodeTextFile(bytes);
  else if (StartsWith(bytes, "\xEF\xBB\xBF"))
    bytes.erase(0, 3);
  return SplitLines(bytes);
}

void SaveListLines(const std::string& Path, const std::vector<std::string>& Lines) {
  std::string text;
  for (const auto& l : Lines) text += l + "\r\n";
  std::string err;
  if (!Platform::WriteFile(Path, text, &err)) throw EInOutError("Cannot create file \"" + Path + "\". " + err);
}

}  // namespace

TUpgrade::TUpgrade(const TSettings& AOptions) : fOptions(AOptions), fCommonHttp(std::make_unique<TCommonHttp>()) {}

TUpgrade::~TUpgrade() {
  fCommonHttp.reset();
  Clear();
}

void TUpgrade::Clear() { fOnlineVersion.clear(); }

std::string TUpgrade::ServiceUrl() const {
  // Always the production service: the version service has no test instance.
  return ServiceBaseUrl(false) + VersionPath;
}

std::string TUpgrade::Dir() const {
  // The program's own folder rather than the current one: a client started from another
  // folder would otherwise stage there and start an updater that is not beside it, and the
  // updater finds the running client by this very path.
  return InstallDir.empty() ? Platform::ProgramDirectory() : Platform::IncludeTrailingPathDelimiter(InstallDir);
}

bool TUpgrade::TestUpgrades() {
  Clear();
  std::string version;
  if (!QueryVersion(ServiceUrl(), version)) return false;
  fOnlineVersion = version;
  return true;
}

bool TUpgrade::DownloadUpgrade() {
  Clear();
  std::string version;
  TMemoryStream package;
  if (!DownloadPackage(ServiceUrl(), version, package)) return false;
  return InstallPackage(package);
}

void TUpgrade::HttpLog(const std::string& Text, bool /*Overwrite*/) {
  if (Log) Log->Error(Text, "APL");
}

void TUpgrade::PrepareExchange() {
  fCommonHttp->SetOptions(fOptions.ProxyUse, fOptions.ProxyHost, fOptions.ProxyPort, fOptions.ProxyUser,
                          fOptions.ProxyPassword);
  fCommonHttp->OnLog = [this](const std::string& Text, bool Overwrite) { HttpLog(Text, Overwrite); };
  fCommonHttp->ClearMime(true);
}

bool TUpgrade::QueryVersion(const std::string& Url, std::string& Version) {
  THttpClient http;
  TMemoryStream answer;
  PrepareExchange();
  fCommonHttp->SetMime("type", "4");
  fCommonHttp->SetMime("version", "");
  fCommonHttp->SetMime("apltype", AppType);
  if (!fCommonHttp->DownloadPage(http, Url, hmPOST, answer)) return false;
  return ParseVersionAnswer(answer.Bytes, Version);
}

bool TUpgrade::DownloadPackage(const std::string& Url, std::string& Version, TMemoryStream& Package) {
  if (!QueryVersion(Url, Version)) return false;
  THttpClient http;
  PrepareExchange();
  fCommonHttp->SetMime("type", "5");
  fCommonHttp->SetMime("version", Version);
  fCommonHttp->SetMime("apltype", AppType);
  if (!fCommonHttp->DownloadPage(http, Url, hmPOST, Package)) {
    Package.Clear();
    return false;
  }
  return true;
}

bool TUpgrade::ParseVersionAnswer(const std::string& Body, std::string& Version) {
  Version.clear();
  // Lenient decoding: a byte-order mark stays a character, so such an answer names no version.
  std::u32string text = Utf8ToCodePoints(Trim(CodePointsToUtf8(Utf8ToCodePoints(Body))));
  static const std::u32string prefix = U"Version";
  if (text.compare(0, prefix.size(), prefix) != 0 || text.size() < prefix.size()) return false;
  // The character after the word is a separator of any kind and is skipped.
  if (text.size() > prefix.size() + 1) Version = Trim(CodePointsToUtf8(text.substr(prefix.size() + 1)));
  return true;
}

std::string TUpgrade::SplitField(const std::string& Text, int Index, const std::string& Separator) {
  if (Index < 0) return std::string();
  if (Separator.empty()) return Index == 0 ? Text : std::string();
  std::string rest = Text + Separator;
  int i = 0;
  while (!rest.empty()) {
    size_t p = rest.find(Separator);
    if (i == Index) return rest.substr(0, p);
    rest.erase(0, p + Separator.size());
    ++i;
  }
  return std::string();
}

std::string TUpgrade::RewriteListLine(const std::string& Line, const std::string& Dir) {
  size_t blank = Line.find(' ');
  if (blank == std::string::npos || Line.compare(0, blank, "apl") != 0) return Line;
  std::string rest = Line.substr(blank + 1);
  std::string packaged = Trim(SplitField(rest, 0, ";"));
  std::string installed = Trim(SplitField(rest, 1, ";"));
  return Trim(Dir + installed + ";" + Dir + StagingName + Platform::PathDelim + packaged);
}

bool TUpgrade::ExtractPackage(const std::string& ZipFileName, const std::string& Path, std::string* Err) {
  std::string err;
  // The disk writer refuses any link on the way, so the target folder is named by its real path.
  std::error_code ec;
  std::string real = std::filesystem::weakly_canonical(std::filesystem::path(Path), ec).string();
  std::string root = Platform::IncludeTrailingPathDelimiter(ec || real.empty() ? Path : real);
  struct archive* in = archive_read_new();
  struct archive* out = archive_write_disk_new();
  archive_read_support_format_zip(in);
  // Second line of defence behind the checks below: never write through a link on disk.
  archive_write_disk_set_options(out, ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                          ARCHIVE_EXTRACT_SECURE_NODOTDOT);
  bool ok = archive_read_open_filename(in, ZipFileName.c_str(), 1 << 16) == ARCHIVE_OK;
  if (!ok) err = ArchiveError(in, "cannot open " + ZipFileName);
  while (ok) {
    struct archive_entry* entry;
    int r = archive_read_next_header(in, &entry);
    if (r == ARCHIVE_EOF) break;
    if (r < ARCHIVE_WARN) {
      err = ArchiveError(in, "damaged archive");
      ok = false;
      break;
    }
    const char* rawName = archive_entry_pathname(entry);
    std::string name = rawName ? rawName : "";
    if (name.empty() || IsAbsoluteEntry(name) || HasDotDotStep(name)) {
      err = "entry outside the target folder refused: " + name;
      ok = false;
      break;
    }
    const char* link = archive_entry_symlink(entry);
    if (link && !LinkStaysInside(name, link)) {
      err = "link pointing outside the target folder refused: " + name + " -> " + link;
      ok = false;
      break;
    }
    const char* hard = archive_entry_hardlink(entry);
    if (hard) {
      std::string h = hard;
      if (h.empty() || IsAbsoluteEntry(h) || HasDotDotStep(h)) {
        err = "link pointing outside the target folder refused: " + name + " -> " + h;
        ok = false;
        break;
      }
      archive_entry_copy_hardlink(entry, (root + h).c_str());
    }
    archive_entry_copy_pathname(entry, (root + name).c_str());
    if (archive_write_header(out, entry) < ARCHIVE_WARN) {
      err = ArchiveError(out, "cannot write " + name);
      ok = false;
      break;
    }
    if (archive_entry_size(entry) > 0 && !CopyEntryData(in, out, err)) {
      ok = false;
      break;
    }
    if (archive_write_finish_entry(out) < ARCHIVE_WARN) {
      err = ArchiveError(out, "cannot write " + name);
      ok = false;
      break;
    }
  }
  archive_write_free(out);
  archive_read_free(in);
  if (!ok && Err) *Err = err;
  return ok;
}

bool TUpgrade::InstallPackage(const TMemoryStream& Package) {
  fLastError.clear();
  if (Package.Size() == 0) return true;

  std::string packageFile = NewPackageFileName();
  std::string err;
  if (!Platform::WriteFile(packageFile, Package.Bytes, &err))
    throw EInOutError("Cannot create file \"" + packageFile + "\". " + err);
  Platform::SleepMs(500);

  const std::string dir = Dir();
  const std::string staging = dir + StagingName + Platform::PathDelim;
  if (!Platform::DirectoryExists(staging) && !Platform::ForceDirectories(staging))
    throw EInOutError("Unable to create directory \"" + staging + "\". " + Platform::LastErrorText());

  bool extracted = ExtractPackage(packageFile, staging, &err);
  // The unpacked files are all that is needed from here on.
  Platform::DeleteFile(packageFile);
  if (!extracted) {
    fLastError = err;
    return false;
  }

  const std::string listFile = staging + ListName;
  std::vector<std::string> lines = ReadListLines(listFile);
  if (lines.empty()) throw EListError("List index out of bounds (0)");

  const std::string stagedUpdater = staging + UpdaterName;
  if (NamesUpdater(lines[0]) && Platform::FileExists(stagedUpdater)) {
    lines.erase(lines.begin());
    SaveListLines(listFile, lines);
    if (!Platform::CopyFile(stagedUpdater, dir + UpdaterName, &err))
      throw EInOutError("Cannot copy \"" + stagedUpdater + "\" to \"" + dir + UpdaterName + "\". " + err);
    if (!Platform::DeleteFile(stagedUpdater))
      throw EInOutError("Cannot delete file \"" + stagedUpdater + "\". " + Platform::LastErrorText());
  }

  for (auto& line : lines) line = RewriteListLine(line, dir);
  SaveListLines(listFile, lines);

  // The updater gets the list and the client folder as one argument, then an empty one.
  std::vector<std::string> args{listFile + ";" + dir, ""};
  if (OnStartUpdater)
    OnStartUpdater(dir + UpdaterName, args);
  else
    Platform::SpawnDetached(dir + UpdaterName, args);
  return true;
}
