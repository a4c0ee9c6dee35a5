// SPDX-License-Identifier: GPL-2.0-or-later
// Notifications by name within the process: observers register an action for a name and,
// optionally, one sender; posting calls every matching action at once, in registration order.
#pragma once
#include <functional>
#include <string>
#include <vector>

struct NSNotification {
  std::string name;
  const void* object = nullptr;  // the sender
};

// Posted by the Apple event manager just before it dispatches its first event.
inline constexpr const char* NSAppleEventManagerWillProcessFirstEventNotification =
    "NSAppleEventManagerWillProcessFirstEventNotification";

class NSNotificationCenter {
 public:
  using Action = std::function<void(const NSNotification&)>;
  static NSNotificationCenter& defaultCenter();

  // A null object means any sender.
  void addObserver(const void* observer, Action action, const std::string& name, const void* object);
  void removeObserver(const void* observer);
  void postNotificationName(const std::string& name, const void* object);

 private:
  struct Entry {
    const void* observer;
    Action action;
    std::string name;
    const void* object;
    unsigned long serial;
  };
  std::vector<Entry> mEntries;
  unsigned long mNextSerial = 0;
};
