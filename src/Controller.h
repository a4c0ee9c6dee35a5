// SPDX-License-Identifier: GPL-2.0-or-later
// The application controller: takes the camera import event, desktop open requests and the open
// panel, hands each photograph to the conversion driver, and quits 5 s after the first request.
#pragma once
#include <memory>
#include <string>

#include "toolbox/AppKit/NSAppleEventManager.h"
#include "toolbox/AppKit/NSApplication.h"
#include "toolbox/AppKit/NSNotificationCenter.h"
#include "toolbox/AppKit/NSUserNotification.h"
#include "outputs/Outputs.h"
#include "toolbox/Core/MacTypes.h"

class Convert2Mov;
class ExImageInfo;
class NSTimer;

// The application's bus name and desktop entry name.
inline constexpr const char* kStill2movApplicationID = "com.vantor.camera.still2mov";
inline constexpr const char* kPreferenceDomain = "com.vantor.camera.prefs";
inline constexpr const char* kResizePreferenceKey = "Resize_QT_Image";
// The kind of file conversions write: a name from the table of formats; mov when unset.
inline constexpr const char* kMovieFormatPreferenceKey = "Movie_Format";
inline constexpr AEEventClass kPTPEventClass = FOUR_CHAR_CODE("Itnt");
inline constexpr AEEventID kPTPConvertEventID = FOUR_CHAR_CODE("St2M");
inline constexpr const char* kReplyErrorString = "Complain.";
// Added to the reply when a conversion failed: a record of the failure's code and its words.
inline constexpr AEKeyword keyConversionResult = FOUR_CHAR_CODE("cnvr");
inline constexpr AEKeyword keyConversionStatus = FOUR_CHAR_CODE("stat");   // SInt32, never 0
inline constexpr AEKeyword keyConversionMessage = FOUR_CHAR_CODE("mesg");  // text
inline constexpr double kTerminationDelay = 5.0;
// The width the movie's picture is scaled to when the resize preference is on.
inline constexpr SInt32 kResizeWidth = 600;

// The stored resize preference: true when it is unset or holds no boolean.
bool readResizePreference();
// The stored format preference: mov when it is unset or names no format.
const outputs::Output& readMovieFormatPreference();
// What the driver is asked to scale to: the width, or 0 for the picture's natural size.
constexpr SInt32 resizeTargetFor(bool resize) { return resize ? kResizeWidth : 0; }

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
