#include "uPlatform.h"

#include <gtest/gtest.h>

#include "uTestSupport.h"

namespace {

TEST(Platform, MoveNeverReplacesAnExistingTarget) {
  TestSupport::TTempDir dir;
  std::string a = dir.Write("a", "new");
  std::string b = dir.Write("b", "old");
  std::string err;
  EXPECT_FALSE(Platform::MoveNoReplace(a, b, &err));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(TestSupport::ReadText(b), "old");
  EXPECT_TRUE(Platform::MoveNoReplace(a, dir / "c"));
  EXPECT_EQ(TestSupport::ReadText(dir / "c"), "new");
}

TEST(Platform, DirectoriesAndListing) {
  TestSupport::TTempDir dir;
  EXPECT_FALSE(Platform::CreateDir(dir / "x/y"));  // last level only
  EXPECT_TRUE(Platform::ForceDirectories(dir / "x/y/"));
  EXPECT_TRUE(Platform::DirectoryExists(dir / "x/y"));
  dir.Write("x/f.txt", "1");
  std::vector<std::string> names;
  ASSERT_TRUE(Platform::ListDirectory(dir / "x", names, true));
  EXPECT_EQ(names, std::vector<std::string>{"f.txt"});
  EXPECT_FALSE(Platform::ListDirectory(dir / "missing", names, true));
  EXPECT_EQ(Platform::ExtractFileName("/a/b.cfg"), "b.cfg");
  EXPECT_EQ(Platform::ExtractFilePath("/a/b.cfg"), "/a/");
  EXPECT_EQ(Platform::ExtractFileExt("/a.d/b"), "");
  EXPECT_EQ(Platform::ExtractFileExt("b.tar.gz"), ".gz");
  EXPECT_EQ(Platform::ProgramDirectory().back(), '/');
}

}  // namespace
