// SPDX-License-Identifier: GPL-2.0-or-later
// The default notification centre. Posting works on a snapshot, so an action may add or
// remove observers (an observer removed meanwhile is not called).
#include "toolbox/AppKit/NSNotificationCenter.h"

#include <algorithm>

NSNotificationCenter& NSNotificationCenter::defaultCenter() {
  static NSNotificationCenter center;
  return center;
}

void NSNotificationCenter::addObserver(const void* observer, Action action, const std::string& name,
                                       const void* object) {
  mEntries.push_back({observer, std::move(action), name, object, mNextSerial++});
}

void NSNotificationCenter::removeObserver(const void* observer) {
  mEntries.erase(std::remove_if(mEntries.begin(), mEntries.end(), [&](const Entry& e) { return e.observer == observer; }),
                 mEntries.end());
}

void NSNotificationCenter::postNotificationName(const std::string& name, const void* object) {
  const NSNotification note{name, object};
  std::vector<Entry> snapshot = mEntries;
  for (const Entry& e : snapshot) {
    if (e.name != name || (e.object != nullptr && e.object != object)) continue;
    bool stillThere = std::any_of(mEntries.begin(), mEntries.end(), [&](const Entry& x) { return x.serial == e.serial; });
    if (stillThere) e.action(note);
  }
}
