// SPDX-License-Identifier: GPL-2.0-or-later
// The Apple event manager: handlers installed by class and ID, dispatch with a reply, and
// AESend, which delivers an event to another process over the D-Bus session bus.
#pragma once
#include <string>

#include "toolbox/AppleEvents/AEDataModel.h"

using SRefCon = void*;
using AEEventHandlerProcPtr = OSErr (*)(const AppleEvent* theAppleEvent, AppleEvent* reply, SRefCon handlerRefcon);
using AEEventHandlerUPP = AEEventHandlerProcPtr;
using AEIdleUPP = void*;    // accepted for the platform's signature; never called
using AEFilterUPP = void*;  // likewise

// Send modes (one reply mode; the other bits are accepted and have no effect).
constexpr AESendMode kAENoReply = 0x00000001;
constexpr AESendMode kAEQueueReply = 0x00000002;  // treated as kAEWaitReply
constexpr AESendMode kAEWaitReply = 0x00000003;
constexpr AESendMode kAENeverInteract = 0x00000010;
constexpr AESendMode kAECanInteract = 0x00000020;
constexpr AESendMode kAEAlwaysInteract = 0x00000030;
constexpr AESendMode kAEDontReconnect = 0x00000080;
constexpr AESendMode kAEDontRecord = 0x00001000;
constexpr AESendMode kAEDontExecute = 0x00002000;

constexpr AESendPriority kAENormalPriority = 0;
constexpr AESendPriority kAEHighPriority = 1;

// Time-outs in ticks (sixtieths of a second).
constexpr SInt32 kAEDefaultTimeout = -1;  // two minutes: a conversion may take a while
constexpr SInt32 kNoTimeOut = -2;

constexpr AEEventClass typeWildCardClass = FOUR_CHAR_CODE("****");

// Installs (or replaces) the handler for class/ID; typeWildCard matches any class or ID.
OSErr AEInstallEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID, AEEventHandlerUPP handler,
                            SRefCon handlerRefcon, Boolean isSysHandler);
OSErr AERemoveEventHandler(AEEventClass theAEEventClass, AEEventID theAEEventID, AEEventHandlerUPP handler,
                           Boolean isSysHandler);

// Called once, just before the first event of the process is dispatched (by whatever route it came).
using AEFirstEventHook = void (*)(void* context);
void AESetFirstEventHook(AEFirstEventHook hook, void* context);

// Hands an event to its installed handler. The reply is typeNull when the sender wants none,
// else an Apple event whose parameters travel back. When the handler fails (or there is none:
// errAEEventNotHandled) and the reply has no 'errn' yet, the error goes there.
OSErr AEDispatchAppleEvent(const AppleEvent* theAppleEvent, AppleEvent* reply);

// Delivers the event to its target (keyAddressAttr) and, with kAEWaitReply, waits for the reply,
// which arrives as an Apple event holding the reply's parameters. With kAENoReply the message
// carries D-Bus's no-reply flag, the receiver's reply has type typeNull, and *reply comes back
// typeNull; AESend still returns only once the receiver holds the event (not once it has handled
// it), so the event outlives a sender that ends right after. Where each address goes on the
// session bus:
//   typeProcessSerialNumber ('psn ', pid in the low word) and typeKernelProcessID ('kpid'):
//       the bus connection that the process owns;
//   typeApplSignature ('sign'): the well-known name AEBusNameForSignature(code);
//   typeApplicationBundleID ('bund'): that bus name as given.
// A well-known name that no one owns is started by the bus when a service file names it; when
// the owner was quitting and refused or dropped the call, it is sent once more (to the instance
// the bus starts next), so an event racing an idle quit is not lost.
// Results: noErr (errors of the receiving handler come in the reply's 'errn'), procNotFound
// when no process or name answers, errAETimeout, connectionInvalid when there is no session
// bus, errAEEventNotHandled when the target serves no Apple events, paramErr for a bad address.
OSErr AESend(const AppleEvent* theAppleEvent, AppleEvent* reply, AESendMode sendMode,
             AESendPriority sendPriority = kAENormalPriority, SInt32 timeOutInTicks = kAEDefaultTimeout,
             AEIdleUPP idleProc = nullptr, AEFilterUPP filterProc = nullptr);

// The bus name of an application signature: "com.vantor.AppleEvents.sig_" followed by the code's
// eight hexadecimal digits, most significant byte first ('TVOD' -> com.vantor.AppleEvents.sig_54564F44).
std::string AEBusNameForSignature(OSType signature);

// Where events are received: this object and interface on the receiving connection.
//   method Deliver(u eventClass, u eventID, a(uv) parameters) -> (a(uv) replyParameters)
// A descriptor travels as (u type, ay bytes, a(uv) items), the variant holding the same shape.
inline constexpr const char* kAEBusObjectPath = "/com/vantor/AppleEvents";
inline constexpr const char* kAEBusInterface = "com.vantor.AppleEvents";
inline constexpr const char* kAEBusMethod = "Deliver";
