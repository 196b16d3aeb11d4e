#include "uFunctionIO.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "uErrors.h"
#include "uTestSupport.h"

namespace {

TEST(FileNameTag, KeepsSafeCharactersOnly) {
  struct TCase {
    std::string FileName, Tag;
  };
  const TCase cases[] = {
      {"/data/můj log.txt", "m_j_log"},             // directory and extension dropped; "ů" and blank one "_" each
      {"zakázka č1.cfg", "zak_zka__1"},
      {"a-b_C9", "a-b_C9"},
      {"", "Zentrik"},
      {"   .cfg", "Zentrik"},                       // only blanks before the extension
      {".cfg", "Zentrik"},
      {"a.b.cfg", "a_b"},                           // first dot replaced, the part behind the second lost
      {"  x y  .log", "x_y"},                       // trimmed before replacing
      {"a\xF0\x9F\x98\x80.log", "a__"},             // a character outside the BMP is two UTF-16 units
      {"a\xFF" "b", "a_b"},                         // an invalid byte counts as one character
      {"dir.d/name", "name"},                       // a dot in the directory is no extension
  };
  for (const auto& c : cases) EXPECT_EQ(FileNameTag(c.FileName), c.Tag) << c.FileName;
}

TEST(ListFiles, AppendsMatchingFilesOnly) {
  TestSupport::TTempDir dir;
  dir.Write("vol.7z.001", "1");
  dir.Write("VOL.7Z.002", "2");
  dir.Write("other.txt", "3");
  dir.Write("noext", "4");
  dir.Write("sub/vol.7z.003", "5");  // not entered

  struct TCase {
    std::string Mask;
    std::vector<std::string> Names;
  };
  const TCase cases[] = {
      {"vol.7z*", {"VOL.7Z.002", "vol.7z.001"}},
      {"*.*", {"VOL.7Z.002", "noext", "other.txt", "vol.7z.001"}},  // also the name without a dot; no "sub"
      {"vol.7z.00?", {"VOL.7Z.002", "vol.7z.001"}},
      {"?", {}},
      {"none*", {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> list{"kept"};
    ListFiles(list, dir.Path(), c.Mask);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.front(), "kept") << c.Mask;  // the list is not emptied
    std::vector<std::string> expected{"kept"};
    for (const auto& n : c.Names) expected.push_back(dir / n);
    std::sort(list.begin() + 1, list.end());
    std::sort(expected.begin() + 1, expected.end());
    EXPECT_EQ(list, expected) << c.Mask;
  }
}

TEST(ListFiles, ExistingDirectoryWithoutFilesGivesNothing) {
  TestSupport::TTempDir dir;
  std::vector<std::string> list;
  EXPECT_NO_THROW(ListFiles(list, dir.Path(), "*.*"));
  EXPECT_TRUE(list.empty());
}

TEST(ListFiles, EmptyOrMissingDirectoryRaises) {
  TestSupport::TTempDir dir;
  std::string file = dir.Write("plain", "x");
  for (const std::string& d : {std::string(), dir / "missing", file}) {
    std::vector<std::string> list;
    EXPECT_THROW(ListFiles(list, d, "*.*"), EInOutError) << d;
    EXPECT_TRUE(list.empty());
  }
}

}  // namespace
