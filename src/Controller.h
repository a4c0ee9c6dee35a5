// SPDX-License-Identifier: GPL-2.0-or-later
// The application controller: takes the camera import event, desktop open requests and the open
// panel, hands each photograph to the conversion driver, and quits 5 s after the first request.
#pragma once
#include <memory>
#include <string>

#include "ApplicationKeys.h"
#include "PreferenceKeys.h"
#include "toolbox/AppKit/NSAppleEventManager.h"
#include "toolbox/AppKit/NSApplication.h"
#include "toolbox/AppKit/NSNotificationCenter.h"
#include "toolbox/AppKit/NSUserNotification.h"
#include "outputs/Outputs.h"
#include "toolbox/Core/MacTypes.h"

class Convert2Mov;
class ExImageInfo;
class NSTimer;

inline constexpr double kTerminationDelay = 5.0;

// What came of one request: status 0 when it succeeded (a movie, or a photograph with nothing
// to convert), else a failure code and what went wrong, in words.
struct RequestOutcome {
  SInt32 status = 0;
  std::string problem;
};

class Controller : public NSApplicationDelegate, public NSUserNotificationCenterDelegate {
 public:
  Controller();  // registers for the first-event notification, reads the preference, makes the driver
  ~Controller() override;
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  void registerEvents(const NSNotification& notification);
  void handleAppleEventFromPTPModule(const NSAppleEventDescriptor& event, NSAppleEventDescriptor& reply);
  // True exactly when the conversion reported no failure.
  bool applicationOpenFile(NSApplication* sender, const std::string& filename) override;
  void applicationWillTerminate() override;  // releases the driver
  void openFile(const void* sender);
  // What the open panel offers: JPEG photographs, named .jpg or .jpeg in any letter case.
  static const std::vector<std::string>& openPanelTypes();
  void HandleTermination(NSTimer* timer);
  // A click on the notification of a movie made opens the movie.
  void didActivateNotification(const NSUserNotification& notification, NSUserNotificationActivationType how) override;

  // What a request would use, for inspection.
  SInt32 resizeTarget() const { return resizeTargetFor(m_bResize); }
  bool terminationPending() const;

 private:
  void armTerminationTimer();
  RequestOutcome convert(const std::string& imagePath);

  [[maybe_unused]] ExImageInfo* m_pExImageInfo = nullptr;  // declared by the design; never used
  std::string m_ImageFilePath;            // likewise
  std::shared_ptr<NSTimer> m_terminationTimer;
  std::shared_ptr<NSTimer> m_sessionInvocationTimer;  // never started
  Boolean m_bResize = true;
  const outputs::Output* m_format = &outputs::DefaultOutput();
  std::unique_ptr<Convert2Mov> m_c2m;
};
