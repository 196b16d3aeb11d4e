// update: replaces the client's files after a self-upgrade. Started by the client with the
// move list and the client's folder as one ";"-separated argument.
#include <string>
#include <vector>

#include "uUpdater.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  UpdaterOs::UnblockSignals();
  UpdaterOs::IgnoreBrokenOutput();
  TUpdaterSystem system;
  TUpdater updater(system);
  return updater.Run(args);
}
