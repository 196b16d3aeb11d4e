// Termination requests. SIGTERM (how `update` closes a running client), SIGINT and SIGHUP do
// not kill the process: they become a stop request that running workers honour through
// TThread::Terminated and that cuts the closing pause short, so the run still ends with its
// last log record, its clean-up and exit status 0.
#pragma once

namespace Platform {

// Blocks the signals in every thread created afterwards and watches them on a thread of its
// own. Call once, first thing in main, before any other thread exists.
void InstallStopRequestHandler();
bool StopRequested();
// Test seam and programmatic stop.
void RequestStop();
// Sleeps, returning early once a stop is requested; without the handler installed it
// sleeps through the replaceable clock.
void SleepUnlessStopped(int Milliseconds);

}  // namespace Platform
