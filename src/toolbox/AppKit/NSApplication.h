// SPDX-License-Identifier: GPL-2.0-or-later
// The application object and its main routine: one running instance per user session (a
// GApplication on the session bus), documents and activations from the desktop, Apple events.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

typedef struct _GApplication GApplication;
class NSApplication;

// What the framework asks of the application's delegate.
class NSApplicationDelegate {
 public:
  virtual ~NSApplicationDelegate() = default;
  // One document to open (a desktop open request, or a path given at launch): true when opened.
  virtual bool applicationOpenFile(NSApplication* sender, const std::string& filename) = 0;
  // The application is about to end: every request that reached it has been served.
  virtual void applicationWillTerminate() {}
};

// The main interface description: the application's identity and what it creates at launch.
struct NSInterfaceDescription {
  std::string applicationID;  // the bus name (also the desktop entry's name)
  // Creates the top-level objects (kept until the application ends), sets the delegate and wires
  // the activation and named actions.
  std::function<std::shared_ptr<void>(NSApplication& app)> instantiate;
};

class NSApplication {
 public:
  static NSApplication* sharedApplication();

  void setDelegate(NSApplicationDelegate* delegate) { mDelegate = delegate; }  // not owned
  NSApplicationDelegate* delegate() const { return mDelegate; }

  // What activation without documents does, and the named actions the desktop may invoke.
  void setActivationAction(std::function<void()> action) { mActivation = std::move(action); }
  void addAction(const std::string& name, std::function<void()> action);

  // Ends the run loop; NSApplicationMain then gives up the bus name, serves the requests that
  // reached this instance before that, and returns. Without a run loop it only records it.
  void terminate(const void* sender);
  bool isTerminating() const { return mTerminating; }

  // Requests as they arrive from the desktop; also usable by a test in the process.
  void openFiles(const std::vector<std::string>& paths);
  void activate();
  bool performAction(const std::string& name);  // false when no such action

  // Forgets delegate, actions and termination (for a fresh start in the same process).
  void reset();

 private:
  friend int NSApplicationMain(int, char**, const NSInterfaceDescription&);
  NSApplicationDelegate* mDelegate = nullptr;
  std::function<void()> mActivation;
  std::map<std::string, std::function<void()>> mActions;
  bool mTerminating = false;
  GApplication* mApp = nullptr;
};

// Runs the application. argv[1..]: "--gapplication-service" (started by the bus: wait for
// requests), "--activate" (activate once started), and documents to open. When another instance
// already runs in the session, the documents or the activation go to it and this one returns 0
// at once. After terminate(), no request that reached the instance is dropped: the bus name goes
// first (so the bus starts a fresh instance for anything sent from then on), then whatever was
// routed here before is served. Returns 0 then (1 when a document could not be opened), 1 when
// the application could not start.
int NSApplicationMain(int argc, char** argv, const NSInterfaceDescription& interface);
