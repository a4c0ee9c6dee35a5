// Placeholder for the background application's commands while the application is built.
// They answer bad usage with a clear line until the real commands replace this file.
#include <cstdio>

#include "cli/Commands.h"

int runAppCommand(const std::vector<std::string>&) {
  std::fprintf(stderr, "still2mov: the background application is not available in this build\n");
  return 2;
}

int runOpenCommand(const std::vector<std::string>&) {
  std::fprintf(stderr, "still2mov: the open panel is not available in this build\n");
  return 2;
}
