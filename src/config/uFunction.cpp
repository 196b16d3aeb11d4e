#include "uFunction.h"

#include "uPlatform.h"
#include "uStrings.h"

std::string ParseURL(const std::string& Url, std::string& Protocol, std::string& User, std::string& Password,
                     std::string& Host, std::string& Port, std::string& Path, std::string& Query) {
  Protocol = "http";
  Port = "80";
  User.clear();
  Password.clear();
  Host.clear();
  Path.clear();
  Query.clear();

  std::string rest = Url;
  if (Contains(Url, "://")) {
    Protocol = StrBefore(Url, "://");
    rest = StrAfter(Url, "://");
  }
  std::string upper = AsciiUpper(Protocol);
  if (upper == "HTTPS") Port = "443";
  if (upper == "FTP") Port = "21";

  // User information only when its "@" comes before the first "/" (or there is no "/").
  auto at = rest.find('@');
  auto slash = rest.find('/');
  if (at != std::string::npos && (slash == std::string::npos || at < slash)) {
    std::string userinfo = StrBefore(rest, "@");
    rest = StrAfter(rest, "@");
    if (Contains(userinfo, ":")) {
      User = StrBefore(userinfo, ":");
      Password = StrAfter(userinfo, ":");
    } else {
      User = userinfo;
    }
  }

  std::string hostport = rest;
  std::string tail;
  if (Contains(rest, "/")) {
    hostport = StrBefore(rest, "/");
    tail = StrAfter(rest, "/");
  }

  if (StartsWith(hostport, "[")) {
    Host = StrBefore(hostport, "]").substr(1);
    std::string remainder = StrAfter(hostport, "]");
    if (StartsWith(remainder, ":")) Port = StrAfter(remainder, ":");
  } else if (Contains(hostport, ":")) {
    Host = StrBefore(hostport, ":");
    Port = StrAfter(hostport, ":");
  } else {
    Host = hostport;
  }

  if (Contains(tail, "?")) {
    Path = "/" + StrBefore(tail, "?");
    Query = StrAfter(tail, "?");
  } else {
    Path = "/" + tail;
  }
  if (Host.empty()) Host = "localhost";
  return "/" + tail;
}

std::string StripTags(const std::string& Text) {
  std::string s = Text;
  while (true) {
    auto open = s.find('<');
    if (open == std::string::npos) break;
    auto close = s.find('>', open + 1);
    if (close == std::string::npos) break;
    s.erase(open, close - open + 1);
  }
  return s;
}

bool CreateEmptyFile(const std::string& FileName) { return Platform::WriteFile(FileName, std::string()); }
