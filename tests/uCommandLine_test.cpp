#include "uCommandLine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "uErrors.h"

namespace {

using namespace std::string_literals;
using TStrings = std::vector<std::string>;

struct TExpected {
  std::string Key;
  std::string Name;
  std::string Switch;
  std::string Flag;
  TStrings Values;
};

struct TRow {
  std::string Line;  // the apostrophe stands for the quote character under test
  std::vector<TExpected> Options;
};

std::string WithQuote(std::string Line, char Q) {
  for (char& c : Line)
    if (c == '\'') c = Q;
  return Line;
}

// The table after one Parse on a fresh parser: exactly these options, each given, ranked
// in the order of first appearance.
void ExpectTable(const TOptionParser& P, const std::vector<TExpected>& Options) {
  EXPECT_EQ(P.Count(), Options.size());
  for (size_t i = 0; i < Options.size(); ++i) {
    const TExpected& e = Options[i];
    SCOPED_TRACE("option " + e.Key);
    TOption* o = nullptr;
    ASSERT_TRUE(P.TryGetValue(e.Key, o));
    EXPECT_EQ(o->Name(), e.Name);
    EXPECT_EQ(o->Switch(), e.Switch);
    EXPECT_EQ(o->Flag(), e.Flag);
    EXPECT_EQ(o->AsStringList(), e.Values);
    EXPECT_TRUE(o->Given());
    EXPECT_EQ(o->Order(), static_cast<int32_t>(i + 1));
  }
}

void ExpectRows(const std::vector<TRow>& Rows) {
  for (char q : {'\'', '"'}) {
    for (const TRow& row : Rows) {
      const std::string line = WithQuote(row.Line, q);
      SCOPED_TRACE("line [" + line + "]");
      TOptionParser p;
      p.Parse(line);
      ExpectTable(p, row.Options);
    }
  }
}

TEST(OptionParserLines, EveryDocumentedEdgeCaseWithBothQuotes) {
  ExpectRows({
      {"orvel -f='a b.cfg' -k=0",
       {{"orvel", "orvel", "", "", {}}, {"f", "f", "-", "=", {"a b.cfg"}}, {"k", "k", "-", "=", {"0"}}}},
      {"-f:('a.cfg','b.cfg')", {{"f", "f", "-", ":", {"a.cfg", "b.cfg"}}}},
      {"-f:( a.cfg ; b.cfg )", {{"f", "f", "-", ":", {"a.cfg", "b.cfg"}}}},
      {"-f:('a' 'b')", {{"f", "f", "-", ":", {"a", "b"}}}},
      {"-f:(a b)", {{"f", "f", "-", ":", {"a b"}}}},
      {"-f:(a,,;b)", {{"f", "f", "-", ":", {"a", "b"}}}},
      {"-f:()", {{"f", "f", "-", ":", {}}}},
      {"-f=(a.cfg)", {{"f", "f", "-", "=", {"a.cfg"}}}},
      {"-f=a,b", {{"f", "f", "-", "=", {"a,b"}}}},
      {"-f=''", {{"f", "f", "-", "=", {}}}},
      {"-f='abc", {{"f", "f", "-", "=", {"abc"}}}},
      {"-F=x", {{"f", "F", "-", "=", {"x"}}}},
      {"- f=x", {{"f", "f", "-", "=", {"x"}}}},
      {"-u= jan", {{"u", "u", "-", "=", {"jan"}}}},
      {"-u =jan", {{"u", "u", "-", "=", {"jan"}}}},
      {"-u jan", {{"u", "u", "-", "", {}}, {"jan", "jan", "", "", {}}}},
      {"-d+", {{"d", "d", "-", "+", {}}}},
      {"-f=a -f=b", {{"f", "f", "-", "=", {"a", "b"}}}},
      {"/test", {{"test", "test", "/", "", {}}}},
      {"--test", {{"test", "test", "--", "", {}}}},
      {"C:\\dir\\zentrik.exe orvel", {{"c", "C", "", ":", {"\\dir\\zentrik.exe"}}, {"orvel", "orvel", "", "", {}}}},
      {"", {}},
      {" \t  ", {}},
  });
}

TEST(OptionParserLines, QuotedValuesKeepSpacesAndUnquotedOnesAreTrimmed) {
  ExpectRows({
      {"-f=' a b '", {{"f", "f", "-", "=", {" a b "}}}},
      {"-f:(' a ' ,  b  )", {{"f", "f", "-", ":", {" a ", "b"}}}},
      {"-f:a;b c", {{"f", "f", "-", ":", {"a;b"}}, {"c", "c", "", "", {}}}},  // separators mean nothing outside ()
      {"-f:=x", {{"f", "f", "-", ":=", {"x"}}}},
      {"-d+ =x", {{"d", "d", "-", "+", {}}}},  // "+" must touch the name; "=x" after it is nameless
      {"-f='a'b", {{"f", "f", "-", "=", {"a"}}, {"b", "b", "", "", {}}}},
      {"-f:((a))  -g=y", {{"f", "f", "-", ":", {"a"}}, {"g", "g", "-", "=", {"y"}}}},
  });
}

// A nameless token is skipped: it never acts on the previous option, and its values are
// read and dropped, so they cannot land on an option they were not written for.
TEST(OptionParserLines, NamelessTokensActOnNoOption) {
  ExpectRows({
      {"-f=a .=b", {{"f", "f", "-", "=", {"a"}}}},
      {"-f=a -'=b' -g", {{"f", "f", "-", "=", {"a"}}, {"g", "g", "-", "", {}}}},
      {"-f=a /\\:(x;y)", {{"f", "f", "-", "=", {"a"}}}},
      {"=x -f=a", {{"f", "f", "-", "=", {"a"}}}},
      {"-\tf=x", {{"f", "f", "", "=", {"x"}}}},  // a tab after the switch ends the token
      {"'/opt/my app/zentrik' orvel", {{"opt", "opt", "/", "", {}}, {"my", "my", "/", "", {}},
                                       {"app", "app", "", "", {}}, {"zentrik", "zentrik", "/", "", {}},
                                       {"orvel", "orvel", "", "", {}}}},
  });
}

TEST(OptionParserLines, CharactersAbove255BelongToNoClass) {
  // Each of these has a low byte that is a class member (space, ",", ";", ")", "a", "="):
  // truncating a character to 8 bits would wrongly split or name things.
  ExpectRows({
      {"-f=a\xC4\xA0" "b", {{"f", "f", "-", "=", {"a\xC4\xA0" "b"}}}},                // U+0120
      {"-f:(a\xC4\xAC" "b;c)", {{"f", "f", "-", ":", {"a\xC4\xAC" "b", "c"}}}},       // U+012C
      {"-f:(a\xC4\xA9" "b)", {{"f", "f", "-", ":", {"a\xC4\xA9" "b"}}}},              // U+0129
      {"-\xC5\xA1=x -g", {{"g", "g", "-", "", {}}}},                                    // U+0161 is no name
      {"-f=\xC4\x8D" "e\xC5\xA1tina", {{"f", "f", "-", "=", {"\xC4\x8D" "e\xC5\xA1tina"}}}},
      {"-f=\xF0\x9F\x98\x80", {{"f", "f", "-", "=", {"\xF0\x9F\x98\x80"}}}},
  });
}

TEST(OptionParserReparse, ASecondParseKeepsOptionsButNotTheirValues) {
  TOptionParser p;
  p.Parse("orvel -F=a -d+ -x:(1;2)");
  p.Parse("kalvio -f=b -u=x");

  struct Case { std::string Key; std::string Name; std::string Switch; std::string Flag; bool Given; TStrings Values; int32_t Order; };
  const Case cases[] = {
      {"orvel", "orvel", "", "", false, {}, 1},
      {"f", "F", "-", "=", true, {"b"}, 2},  // name and rank of the first occurrence stay
      {"d", "d", "-", "+", false, {}, 3},    // switch and flag of its last occurrence stay
      {"x", "x", "-", ":", false, {}, 4},
      {"kalvio", "kalvio", "", "", true, {}, 5},
      {"u", "u", "-", "=", true, {"x"}, 6},
  };
  ASSERT_EQ(p.Count(), std::size(cases));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Key);
    TOption& o = p.Item(c.Key);
    EXPECT_EQ(o.Name(), c.Name);
    EXPECT_EQ(o.Switch(), c.Switch);
    EXPECT_EQ(o.Flag(), c.Flag);
    EXPECT_EQ(o.Given(), c.Given);
    EXPECT_EQ(o.AsStringList(), c.Values);
    EXPECT_EQ(o.Order(), c.Order);
  }
}

TEST(OptionParserReparse, AnEmptyLineClearsEveryValue) {
  for (std::string empty : {""s, "  \t "s, "\0\0"s}) {
    TOptionParser p;
    p.Parse("-f=a -g:(b;c)");
    p.Parse(empty);
    EXPECT_EQ(p.Count(), 2u);
    for (const TOption& o : p) {
      EXPECT_FALSE(o.Given()) << o.Name();
      EXPECT_TRUE(o.AsStringList().empty()) << o.Name();
    }
  }
}

TEST(OptionParserReparse, ANamelessTokenNeverReachesAnOptionOfAnEarlierParse) {
  for (std::string line : {"=x"s, "'=x'"s, "\"=x\""s, ".:(x;y)"s, "\\ =x"s}) {
    SCOPED_TRACE(line);
    TOptionParser p;
    p.Parse("-f=a");
    p.Parse(line);
    const TOption& f = p.Item("f");
    EXPECT_FALSE(f.Given());
    EXPECT_EQ(f.Flag(), "=");
    EXPECT_TRUE(f.AsStringList().empty());
    EXPECT_EQ(p.Count(), 1u);
  }
}

TEST(OptionParserQueries, NamesIgnoreAsciiCaseAndDefaultsCoverMissingValues) {
  TOptionParser p;
  TStringOption* t = p.DeclareTyped("Tmp", "declared-default");
  p.Parse("-F=first -F=second -q+ -e=");  // "-e= -q+" would make "-q+" the value of e

  struct Case { std::string Name; bool Given; std::string AsString; TStrings List; };
  const Case cases[] = {
      {"f", true, "first", {"first", "second"}},
      {"F", true, "first", {"first", "second"}},
      {"e", true, "dflt", {}},    // present without a value: the caller's default
      {"q", true, "dflt", {}},
      {"tmp", false, "dflt", {}}, // the option's own default is not the parser's
      {"none", false, "dflt", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(p.Given(c.Name), c.Given);
    EXPECT_EQ(p.AsString(c.Name, "dflt"), c.AsString);
    EXPECT_EQ(p.AsStringList(c.Name), c.List);
  }
  EXPECT_EQ(t->AsString(), "");
  EXPECT_EQ(t->Value(), "declared-default");
  EXPECT_FALSE(t->MultiParams());

  auto& f = static_cast<TStringOption&>(p.Item("f"));
  EXPECT_EQ(f.Value(), "first");
  EXPECT_TRUE(f.MultiParams());
  EXPECT_EQ(f.Params().front()->Parent(), &f);
}

TEST(OptionParserQueries, TableLookupsAreExactAndFailWithItemNotFound) {
  TOptionParser p;
  p.Parse("-F=x orvel");
  EXPECT_TRUE(p.ContainsKey("f"));
  EXPECT_FALSE(p.ContainsKey("F"));  // keys are stored lower-case; lookups do not fold

  TStringOption dummy;
  TOption* o = &dummy;
  EXPECT_FALSE(p.TryGetValue("F", o));
  EXPECT_EQ(o, nullptr);
  EXPECT_TRUE(p.TryGetValue("orvel", o));
  EXPECT_EQ(o->Name(), "orvel");

  for (std::string key : {"F"s, "missing"s, ""s}) {
    try {
      p.Item(key);
      ADD_FAILURE() << "no error for " << key;
    } catch (const EListError& e) {
      EXPECT_STREQ(e.what(), "Item not found");
    }
  }

  TStrings names;
  p.ForEach([&](TOption& x) { names.push_back(x.Name()); });
  EXPECT_EQ(names, (TStrings{"F", "orvel"}));
}

TEST(OptionParserDeclare, ADuplicateKeyLeavesTableAndOptionAlone) {
  TOptionParser p;
  p.Declare("Out", std::make_unique<TStringOption>());
  EXPECT_EQ(p.Item("out").Name(), "Out");
  EXPECT_EQ(p.Item("out").Order(), 0);

  for (std::string name : {"out"s, "OUT"s, "oUt"s}) {
    auto second = std::make_unique<TStringOption>();
    second->SetName("mine");
    TOption* raw = second.get();
    try {
      p.Declare(name, std::move(second));
      ADD_FAILURE() << "no error for " << name;
    } catch (const EListError& e) {
      EXPECT_STREQ(e.what(), "Duplicates not allowed");
    }
    EXPECT_EQ(second.get(), raw) << "the caller keeps its option";
    EXPECT_EQ(second->Name(), "mine");
    EXPECT_EQ(p.Count(), 1u);
    EXPECT_EQ(p.Item("out").Name(), "Out");
  }
  EXPECT_THROW(p.DeclareTyped("OUT", "x"), EListError);
  EXPECT_EQ(p.Count(), 1u);

  // A parse finds the declared option under any case; its name and rank stay the caller's.
  p.Parse("-OUT=v -n");
  EXPECT_EQ(p.Item("out").Name(), "Out");
  EXPECT_EQ(p.Item("out").Order(), 0);
  EXPECT_EQ(p.Item("out").AsString(), "v");
  EXPECT_EQ(p.Item("n").Order(), 2);
}

TEST(OptionParserRendering, QuotingOfOneValue) {
  struct Case { std::string Value; std::string Quoted; };
  const Case cases[] = {
      {"abc", "abc"},
      {"a b", "\"a b\""},
      {"say \"hi\" now", "'say \"hi\" now'"},
      {"it's here", "\"it's here\""},
      {"a\"b", "a\"b"},
      {"a\tb;c,(d)", "a\tb;c,(d)"},  // only a space asks for quotes
      {"", ""},
  };
  for (const auto& c : cases) {
    TStringParam v;
    v.SetAsString(c.Value);
    EXPECT_EQ(v.AsQuotedString(), c.Quoted) << c.Value;
  }
}

TEST(OptionParserRendering, DuplicateAndDebugWriteTheTableBack) {
  for (char q : {'\'', '"'}) {
    TOptionParser p;
    p.Parse(WithQuote("orvel -f:('a b',c)", q));
    EXPECT_EQ(p.Duplicate(), " orvel -f:(\"a b\";c)");
    TStrings lines;
    p.Debug(lines);
    EXPECT_EQ(lines, (TStrings{"1 Switch[] Option[orvel] Flag[] Values[]",
                               "2 Switch[-] Option[f] Flag[:] Values[(\"a b\";c)]"}));
  }

  TOptionParser both;
  both.Parse("-m=\"x y\" -f='say \"hi\" now'");
  EXPECT_EQ(both.Duplicate(), " -m=\"x y\" -f='say \"hi\" now'");

  TOptionParser empty;
  EXPECT_EQ(empty.Duplicate(), "");
  TStrings none{"kept"};
  empty.Debug(none);
  EXPECT_EQ(none, TStrings{"kept"});  // appends, never clears
}

TEST(OptionParserRendering, DuplicateOrdersByRankAndLeavesOutMatchingNames) {
  TOptionParser p;
  p.DeclareTyped("Late", "");
  p.Parse("orvel -K=1 /%s+ -f:(a;b)");
  p.Parse("-f=z -K");  // not given options still come back, with their last switch and flag

  EXPECT_EQ(p.Duplicate(), " Late orvel -K /%s+ -f=z");  // declared (rank 0) first
  EXPECT_EQ(p.DuplicateExcluding({"ORVEL", "k", "nosuch"}), " Late /%s+ -f=z");
  EXPECT_EQ(p.DuplicateExcluding({"late", "orvel", "K", "%S", "F"}), "");

  TStrings lines;
  p.Debug(lines);
  EXPECT_EQ(lines[3], "4 Switch[/] Option[%s] Flag[+] Values[]");  // "%" in a name is plain text
}

TEST(OptionParserHostile, MalformedBytesAreSurvivedAndNothingIsSilentlyLost) {
  const std::string fffd = "\xEF\xBF\xBD";
  ExpectRows({
      {"-f=\xFF\xFE -g=x", {{"f", "f", "-", "=", {fffd + fffd}}, {"g", "g", "-", "=", {"x"}}}},
      {"-f=ab\xC3", {{"f", "f", "-", "=", {"ab" + fffd}}}},
      {"-f:(\xC0\xAF;b)", {{"f", "f", "-", ":", {fffd + fffd, "b"}}}},
      {"-\xFF=x -g", {{"g", "g", "-", "", {}}}},
      {"-f=a\0b -g=c"s, {{"f", "f", "-", "=", {"a\0b"s}}, {"g", "g", "-", "=", {"c"}}}},
      {"\0\0-f=x\0"s, {{"f", "f", "-", "=", {"x"}}}},
      {"-f=\0 -g=c"s, {{"f", "f", "-", "=", {}}, {"g", "g", "-", "=", {"c"}}}},
      {"-f:(a;b", {{"f", "f", "-", ":", {"a", "b"}}}},
      {"-f:(a;'b c", {{"f", "f", "-", ":", {"a", "b c"}}}},
      {"-f:a)) -g=x", {{"f", "f", "-", ":", {"a))"}}, {"g", "g", "-", "=", {"x"}}}},
      {"-f=) -g", {{"f", "f", "-", "=", {")"}}, {"g", "g", "-", "", {}}}},
      {"-f='abc -g=x", {{"f", "f", "-", "=", {"abc -g=x"}}}},
      {")))((( ;;, '' ''' -:=", {}},
      {"-f:(((", {{"f", "f", "-", ":", {}}}},
  });
}

// Hostile line shapes, each built to a given size.
struct TLineShape {
  std::string Name;
  std::function<std::string(size_t)> Make;
};

std::string Repeat(const std::string& Unit, size_t Size) {
  std::string s;
  while (s.size() < Size) s += Unit;
  return s;
}

std::vector<TLineShape> HostileShapes() {
  return {
      {"one option, many values", [](size_t n) { return Repeat("-f:(a;'b c') ", n); }},
      {"many options",
       [](size_t n) {
         std::string s;
         for (size_t i = 0; s.size() < n; ++i) s += " -o" + std::to_string(i) + "=v";
         return s;
       }},
      {"nameless tokens", [](size_t n) { return Repeat("\".\\", n); }},
      {"unterminated quote", [](size_t n) { return "-f='" + Repeat("x ", n); }},
      {"parentheses", [](size_t n) { return "-f:" + Repeat("(", n); }},
      {"invalid bytes", [](size_t n) { return Repeat("\xFF -= \xC3 ", n); }},
      {"flags and switches", [](size_t n) { return Repeat("+- :/", n); }},
  };
}

// Parse plus everything that reads the whole table; microseconds.
long long TimeParseAndRender(const std::string& Line) {
  const auto start = std::chrono::steady_clock::now();
  TOptionParser p;
  p.Parse(Line);
  TStrings lines;
  p.Debug(lines);
  const std::string back = p.Duplicate();
  for (const TOption& o : p) (void)o.AsStringList();
  EXPECT_EQ(lines.size(), p.Count());
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
}

// Allowed for one megabyte line, parse and write-back together. Optimised, the slowest
// shape takes a few hundred milliseconds even on a busy machine; sanitizers and -O0 cost
// about ten times more. Work that grows with the square of the line takes minutes.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__OPTIMIZE__)
constexpr long long kMegabyteBudgetUs = 20'000'000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr long long kMegabyteBudgetUs = 20'000'000;
#else
constexpr long long kMegabyteBudgetUs = 2'000'000;
#endif
#else
constexpr long long kMegabyteBudgetUs = 2'000'000;
#endif

TEST(OptionParserHostile, AMegabyteLineFinishesFast) {
  for (const TLineShape& shape : HostileShapes()) {
    SCOPED_TRACE(shape.Name);
    EXPECT_LT(TimeParseAndRender(shape.Make(1 << 20)), kMegabyteBudgetUs);
  }
}

TEST(OptionParserHostile, AMegabyteLineKeepsEveryValue) {
  std::string line;
  size_t n = 0;
  while (line.size() < (1u << 20)) {
    line += "-f:(a;'b c') ";
    ++n;
  }
  TOptionParser p;
  p.Parse(line);
  const TStrings values = p.AsStringList("f");
  ASSERT_EQ(values.size(), 2 * n);
  EXPECT_EQ(values[0], "a");
  EXPECT_EQ(values.back(), "b c");
}

}  // namespace
