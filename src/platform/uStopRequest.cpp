#include "uStopRequest.h"

#include <signal.h>

#include <atomic>
#include <thread>

#include "uPlatform.h"

namespace Platform {

namespace {
std::atomic<bool> Stop{false};
}

void InstallStopRequestHandler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set] {
    while (true) {
      int sig = 0;
      if (sigwait(&set, &sig) == 0) Stop = true;
    }
  }).detach();
}

bool StopRequested() { return Stop; }

void RequestStop() { Stop = true; }

void SleepUnlessStopped(int Milliseconds) {
  constexpr int Slice = 50;
  while (Milliseconds > 0 && !Stop) {
    int step = Milliseconds < Slice ? Milliseconds : Slice;
    SleepMs(step);
    Milliseconds -= step;
  }
}

}  // namespace Platform
