// Placeholder for a subcommand whose subsystem is still being built.
// It answers bad usage with a clear line until the real command replaces this file.
#include <cstdio>

#include "cli/Commands.h"

int runEmbedCommand(const std::vector<std::string>&) {
  std::fprintf(stderr, "still2mov: this command is not available in this build\n");
  return 2;
}
