#include "uThread.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class TRecordingThread : public TThread {
 public:
  TRecordingThread() : TThread(true) {}
  ~TRecordingThread() override { WaitFor(); }
  std::vector<std::thread::id> CallThreads;
  std::vector<int> Order;
  int Calls = 3;

 protected:
  void Execute() override {
    for (int i = 0; i < Calls; ++i) {
      Synchronize([this, i] {
        CallThreads.push_back(std::this_thread::get_id());
        Order.push_back(i);
      });
      Order.push_back(100 + i);  // only after the main thread has run the call
    }
  }
};

TEST(TThread, SynchronizedCallsRunInTheWaitingThreadAndBlockTheWorker) {
  TRecordingThread t;
  EXPECT_EQ(t.ThreadID(), 0);
  t.Start();
  t.WaitFor();
  ASSERT_EQ(t.CallThreads.size(), 3u);
  for (auto id : t.CallThreads) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_EQ(t.Order, (std::vector<int>{0, 100, 1, 101, 2, 102}));
  EXPECT_NE(t.ThreadID(), 0);
  EXPECT_TRUE(t.Finished());
}

TEST(TThread, OnTerminateRunsInMainThreadOnceAndSuspendedThreadNeverRuns) {
  int calls = 0;
  std::thread::id where;
  {
    TRecordingThread t;
    t.Calls = 0;
    t.OnTerminate = [&](TThread*) {
      ++calls;
      where = std::this_thread::get_id();
    };
    t.Start();
    t.WaitFor();
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(where, std::this_thread::get_id());
  { TRecordingThread never; }  // destroyed without Start: no run, no hang
}

TEST(TThread, TerminateSetsTheFlag) {
  TRecordingThread t;
  EXPECT_FALSE(t.Terminated());
  t.Terminate();
  EXPECT_TRUE(t.Terminated());
}

}  // namespace
