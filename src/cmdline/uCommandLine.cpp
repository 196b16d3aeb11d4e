#include "uCommandLine.h"

#include <algorithm>

#include "uErrors.h"
#include "uStrings.h"

namespace {

// The scanner works on code points decoded leniently from UTF-8, so a bad byte becomes
// U+FFFD instead of breaking a token, and deleting "one character" never splits one.
// Only codes up to 255 can belong to a class.
enum TCharClass : unsigned {
  ccSwitch = 1u << 0,
  ccName = 1u << 1,
  ccWhite = 1u << 2,
  ccFlag = 1u << 3,
  ccSeparator = 1u << 4,
  ccOpen = 1u << 5,   // "("
  ccClose = 1u << 6,  // ")"
};

unsigned ClassesOf(char32_t C) {
  if (C > 255) return 0;
  unsigned r = 0;
  if (C == '+' || C == '-' || C == '/') r |= ccSwitch;
  if ((C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '#' || C == '%' ||
      C == '&' || C == '?' || C == '_')
    r |= ccName;
  if (C == ' ' || C == '\t') r |= ccWhite;
  if (C == '+' || C == '-' || C == ':' || C == '=') r |= ccFlag;
  if (C == ',' || C == ';') r |= ccSeparator;
  if (C == '(') r |= ccOpen;
  if (C == ')') r |= ccClose;
  return r;
}

bool InClass(char32_t C, unsigned aClass) { return (ClassesOf(C) & aClass) != 0; }

std::u32string TrimCodes(std::u32string_view Text) {
  size_t b = 0;
  size_t e = Text.size();
  while (b < e && Text[b] < 33) ++b;
  while (e > b && Text[e - 1] < 33) --e;
  return std::u32string(Text.substr(b, e - b));
}

// The rest of the line, consumed from the front. Only the front ever moves, so "the rest
// is unchanged" is "the position is unchanged", and the (already trimmed) end stays trimmed.
class TScanner {
 public:
  explicit TScanner(std::u32string aText) : fText(std::move(aText)) {}

  bool Empty() const { return fPos >= fText.size(); }
  size_t Position() const { return fPos; }
  // First character, or 0 when the rest is empty (0 never equals a character we test for;
  // a NUL inside the line is never tested for either).
  char32_t Peek() const { return Empty() ? 0 : fText[fPos]; }
  bool PeekIs(char32_t C) const { return !Empty() && fText[fPos] == C; }

  std::u32string TakeWhile(unsigned aClass) {
    std::u32string r;
    while (!Empty() && InClass(fText[fPos], aClass)) {
      if (fText[fPos] != ' ') r += fText[fPos];
      ++fPos;
    }
    return r;
  }
  void SkipWhile(unsigned aClass) {
    while (!Empty() && InClass(fText[fPos], aClass)) ++fPos;
  }
  std::u32string TakeUntil(unsigned aClass) {
    size_t start = fPos;
    while (!Empty() && !InClass(fText[fPos], aClass)) ++fPos;
    return fText.substr(start, fPos - start);
  }
  // No escapes: an unterminated quote takes everything that is left.
  std::u32string TakeQuoted(char32_t Q) {
    if (!PeekIs(Q)) return {};
    ++fPos;
    size_t start = fPos;
    size_t close = fText.find(Q, start);
    if (close == std::u32string::npos) {
      fPos = fText.size();
      return fText.substr(start);
    }
    fPos = close + 1;
    return fText.substr(start, close - start);
  }
  void DeleteFirst() {
    if (!Empty()) ++fPos;
  }
  void TrimFront() {
    while (!Empty() && fText[fPos] < 33) ++fPos;
  }

 private:
  std::u32string fText;
  size_t fPos = 0;
};

// One item of a value: quoted text as is, otherwise up to a stop character, trimmed.
std::u32string ReadItem(TScanner& S, unsigned aStop) {
  if (S.PeekIs('"')) return S.TakeQuoted('"');
  if (S.PeekIs('\'')) return S.TakeQuoted('\'');
  return TrimCodes(S.TakeUntil(aStop));
}

void AddValue(TOption* aOption, const std::u32string& aItem) {
  if (aItem.empty() || !aOption) return;
  aOption->AddParam()->SetAsString(CodePointsToUtf8(aItem));
}

// Values follow only a flag holding ":" or "="; aOption null means they are read and dropped.
void ReadValues(TScanner& S, TOption* aOption) {
  if (S.PeekIs('(')) {
    S.SkipWhile(ccOpen | ccWhite);
    for (;;) {
      AddValue(aOption, ReadItem(S, ccClose | ccSeparator));
      S.SkipWhile(ccSeparator | ccWhite);
      if (S.Empty() || S.PeekIs(')')) break;
    }
    S.SkipWhile(ccClose | ccWhite);
  } else {
    AddValue(aOption, ReadItem(S, ccWhite));
  }
}

}  // namespace

// ---- values -------------------------------------------------------------------------------

TParam::~TParam() = default;

std::string TStringParam::AsQuotedString() const {
  std::string s = AsString();
  if (s.find(' ') == std::string::npos) return s;
  if (s.find('"') == std::string::npos) return "\"" + s + "\"";
  return "'" + s + "'";
}

// ---- options ------------------------------------------------------------------------------

TOption::~TOption() = default;

TStringParam* TStringOption::AddParam() {
  fParams.push_back(std::make_unique<TStringParam>(this));
  return fParams.back().get();
}

std::string TStringOption::ValuesText() const {
  if (fParams.empty()) return "";
  if (fParams.size() == 1) return fParams.front()->AsQuotedString();
  std::string r = "(";
  for (size_t i = 0; i < fParams.size(); ++i) {
    if (i > 0) r += ";";
    r += fParams[i]->AsQuotedString();
  }
  return r + ")";
}

std::string TStringOption::AsCommandLine() const { return Switch() + Name() + Flag() + ValuesText(); }

void TStringOption::ClearValues() {
  SetGiven(false);
  fParams.clear();
}

std::string TStringOption::Debug() const {
  return IntToStr(Order()) + " " +
         Format("Switch[%s] Option[%s] Flag[%s] Values[%s]", Switch(), Name(), Flag(), ValuesText());
}

std::string TStringOption::AsString() const { return fParams.empty() ? std::string() : fParams.front()->AsString(); }

std::vector<std::string> TStringOption::AsStringList() const {
  std::vector<std::string> r;
  r.reserve(fParams.size());
  for (const auto& p : fParams) r.push_back(p->AsString());
  return r;
}

std::string TStringOption::Value() const { return fParams.empty() ? fDefaultValue : fParams.front()->Value(); }

std::vector<std::string> TStringOption::ValueList() const {
  std::vector<std::string> r;
  r.reserve(fParams.size());
  for (const auto& p : fParams) r.push_back(p->Value());
  return r;
}

// ---- parser -------------------------------------------------------------------------------

int TOptionParser::TOptionComparer::Compare(const TOption& aLeft, const TOption& aRight) {
  if (aLeft.Order() < aRight.Order()) return -1;
  if (aLeft.Order() > aRight.Order()) return 1;
  return 0;
}

TOptionParser::TOptionParser() {
  fItems.reserve(19);
  fIndex.reserve(19);
}

TOptionParser::~TOptionParser() = default;

void TOptionParser::ReserveKey(const std::string& aName, const TOption* aOption) {
  if (!aOption) throw EListError("Option expected");
  std::string key = AsciiLower(aName);
  if (fIndex.count(key)) throw EListError("Duplicates not allowed");
  // Grow geometrically: reserving one more each time would copy the table on every new name.
  if (fItems.size() == fItems.capacity()) fItems.reserve(std::max<size_t>(19, 2 * fItems.capacity()));
  fIndex.emplace(std::move(key), fItems.size());
}

void TOptionParser::Adopt(const std::string& aName, std::unique_ptr<TOption> aOption) {
  TOption* option = aOption.get();
  fItems.push_back(std::move(aOption));  // room was reserved: cannot throw
  option->SetName(aName);
}

TStringOption* TOptionParser::DeclareTyped(const std::string& aName, const std::string& aDefault) {
  auto option = std::make_unique<TStringOption>();
  TStringOption* raw = option.get();
  raw->SetDefaultValue(aDefault);
  Declare(aName, std::move(option));
  return raw;
}

void TOptionParser::Parse(const std::string& aOptions) {
  ClearValues();
  TScanner S(TrimCodes(Utf8ToCodePoints(aOptions)));
  while (!S.Empty()) {
    const size_t noted = S.Position();
    std::u32string sw = S.TakeWhile(ccSwitch);
    if (S.PeekIs(' ')) S.SkipWhile(ccWhite);
    std::u32string name = S.TakeWhile(ccName);
    std::u32string flag;
    if (!S.PeekIs(' '))
      flag = S.TakeWhile(ccFlag);
    else
      S.SkipWhile(ccWhite);
    if (S.PeekIs(':') || S.PeekIs('=')) flag = S.TakeWhile(ccFlag);
    S.SkipWhile(ccWhite);

    // A nameless token (a quoted program path, a lone dot or backslash after a switch) acts
    // on no option, never on the previous one: its values are read and dropped. Reaching
    // back could rewrite an option of the real command line, or one left by an earlier parse.
    TOption* current = nullptr;
    if (!name.empty()) {
      const std::string text = CodePointsToUtf8(name);
      current = Find(AsciiLower(text));
      if (!current) {
        current = DeclareTyped(text, "");
        current->SetOrder(static_cast<int32_t>(Count()));
      }
      current->SetSwitch(CodePointsToUtf8(sw));
      current->SetFlag(CodePointsToUtf8(flag));
      current->SetGiven(true);
    }
    if (flag.find_first_of(U":=") != std::u32string::npos) ReadValues(S, current);
    S.SkipWhile(ccWhite);
    if (S.Position() == noted) S.DeleteFirst();
    S.TrimFront();
  }
}

TOption* TOptionParser::Find(const std::string& Key) const {
  auto it = fIndex.find(Key);
  return it == fIndex.end() ? nullptr : fItems[it->second].get();
}

bool TOptionParser::Given(const std::string& aName) const {
  const TOption* o = Find(AsciiLower(aName));
  return o && o->Given();
}

std::string TOptionParser::AsString(const std::string& aName, const std::string& aDefault) const {
  const TOption* o = Find(AsciiLower(aName));
  if (!o) return aDefault;
  std::string s = o->AsString();
  return s.empty() ? aDefault : s;
}

std::vector<std::string> TOptionParser::AsStringList(const std::string& aName) const {
  const TOption* o = Find(AsciiLower(aName));
  return o ? o->AsStringList() : std::vector<std::string>();
}

void TOptionParser::ClearValues() {
  for (auto& o : fItems) o->ClearValues();
}

void TOptionParser::Debug(std::vector<std::string>& Strings) const {
  for (const auto& o : fItems) Strings.push_back(o->Debug());
}

std::string TOptionParser::Duplicate() const { return DuplicateExcluding({}); }

std::string TOptionParser::DuplicateExcluding(const std::vector<std::string>& aNames) const {
  std::vector<std::string> excluded;
  excluded.reserve(aNames.size());
  for (const auto& n : aNames) excluded.push_back(AsciiLower(n));

  std::vector<const TOption*> sorted;
  sorted.reserve(fItems.size());
  for (const auto& o : fItems)
    if (std::find(excluded.begin(), excluded.end(), AsciiLower(o->Name())) == excluded.end())
      sorted.push_back(o.get());
  // Stable, so equal Orders (declared options all have 0) keep the table's order.
  std::stable_sort(sorted.begin(), sorted.end(), TOptionComparer());

  std::string r;
  for (const TOption* o : sorted) r += " " + o->AsCommandLine();
  return r;
}

bool TOptionParser::ContainsKey(const std::string& Key) const { return fIndex.count(Key) != 0; }

TOption& TOptionParser::Item(const std::string& Key) const {
  TOption* o = Find(Key);
  if (!o) throw EListError("Item not found");
  return *o;
}

bool TOptionParser::TryGetValue(const std::string& Key, TOption*& Option) const {
  Option = Find(Key);
  return Option != nullptr;
}

void TOptionParser::ForEach(const std::function<void(TOption&)>& aAction) const {
  for (const auto& o : fItems) aAction(*o);
}
