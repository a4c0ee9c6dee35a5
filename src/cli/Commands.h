// SPDX-License-Identifier: GPL-2.0-or-later
// The command line's subcommands, each in its own file; CommandLine.cpp dispatches to them.
// Each returns the process exit status: 0 success, 1 a photograph failed, 2 bad usage.
#pragma once
#include <string>
#include <vector>

#include "cli/OptionParser.h"

// The commands that need the desktop's bus (GIO): linked into the application's binary only, so
// that every other command starts without them.
struct BusCommands {
  int (*app)(const std::vector<std::string>& args);
  int (*open)(const std::vector<std::string>& args);
  int (*send)(const std::vector<std::string>& args);
};
extern const BusCommands kBusCommands;

// Without bus commands, "app", "open" and "send" are handed to the application's binary (the same
// arguments, the same process).
int still2movMain(int argc, char** argv, const BusCommands* bus = nullptr);

int runConvertCommand(const std::vector<std::string>& args);  // [OPTION...] PHOTO... | -r FOLDER...
int runInfoCommand(const std::vector<std::string>& args);     // --info [--json] [--verbose] PHOTO...
int runWatchCommand(const std::vector<std::string>& args);     // watch [OPTION...] FOLDER...
int runEmbedCommand(const std::vector<std::string>& args);    // embed [-y] VOICE.wav PHOTO.jpg OUT.jpg
int runExtractCommand(const std::vector<std::string>& args);  // extract [-y] PHOTO [OUT.wav]
int runPrefsCommand(const std::vector<std::string>& args);    // prefs get|set KEY [value]
int runAppCommand(const std::vector<std::string>& args);      // app [PHOTO...] : the background application
int runOpenCommand(const std::vector<std::string>& args);     // open [PHOTO...] : documents or the open panel
int runSendCommand(const std::vector<std::string>& args);     // send PHOTO... : the camera-import event

// A subcommand's synopsis after "still2mov " ("embed VOICE.wav PHOTO.jpg OUT.jpg"), as its own
// --help and the list of commands show it.
std::string commandSynopsis(const std::string& word);
// A subcommand's syntax with its name and synopsis from the list of commands.
cli::CommandSyntax subcommandSyntax(const std::string& word);
// Every subcommand's synopsis, in the order the main --help lists them.
std::vector<std::string> commandSynopses();
// The list of commands in the main --help: one line per command with what it does.
std::string commandList();
