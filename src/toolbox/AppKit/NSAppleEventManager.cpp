// SPDX-License-Identifier: GPL-2.0-or-later
// Descriptor objects over AEDesc, and handlers kept as actions behind one plain handler.
// The first-event hook of the Apple event layer becomes the framework's notification.
#include "toolbox/AppKit/NSAppleEventManager.h"

#include <cstring>

#include "toolbox/AppKit/NSNotificationCenter.h"
#include "toolbox/Core/MacErrors.h"

NSAppleEventDescriptor::NSAppleEventDescriptor() : mDesc(&mOwned), mOwns(true) {}

NSAppleEventDescriptor NSAppleEventDescriptor::copyOf(const AEDesc* desc) {
  NSAppleEventDescriptor d;
  if (desc != nullptr) AEDuplicateDesc(desc, &d.mOwned);
  return d;
}

NSAppleEventDescriptor NSAppleEventDescriptor::viewOf(AEDesc* desc) {
  NSAppleEventDescriptor d;
  if (desc != nullptr) {
    d.mDesc = desc;
    d.mOwns = false;
  }
  return d;
}

NSAppleEventDescriptor NSAppleEventDescriptor::descriptorWithDescriptorType(DescType type, const void* bytes,
                                                                            Size length) {
  NSAppleEventDescriptor d;
  AECreateDesc(type, bytes, length, &d.mOwned);
  return d;
}

NSAppleEventDescriptor NSAppleEventDescriptor::descriptorWithInt32(SInt32 value) {
  return descriptorWithDescriptorType(typeSInt32, &value, sizeof value);
}

NSAppleEventDescriptor NSAppleEventDescriptor::descriptorWithString(const std::string& utf8) {
  NSAppleEventDescriptor text = descriptorWithDescriptorType(typeUTF8Text, utf8.data(), Size(utf8.size()));
  NSAppleEventDescriptor d;
  if (AECoerceDesc(text.aeDesc(), typeUnicodeText, &d.mOwned) != noErr) return text;
  return d;
}

NSAppleEventDescriptor::~NSAppleEventDescriptor() {
  if (mOwns) AEDisposeDesc(&mOwned);
}

NSAppleEventDescriptor::NSAppleEventDescriptor(NSAppleEventDescriptor&& other) noexcept
    : mOwned(other.mOwned), mDesc(other.mOwns ? &mOwned : other.mDesc), mOwns(other.mOwns) {
  AEInitializeDesc(&other.mOwned);
  other.mDesc = &other.mOwned;
  other.mOwns = true;
}

NSAppleEventDescriptor& NSAppleEventDescriptor::operator=(NSAppleEventDescriptor&& other) noexcept {
  if (this != &other) {
    if (mOwns) AEDisposeDesc(&mOwned);
    mOwned = other.mOwned;
    mOwns = other.mOwns;
    mDesc = mOwns ? &mOwned : other.mDesc;
    AEInitializeDesc(&other.mOwned);
    other.mDesc = &other.mOwned;
    other.mOwns = true;
  }
  return *this;
}

std::string NSAppleEventDescriptor::data() const {
  std::string bytes(size_t(AEGetDescDataSize(mDesc)), '\0');
  if (!bytes.empty()) AEGetDescData(mDesc, bytes.data(), Size(bytes.size()));
  return bytes;
}

std::optional<NSAppleEventDescriptor> NSAppleEventDescriptor::descriptorForKeyword(AEKeyword keyword) const {
  NSAppleEventDescriptor d;
  if (AEGetParamDesc(mDesc, keyword, typeWildCard, &d.mOwned) != noErr) return std::nullopt;
  return d;
}

void NSAppleEventDescriptor::setParamDescriptor(const NSAppleEventDescriptor& descriptor, AEKeyword keyword) {
  AEPutParamDesc(mDesc, keyword, descriptor.aeDesc());
}

AEEventClass NSAppleEventDescriptor::eventClass() const {
  AEEventClass c = 0;
  AEGetAttributePtr(mDesc, keyEventClassAttr, typeType, nullptr, &c, sizeof c, nullptr);
  return c;
}

AEEventID NSAppleEventDescriptor::eventID() const {
  AEEventID i = 0;
  AEGetAttributePtr(mDesc, keyEventIDAttr, typeType, nullptr, &i, sizeof i, nullptr);
  return i;
}

namespace {
void postFirstEventNotification(void* manager) {
  NSNotificationCenter::defaultCenter().postNotificationName(NSAppleEventManagerWillProcessFirstEventNotification,
                                                             manager);
}
}  // namespace

NSAppleEventManager::NSAppleEventManager() { AESetFirstEventHook(postFirstEventNotification, this); }

NSAppleEventManager& NSAppleEventManager::sharedAppleEventManager() {
  static NSAppleEventManager manager;
  return manager;
}

void NSAppleEventManager::setEventHandler(Handler handler, AEEventClass eventClass, AEEventID eventID) {
  mHandlers[{eventClass, eventID}] = std::move(handler);
  AEInstallEventHandler(eventClass, eventID, &NSAppleEventManager::trampoline, this, false);
}

void NSAppleEventManager::removeEventHandler(AEEventClass eventClass, AEEventID eventID) {
  mHandlers.erase({eventClass, eventID});
  AERemoveEventHandler(eventClass, eventID, &NSAppleEventManager::trampoline, false);
}

OSErr NSAppleEventManager::dispatchRawAppleEvent(const AppleEvent* event, AppleEvent* reply) {
  return AEDispatchAppleEvent(event, reply);
}

OSErr NSAppleEventManager::trampoline(const AppleEvent* event, AppleEvent* reply, SRefCon refcon) {
  auto* self = static_cast<NSAppleEventManager*>(refcon);
  NSAppleEventDescriptor ev = NSAppleEventDescriptor::viewOf(const_cast<AppleEvent*>(event));
  NSAppleEventDescriptor answer = NSAppleEventDescriptor::viewOf(reply);
  AEEventClass cls = ev.eventClass();
  AEEventID id = ev.eventID();
  auto it = self->mHandlers.find({cls, id});
  if (it == self->mHandlers.end()) it = self->mHandlers.find({cls, typeWildCard});
  if (it == self->mHandlers.end()) it = self->mHandlers.find({typeWildCard, typeWildCard});
  if (it == self->mHandlers.end()) return errAEEventNotHandled;
  Handler h = it->second;  // the handler may replace itself
  h(ev, answer);
  return noErr;
}
