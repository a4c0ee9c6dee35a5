// SPDX-License-Identifier: GPL-2.0-or-later
// The handler table and dispatch: one table for the process, used on the main thread only.
// The first-event hook lets the application layer announce the first dispatch before it happens.
#include <vector>

#include "toolbox/AppleEvents/AEInternal.h"
#include "toolbox/AppleEvents/AppleEvents.h"
#include "toolbox/Core/MacErrors.h"

namespace {

struct HandlerEntry {
  AEEventClass eventClass;
  AEEventID eventID;
  AEEventHandlerUPP handler;
  SRefCon refcon;
};

std::vector<HandlerEntry>& table() {
  static std::vector<HandlerEntry> t;
  return t;
}

struct FirstEvent {
  AEFirstEventHook hook = nullptr;
  void* context = nullptr;
  bool dispatched = false;
};
FirstEvent& firstEvent() {
  static FirstEvent f;
  return f;
}

bool matches(FourCharCode installed, FourCharCode asked) { return installed == typeWildCard || installed == asked; }

}  // namespace

OSErr AEInstallEventHandler(AEEventClass cls, AEEventID id, AEEventHandlerUPP handler, SRefCon refcon, Boolean) {
  if (handler == nullptr) return paramErr;
  for (auto& e : table()) {
    if (e.eventClass == cls && e.eventID == id) {
      e.handler = handler;
      e.refcon = refcon;
      return noErr;
    }
  }
  table().push_back({cls, id, handler, refcon});
  return noErr;
}

OSErr AERemoveEventHandler(AEEventClass cls, AEEventID id, AEEventHandlerUPP handler, Boolean) {
  auto& t = table();
  for (auto it = t.begin(); it != t.end(); ++it) {
    if (it->eventClass == cls && it->eventID == id && (handler == nullptr || it->handler == handler)) {
      t.erase(it);
      return noErr;
    }
  }
  return errAEDescNotFound;
}

void AESetFirstEventHook(AEFirstEventHook hook, void* context) {
  firstEvent().hook = hook;
  firstEvent().context = context;
}

OSErr AEDispatchAppleEvent(const AppleEvent* ev, AppleEvent* reply) {
  if (ev == nullptr || ev->descriptorType != typeAppleEvent || ev->dataHandle == nullptr) return paramErr;
  FirstEvent& first = firstEvent();
  if (!first.dispatched) {
    first.dispatched = true;
    if (first.hook) first.hook(first.context);
  }
  const AEEventClass cls = ev->dataHandle->eventClass;
  const AEEventID id = ev->dataHandle->eventID;
  // An exact entry wins over a wildcard one; the table is re-read after the hook has run.
  const HandlerEntry* found = nullptr;
  for (const auto& e : table()) {
    if (e.eventClass == cls && e.eventID == id) {
      found = &e;
      break;
    }
    if (found == nullptr && matches(e.eventClass, cls) && matches(e.eventID, id)) found = &e;
  }
  OSErr err = errAEEventNotHandled;
  if (found != nullptr) {
    HandlerEntry entry = *found;  // the handler may change the table
    err = entry.handler(ev, reply, entry.refcon);
  }
  if (err != noErr && reply != nullptr && reply->descriptorType == typeAppleEvent) {
    DescType t;
    Size n;
    if (AESizeOfParam(reply, keyErrorNumber, &t, &n) == errAEDescNotFound) {
      SInt32 code = err;
      AEPutParamPtr(reply, keyErrorNumber, typeSInt32, &code, sizeof code);
    }
  }
  return err;
}
