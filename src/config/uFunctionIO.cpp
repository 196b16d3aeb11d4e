#include "uFunctionIO.h"

#include "uErrors.h"
#include "uPlatform.h"
#include "uStrings.h"

void ListFiles(std::vector<std::string>& List, const std::string& Directory, const std::string& Mask) {
  if (Directory.empty()) throw EInOutError("Invalid path: the directory name is empty");
  if (!Platform::DirectoryExists(Directory)) throw EInOutError(Format("Directory not found: %s", Directory));
  std::vector<std::string> names;
  std::string err;
  if (!Platform::ListDirectory(Directory, names, true, &err))
    throw EInOutError(Format("Cannot read directory %s: %s", Directory, err));
  std::string base = Platform::IncludeTrailingPathDelimiter(Directory);
  for (const auto& name : names)
    if (MatchesMask(name, Mask)) List.push_back(base + name);
}

std::string FileNameTag(const std::string& FileName) {
  std::string name = Platform::ExtractFileName(FileName);
  std::string ext = Platform::ExtractFileExt(name);
  name = Trim(name.substr(0, name.size() - ext.size()));
  if (name.empty()) return "Zentrik";
  std::string out;
  for (char16_t c : Utf8ToUtf16(name)) {
    bool keep = c == u'-' || c == u'_' || (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    out += keep ? static_cast<char>(c) : '_';
  }
  return out;
}
