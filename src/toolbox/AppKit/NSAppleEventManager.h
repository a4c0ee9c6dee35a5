// SPDX-License-Identifier: GPL-2.0-or-later
// The application framework's face of the Apple event manager: descriptors as owning objects,
// handlers as actions, and the will-process-first-event notification before the first dispatch.
#pragma once
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "toolbox/AppleEvents/AppleEvents.h"

class NSAppleEventDescriptor {
 public:
  NSAppleEventDescriptor();                               // a null descriptor, owned
  static NSAppleEventDescriptor copyOf(const AEDesc* desc);  // owned duplicate
  static NSAppleEventDescriptor viewOf(AEDesc* desc);        // not owned; changes reach desc
  static NSAppleEventDescriptor descriptorWithInt32(SInt32 value);
  static NSAppleEventDescriptor descriptorWithString(const std::string& utf8);  // 'utxt'
  static NSAppleEventDescriptor descriptorWithDescriptorType(DescType type, const void* bytes, Size length);

  ~NSAppleEventDescriptor();
  NSAppleEventDescriptor(NSAppleEventDescriptor&& other) noexcept;
  NSAppleEventDescriptor& operator=(NSAppleEventDescriptor&& other) noexcept;
  NSAppleEventDescriptor(const NSAppleEventDescriptor&) = delete;
  NSAppleEventDescriptor& operator=(const NSAppleEventDescriptor&) = delete;

  DescType descriptorType() const { return mDesc->descriptorType; }
  std::string data() const;  // the bytes of a plain descriptor
  // A parameter of an event (or item of a record), or nothing when there is none.
  std::optional<NSAppleEventDescriptor> descriptorForKeyword(AEKeyword keyword) const;
  std::optional<NSAppleEventDescriptor> paramDescriptorForKeyword(AEKeyword keyword) const {
    return descriptorForKeyword(keyword);
  }
  void setParamDescriptor(const NSAppleEventDescriptor& descriptor, AEKeyword keyword);
  AEEventClass eventClass() const;
  AEEventID eventID() const;

  const AEDesc* aeDesc() const { return mDesc; }

 private:
  AEDesc mOwned{typeNull, nullptr};
  AEDesc* mDesc;
  bool mOwns;
};

class NSAppleEventManager {
 public:
  using Handler = std::function<void(const NSAppleEventDescriptor& event, NSAppleEventDescriptor& reply)>;
  static NSAppleEventManager& sharedAppleEventManager();

  // Replaces any handler for that class and ID.
  void setEventHandler(Handler handler, AEEventClass eventClass, AEEventID eventID);
  void removeEventHandler(AEEventClass eventClass, AEEventID eventID);

  // Dispatches as an event from the bus would be; the first one posts the notification first.
  OSErr dispatchRawAppleEvent(const AppleEvent* event, AppleEvent* reply);

 private:
  NSAppleEventManager();
  static OSErr trampoline(const AppleEvent* event, AppleEvent* reply, SRefCon refcon);
  std::map<std::pair<AEEventClass, AEEventID>, Handler> mHandlers;
};
