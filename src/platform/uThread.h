// Worker thread: created suspended, started once, waited for by the main thread, which
// meanwhile runs the calls the worker hands over (Synchronize) while the worker blocks.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "uStopRequest.h"

class TThread {
 public:
  explicit TThread(bool CreateSuspended);
  virtual ~TThread();  // waits for a running worker (serving its calls) before it goes
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Blocks until the worker has ended; runs the worker's synchronised calls meanwhile.
  // Must be called from the thread that created the object (the main thread).
  void WaitFor();
  void Terminate() { fTerminated = true; }
  // Also true once the process was asked to stop (SIGTERM and the like).
  bool Terminated() const { return fTerminated || Platform::StopRequested(); }
  bool Finished() const { return fFinished; }
  // OS id of the worker thread; 0 before it runs.
  int ThreadID() const { return fThreadID; }

  // Completion event. Delivered in the main thread after Execute unless the worker called
  // and cleared it itself.
  std::function<void(TThread* Sender)> OnTerminate;

 protected:
  virtual void Execute() = 0;
  // Runs Call in the main thread and returns once it has run there. Called from the main
  // thread itself (or with no worker running), it runs at once.
  void Synchronize(const std::function<void()>& Call);

 private:
  void Run();

  std::thread fThread;
  std::thread::id fOwner;
  std::atomic<bool> fTerminated{false};
  std::atomic<bool> fFinished{false};
  std::atomic<int> fThreadID{0};
  bool fStarted = false;
  std::mutex fLock;
  std::condition_variable fWake;
  std::deque<const std::function<void()>*> fCalls;
};
