#include "uOptions.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "uErrors.h"
#include "uTestSupport.h"

namespace {

using TestSupport::TTempDir;
using namespace std::string_literals;

// Every case runs in a fresh folder holding the documents a.pdf, B.PDF, c.txt and
// sub/d.pdf; "{d}" in the order file stands for that folder.
class OrderFile : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.pdf", "B.PDF", "c.txt", "sub/d.pdf"}) Dir.Write(name, "x");
  }
  std::string Expand(std::string Text) const {
    for (size_t p; (p = Text.find("{d}")) != std::string::npos;) Text.replace(p, 3, Dir.Path());
    return Text;
  }
  // Reads an order file with the given bytes; an empty Settings record unless given.
  std::unique_ptr<TOptions> Load(const std::string& Bytes, const TSettings& Settings = {}) {
    auto o = std::make_unique<TOptions>(Dir.Write("order.cfg", Expand(Bytes)));
    o->SetSettings(Settings);
    o->Init();
    return o;
  }
  std::vector<std::string> Names(const TOptions& O) const {
    // Paths relative to the folder, so that a wrong folder part shows as a mismatch.
    const std::string base = Dir.Path() + "/";
    std::vector<std::string> r;
    for (const auto& p : O.ListFiles()) r.push_back(p.rfind(base, 0) == 0 ? p.substr(base.size()) : "!" + p);
    return r;
  }
  TTempDir Dir;
};

TEST_F(OrderFile, DocumentLinesAndTheirOutcomes) {
  struct Case {
    const char* What;
    std::string Bytes;
    int State;
    std::string ErrorStr;
    std::vector<std::string> Files;  // sorted when Sorted
    bool Sorted = false;
  };
  const Case cases[] = {
      {"key in capitals counts", "SOUBOR={d}/a.pdf", 0, "", {"a.pdf"}},
      {"blank before = makes another key", "soubor ={d}/a.pdf\njmeno=x", 0, "", {}},
      {"value is not trimmed", "soubor= {d}/a.pdf", 2, " {d}/a.pdf", {}},
      {"mask lists the folder only, any letter case", "soubor={d}/*.pdf", 0, "", {"B.PDF", "a.pdf"}, true},
      {"mask matching nothing", "soubor={d}/*.doc", 2, "{d}/*.doc", {}},
      {"files before a failing line stay", "soubor={d}/a.pdf\r\nsoubor={d}/x.pdf\r\nsoubor={d}/c.txt", 2,
       "{d}/x.pdf", {"a.pdf"}},
      {"every line in order, a file twice", "soubor={d}/c.txt\nsoubor={d}/sub/d.pdf\nsoubor={d}/c.txt", 0, "",
       {"c.txt", "sub/d.pdf", "c.txt"}},
      {"backslash separators", "soubor={d}\\sub\\d.pdf", 0, "", {"sub/d.pdf"}},
      {"line without = is its own value", "soubor", 2, "soubor", {}},
      {"empty file", "", 2, "", {}},
      {"other lines only", "jmeno=x\nstandzak=1", 0, "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    auto o = Load(c.Bytes);
    EXPECT_EQ(o->ErrorSate(), c.State);
    EXPECT_EQ(o->ErrorStr(), Expand(c.ErrorStr));
    auto names = Names(*o);
    if (c.Sorted) std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.Files);
  }
}

TEST_F(OrderFile, MissingFileAndUnusablePatterns) {
  TOptions missing(Dir / "none.cfg");
  missing.Init();
  EXPECT_EQ(missing.ErrorSate(), 1);
  EXPECT_TRUE(missing.ListFiles().empty());

  // A pattern without a folder, or with one that does not exist, is an error of the file.
  for (const std::string line : {"soubor=*.pdf", "soubor={d}/nowhere/*.pdf"}) {
    TOptions o(Dir.Write("bad.cfg", Expand(line)));
    EXPECT_THROW(o.Init(), EInOutError) << line;
  }
}

TEST_F(OrderFile, OrderValues) {
  const std::string forty = "abcdefghijabcdefghijabcdefghijabcdefghij";
  struct Case {
    const char* What;
    std::string Bytes;
    TSettings Settings;
    std::string User, Passwd, StandZak, JobZak, Note;
  };
  TSettings cmdLine;
  cmdLine.UserName = "cli";
  cmdLine.Password = "clipw";
  const Case cases[] = {
      {"first occurrence counts, keys in any case", "JMENO=prvni\njmeno=druhy\nHeslo=h1\nheslo=h2", {}, "prvni", "h1",
       "", "", ""},
      {"command line wins", "jmeno=soubor\nheslo=tajne", cmdLine, "cli", "clipw", "", "", ""},
      {"trimmed and without tags", "jmeno=  <b>Nov\xC3\xA1k</b>\t\nstandzak= <i>12</i> ", {}, "Nov\xC3\xA1k", "",
       "12", "", ""},
      {"user and password cut to 30 characters, the note kept",
       "jmeno=" + forty + "\nheslo=" + forty + "\npoznamka=" + forty + "\njobzak=" + forty, {},
       forty.substr(0, 30), forty.substr(0, 30), "", forty, forty},
      {"30 characters count Czech letters as one", "jmeno=" + std::string(15, 'a') + [] {
         std::string s;
         for (int i = 0; i < 20; ++i) s += "\xC5\xA1";
         return s;
       }(),
       {}, std::string(15, 'a') + [] {
         std::string s;
         for (int i = 0; i < 15; ++i) s += "\xC5\xA1";
         return s;
       }(),
       "", "", "", ""},
      {"blank before = is another key", "jmeno =x\npoznamka=a=b", {}, "", "", "", "", "a=b"},
      {"UTF-16 with a byte-order mark", "\xFF\xFEp\0o\0z\0n\0a\0m\0k\0a\0=\0\x0D\x01"s, {}, "", "", "", "", "\xC4\x8D"},
      {"Windows-1250 without a mark", "poznamka=P\xF8\xEDli\x9A", {}, "", "", "", "", "P\xC5\x99\xC3\xADli\xC5\xA1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    auto o = Load(c.Bytes, c.Settings);
    EXPECT_EQ(o->User(), c.User);
    EXPECT_EQ(o->Passwd(), c.Passwd);
    EXPECT_EQ(o->StandZak(), c.StandZak);
    EXPECT_EQ(o->JobZak(), c.JobZak);
    EXPECT_EQ(o->Note(), c.Note);
  }
}

}  // namespace
