// "prefs get|set Resize_QT_Image": shows or changes the one preference, in the per-user key file.
// The running application reads it at launch, so a change applies from its next start.
#include <cstdio>
#include <string>
#include <vector>

#include "Controller.h"
#include "cli/Commands.h"
#include "cli/OptionParser.h"
#include "toolbox/Preferences/CFPreferences.h"

namespace {

cli::CommandSyntax prefsSyntax() {
  cli::CommandSyntax s = subcommandSyntax("prefs");
  s.summary = std::string("Show (get) or change (set) the one preference, ") + kResizePreferenceKey +
              ":\n"
              "whether conversions do what --resize does (see still2mov --help) when neither\n"
              "--resize nor --no-resize is given. It is true when unset; set\n"
              "takes true or false (also yes or no, 1 or 0). The running application reads it\n"
              "when it starts.\n";
  return s;
}

int get() {
  std::printf("%s\n", readResizePreference() ? "true" : "false");
  // Why the default applies, when it does.
  std::optional<std::string> stored = CFPreferencesCopyAppValue(kResizePreferenceKey, kPreferenceDomain);
  Boolean value = false;
  if (!stored)
    std::fprintf(stderr, "still2mov: %s is not set; the default is true\n", kResizePreferenceKey);
  else if (!CFPreferencesParseBoolean(*stored, &value))
    std::fprintf(stderr, "still2mov: %s holds \"%s\", which is not true or false; the default true applies\n",
                 kResizePreferenceKey, stored->c_str());
  return 0;
}

int set(const std::string& text) {
  // The same forms the reader accepts, stored in one spelling.
  Boolean value = false;
  const bool valid = CFPreferencesParseBoolean(text, &value);
  if (!valid) {
    std::fprintf(stderr, "still2mov: %s takes true or false, not \"%s\"\n", kResizePreferenceKey, text.c_str());
    return 2;
  }
  CFPreferencesSetAppValue(kResizePreferenceKey, std::string(value ? "true" : "false"), kPreferenceDomain);
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
  if (args.size() >= 2 && args[1] != kResizePreferenceKey) {
    std::fprintf(stderr, "still2mov: unknown preference %s (the one preference is %s)\n", args[1].c_str(),
                 kResizePreferenceKey);
    return 2;
  }
  if (args.size() == 2 && args[0] == "get") return get();
  if (args.size() == 3 && args[0] == "set") return set(args[2]);
  if (args.empty()) return cli::usageError(syntax, "get or set is needed");
  if (args[0] != "get" && args[0] != "set") return cli::usageError(syntax, "get or set is needed, not \"" + args[0] + "\"");
  return cli::usageError(syntax, args[0] == "get" ? "get takes the preference's name"
                                                  : "set takes the preference's name and true or false");
}
