// The entry routine of zentrik: start-up, settings from the command line, the application
// log, argument checks, the command run, and the closing steps. Returns the exit status (0).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "uLog.h"
#include "uSettings.h"

// The command runs the entry routine hands over to; tests put their own in to see what
// reaches them.
struct TCommandRuns {
  std::function<void(const TSettings&, TLogWriter&)> Upgrade;
  std::function<void(const TSettings&, TLogWriter&, const std::vector<std::string>&)> Transfers;
};

// Args: the argument vector after the program path.
int ZentrikMain(const std::vector<std::string>& Args);
// The same with other command runs (empty members: the real ones).
int ZentrikMain(const std::vector<std::string>& Args, const TCommandRuns& Runs);

// The single command line handed to the option parser, rebuilt from the argument vector:
// arguments joined by blanks, a value holding white space re-quoted so that it stays one.
std::string RebuildCommandLine(const std::vector<std::string>& Args);
