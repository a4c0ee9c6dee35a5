// SPDX-License-Identifier: GPL-2.0-or-later
// Dispatches still2mov's command line to its subcommands. A first word that names no
// subcommand means a conversion, or --info when that option is given anywhere before "--"; the
// commands of the application and the bus run in the application's binary.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Processes/ProgramImage.h"

namespace {

using Run = int (*)(const std::vector<std::string>& args);  // the words after the subcommand's

struct Subcommand {
  const char* word;
  const char* synopsis;     // after "still2mov "
  const char* description;  // for the list of commands
  Run run;                  // null for --info and for the commands the bus serves
  Run BusCommands::*onBus;  // the bus command's slot, for those
};

constexpr Subcommand kSubcommands[] = {
    {"--info", "--info [--json] [--verbose] PHOTO...", "show what each photograph carries", nullptr, nullptr},
    {"watch", "watch [OPTION...] FOLDER...", "convert photographs as they arrive in folders", runWatchCommand,
     nullptr},
    {"embed", "embed [-y] VOICE.wav PHOTO.jpg OUT.jpg", "copy PHOTO, with VOICE as its voice annotation",
     runEmbedCommand, nullptr},
    {"extract", "extract [-y] PHOTO [OUT.wav]", "write the voice annotation as the camera stored it",
     runExtractCommand, nullptr},
    {"prefs", "prefs get|set Resize_QT_Image|Movie_Format [VALUE]", "show or change a preference",
     runPrefsCommand, nullptr},
    {"app", "app [PHOTO...]", "run as the background application", nullptr, &BusCommands::app},
    {"open", "open [PHOTO...]", "open photographs, or choose one in an open panel", nullptr, &BusCommands::open},
    {"send", "send [--no-reply] [--or-convert] PHOTO...", "hand photographs to the application", nullptr,
     &BusCommands::send},
};

bool asksForInfo(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (a == "--info" || a.rfind("--info=", 0) == 0) return true;
  }
  return false;
}

// The application's binary: beside this one (a build), or where it is installed.
constexpr const char* kApplicationBinary = "still2mov-app";
constexpr const char* kInstalledApplicationBinary = STILL2MOV_INSTALLED_APP;

// Runs the command in the application's binary, in this same process; returns only on failure.
int handToApplication(char** argv) {
  std::string reason;
  ExecProgramBesideThisOne({kApplicationBinary, kInstalledApplicationBinary}, argv, &reason);
  std::fprintf(stderr, "still2mov: the application is not installed beside this program (%s): %s\n",
               kApplicationBinary, reason.c_str());
  return 1;
}

}  // namespace

std::string commandSynopsis(const std::string& word) {
  for (const Subcommand& c : kSubcommands)
    if (word == c.word) return c.synopsis;
  return word;
}

cli::CommandSyntax subcommandSyntax(const std::string& word) {
  cli::CommandSyntax s;
  s.name = word;
  s.usage = {commandSynopsis(word)};
  return s;
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

namespace {

int runCommand(const std::vector<std::string>& args, char** argv, const BusCommands* bus) {
  if (!args.empty())
    for (const Subcommand& c : kSubcommands) {
      if (args[0] != c.word) continue;
      const std::vector<std::string> rest(args.begin() + 1, args.end());
      if (c.run != nullptr) return c.run(rest);
      if (c.onBus != nullptr) return bus != nullptr ? (bus->*c.onBus)(rest) : handToApplication(argv);
    }
  // "convert" is the default command's own name: the words after it are a conversion's.
  if (!args.empty() && args[0] == "convert") return runConvertCommand({args.begin() + 1, args.end()});
  if (asksForInfo(args)) return runInfoCommand(args);
  return runConvertCommand(args);
}

// As coreutils do: output that could not be written fails the run (exit 1), said in one line
// on standard error while that can still be written.
int finishOutput(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int reason = flushed ? 0 : errno;
  if (!flushed || std::ferror(stdout)) {
    if (reason != 0) std::fprintf(stderr, "still2mov: write error on standard output: %s\n", ErrnoWords(reason).c_str());
    else std::fputs("still2mov: write error on standard output\n", stderr);
    if (status == 0) status = 1;
  }
  if (std::fflush(stderr) != 0 || std::ferror(stderr)) {
    if (status == 0) status = 1;
  }
  return status;
}

}  // namespace

int still2movMain(int argc, char** argv, const BusCommands* bus) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return finishOutput(runCommand(args, argv, bus));
}
