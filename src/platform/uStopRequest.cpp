#include "uStopRequest.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "uPlatform.h"

namespace Platform {

namespace {
std::atomic<bool> Stop{false};
std::atomic<bool> Installed{false};
std::mutex WakeLock;
std::condition_variable Wake;

void SetStop() {
  {
    std::lock_guard<std::mutex> g(WakeLock);
    Stop = true;
  }
  Wake.notify_all();
}
}  // namespace

void InstallStopRequestHandler() {
  if (Installed.exchange(true)) return;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    while (true) {
      int sig = 0;
      if (sigwait(&set, &sig) == 0) SetStop();
    }
  }).detach();
}

bool StopRequested() { return Stop; }

void RequestStop() { SetStop(); }

void SleepUnlessStopped(int Milliseconds) {
  // Without the watcher nothing can wake us early: sleep through the (replaceable) clock.
  if (!Installed) {
    if (!Stop) SleepMs(Milliseconds);
    return;
  }
  std::unique_lock<std::mutex> g(WakeLock);
  Wake.wait_for(g, std::chrono::milliseconds(Milliseconds), [] { return Stop.load(); });
}

}  // namespace Platform
