// SPDX-License-Identifier: GPL-2.0-or-later
// Every subcommand's options as one table each: GLib's option parser reads the command line
// from it, and --help, the man page and shell completion are written from the same rows.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace cli {

enum class OptionValue {
  none,      // a switch: --json
  required,  // --jobs=N, --jobs N, -j N, -jN
  optional,  // only in the --name=VALUE form: a following word is never taken as the value
};

struct OptionRow {
  char shortName = 0;  // 0: long form only
  const char* longName = "";
  OptionValue value = OptionValue::none;
  const char* valueName = nullptr;  // "N", "FORMAT" ... shown in --help
  const char* description = "";     // one line for --help; empty hides the option
  // Takes the value (nullptr for a switch, or an optional value left out); returns "" or what
  // is wrong with it, in words.
  std::function<std::string(const char* value)> apply;
};

// How many operands a command takes; fewer or more is a usage error in these words.
struct OperandCount {
  std::size_t fewest = 0;
  std::size_t most = SIZE_MAX;
  std::string tooFew = "no photograph given";
  std::string tooMany = "too many files given";
};

struct CommandSyntax {
  std::string name;                      // "embed"; "" for the conversion, "--info" for --info
  std::vector<std::string> usage;        // synopses after "still2mov "
  std::string summary;                   // what the command does, as lines
  std::vector<OptionRow> options;        // -h/--help and --version are added to every command
  std::string notes;                     // after the option list, as lines
  OperandCount operandCount;             // checked once the options are read
};

// Reads args (the words after the subcommand) against the syntax: the options' apply functions
// run in order, operands (in order, options before or after them; all words after "--") go to
// operands. Returns an exit status when the command is done: 0 after --help or --version
// (printed to standard output), 2 after a usage error (said on standard error), bad options
// or a count of operands outside the syntax's. Otherwise nothing: the command runs.
std::optional<int> parseCommandLine(const CommandSyntax& syntax, const std::vector<std::string>& args,
                                    std::vector<std::string>* operands);

// The command's --help text.
std::string helpText(const CommandSyntax& syntax);

// Says what is wrong, the usage and where to find help, on standard error; returns 2.
int usageError(const CommandSyntax& syntax, const std::string& problem);

// Switch and value helpers for option rows.
std::function<std::string(const char*)> setFlag(bool* flag);
// A whole number from min to max; what words the refusal of anything else.
std::function<std::string(const char*)> setNumber(int* number, int min, int max, const std::string& what);

}  // namespace cli
