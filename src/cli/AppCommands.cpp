// The background application's commands: "app" runs it (or hands documents to the running one),
// "open" brings up its open panel. Both go through the application main routine.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Controller.h"
#include "cli/Commands.h"
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

int runApplication(const std::vector<std::string>& leading, const std::vector<std::string>& args) {
  std::vector<std::string> words{"still2mov"};
  words.insert(words.end(), leading.begin(), leading.end());
  bool documents = false;
  for (const std::string& a : args) {
    if (!documents && a == "--") {
      documents = true;
      continue;
    }
    if (!documents && a == "--gapplication-service") {
      words.push_back(a);
      continue;
    }
    if (!documents && !a.empty() && a[0] == '-') {
      std::fprintf(stderr, "still2mov: unknown option %s\n", a.c_str());
      printUsage(true);
      return 2;
    }
    // A document that begins with "-" must not read as an option further down.
    words.push_back(a[0] == '-' ? "./" + a : a);
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return NSApplicationMain(int(argv.size() - 1), argv.data(), mainInterface());
}

}  // namespace

int runAppCommand(const std::vector<std::string>& args) { return runApplication({}, args); }

int runOpenCommand(const std::vector<std::string>& args) {
  // Documents given (as the desktop entry passes them) are opened; without any, the panel comes up.
  bool anyDocument = false;
  for (const std::string& a : args) anyDocument = anyDocument || a.empty() || a[0] != '-' || a == "--";
  return runApplication(anyDocument ? std::vector<std::string>{} : std::vector<std::string>{"--activate"}, args);
}
