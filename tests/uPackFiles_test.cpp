#include "uPackFiles.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "uTestSupport.h"

namespace {

constexpr int64_t FullVolume = 157286400;
using TestSupport::ReadText;
using TestSupport::RunProcess;
using TestSupport::TTempDir;

// Mostly incompressible bytes with some text, like the PDFs orders carry.
std::string Document(size_t Size, unsigned Seed) {
  std::mt19937 rng(Seed);
  std::string s;
  s.reserve(Size);
  while (s.size() < Size) {
    if (rng() % 4 == 0) {
      s += "BT /F1 12 Tf 72 712 Td (Faktura c. " + std::to_string(rng() % 100000) + ") Tj ET\n";
    } else {
      for (int i = 0; i < 256; ++i) s += static_cast<char>(rng());
    }
  }
  s.resize(Size);
  return s;
}

struct TSevenZip {
  int Exit = -1;
  std::string Out;
};

TSevenZip SevenZip(const std::vector<std::string>& Args) {
  auto r = RunProcess("/usr/bin/7z", Args, "", "", 120000);
  return {r.ExitCode, r.Out + r.Err};
}

// "Path = " values of the archive's entries, in archive order.
std::vector<std::string> EntryNames(const std::string& FirstVolume) {
  auto r = SevenZip({"l", "-slt", FirstVolume});
  std::vector<std::string> names;
  bool entries = false;
  for (const auto& line : TestSupport::Lines(r.Out)) {
    if (line == "----------") entries = true;
    if (entries && line.rfind("Path = ", 0) == 0) names.push_back(line.substr(7));
  }
  return names;
}

class Packing : public ::testing::Test {
 protected:
  std::string Base() const { return Dir / "zakaz03070_4711"; }
  // Packs, expects success, and checks the archive with 7-Zip: test, listing and extraction.
  std::vector<std::string> PackAndCheck(const std::vector<std::string>& Docs, int64_t VolumeSize) {
    std::vector<std::string> volumes;
    std::string error;
    std::vector<std::string> announced;
    EXPECT_TRUE(PackDocuments(Docs, Base(), VolumeSize, volumes, error,
                              [&](const std::string& D) { announced.push_back(D); }))
        << error;
    EXPECT_EQ(announced, Docs);
    if (volumes.empty()) return volumes;

    auto test = SevenZip({"t", volumes.front()});
    EXPECT_EQ(test.Exit, 0) << test.Out;

    // Entries under their bare names in list order; the writer lists empty documents last.
    std::vector<std::string> bare, listed, empty;
    for (const auto& d : Docs) {
      bare.push_back(d.substr(d.rfind('/') + 1));
      (ReadText(d).empty() ? empty : listed).push_back(bare.back());
    }
    listed.insert(listed.end(), empty.begin(), empty.end());
    EXPECT_EQ(EntryNames(volumes.front()), listed);

    // Entries of the same name are extracted as name, name_1, ...: compare each in order.
    const std::string out = Dir / "out";
    auto x = SevenZip({"x", "-aou", "-o" + out, volumes.front()});
    EXPECT_EQ(x.Exit, 0) << x.Out;
    std::map<std::string, int> seen;
    for (size_t i = 0; i < Docs.size(); ++i) {
      const std::string& name = bare[i];
      int n = seen[name]++;
      std::string path = out + "/" + name;
      if (n > 0) {
        auto dot = name.rfind('.');
        path = out + "/" + (dot == std::string::npos ? name + "_" + std::to_string(n)
                                                     : name.substr(0, dot) + "_" + std::to_string(n) + name.substr(dot));
      }
      EXPECT_TRUE(TestSupport::Exists(path)) << path;
      EXPECT_TRUE(ReadText(path) == ReadText(Docs[i])) << "content differs: " << Docs[i];
    }
    return volumes;
  }
  TTempDir Dir;
};

TEST_F(Packing, SeveralDocumentsSameNamesAndAnEmptyOne) {
  std::vector<std::string> docs = {
      Dir.Write("in/faktura.pdf", Document(300000, 1)),
      Dir.Write("in/prazdny.pdf", ""),
      Dir.Write("in/b/faktura.pdf", Document(200000, 2)),
      Dir.Write("in/Dopis \xC4\x8D.1.txt", std::string(5000, 'a')),
  };
  auto volumes = PackAndCheck(docs, FullVolume);
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0], Base() + ".7z.001");
}

TEST_F(Packing, LargeDocumentSpansVolumesOfExactSize) {
  const int64_t size = 256 * 1024;
  std::vector<std::string> docs = {Dir.Write("in/velky.pdf", Document(2 * 1024 * 1024 + 123, 3)),
                                   Dir.Write("in/maly.txt", "ahoj")};
  auto volumes = PackAndCheck(docs, size);
  ASSERT_GE(volumes.size(), 4u);
  for (size_t i = 0; i < volumes.size(); ++i) {
    char num[24];
    std::snprintf(num, sizeof num, "%.3zu", i + 1);
    EXPECT_EQ(volumes[i], Base() + ".7z." + num);
    const auto bytes = ReadText(volumes[i]).size();
    if (i + 1 < volumes.size())
      EXPECT_EQ(bytes, static_cast<size_t>(size)) << volumes[i];
    else
      EXPECT_GT(bytes, 0u);
  }
  EXPECT_FALSE(TestSupport::Exists(Base() + ".7z." + std::to_string(volumes.size() + 1001).substr(1)));
}

TEST_F(Packing, VolumeNumbersPastThreeDigitsAreNeverCut) {
  // Tiny volumes: about 1100 of them from a small document.
  std::vector<std::string> docs = {Dir.Write("in/a.bin", Document(70000, 4))};
  auto volumes = PackAndCheck(docs, 64);
  ASSERT_GT(volumes.size(), 1000u);
  EXPECT_EQ(volumes[998], Base() + ".7z.999");
  EXPECT_EQ(volumes[999], Base() + ".7z.1000");
}

TEST_F(Packing, CompressionLevelFour) {
  std::vector<std::string> docs = {Dir.Write("in/a.txt", std::string(100000, 'z'))};
  auto volumes = PackAndCheck(docs, FullVolume);
  ASSERT_FALSE(volumes.empty());
  // Level 4 of the LZMA encoder uses a 4 MiB dictionary (level 6 would show 8 MiB).
  auto l = SevenZip({"l", "-slt", volumes.front()});
  EXPECT_NE(l.Out.find("Method = LZMA:22"), std::string::npos) << l.Out;
}

TEST_F(Packing, FailuresNameTheirCauseAndReportTheVolumesLeft) {
  std::string a = Dir.Write("in/a.pdf", Document(1000, 5));
  struct Case {
    const char* What;
    std::vector<std::string> Docs;
    std::string Base;
    std::string ErrorPart;
  };
  const Case cases[] = {
      {"missing document", {a, Dir / "in/missing.pdf"}, Base(), "missing.pdf"},
      {"temporary folder missing", {a}, Dir / "nowhere/zakaz_1", "nowhere/zakaz_1.7z.001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    std::vector<std::string> volumes;
    std::string error;
    EXPECT_FALSE(PackDocuments(c.Docs, c.Base, FullVolume, volumes, error));
    EXPECT_NE(error.find(c.ErrorPart), std::string::npos) << error;
    for (const auto& v : volumes) EXPECT_TRUE(TestSupport::Exists(v)) << v;
  }
}

}  // namespace
