// Text helpers. Strings are UTF-8; wherever behaviour counts characters it counts what a
// 16-bit string would count (UTF-16 code units) and never cuts inside a character.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Lenient UTF-8 decoding: each byte that is not part of a valid sequence becomes U+FFFD,
// so nothing from outside can crash a caller or vanish silently.
std::u32string Utf8ToCodePoints(std::string_view Text);
std::string CodePointsToUtf8(const std::u32string& Text);
std::u16string Utf8ToUtf16(std::string_view Text);
std::string Utf16ToUtf8(const std::u16string& Text);
bool IsValidUtf8(std::string_view Text);
// Number of UTF-16 code units of the text.
size_t Utf16Length(std::string_view Text);
// The first Count UTF-16 code units; a character that would be split is left out whole.
std::string Utf16Left(std::string_view Text, size_t Count);
// Windows-1250 bytes to UTF-8.
std::string Cp1250ToUtf8(std::string_view Bytes);
// Decodes a text file's bytes: BOM selects UTF-8 / UTF-16 LE / UTF-16 BE; without one,
// UTF-8 when the bytes are valid UTF-8, otherwise Windows-1250.
std::string DecodeTextFile(std::string_view Bytes);
// Splits text into lines at CR LF, LF or CR; a final line end gives no empty last line.
std::vector<std::string> SplitLines(std::string_view Text);

// Removes characters with codes 0 to 32 from both ends.
std::string Trim(std::string_view Text);
// A-Z to a-z only.
std::string AsciiLower(std::string_view Text);
std::string AsciiUpper(std::string_view Text);
// Unicode-aware lower case (Latin, Greek, Cyrillic ranges), for case-insensitive keys and masks.
std::string UnicodeLower(std::string_view Text);
char32_t FoldCase(char32_t C);

bool StartsWith(std::string_view Text, std::string_view Prefix);
bool EndsWith(std::string_view Text, std::string_view Suffix);
bool Contains(std::string_view Text, std::string_view Part);
std::string ReplaceAll(std::string Text, std::string_view From, std::string_view To);

// Text before / after the first occurrence of Sep; the whole text when Sep does not occur.
std::string StrBefore(std::string_view Text, std::string_view Sep);
std::string StrAfter(std::string_view Text, std::string_view Sep);

// Decimal integer conversion as the client's messages expect it: optional sign and digits,
// nothing else. StrToInt raises EConvertError "'%s' is not a valid integer value".
bool TryStrToInt(std::string_view Text, int64_t& Value);
int64_t StrToInt(std::string_view Text);
std::string IntToStr(int64_t Value);

// File-mask match: "*" any run, "?" exactly one character, case-insensitive over code points;
// "*.*" matches every name, also one without a dot.
bool MatchesMask(std::string_view Name, std::string_view Mask);

// printf-like formatting of catalogue texts: %s (text), %d (integer), %.Nd (zero-padded
// integer), %%. Arguments are used in order; a missing argument formats as empty.
class TFormatArg {
 public:
  TFormatArg(const std::string& S) : fText(S), fIsInt(false) {}
  TFormatArg(const char* S) : fText(S ? S : ""), fIsInt(false) {}
  TFormatArg(std::string_view S) : fText(S), fIsInt(false) {}
  TFormatArg(int V) : fInt(V), fIsInt(true) {}
  TFormatArg(long V) : fInt(V), fIsInt(true) {}
  TFormatArg(long long V) : fInt(V), fIsInt(true) {}
  TFormatArg(unsigned V) : fInt(V), fIsInt(true) {}
  TFormatArg(unsigned long V) : fInt(static_cast<int64_t>(V)), fIsInt(true) {}
  TFormatArg(unsigned long long V) : fInt(static_cast<int64_t>(V)), fIsInt(true) {}
  std::string AsText() const { return fIsInt ? IntToStr(fInt) : fText; }
  int64_t AsInt() const { return fIsInt ? fInt : 0; }
  bool IsInt() const { return fIsInt; }

 private:
  std::string fText;
  int64_t fInt = 0;
  bool fIsInt;
};

std::string FormatArgs(std::string_view Fmt, const std::vector<TFormatArg>& Args);

template <class... A>
std::string Format(std::string_view Fmt, const A&... Args) {
  return FormatArgs(Fmt, std::vector<TFormatArg>{TFormatArg(Args)...});
}
