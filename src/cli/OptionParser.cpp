// SPDX-License-Identifier: GPL-2.0-or-later
// The option tables on GLib's option parser. GLib parses; a first pass over the words adds
// the two forms users know from getopt that GLib lacks: a value joined to its short option
// (-j4) and a value that only the --name=VALUE form may give (--info=json).
#include "cli/OptionParser.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <deque>

namespace cli {
namespace {

constexpr const char* kProgram = "still2mov";

// The rows the parser reads: the command's own, then help and version.
struct ParseState {
  std::vector<OptionRow> rows;
  // Per row, the values given with "=" to an optional-value option, in the order given.
  std::vector<std::deque<std::optional<std::string>>> optionalValues;
  bool help = false;
  bool version = false;
};

const OptionRow* findLong(const std::vector<OptionRow>& rows, const std::string& name, std::size_t* index) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (name == rows[i].longName) {
      *index = i;
      return &rows[i];
    }
  return nullptr;
}

const OptionRow* findShort(const std::vector<OptionRow>& rows, char name, std::size_t* index) {
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (name != 0 && rows[i].shortName == name) {
      *index = i;
      return &rows[i];
    }
  return nullptr;
}

// Rewrites the words before "--" into what GLib reads; false with problem for a value given to
// a switch.
bool prepareWords(ParseState* state, const std::vector<std::string>& args, std::vector<std::string>* words,
                  std::string* problem) {
  bool valueNext = false;
  bool ended = false;
  for (const std::string& a : args) {
    if (ended || valueNext) {
      valueNext = false;
      words->push_back(a);
      continue;
    }
    if (a == "--") {
      ended = true;
      words->push_back(a);
      continue;
    }
    std::size_t index = 0;
    if (a.rfind("--", 0) == 0) {
      const std::size_t eq = a.find('=');
      const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      const OptionRow* row = findLong(state->rows, name, &index);
      if (row == nullptr) {
        words->push_back(a);  // GLib names it as unknown
      } else if (row->value == OptionValue::none && eq != std::string::npos) {
        *problem = "option --" + name + " takes no value";
        return false;
      } else if (row->value == OptionValue::optional) {
        // GLib would take the next word as the value; only "=" may give one here.
        state->optionalValues[index].push_back(eq == std::string::npos ? std::nullopt
                                                                       : std::optional(a.substr(eq + 1)));
        words->push_back("--" + name);
      } else {
        valueNext = row->value == OptionValue::required && eq == std::string::npos;
        words->push_back(a);
      }
      continue;
    }
    if (a.size() > 1 && a[0] == '-') {
      // A cluster of short options: a value-taking one ends it, and what follows is its value.
      std::size_t k = 1;
      for (; k < a.size(); ++k) {
        const OptionRow* row = findShort(state->rows, a[k], &index);
        if (row == nullptr || row->value != OptionValue::required) continue;
        if (k + 1 < a.size()) {
          words->push_back(a.substr(0, k + 1));
          words->push_back(a.substr(k + 1));
        } else {
          words->push_back(a);
          valueNext = true;
        }
        break;
      }
      if (k == a.size()) words->push_back(a);
      continue;
    }
    words->push_back(a);
  }
  return true;
}

gboolean onOption(const gchar* optionName, const gchar* value, gpointer data, GError** error) {
  auto* state = static_cast<ParseState*>(data);
  const std::string name = optionName;
  std::size_t index = 0;
  const OptionRow* row = name.rfind("--", 0) == 0 ? findLong(state->rows, name.substr(2), &index)
                                                  : findShort(state->rows, name.size() > 1 ? name[1] : 0, &index);
  if (row == nullptr) return TRUE;
  std::optional<std::string> given;
  if (row->value == OptionValue::optional && !state->optionalValues[index].empty()) {
    given = state->optionalValues[index].front();
    state->optionalValues[index].pop_front();
    value = given ? given->c_str() : nullptr;
  }
  const std::string refusal = row->apply ? row->apply(value) : "";
  if (refusal.empty()) return TRUE;
  g_set_error_literal(error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE, refusal.c_str());
  return FALSE;
}

std::string optionColumn(const OptionRow& row) {
  std::string column = row.shortName ? std::string("  -") + row.shortName + ", " : std::string("      ");
  column += std::string("--") + row.longName;
  if (row.value == OptionValue::required) column += std::string("=") + row.valueName;
  if (row.value == OptionValue::optional) column += std::string("[=") + row.valueName + "]";
  return column;
}

std::string commandWords(const CommandSyntax& syntax) {
  return syntax.name.empty() ? kProgram : std::string(kProgram) + " " + syntax.name;
}

std::vector<OptionRow> allRows(const CommandSyntax& syntax, ParseState* state) {
  std::vector<OptionRow> rows = syntax.options;
  rows.push_back({'h', "help", OptionValue::none, nullptr, "show this help and exit",
                  state ? setFlag(&state->help) : nullptr});
  rows.push_back({0, "version", OptionValue::none, nullptr, "show the version and exit",
                  state ? setFlag(&state->version) : nullptr});
  return rows;
}

std::string usageLines(const CommandSyntax& syntax) {
  std::string out;
  for (std::size_t i = 0; i < syntax.usage.size(); ++i)
    out += std::string(i == 0 ? "Usage: " : "       ") + kProgram + " " + syntax.usage[i] + "\n";
  return out;
}

}  // namespace

std::function<std::string(const char*)> setFlag(bool* flag) {
  return [flag](const char*) {
    *flag = true;
    return std::string();
  };
}

std::function<std::string(const char*)> setNumber(int* number, int min, int max, const std::string& what) {
  return [=](const char* value) {
    const std::string text = value ? value : "";
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || n < min || n > max)
      return what + ", not \"" + text + "\"";
    *number = int(n);
    return std::string();
  };
}

std::string helpText(const CommandSyntax& syntax) {
  std::string out = usageLines(syntax);
  out += "\n" + syntax.summary;
  out += "\nOptions:\n";
  const std::vector<OptionRow> rows = allRows(syntax, nullptr);
  std::size_t width = 0;
  for (const OptionRow& row : rows)
    if (*row.description) width = std::max(width, optionColumn(row).size());
  for (const OptionRow& row : rows) {
    if (!*row.description) continue;
    std::string column = optionColumn(row);
    column.resize(width + 2, ' ');
    out += column + row.description + "\n";
  }
  if (!syntax.notes.empty()) out += "\n" + syntax.notes;
  return out;
}

int usageError(const CommandSyntax& syntax, const std::string& problem) {
  // The first synopsis only: --help has the rest.
  CommandSyntax first = syntax;
  first.usage.resize(std::min<std::size_t>(first.usage.size(), 1));
  std::fprintf(stderr, "%s: %s\n%sTry '%s --help' for more information.\n", kProgram, problem.c_str(),
               usageLines(first).c_str(), commandWords(syntax).c_str());
  return 2;
}

std::optional<int> parseCommandLine(const CommandSyntax& syntax, const std::vector<std::string>& args,
                                    std::vector<std::string>* operands) {
  ParseState state;
  state.rows = allRows(syntax, &state);
  state.optionalValues.resize(state.rows.size());

  std::vector<std::string> words{kProgram};
  std::string problem;
  if (!prepareWords(&state, args, &words, &problem)) return usageError(syntax, problem);

  std::vector<GOptionEntry> entries;
  for (const OptionRow& row : state.rows) {
    GOptionEntry e{};
    e.long_name = row.longName;
    e.short_name = row.shortName;
    e.flags = row.value == OptionValue::required ? G_OPTION_FLAG_FILENAME : G_OPTION_FLAG_NO_ARG;
    if (!*row.description) e.flags |= G_OPTION_FLAG_HIDDEN;
    e.arg = G_OPTION_ARG_CALLBACK;
    e.arg_data = reinterpret_cast<gpointer>(onOption);
    entries.push_back(e);
  }
  gchar** remaining = nullptr;
  entries.push_back({G_OPTION_REMAINING, 0, 0, G_OPTION_ARG_FILENAME_ARRAY, &remaining, nullptr, nullptr});
  entries.push_back({});

  GOptionContext* context = g_option_context_new(nullptr);
  g_option_context_set_help_enabled(context, FALSE);
  GOptionGroup* group = g_option_group_new(kProgram, "", "", &state, nullptr);
  g_option_group_add_entries(group, entries.data());
  g_option_context_set_main_group(context, group);

  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int argc = int(argv.size() - 1);
  char** argvp = argv.data();
  GError* error = nullptr;
  const bool parsed = g_option_context_parse(context, &argc, &argvp, &error);
  if (!parsed) problem = error ? error->message : "cannot read the options";
  g_clear_error(&error);
  g_option_context_free(context);
  for (gchar** r = remaining; r && *r; ++r) operands->push_back(*r);
  g_strfreev(remaining);

  if (state.help) {
    const std::string text = helpText(syntax);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (state.version) {
    std::printf("%s %s\n", kProgram, STILL2MOV_VERSION);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!parsed) {
    // GLib's words start with a capital; the rest of the line is ours.
    if (!problem.empty()) problem[0] = char(g_ascii_tolower(problem[0]));
    return usageError(syntax, problem);
  }
  const OperandCount& count = syntax.operandCount;
  if (operands->size() < count.fewest) return usageError(syntax, count.tooFew);
  if (operands->size() > count.most) return usageError(syntax, count.tooMany);
  return std::nullopt;
}

}  // namespace cli
