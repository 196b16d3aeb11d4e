#include "uOptions.h"

#include "uErrors.h"
#include "uFunction.h"
#include "uFunctionIO.h"
#include "uPlatform.h"
#include "uStrings.h"

namespace {

// Order files written on Windows name their documents with "\"; here the separator is "/".
std::string LocalPath(const std::string& Value) {
  std::string r = Value;
  for (char& c : r)
    if (c == '\\') c = Platform::PathDelim;
  return r;
}

// User name and password are limited to 30 characters, as on the command line.
constexpr size_t CredentialLength = 30;

}  // namespace

TOptions::TOptions(const std::string& FileName)
    : fFileName(FileName.empty() ? Platform::ProgramDirectory() + "orvelcmd.cfg" : FileName) {}

void TOptions::Init() {
  if (!LoadConf())
    fErrorState = 1;
  else if (!ParseConf())
    fErrorState = 2;
}

bool TOptions::LoadConf() {
  if (!Platform::FileExists(fFileName)) return false;
  std::string bytes, err;
  if (!Platform::ReadFile(fFileName, bytes, &err))
    throw EInOutError(Format("Cannot read file %s: %s", fFileName, err));
  fConfList = SplitLines(DecodeTextFile(bytes));
  return true;
}

bool TOptions::ParseConf() {
  bool ok = true;
  for (const std::string& line : fConfList) {
    // The key is neither trimmed nor stripped: "soubor =" is another key.
    if (StrBefore(UnicodeLower(line), "=") != "soubor") continue;
    const std::string value = StrAfter(line, "=");
    const std::string path = LocalPath(value);
    int found = 0;
    if (Contains(path, "*")) {
      GetFilesAddr(fListFiles, found, Platform::ExtractFilePath(path), Platform::ExtractFileName(path));
    } else if (Platform::FileExists(path)) {
      fListFiles.push_back(path);
      found = 1;
    }
    if (found == 0) {
      ok = false;
      fErrorStr = value;
      break;
    }
  }
  if (ok && fConfList.empty()) ok = false;
  return ok;
}

void TOptions::GetFilesAddr(std::vector<std::string>& List, int& Count, const std::string& Directory,
                            const std::string& Mask) {
  // Same listing and matching as the volume listing; an empty or missing directory raises.
  std::vector<std::string> found;
  ::ListFiles(found, Directory, Mask);
  Count += static_cast<int>(found.size());
  List.insert(List.end(), found.begin(), found.end());
}

std::string TOptions::GetConfValue(const std::string& Key) const {
  const std::string key = UnicodeLower(Key);
  for (const std::string& line : fConfList)
    if (UnicodeLower(StrBefore(line, "=")) == key) return StrAfter(line, "=");
  return "";
}

std::string TOptions::User() const {
  if (!fSettings.UserName.empty()) return fSettings.UserName;
  return Utf16Left(StripTags(Trim(GetConfValue("jmeno"))), CredentialLength);
}

std::string TOptions::Passwd() const {
  if (!fSettings.Password.empty()) return fSettings.Password;
  return Utf16Left(StripTags(Trim(GetConfValue("heslo"))), CredentialLength);
}

std::string TOptions::StandZak() const { return StripTags(Trim(GetConfValue("standzak"))); }
std::string TOptions::JobZak() const { return StripTags(Trim(GetConfValue("jobzak"))); }
std::string TOptions::Note() const { return StripTags(Trim(GetConfValue("poznamka"))); }
