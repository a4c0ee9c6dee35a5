// Placeholders for subcommands whose subsystems are still being built.
// Each answers bad usage with a clear line until its real file replaces it.
#include <cstdio>

#include "cli/Commands.h"

namespace {
int notYet(const char* what) {
  std::fprintf(stderr, "still2mov: %s is not available in this build\n", what);
  return 2;
}
}  // namespace

int runConvertCommand(const std::vector<std::string>&) { return notYet("conversion"); }
int runInfoCommand(const std::vector<std::string>&) { return notYet("--info"); }
int runEmbedCommand(const std::vector<std::string>&) { return notYet("embed"); }
int runPrefsCommand(const std::vector<std::string>&) { return notYet("prefs"); }
int runAppCommand(const std::vector<std::string>&) { return notYet("app"); }
int runOpenCommand(const std::vector<std::string>&) { return notYet("open"); }
int runSendCommand(const std::vector<std::string>&) { return notYet("send"); }
bool defaultResizePreference() { return true; }
