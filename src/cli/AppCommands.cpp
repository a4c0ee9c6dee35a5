// SPDX-License-Identifier: GPL-2.0-or-later
// The background application's commands: "app" runs it (or hands documents to the running one),
// "open" brings up its open panel. Both go through the application main routine.
#include <memory>
#include <string>
#include <vector>

#include "Controller.h"
#include "cli/Commands.h"
#include "cli/OptionParser.h"
#include "toolbox/AppKit/NSApplication.h"

namespace {

// What the main interface description of the application holds: the controller as delegate,
// activation and the "choose-photo" action wired to its open panel, and a "quit" action.
NSInterfaceDescription mainInterface() {
  NSInterfaceDescription nib;
  nib.applicationID = kStill2movApplicationID;
  nib.instantiate = [](NSApplication& app) -> std::shared_ptr<void> {
    auto controller = std::make_shared<Controller>();
    Controller* c = controller.get();
    app.setDelegate(c);
    app.setActivationAction([c] { c->openFile(nullptr); });
    app.addAction("choose-photo", [c] { c->openFile(nullptr); });
    app.addAction("quit", [c] { NSApplication::sharedApplication()->terminate(c); });
    return controller;
  };
  return nib;
}

struct AppOptions {
  bool service = false;  // started by the session bus (its service file passes this)
};

cli::CommandSyntax appSyntax(const std::string& word, AppOptions* o) {
  cli::CommandSyntax s = subcommandSyntax(word);
  if (word == "app")
    s.summary =
        "Run as the background application: it converts the photographs given, and those\n"
        "that the desktop, the camera import (send) and its open panel hand it, and quits\n"
        "5 s after its first request. When it already runs, the photographs go to it.\n";
  else
    s.summary =
        "Have the background application convert the photographs given, or, without any,\n"
        "let the user choose one in an open panel.\n";
  s.options = {
      {0, "gapplication-service", cli::OptionValue::none, nullptr, "", cli::setFlag(&o->service)},
  };
  return s;
}

int runApplication(const std::string& word, const std::vector<std::string>& args) {
  AppOptions options;
  const cli::CommandSyntax syntax = appSyntax(word, &options);
  std::vector<std::string> documents;
  if (std::optional<int> done = cli::parseCommandLine(syntax, args, &documents)) return *done;

  std::vector<std::string> words{"still2mov"};
  if (options.service) words.push_back("--gapplication-service");
  // Without documents, "open" brings up the panel.
  if (word == "open" && documents.empty()) words.push_back("--activate");
  // A document that begins with "-" must not read as an option further down.
  for (const std::string& d : documents) words.push_back(!d.empty() && d[0] == '-' ? "./" + d : d);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return NSApplicationMain(int(argv.size() - 1), argv.data(), mainInterface());
}

}  // namespace

int runAppCommand(const std::vector<std::string>& args) { return runApplication("app", args); }

int runOpenCommand(const std::vector<std::string>& args) { return runApplication("open", args); }
