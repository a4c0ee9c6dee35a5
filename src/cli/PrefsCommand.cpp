// SPDX-License-Identifier: GPL-2.0-or-later
// "prefs get|set KEY [VALUE]": shows or changes a preference (one row each below), in the
// per-user key file. The running application reads them at launch, so a change applies from its
// next start.
#include <cstdio>
#include <string>
#include <vector>

#include "outputs/Outputs.h"
#include "PreferenceKeys.h"
#include "cli/Commands.h"
#include "cli/OptionParser.h"
#include "toolbox/Preferences/CFPreferences.h"

namespace {

// One preference: its key, what it means, the value that applies when it is unset or unusable,
// and how a value given to set is checked and spelt when stored.
struct Preference {
  const char* key;
  const char* meaning;
  const char* values;  // for messages: "true or false"
  std::string (*effective)();
  // The stored spelling of text, or "" when text is no value of this preference.
  std::string (*normalise)(const std::string& text);
};

std::string resizeValue() { return readResizePreference() ? "true" : "false"; }
std::string resizeSpelling(const std::string& text) {
  Boolean value = false;
  return CFPreferencesParseBoolean(text, &value) ? (value ? "true" : "false") : "";
}
std::string formatValue() { return readMovieFormatPreference().name; }
std::string formatSpelling(const std::string& text) {
  const outputs::Output* format = outputs::OutputNamed(text);
  return format ? format->name : "";
}

// The outputs' names, from their table.
const char* formatValues() {
  static const std::string text = outputs::OutputNamesInWords();
  return text.c_str();
}
const char* formatMeaning() {
  static const std::string text = [] {
    std::string others;
    for (const outputs::Output& row : outputs::Outputs())
      if (&row != &outputs::DefaultOutput()) others += std::string(others.empty() ? "" : ", ") + row.name;
    const std::string::size_type comma = others.rfind(", ");
    if (comma != std::string::npos) others.replace(comma, 2, " or ");
    return std::string("the kind of file conversions write when --format is not given: ") +
           outputs::DefaultOutput().name + " (when\n  unset), " + others;
  }();
  return text.c_str();
}

const Preference kPreferences[] = {
    {kResizePreferenceKey,
     "whether conversions do what --resize does (see still2mov --help) when\n"
     "  neither --resize nor --no-resize is given; true when unset\n"
     "  (also yes or no, 1 or 0)",
     "true or false", resizeValue, resizeSpelling},
    {kMovieFormatPreferenceKey,
     formatMeaning(), formatValues(), formatValue, formatSpelling},
};

const Preference* preferenceNamed(const std::string& key) {
  for (const Preference& p : kPreferences)
    if (key == p.key) return &p;
  return nullptr;
}

cli::CommandSyntax prefsSyntax() {
  cli::CommandSyntax s = subcommandSyntax("prefs");
  s.summary = "Show (get) or change (set) a preference:\n";
  for (const Preference& p : kPreferences) s.summary += std::string(p.key) + "\n  " + p.meaning + ".\n";
  s.summary += "The running application reads them when it starts.\n";
  return s;
}

int get(const Preference& p) {
  const std::string value = p.effective();
  std::printf("%s\n", value.c_str());
  // Why the default applies, when it does.
  std::optional<std::string> stored = CFPreferencesCopyAppValue(p.key, kPreferenceDomain);
  if (!stored)
    std::fprintf(stderr, "still2mov: %s is not set; the default is %s\n", p.key, value.c_str());
  else if (p.normalise(*stored).empty())
    std::fprintf(stderr, "still2mov: %s holds \"%s\", which is not %s; the default %s applies\n", p.key,
                 stored->c_str(), p.values, value.c_str());
  return 0;
}

int set(const Preference& p, const std::string& text) {
  // The same forms the reader accepts, stored in one spelling.
  const std::string value = p.normalise(text);
  if (value.empty()) {
    std::fprintf(stderr, "still2mov: %s takes %s, not \"%s\"\n", p.key, p.values, text.c_str());
    return 2;
  }
  CFPreferencesSetAppValue(p.key, value, kPreferenceDomain);
  if (!CFPreferencesAppSynchronize(kPreferenceDomain)) {
    std::fprintf(stderr, "still2mov: cannot write %s\n", CFPreferencesPathForApp(kPreferenceDomain).c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int runPrefsCommand(const std::vector<std::string>& words) {
  const cli::CommandSyntax syntax = prefsSyntax();
  std::vector<std::string> args;
  if (std::optional<int> done = cli::parseCommandLine(syntax, words, &args)) return *done;
  const Preference* p = args.size() >= 2 ? preferenceNamed(args[1]) : nullptr;
  if (args.size() >= 2 && p == nullptr) {
    std::string keys;
    for (const Preference& known : kPreferences) keys += std::string(keys.empty() ? "" : ", ") + known.key;
    std::fprintf(stderr, "still2mov: unknown preference %s (the preferences are %s)\n", args[1].c_str(), keys.c_str());
    return 2;
  }
  if (args.size() == 2 && args[0] == "get") return get(*p);
  if (args.size() == 3 && args[0] == "set") return set(*p, args[2]);
  if (args.empty()) return cli::usageError(syntax, "get or set is needed");
  if (args[0] != "get" && args[0] != "set") return cli::usageError(syntax, "get or set is needed, not \"" + args[0] + "\"");
  return cli::usageError(syntax, args[0] == "get" ? "get takes the preference's name"
                                                  : "set takes the preference's name and its value");
}
