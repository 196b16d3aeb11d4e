#include "uStrings.h"

#include <gtest/gtest.h>

#include "uErrors.h"

namespace {

using namespace std::string_literals;

TEST(Utf16Counting, CountsCodeUnitsAndNeverCutsACharacter) {
  struct Case { std::string Text; size_t Units; size_t Cut; std::string Left; };
  const Case cases[] = {
      {"abc", 3, 2, "ab"},
      {"\xC4\x8D\x61", 2, 1, "\xC4\x8D"},                    // č is one unit, two bytes
      {"a\xF0\x9F\x98\x80" "b", 4, 2, "a"},                 // an emoji is two units: not split
      {"a\xF0\x9F\x98\x80" "b", 4, 3, "a\xF0\x9F\x98\x80"},
      {"\xFF\xFE", 2, 1, "\xFF"},                            // invalid bytes count one each
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16Length(c.Text), c.Units) << c.Text;
    EXPECT_EQ(Utf16Left(c.Text, c.Cut), c.Left) << c.Text;
  }
}

TEST(TextFiles, ByteOrderMarksAndTheWindows1250Fallback) {
  struct Case { std::string Bytes; std::string Text; };
  const Case cases[] = {
      {"\xEF\xBB\xBFjm\xC3\xA9no", "jm\xC3\xA9no"},
      {"\xFF\xFEj\0\x0D\x01"s, "j\xC4\x8D"},
      {"\xFE\xFF\0j\x01\x0D"s, "j\xC4\x8D"},
      {"\xE8\x61", "\xC4\x8D\x61"},               // Windows-1250 č
      {"\xC4\x8D\x61", "\xC4\x8D\x61"},           // valid UTF-8 stays
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeTextFile(c.Bytes), c.Text);
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd\n"), (std::vector<std::string>{"a", "b", "c", "d"}));
}

// Both halves are the whole text when the separator is missing; only the first occurrence splits.
TEST(StrBeforeAfter, SplitAtTheFirstOccurrence) {
  struct Case { std::string Text, Sep, Before, After; };
  const Case cases[] = {
      {"soubor=a.pdf", "=", "soubor", "a.pdf"},
      {"bez oddelovace", "=", "bez oddelovace", "bez oddelovace"},
      {"k==v", "=", "k", "=v"},                           // a doubled separator: the second one stays behind
      {"https://a://b", "://", "https", "a://b"},
      {"=v", "=", "", "v"},
      {"k=", "=", "k", ""},
      {"", "=", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StrBefore(c.Text, c.Sep), c.Before) << c.Text;
    EXPECT_EQ(StrAfter(c.Text, c.Sep), c.After) << c.Text;
  }
}

TEST(Format, PlaceholdersInOrder) {
  EXPECT_EQ(Format("[131] Pokus č. %d o odeslání souboru %s (%d/%d)", 2, "a.7z.001", 3, 5),
            "[131] Pokus č. 2 o odeslání souboru a.7z.001 (3/5)");
  EXPECT_EQ(Format("x.7z.%.3d", 7), "x.7z.007");
  EXPECT_EQ(Format("x.7z.%.3d", 1000), "x.7z.1000");
  EXPECT_EQ(Format("%s and %s", "a"), "a and ");
  EXPECT_EQ(Format("100%%"), "100%");
}

TEST(Conversions, IntegersAndTrimAndMasks) {
  int64_t v = 0;
  EXPECT_TRUE(TryStrToInt("-35", v));
  EXPECT_EQ(v, -35);
  for (const char* bad : {"", "abc", "1 ", "+", "5x", "99999999999"}) EXPECT_FALSE(TryStrToInt(bad, v)) << bad;
  try {
    StrToInt("abc");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
  }
  EXPECT_EQ(Trim("\t\r\n a b \x01"), "a b");
  struct Mask { const char* Name; const char* Mask; bool Match; };
  const Mask masks[] = {{"A.PDF", "*.pdf", true}, {"noext", "*.*", true}, {"ab", "a?", true}, {"a", "a?", false},
                        {"\xC4\x8C" "x.txt", "\xC4\x8D*", true}, {"zakaz03070_1.7z.001", "zakaz03070*", true},
                        {"b.pdf.bak", "*.pdf", false}};
  for (const auto& m : masks) EXPECT_EQ(MatchesMask(m.Name, m.Mask), m.Match) << m.Name << " " << m.Mask;
}

}  // namespace
