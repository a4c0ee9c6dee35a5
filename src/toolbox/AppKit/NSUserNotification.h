// SPDX-License-Identifier: GPL-2.0-or-later
// Desktop notifications: the session's notification server (org.freedesktop.Notifications),
// spoken to directly, with a delegate told when the user clicks one or its button.
// Not GNotification: on GNOME it goes through org.gtk.Notifications (or the portal), which drop
// the notifications of an application whose desktop entry is not installed, as when it is run
// from its build folder; the notification server shows anyone's. A click reaches the process
// that posted the notification, so only while it runs.
#pragma once
#include <map>
#include <memory>
#include <string>

class NSUserNotification {
 public:
  std::string title;              // the summary line
  std::string informativeText;    // the body, plain text
  // A later notification with the same identifier replaces this one on screen ("" for none).
  std::string identifier;
  // The button's label; "" for no button. With a button, a click on the notification itself
  // activates it too.
  std::string actionButtonTitle;
  bool transient = false;         // leaves nothing behind in the desktop's history
  std::map<std::string, std::string> userInfo;  // for the delegate; never shown
};

enum class NSUserNotificationActivationType { contentsClicked, actionButtonClicked };

class NSUserNotificationCenterDelegate {
 public:
  virtual ~NSUserNotificationCenterDelegate() = default;
  virtual void didActivateNotification(const NSUserNotification& notification,
                                       NSUserNotificationActivationType how) = 0;
};

class NSUserNotificationCenter {
 public:
  static NSUserNotificationCenter& defaultUserNotificationCenter();

  void setDelegate(NSUserNotificationCenterDelegate* delegate) { mDelegate = delegate; }  // not owned
  NSUserNotificationCenterDelegate* delegate() const { return mDelegate; }
  // Who the server shows as the sender: a name, and an icon from the icon theme.
  void setApplicationName(const std::string& name) { mApplicationName = name; }
  void setApplicationIconName(const std::string& icon) { mApplicationIcon = icon; }

  // Posts it and returns at once: the server is asked from the main run loop, and when none
  // answers (no session bus, no server, or a server that stays silent) nothing is posted and
  // nothing is reported. Activations arrive on the main run loop while the process runs.
  void deliverNotification(const NSUserNotification& notification);

  struct Server;  // the conversation with the server, on the main run loop

 private:
  NSUserNotificationCenter() = default;
  NSUserNotificationCenterDelegate* mDelegate = nullptr;
  std::string mApplicationName;
  std::string mApplicationIcon;
  std::shared_ptr<Server> mServer;
};
