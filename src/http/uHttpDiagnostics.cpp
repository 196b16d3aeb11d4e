#include "uHttpDiagnostics.h"

#include <array>

#include "uStrings.h"

namespace HttpDiagnostics {

namespace {

constexpr std::array<std::string_view, 6> SecretKeyParts = {"pass", "token", "secret", "apikey", "api_key", "auth"};
constexpr std::array<std::string_view, 6> SecretJsonKeys = {"password", "passwd", "token", "secret", "api_key", "apikey"};
constexpr std::array<std::string_view, 5> LoggedHeaders = {"content-type", "content-length", "date", "x-request-id",
                                                           "x-correlation-id"};
constexpr std::string_view BearerPrefix = "authorization: bearer ";
constexpr std::string_view BearerMasked = "Authorization: Bearer ***";

char LowerAscii(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }

// Position of a lower-case ASCII needle in S, ignoring the letter case of S. Lowering only
// ASCII keeps positions in S and in its lower-case form the same.
size_t FindNoCase(std::string_view S, std::string_view LowerNeedle, size_t From) {
  if (LowerNeedle.empty() || S.size() < LowerNeedle.size()) return std::string::npos;
  for (size_t i = From; i + LowerNeedle.size() <= S.size(); ++i) {
    size_t k = 0;
    while (k < LowerNeedle.size() && LowerAscii(S[i + k]) == LowerNeedle[k]) ++k;
    if (k == LowerNeedle.size()) return i;
  }
  return std::string::npos;
}

bool IsBlank(char C) { return static_cast<unsigned char>(C) <= ' '; }

// Index of the quote that closes a string whose content starts at From; backslash escapes
// do not end it. S.size() when the string is not closed.
size_t StringEnd(std::string_view S, size_t From) {
  for (size_t i = From; i < S.size(); ++i) {
    if (S[i] == '\\') {
      ++i;
    } else if (S[i] == '"') {
      return i;
    }
  }
  return S.size();
}

// Index just after the bracket that closes the object or array opening at From (strings
// inside are skipped); S.size() when it is not closed.
size_t NestedEnd(std::string_view S, size_t From) {
  int depth = 0;
  for (size_t i = From; i < S.size(); ++i) {
    char c = S[i];
    if (c == '"') {
      i = StringEnd(S, i + 1);
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth == 0) return i + 1;
    }
  }
  return S.size();
}

// Invalid UTF-8 from the server becomes U+FFFD instead of breaking the log.
std::string LenientUtf8(const std::string& Bytes) {
  if (IsValidUtf8(Bytes)) return Bytes;
  return CodePointsToUtf8(Utf8ToCodePoints(Bytes));
}

}  // namespace

bool IsSecretKey(std::string_view Key) {
  std::string k = AsciiLower(Key);
  for (auto part : SecretKeyParts)
    if (k.find(part) != std::string::npos) return true;
  return false;
}

std::string MaskUrl(std::string_view Url) {
  size_t q = Url.find('?');
  if (q == std::string_view::npos) return std::string(Url);
  std::string result(Url.substr(0, q + 1));
  std::string_view query = Url.substr(q + 1);

  std::vector<std::string_view> pairs;
  size_t from = 0;
  while (true) {
    size_t amp = query.find('&', from);
    if (amp == std::string_view::npos) {
      // A final empty piece (nothing after the last "&") is not a pair.
      if (from < query.size()) pairs.push_back(query.substr(from));
      break;
    }
    pairs.push_back(query.substr(from, amp - from));
    from = amp + 1;
  }

  for (auto pair : pairs) {
    std::string shown(pair);
    size_t eq = pair.find('=');
    if (eq != std::string_view::npos && IsSecretKey(pair.substr(0, eq)))
      shown = std::string(pair.substr(0, eq)) + "=" + std::string(Mask);
    if (!result.empty() && result.back() != '?') result += '&';
    result += shown;
  }
  return result;
}

void MaskJsonValue(std::string& S, std::string_view Key) {
  const std::string needle = "\"" + AsciiLower(Key) + "\"";
  size_t start = 0;
  while (true) {
    size_t k = FindNoCase(S, needle, start);
    if (k == std::string::npos) return;
    size_t colon = S.find(':', k + needle.size());
    if (colon == std::string::npos) return;
    size_t v = colon + 1;
    while (v < S.size() && IsBlank(S[v])) ++v;
    if (v >= S.size()) return;

    size_t begin, end;
    bool quoted = S[v] == '"';
    if (quoted) {
      // The string's content up to its closing quote; an unclosed string (a cut body) to the end.
      begin = v + 1;
      end = StringEnd(S, begin);
    } else if (S[v] == '{' || S[v] == '[') {
      begin = v;
      end = NestedEnd(S, v);
    } else {
      // A number, true, false or null: masked itself, so that the next quoted text stays readable.
      begin = v;
      end = v;
      while (end < S.size() && !IsBlank(S[end]) && S[end] != ',' && S[end] != '}' && S[end] != ']' && S[end] != '"')
        ++end;
      if (end == begin) {
        start = v;
        continue;
      }
    }
    S.replace(begin, end - begin, Mask);
    start = begin + Mask.size() + (quoted && begin + Mask.size() < S.size() ? 1 : 0);
  }
}

std::string MaskSecrets(std::string_view Text) {
  std::string s(Text);
  for (auto key : SecretJsonKeys) MaskJsonValue(s, key);
  // The token goes too: up to the next white space, quote or the end of the text.
  size_t pos = 0;
  while ((pos = FindNoCase(s, BearerPrefix, pos)) != std::string::npos) {
    size_t end = pos + BearerPrefix.size();
    while (end < s.size() && (s[end] == ' ' || s[end] == '\t')) ++end;
    while (end < s.size() && !IsBlank(s[end]) && s[end] != '"' && s[end] != '\'') ++end;
    s.replace(pos, end - pos, BearerMasked);
    pos += BearerMasked.size();
  }
  return s;
}

bool IsLoggedHeader(std::string_view Name) {
  std::string n = AsciiLower(Name);
  for (auto h : LoggedHeaders)
    if (n == h) return true;
  return false;
}

bool IsTextContent(std::string_view ContentType) {
  std::string c = AsciiLower(ContentType);
  return StartsWith(c, "text/") || Contains(c, "json") || Contains(c, "xml");
}

std::string DescribeBody(const std::string* Body, std::string_view ContentType) {
  if (!Body) return "";
  if (!IsTextContent(ContentType))
    return "[Body skipped: non-text content type: " + std::string(ContentType) + "]";
  // Masked as a whole before the cut, so that a secret reaching past the cut is still masked.
  std::string text = MaskSecrets(LenientUtf8(*Body));
  if (Utf16Length(text) > BodyLimit) text = Utf16Left(text, BodyLimit) + std::string(TruncatedMarker);
  return text;
}

std::string StandardReasonPhrase(long StatusCode) {
  switch (StatusCode) {
    case 100: return "Continue";
    case 101: return "Switching Protocols";
    case 102: return "Processing";
    case 103: return "Early Hints";
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-Authoritative Information";
    case 204: return "No Content";
    case 205: return "Reset Content";
    case 206: return "Partial Content";
    case 207: return "Multi-Status";
    case 208: return "Already Reported";
    case 226: return "IM Used";
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 417: return "Expectation Failed";
    case 421: return "Misdirected Request";
    case 422: return "Unprocessable Content";
    case 423: return "Locked";
    case 424: return "Failed Dependency";
    case 425: return "Too Early";
    case 426: return "Upgrade Required";
    case 428: return "Precondition Required";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 451: return "Unavailable For Legal Reasons";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    case 505: return "HTTP Version Not Supported";
    case 506: return "Variant Also Negotiates";
    case 507: return "Insufficient Storage";
    case 508: return "Loop Detected";
    case 510: return "Not Extended";
    case 511: return "Network Authentication Required";
    default: return "";
  }
}

std::vector<std::string> ExceptionRecord(const std::string& Method, const std::string& Url, int64_t DurationMs,
                                         const std::string& Message, const std::string* Body) {
  std::vector<std::string> lines = {
      "=== HTTP ERROR (EXCEPTION) ===",
      "Method: " + Method,
      "URL: " + MaskUrl(Url),
      "DurationMs: " + IntToStr(DurationMs),
      "Message: " + Message,
  };
  if (Body) {
    lines.push_back("Body:");
    // Whatever arrived is shown as text, whatever its announced type.
    lines.push_back(DescribeBody(Body, "application/json"));
  }
  return lines;
}

std::vector<std::string> Non200Record(const std::string& Method, const std::string& Url, int64_t DurationMs,
                                      long StatusCode, const std::string& StatusText,
                                      const std::vector<THttpHeader>& Headers, const std::string* Body) {
  std::vector<std::string> lines = {
      "=== HTTP ERROR (NON-200) ===",
      "Method: " + Method,
      "URL: " + MaskUrl(Url),
      "DurationMs: " + IntToStr(DurationMs),
      "StatusCode: " + IntToStr(StatusCode),
      "StatusText: " + StatusText,
      "Headers:",
  };
  std::string contentType;
  bool haveContentType = false;
  for (const auto& h : Headers) {
    if (IsLoggedHeader(h.Name)) lines.push_back(h.Name + ": " + MaskSecrets(h.Value));
    if (!haveContentType && AsciiLower(h.Name) == "content-type") {
      contentType = h.Value;
      haveContentType = true;
    }
  }
  lines.push_back("Body:");
  lines.push_back(DescribeBody(Body, contentType));
  return lines;
}

}  // namespace HttpDiagnostics
