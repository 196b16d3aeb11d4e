// The entry routine of zentrik: start-up, settings from the command line, the application
// log, argument checks, the command run, and the closing steps. Returns the exit status (0).
#pragma once

#include <string>
#include <vector>

// Args: the argument vector after the program path.
int ZentrikMain(const std::vector<std::string>& Args);

// The single command line handed to the option parser, rebuilt from the argument vector:
// arguments joined by blanks, a value holding white space re-quoted so that it stays one.
std::string RebuildCommandLine(const std::vector<std::string>& Args);
