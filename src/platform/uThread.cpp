#include "uThread.h"

#include "uPlatform.h"

TThread::TThread(bool CreateSuspended) : fOwner(std::this_thread::get_id()) {
  if (!CreateSuspended) Start();
}

TThread::~TThread() {
  if (fStarted) WaitFor();
}

void TThread::Start() {
  if (fStarted) return;
  fStarted = true;
  fThread = std::thread([this] { Run(); });
}

void TThread::Run() {
  fThreadID = Platform::ThreadId();
  try {
    Execute();
  } catch (...) {
    // Workers handle their own errors; nothing may escape the thread.
  }
  if (OnTerminate) {
    auto handler = OnTerminate;
    try {
      Synchronize([this, handler] { handler(this); });
    } catch (...) {
    }
  }
  {
    std::lock_guard<std::mutex> g(fLock);
    fFinished = true;
  }
  fWake.notify_all();
}

void TThread::Synchronize(const std::function<void()>& Call) {
  if (std::this_thread::get_id() == fOwner || !fStarted) {
    Call();
    return;
  }
  const std::function<void()>* item = &Call;
  std::unique_lock<std::mutex> g(fLock);
  fCalls.push_back(item);
  fWake.notify_all();
  // The main thread removes the call from the queue once it has run it.
  fWake.wait(g, [&] {
    for (auto* c : fCalls)
      if (c == item) return false;
    return true;
  });
}

void TThread::WaitFor() {
  if (!fStarted) return;
  if (std::this_thread::get_id() == fThread.get_id()) return;  // a worker never waits for itself
  std::unique_lock<std::mutex> g(fLock);
  while (true) {
    fWake.wait(g, [&] { return fFinished.load() || !fCalls.empty(); });
    if (!fCalls.empty()) {
      auto* call = fCalls.front();
      g.unlock();
      try {
        (*call)();
      } catch (...) {
        // An error of the handler must not leave the worker blocked for ever.
      }
      g.lock();
      fCalls.pop_front();
      fWake.notify_all();
      continue;
    }
    if (fFinished) break;
  }
  g.unlock();
  if (fThread.joinable()) fThread.join();
}
