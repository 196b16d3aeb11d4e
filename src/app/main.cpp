#include <string>
#include <vector>

#include "uEntry.h"
#include "uStopRequest.h"

int main(int argc, char** argv) {
  Platform::InstallStopRequestHandler();
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  return ZentrikMain(args);
}
