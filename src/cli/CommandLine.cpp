// Dispatches still2mov's command line to its subcommands. A first word that names no
// subcommand means a conversion, or --info when that option is given anywhere before "--".
#include <algorithm>
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace {

struct Subcommand {
  const char* word;
  const char* synopsis;     // after "still2mov "
  const char* description;  // for the list of commands
  int (*run)(const std::vector<std::string>& args);  // the words after the subcommand's
};

constexpr Subcommand kSubcommands[] = {
    {"--info", "--info [--json] [--verbose] PHOTO...", "show what each photograph carries", nullptr},
    {"embed", "embed VOICE.wav PHOTO.jpg OUT.jpg", "copy PHOTO, with VOICE as its voice annotation",
     runEmbedCommand},
    {"extract", "extract [-y] PHOTO [OUT.wav]", "write the voice annotation as the camera stored it",
     runExtractCommand},
    {"prefs", "prefs get|set Resize_QT_Image [true|false]", "show or change the resize preference",
     runPrefsCommand},
    {"app", "app [PHOTO...]", "run as the background application", runAppCommand},
    {"open", "open [PHOTO...]", "open photographs, or choose one in an open panel", runOpenCommand},
    {"send", "send [--no-reply] [--or-convert] PHOTO...", "hand photographs to the application", runSendCommand},
};

bool asksForInfo(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (a == "--info" || a.rfind("--info=", 0) == 0) return true;
  }
  return false;
}

}  // namespace

std::string commandSynopsis(const std::string& word) {
  for (const Subcommand& c : kSubcommands)
    if (word == c.word) return c.synopsis;
  return word;
}

std::vector<std::string> commandSynopses() {
  std::vector<std::string> all;
  for (const Subcommand& c : kSubcommands) all.push_back(c.synopsis);
  return all;
}

std::string commandList() {
  std::size_t width = 0;
  for (const Subcommand& c : kSubcommands) width = std::max(width, std::string(c.word).size());
  std::string out;
  for (const Subcommand& c : kSubcommands) {
    std::string line = std::string("  ") + c.word;
    line.resize(width + 4, ' ');
    out += line + c.description + "\n";
  }
  return out;
}

int still2movMain(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty())
    for (const Subcommand& c : kSubcommands)
      if (c.run != nullptr && args[0] == c.word) return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
  if (asksForInfo(args)) return runInfoCommand(args);
  return runConvertCommand(args);
}
