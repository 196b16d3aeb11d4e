#include "uStrings.h"

#include <charconv>

#include "uErrors.h"

namespace {

constexpr char32_t Replacement = 0xFFFD;

void AppendUtf8(std::string& Out, char32_t C) {
  if (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) C = Replacement;
  if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (C >> 18));
    Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

// Decodes one character at Pos; Len receives the bytes used (1 for an invalid byte).
char32_t DecodeOne(std::string_view S, size_t Pos, size_t& Len, bool& Valid) {
  auto b0 = static_cast<unsigned char>(S[Pos]);
  Valid = true;
  Len = 1;
  if (b0 < 0x80) return b0;
  size_t need;
  char32_t c;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) { need = 1; c = b0 & 0x1F; min = 0x80; }
  else if ((b0 & 0xF0) == 0xE0) { need = 2; c = b0 & 0x0F; min = 0x800; }
  else if ((b0 & 0xF8) == 0xF0) { need = 3; c = b0 & 0x07; min = 0x10000; }
  else { Valid = false; return Replacement; }
  if (Pos + need >= S.size()) { Valid = false; return Replacement; }
  for (size_t i = 1; i <= need; ++i) {
    auto b = static_cast<unsigned char>(S[Pos + i]);
    if ((b & 0xC0) != 0x80) { Valid = false; return Replacement; }
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) { Valid = false; return Replacement; }
  Len = need + 1;
  return c;
}

constexpr char16_t Cp1250High[128] = {
    0x20AC, 0xFFFD, 0x201A, 0xFFFD, 0x201E, 0x2026, 0x2020, 0x2021, 0xFFFD, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

std::string Utf16BytesToUtf8(std::string_view B, bool BigEndian) {
  std::u16string u;
  u.reserve(B.size() / 2);
  for (size_t i = 0; i + 1 < B.size(); i += 2) {
    auto lo = static_cast<unsigned char>(B[i]);
    auto hi = static_cast<unsigned char>(B[i + 1]);
    u += static_cast<char16_t>(BigEndian ? (lo << 8 | hi) : (hi << 8 | lo));
  }
  return Utf16ToUtf8(u);
}

}  // namespace

std::u32string Utf8ToCodePoints(std::string_view Text) {
  std::u32string out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size();) {
    size_t len;
    bool valid;
    out += DecodeOne(Text, i, len, valid);
    i += len;
  }
  return out;
}

std::string CodePointsToUtf8(const std::u32string& Text) {
  std::string out;
  out.reserve(Text.size());
  for (char32_t c : Text) AppendUtf8(out, c);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view Text) {
  std::u16string out;
  out.reserve(Text.size());
  for (char32_t c : Utf8ToCodePoints(Text)) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& Text) {
  std::string out;
  out.reserve(Text.size());
  for (size_t i = 0; i < Text.size(); ++i) {
    char32_t c = Text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 && Text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (Text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);
  }
  return out;
}

bool IsValidUtf8(std::string_view Text) {
  for (size_t i = 0; i < Text.size();) {
    size_t len;
    bool valid;
    DecodeOne(Text, i, len, valid);
    if (!valid) return false;
    i += len;
  }
  return true;
}

size_t Utf16Length(std::string_view Text) {
  size_t n = 0;
  for (size_t i = 0; i < Text.size();) {
    size_t len;
    bool valid;
    char32_t c = DecodeOne(Text, i, len, valid);
    n += c >= 0x10000 ? 2 : 1;
    i += len;
  }
  return n;
}

std::string Utf16Left(std::string_view Text, size_t Count) {
  size_t units = 0;
  size_t i = 0;
  while (i < Text.size()) {
    size_t len;
    bool valid;
    char32_t c = DecodeOne(Text, i, len, valid);
    size_t w = c >= 0x10000 ? 2 : 1;
    if (units + w > Count) break;
    units += w;
    i += len;
  }
  return std::string(Text.substr(0, i));
}

std::string Cp1250ToUtf8(std::string_view Bytes) {
  std::string out;
  out.reserve(Bytes.size());
  for (char ch : Bytes) {
    auto b = static_cast<unsigned char>(ch);
    AppendUtf8(out, b < 0x80 ? char32_t(b) : char32_t(Cp1250High[b - 0x80]));
  }
  return out;
}

std::string DecodeTextFile(std::string_view B) {
  if (B.size() >= 3 && B.substr(0, 3) == "\xEF\xBB\xBF") return CodePointsToUtf8(Utf8ToCodePoints(B.substr(3)));
  if (B.size() >= 2 && B.substr(0, 2) == "\xFF\xFE") return Utf16BytesToUtf8(B.substr(2), false);
  if (B.size() >= 2 && B.substr(0, 2) == "\xFE\xFF") return Utf16BytesToUtf8(B.substr(2), true);
  if (IsValidUtf8(B)) return std::string(B);
  return Cp1250ToUtf8(B);
}

std::vector<std::string> SplitLines(std::string_view Text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == '\r' || Text[i] == '\n') {
      lines.emplace_back(Text.substr(start, i - start));
      if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < Text.size()) lines.emplace_back(Text.substr(start));
  return lines;
}

std::string Trim(std::string_view Text) {
  size_t b = 0;
  size_t e = Text.size();
  while (b < e && static_cast<unsigned char>(Text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(Text[e - 1]) <= 32) --e;
  return std::string(Text.substr(b, e - b));
}

std::string AsciiLower(std::string_view Text) {
  std::string s(Text);
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string AsciiUpper(std::string_view Text) {
  std::string s(Text);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

char32_t FoldCase(char32_t C) {
  if (C >= 'A' && C <= 'Z') return C + 32;
  if (C < 0x80) return C;
  if ((C >= 0xC0 && C <= 0xDE && C != 0xD7)) return C + 32;
  if (C >= 0x100 && C <= 0x17F) {
    // Latin Extended-A: mostly pairs upper (even) / lower (odd), shifted in 0x139-0x148 and 0x179-0x17E.
    if ((C >= 0x139 && C <= 0x148) || (C >= 0x179 && C <= 0x17E)) return (C % 2 == 1) ? C + 1 : C;
    if (C == 0x130) return 'i';
    if (C == 0x178) return 0xFF;
    return (C % 2 == 0) ? C + 1 : C;
  }
  if (C >= 0x391 && C <= 0x3AB && C != 0x3A2) return C + 32;
  if (C >= 0x410 && C <= 0x42F) return C + 32;
  if (C >= 0x400 && C <= 0x40F) return C + 80;
  return C;
}

std::string UnicodeLower(std::string_view Text) {
  std::u32string cps = Utf8ToCodePoints(Text);
  for (char32_t& c : cps) c = FoldCase(c);
  return CodePointsToUtf8(cps);
}

bool StartsWith(std::string_view Text, std::string_view Prefix) { return Text.substr(0, Prefix.size()) == Prefix; }
bool EndsWith(std::string_view Text, std::string_view Suffix) {
  return Text.size() >= Suffix.size() && Text.substr(Text.size() - Suffix.size()) == Suffix;
}
bool Contains(std::string_view Text, std::string_view Part) { return Text.find(Part) != std::string_view::npos; }

std::string ReplaceAll(std::string Text, std::string_view From, std::string_view To) {
  if (From.empty()) return Text;
  size_t pos = 0;
  while ((pos = Text.find(From, pos)) != std::string::npos) {
    Text.replace(pos, From.size(), To);
    pos += To.size();
  }
  return Text;
}

std::string StrBefore(std::string_view Text, std::string_view Sep) {
  auto p = Text.find(Sep);
  return std::string(p == std::string_view::npos || Sep.empty() ? Text : Text.substr(0, p));
}

std::string StrAfter(std::string_view Text, std::string_view Sep) {
  auto p = Text.find(Sep);
  return std::string(p == std::string_view::npos || Sep.empty() ? Text : Text.substr(p + Sep.size()));
}

bool TryStrToInt(std::string_view Text, int64_t& Value) {
  if (Text.empty()) return false;
  size_t i = 0;
  bool neg = false;
  if (Text[0] == '+' || Text[0] == '-') {
    neg = Text[0] == '-';
    i = 1;
  }
  if (i >= Text.size()) return false;
  uint64_t v = 0;
  for (; i < Text.size(); ++i) {
    if (Text[i] < '0' || Text[i] > '9') return false;
    v = v * 10 + static_cast<uint64_t>(Text[i] - '0');
    if (v > (neg ? 2147483648ULL : 2147483647ULL)) return false;  // 32-bit range, as the service codes are
  }
  Value = neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

int64_t StrToInt(std::string_view Text) {
  int64_t v;
  if (!TryStrToInt(Text, v)) throw EConvertError(Format("'%s' is not a valid integer value", std::string(Text)));
  return v;
}

std::string IntToStr(int64_t Value) { return std::to_string(Value); }

bool MatchesMask(std::string_view Name, std::string_view Mask) {
  if (Mask == "*.*" || Mask == "*") return true;
  std::u32string n = Utf8ToCodePoints(Name);
  std::u32string m = Utf8ToCodePoints(Mask);
  for (auto& c : n) c = FoldCase(c);
  for (auto& c : m) c = FoldCase(c);
  // Iterative wildcard match with backtracking to the last "*".
  size_t ni = 0, mi = 0, star = std::u32string::npos, mark = 0;
  while (ni < n.size()) {
    if (mi < m.size() && (m[mi] == U'?' || m[mi] == n[ni])) {
      ++ni;
      ++mi;
    } else if (mi < m.size() && m[mi] == U'*') {
      star = mi++;
      mark = ni;
    } else if (star != std::u32string::npos) {
      mi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (mi < m.size() && m[mi] == U'*') ++mi;
  return mi == m.size();
}

std::string FormatArgs(std::string_view Fmt, const std::vector<TFormatArg>& Args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < Fmt.size(); ++i) {
    char c = Fmt[i];
    if (c != '%' || i + 1 >= Fmt.size()) {
      out += c;
      continue;
    }
    if (Fmt[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // %s, %d, %.Nd
    size_t j = i + 1;
    int width = 0;
    if (Fmt[j] == '.') {
      ++j;
      while (j < Fmt.size() && Fmt[j] >= '0' && Fmt[j] <= '9') width = width * 10 + (Fmt[j++] - '0');
    }
    if (j >= Fmt.size() || (Fmt[j] != 's' && Fmt[j] != 'd')) {
      out += c;
      continue;
    }
    std::string text = next < Args.size() ? Args[next].AsText() : std::string();
    ++next;
    if (Fmt[j] == 'd' && width > 0) {
      bool neg = !text.empty() && text[0] == '-';
      std::string digits = neg ? text.substr(1) : text;
      while (static_cast<int>(digits.size()) < width) digits.insert(digits.begin(), '0');
      text = (neg ? "-" : "") + digits;
    }
    out += text;
    i = j;
  }
  return out;
}
