// SPDX-License-Identifier: GPL-2.0-or-later
// The application controller: one per process, on the main thread; every request is converted
// synchronously, and the first one served arms a one-shot quit timer that nothing postpones.
// Requests that reach the application while it ends are still converted.
#include "Controller.h"

#include "Convert2Mov.h"
#include "toolbox/AppKit/NSLog.h"
#include "toolbox/AppKit/NSOpenPanel.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/AppKit/NSTimer.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/CoreFoundation/CFURL.h"
#include "toolbox/Files/Aliases.h"
#include "toolbox/LaunchServices/LaunchServices.h"

namespace {

// What the desktop is told about a request, since a background application has no window to
// say it in; none when the rule kept an existing movie.
std::optional<NSUserNotification> notificationFor(const std::string& photo, const ConversionReport& report) {
  const std::string name = NSStringLastPathComponent(photo);
  NSUserNotification n;
  switch (report.outcome) {
    case ConversionOutcome::converted: {
      n.title = "Movie made";
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.1f", report.soundSeconds);
      n.informativeText = NSStringLastPathComponent(report.moviePath) + " (" + seconds + " s) beside " + name;
      n.actionButtonTitle = "Open Movie";
      n.userInfo["movie"] = report.moviePath;
      return n;
    }
    case ConversionOutcome::noVoice:
      // A camera import sends every photograph: one notice, replaced by the next, and no history.
      n.title = "No voice note";
      n.informativeText = name + " carries no voice note; no movie was made.";
      n.identifier = "no-voice";
      n.transient = true;
      return n;
    case ConversionOutcome::failed:
      n.title = "No movie made";
      n.informativeText = name + ": " + report.problem;
      return n;
    case ConversionOutcome::skipped:
    case ConversionOutcome::upToDate:
      break;
  }
  return std::nullopt;
}

}  // namespace

Controller::Controller() {
  // The handler goes in when the first event is about to be dispatched, so that even the event
  // that launched the process reaches it.
  NSNotificationCenter::defaultCenter().addObserver(
      this, [this](const NSNotification& n) { registerEvents(n); }, NSAppleEventManagerWillProcessFirstEventNotification,
      nullptr);
  m_bResize = readResizePreference();
  m_format = &readMovieFormatPreference();
  m_c2m = std::make_unique<Convert2Mov>();
  NSUserNotificationCenter& notifications = NSUserNotificationCenter::defaultUserNotificationCenter();
  notifications.setDelegate(this);
  notifications.setApplicationName("still2mov");
  notifications.setApplicationIconName(kStill2movApplicationID);
}

Controller::~Controller() {
  NSUserNotificationCenter& notifications = NSUserNotificationCenter::defaultUserNotificationCenter();
  if (notifications.delegate() == this) notifications.setDelegate(nullptr);
  NSNotificationCenter::defaultCenter().removeObserver(this);
  NSAppleEventManager::sharedAppleEventManager().removeEventHandler(kPTPEventClass, kPTPConvertEventID);
  if (m_terminationTimer) m_terminationTimer->invalidate();  // its action points back here
}

void Controller::registerEvents(const NSNotification&) {
  NSAppleEventManager::sharedAppleEventManager().setEventHandler(
      [this](const NSAppleEventDescriptor& event, NSAppleEventDescriptor& reply) {
        handleAppleEventFromPTPModule(event, reply);
      },
      kPTPEventClass, kPTPConvertEventID);
}

RequestOutcome Controller::convert(const std::string& imagePath) {
  if (!m_c2m) return {paramErr, "the application has ended"};
  m_c2m->setOutput(*m_format);
  m_c2m->createMovie(Convert2Mov::moviePathFor(imagePath, *m_format), imagePath, resizeTarget());
  const ConversionReport& report = m_c2m->lastReport();
  if (std::optional<NSUserNotification> n = notificationFor(imagePath, report))
    NSUserNotificationCenter::defaultUserNotificationCenter().deliverNotification(*n);
  if (report.outcome != ConversionOutcome::failed) return {};
  // Nobody watches a background application's output: failures go to the log.
  NSLog("%s: %s", imagePath.c_str(), report.problem.c_str());
  return {report.failure, report.problem};
}

void Controller::handleAppleEventFromPTPModule(const NSAppleEventDescriptor& event, NSAppleEventDescriptor& reply) {
  std::optional<NSAppleEventDescriptor> direct = event.descriptorForKeyword(keyDirectObject);
  if (direct && direct->descriptorType() == typeAlias) {
    const std::string record = direct->data();
    Handle block = NewHandle(Size(record.size()));
    if (block != nullptr) {
      BlockMoveData(record.data(), *block, Size(record.size()));
      FSRef ref;
      Boolean wasChanged = false;
      OSErr status = FSResolveAliasWithMountFlags(nullptr, reinterpret_cast<AliasHandle>(block), &ref, &wasChanged,
                                                  kResolveAliasFileNoUI);
      DisposeHandle(block);
      if (status == noErr) {
        CFURLRef url = CFURLCreateFromFSRef(kCFAllocatorDefault, &ref);
        const std::string path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
        if (url) CFRelease(url);
        DebugLog("Path: %s", path.c_str());
        const RequestOutcome outcome = convert(path);
        // A failure travels back in a parameter of its own, beside the alias's 'errn'/'errs'.
        if (outcome.status != noErr && reply.descriptorType() != typeNull) {
          AERecord result;
          AECreateList(nullptr, 0, true, &result);
          AEPutParamPtr(&result, keyConversionStatus, typeSInt32, &outcome.status, sizeof outcome.status);
          AEPutParamPtr(&result, keyConversionMessage, typeUTF8Text, outcome.problem.data(),
                        Size(outcome.problem.size()));
          reply.setParamDescriptor(NSAppleEventDescriptor::copyOf(&result), keyConversionResult);
          AEDisposeDesc(&result);
        }
      } else if (reply.descriptorType() != typeNull) {
        reply.setParamDescriptor(NSAppleEventDescriptor::descriptorWithInt32(status), keyErrorNumber);
        reply.setParamDescriptor(NSAppleEventDescriptor::descriptorWithString(kReplyErrorString), keyErrorString);
      }
    }
  }
  armTerminationTimer();
}

bool Controller::applicationOpenFile(NSApplication*, const std::string& filename) {
  const RequestOutcome outcome = convert(filename);
  armTerminationTimer();
  return outcome.status == noErr;
}

const std::vector<std::string>& Controller::openPanelTypes() {
  static const std::vector<std::string> types = {"jpg", "jpeg"};
  return types;
}

void Controller::openFile(const void*) {
  std::unique_ptr<NSOpenPanel> panel = NSOpenPanel::openPanel();
  panel->setAllowsMultipleSelection(false);
  if (panel->runModalForDirectory(NSHomeDirectory(), "", openPanelTypes()) != NSOKButton) {
    // Cancelled, or no panel could be shown: with nothing on screen, nobody could quit a process
    // that waited on.
    armTerminationTimer();
    return;
  }
  const std::vector<std::string> chosen = panel->filenames();
  for (const std::string& path : chosen) applicationOpenFile(nullptr, path);
}

bool Controller::terminationPending() const { return m_terminationTimer && m_terminationTimer->isValid(); }

void Controller::armTerminationTimer() {
  // The quit time never moves, and once the application is ending there is nothing left to arm.
  if (terminationPending() || NSApplication::sharedApplication()->isTerminating()) return;
  m_terminationTimer = NSTimer::scheduledTimerWithTimeInterval(
      kTerminationDelay, [this](NSTimer& timer) { HandleTermination(&timer); }, false);
}

void Controller::HandleTermination(NSTimer*) {
  if (m_terminationTimer) {
    m_terminationTimer->invalidate();
    m_terminationTimer.reset();
  }
  // The driver stays until the application has served what was already on its way here.
  NSApplication::sharedApplication()->terminate(this);
}

void Controller::applicationWillTerminate() { m_c2m.reset(); }

void Controller::didActivateNotification(const NSUserNotification& notification, NSUserNotificationActivationType) {
  auto movie = notification.userInfo.find("movie");
  if (movie == notification.userInfo.end()) return;
  FSRef ref;
  OSStatus status = FSPathMakeRef(reinterpret_cast<const UInt8*>(movie->second.c_str()), &ref, nullptr);
  if (status == noErr) status = LSOpenFSRef(&ref, nullptr);
  if (status == kLSApplicationNotFoundErr)
    NSLog("Cannot open %s: no application opens movies", movie->second.c_str());
  else if (status != noErr)
    NSLog("Cannot open %s: %s", movie->second.c_str(), ResultWords(OSErr(status)).c_str());
}
