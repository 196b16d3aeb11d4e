#include "uLog.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ZentrikLogRenderer.h"
#include "uTestSupport.h"

namespace {

using TestSupport::Lines;
using TestSupport::ReadText;

Platform::TDateTime At(int Y, int Mo, int D, int H, int Mi, int S, int Ms) {
  Platform::TDateTime t;
  t.Year = Y;
  t.Month = Mo;
  t.Day = D;
  t.Hour = H;
  t.Minute = Mi;
  t.Second = S;
  t.Millisecond = Ms;
  return t;
}

TLogRecord Record(TLogLevel Level, const std::string& Message, const std::string& Tag, int Tid,
                  Platform::TDateTime Time = At(2026, 3, 26, 8, 15, 42, 123)) {
  TLogRecord r;
  r.Level = Level;
  r.Message = Message;
  r.Tag = Tag;
  r.ThreadId = Tid;
  r.Time = Time;
  return r;
}

struct TLayoutCase {
  TLogRecord Item;
  std::string Line;
};

TEST(LogLayout, DefaultLayout) {
  const TLayoutCase cases[] = {
      {Record(TLogLevel::llInfo, "Start aplikace", "APL", 4711), "2026-03-26 08:15:42:123 [TID     4711][INFO   ] Start aplikace [APL]"},
      {Record(TLogLevel::llDebug, "d", "APL", 1), "2026-03-26 08:15:42:123 [TID        1][DEBUG  ] d [APL]"},
      {Record(TLogLevel::llWarning, "w", "APL", 1), "2026-03-26 08:15:42:123 [TID        1][WARNING] w [APL]"},
      {Record(TLogLevel::llError, "e", "APL", 1), "2026-03-26 08:15:42:123 [TID        1][ERROR  ] e [APL]"},
      {Record(TLogLevel::llFatal, "f", "APL", 1), "2026-03-26 08:15:42:123 [TID        1][FATAL  ] f [APL]"},
      // A thread id wider than eight digits is never cut; every time part is zero-padded.
      {Record(TLogLevel::llInfo, "x", "T", 123456789, At(987, 1, 2, 3, 4, 5, 6)), "0987-01-02 03:04:05:006 [TID 123456789][INFO   ] x [T]"},
      // An empty message still has its two blanks.
      {Record(TLogLevel::llInfo, "", "APL", 42), "2026-03-26 08:15:42:123 [TID       42][INFO   ]  [APL]"},
  };
  for (const auto& c : cases) EXPECT_EQ(DefaultLogRender(c.Item), c.Line);
}

TEST(LogLayout, TransferLayout) {
  const TLayoutCase cases[] = {
      {Record(TLogLevel::llInfo, "[000] Start vlákna zakazka1.cfg", "zakazka1.cfg", 1),
       "2026-03-26 08:15:42.123 [INFO    ][000] Start vlákna zakazka1.cfg [zakazka1.cfg]"},
      {Record(TLogLevel::llDebug, "m", "t", 1), "2026-03-26 08:15:42.123 [DEBUG   ]m [t]"},
      {Record(TLogLevel::llWarning, "m", "t", 1), "2026-03-26 08:15:42.123 [WARN    ]m [t]"},
      {Record(TLogLevel::llError, "m", "t", 1), "2026-03-26 08:15:42.123 [ERROR   ]m [t]"},
      {Record(TLogLevel::llFatal, "m", "t", 1), "2026-03-26 08:15:42.123 [UNKNOWN ]m [t]"},
      {Record(TLogLevel::llInfo, "m", "t", 1, At(2026, 1, 2, 3, 4, 5, 6)), "2026-01-02 03:04:05.006 [INFO    ]m [t]"},
  };
  for (const auto& c : cases) EXPECT_EQ(TZentrikLogRenderer::RenderLogItem(c.Item), c.Line);
  EXPECT_EQ(LogLevelName(static_cast<TLogLevel>(99)), "UNKNOWN");
}

class TFixedClock : public Platform::TClock {
 public:
  Platform::TDateTime Now() override { return At(2026, 3, 26, 8, 15, 42, 123); }
};

// Writes through a writer into a fresh directory; the system clock is restored afterwards.
class LogWriter : public ::testing::Test {
 protected:
  void TearDown() override { Platform::SetClock(nullptr); }

  TLogWriterConfig Config(const std::string& SubDir = "logs") const {
    TLogWriterConfig c;
    c.Directory = fDir / SubDir;
    c.FileNamePattern = "Zentrik_pid_{pid}.{number}.{tag}.log";
    return c;
  }

  // Renders the message alone, so sizes are easy to control.
  static std::string Bare(const TLogRecord& Item) { return Item.Message; }

  std::string PidText() const {
    std::string s = std::to_string(Platform::ProcessId());
    return std::string(8 - s.size(), '0') + s;
  }

  TestSupport::TTempDir fDir;
};

TEST_F(LogWriter, NamesFilesByTagPidAndNumberAndCreatesParents) {
  Platform::SetClock(std::make_shared<TFixedClock>());
  TLogWriterConfig c = Config("a/b/c");
  TLogWriter log(c);
  log.Info("Start aplikace", "APL");
  log.Info("[000] x", "zakazka1.cfg");

  std::string apl = fDir / ("a/b/c/Zentrik_pid_" + PidText() + ".00.APL.log");
  EXPECT_EQ(log.FileNameFor("APL"), apl);
  EXPECT_EQ(log.FileNameFor("APL", 7), fDir / ("a/b/c/Zentrik_pid_" + PidText() + ".07.APL.log"));
  std::string tid = std::to_string(Platform::ThreadId());
  // Read while the writer is still open: every line is in the file at once.
  EXPECT_EQ(ReadText(apl), "2026-03-26 08:15:42:123 [TID " + std::string(tid.size() < 8 ? 8 - tid.size() : 0, ' ') + tid +
                               "][INFO   ] Start aplikace [APL]\n");
  EXPECT_EQ(Lines(ReadText(log.FileNameFor("zakazka1.cfg"))).size(), 1u);
}

TEST_F(LogWriter, LowestLevelDropsRecordsBelowIt) {
  struct TCase {
    TLogLevel MinLevel;
    std::vector<std::string> Expected;
  };
  const TCase cases[] = {
      {TLogLevel::llDebug, {"d", "i", "w", "e", "f"}},
      {TLogLevel::llInfo, {"i", "w", "e", "f"}},
      {TLogLevel::llError, {"e", "f"}},
  };
  int n = 0;
  for (const auto& tc : cases) {
    TLogWriterConfig c = Config("lvl" + std::to_string(n++));
    c.MinLevel = tc.MinLevel;
    c.Renderer = Bare;
    TLogWriter log(c);
    log.Debug("d", "APL");
    log.Info("i", "APL");
    log.Warn("w", "APL");
    log.Error("e", "APL");
    log.Fatal("f", "APL");
    EXPECT_EQ(Lines(ReadText(log.FileNameFor("APL"))), tc.Expected);
  }
}

TEST_F(LogWriter, ContinuesAnExistingFile) {
  TLogWriterConfig c = Config();
  c.Renderer = Bare;
  {
    TLogWriter first(c);
    first.Info("one", "APL");
  }
  TLogWriter second(c);
  second.Info("two", "APL");
  EXPECT_EQ(ReadText(second.FileNameFor("APL")), "one\ntwo\n");
}

TEST_F(LogWriter, OneFileSetStartsAgainEmptyWhenFull) {
  TLogWriterConfig c = Config();
  c.Renderer = Bare;
  c.MaxFileSize = 100;
  TLogWriter log(c);
  const std::string line(39, 'a');  // 40 bytes with the line end
  log.Info(line, "APL");
  log.Info(line, "APL");
  EXPECT_EQ(Platform::FileSize(log.FileNameFor("APL")), 80);
  log.Info(line, "APL");  // 120 > 100: the full file goes
  EXPECT_FALSE(Platform::FileExists(log.FileNameFor("APL")));
  log.Info("next", "APL");
  EXPECT_EQ(ReadText(log.FileNameFor("APL")), "next\n");
  EXPECT_FALSE(Platform::FileExists(log.FileNameFor("APL", 1)));
}

TEST_F(LogWriter, TenFileSetShiftsAndDropsTheOldest) {
  TLogWriterConfig c = Config();
  c.Renderer = Bare;
  c.MaxFiles = 10;
  c.MaxFileSize = 5;
  TLogWriter log(c);
  // Each record overflows the limit on its own, so each one fills a file: 12 records, 12 rotations.
  for (int i = 1; i <= 12; ++i) log.Info("record" + std::to_string(i), "T");
  log.Info("now", "T");  // within the limit: stays current
  EXPECT_EQ(ReadText(log.FileNameFor("T", 0)), "now\n");
  for (int n = 1; n <= 9; ++n) EXPECT_EQ(ReadText(log.FileNameFor("T", n)), "record" + std::to_string(13 - n) + "\n") << n;
  EXPECT_FALSE(Platform::FileExists(log.FileNameFor("T", 10)));
  EXPECT_EQ(TestSupport::ListNames(c.Directory).size(), 10u);
}

TEST_F(LogWriter, RealLimitRotatesOnlyOnceTheFileGrowsBeyondIt) {
  TLogWriterConfig c = Config();
  c.Renderer = Bare;
  ASSERT_EQ(c.MaxFileSize, 1024000);
  TLogWriter log(c);
  const std::string line(999, 'x');  // 1000 bytes with the line end
  for (int i = 0; i < 1024; ++i) log.Info(line, "APL");
  EXPECT_EQ(Platform::FileSize(log.FileNameFor("APL")), 1024000);  // at the limit, not beyond it
  log.Info(line, "APL");
  EXPECT_FALSE(Platform::FileExists(log.FileNameFor("APL")));
  log.Info("after", "APL");
  EXPECT_EQ(ReadText(log.FileNameFor("APL")), "after\n");
}

TEST_F(LogWriter, RecordsFromManyThreadsStayWholeAndInOrder) {
  TLogWriterConfig c = Config();
  TLogWriter log(c);
  const int threads = 4, each = 300;
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t)
    pool.emplace_back([&log, t] {
      for (int i = 0; i < each; ++i) log.Info("t" + std::to_string(t) + " " + std::to_string(i), "APL");
    });
  for (auto& th : pool) th.join();
  auto lines = Lines(ReadText(log.FileNameFor("APL")));
  ASSERT_EQ(lines.size(), static_cast<size_t>(threads * each));
  std::vector<int> next(threads, 0);
  for (const auto& l : lines) {
    // "... [INFO   ] t<k> <i> [APL]"
    auto p = l.find("] t");
    ASSERT_NE(p, std::string::npos) << l;
    ASSERT_TRUE(l.size() > 6 && l.substr(l.size() - 6) == " [APL]") << l;
    std::string body = l.substr(p + 3, l.size() - 6 - (p + 3));
    int t = std::stoi(body.substr(0, body.find(' ')));
    int i = std::stoi(body.substr(body.find(' ') + 1));
    ASSERT_EQ(i, next[t]) << l;
    ++next[t];
  }
}

TEST_F(LogWriter, FailuresMakeRecordsDisappearSilently) {
  fDir.Write("blocked", "a file where the directory should be");
  TLogWriterConfig c = Config("blocked/logs");
  TLogWriter log(c);
  EXPECT_NO_THROW(log.Error("lost", "APL"));
  EXPECT_FALSE(Platform::FileExists(log.FileNameFor("APL")));

  // Once the directory can be made, the next record is written.
  Platform::DeleteFile(fDir / "blocked");
  log.Error("kept", "APL");
  EXPECT_EQ(Lines(ReadText(log.FileNameFor("APL"))).size(), 1u);
}

}  // namespace
