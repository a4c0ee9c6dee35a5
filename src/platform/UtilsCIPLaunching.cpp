// SPDX-License-Identifier: GPL-2.0-or-later
// Launching applications, with documents or a launch event, and waiting until they run.
// The waits yield to the event loop so the caller's events keep flowing while a program starts.
#include "platform/UtilsCIP.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/LaunchServices/LaunchServices.h"

namespace {

constexpr UInt32 kLaunchWaitTicks = 480;
constexpr UInt32 kYieldTicks = 90;

void prepareBlock(LaunchParamBlockRec* pb, FSSpec* app, UInt16 controlFlags) {
  pb->launchBlockID = extendedBlock;
  pb->launchEPBLength = extendedBlockLen;
  pb->launchFileFlags = 0;
  pb->launchControlFlags = controlFlags;
  pb->launchAppSpec = app;
}

}  // namespace

OSStatus UtilsCIP::LaunchAppByRef(FSRef ref) { return LSOpenFSRef(&ref, nullptr); }

OSErr UtilsCIP::LaunchWithFSSpec(OSType creator, FSSpec* app, AEDesc* launchEvent) {
  if (app == nullptr) return paramErr;
  LaunchParamBlockRec pb{};
  prepareBlock(&pb, app, launchContinue | launchNoFileFlags);
  pb.launchAppParameters = launchEvent;
  OSErr err = LaunchApplication(&pb);
  if (err == memFullErr) {
    prepareBlock(&pb, app, launchContinue | launchNoFileFlags | launchUseMinimum);
    pb.launchAppParameters = launchEvent;
    return LaunchApplication(&pb);
  }
  if (err == opWrErr) {
    if (SetFrontProcess(&pb.launchProcessSN) != noErr) SetFrontProcessByCreator(creator);
    return noErr;
  }
  return err;
}

OSErr UtilsCIP::LaunchAnotherApplication(FSSpec* app, LaunchParamBlockRec* launchBlock, OSType creator) {
  if (app == nullptr || launchBlock == nullptr) return paramErr;
  prepareBlock(launchBlock, app, launchContinue);
  OSErr err = LaunchApplication(launchBlock);
  if (err != noErr && err != opWrErr) return err;  // on opWrErr the block holds the running one
  UInt32 start = TickCount();
  for (;;) {
    if (FindRunningApp(creator) == noErr) return noErr;
    if (TickCount() - start >= kLaunchWaitTicks) return connectionInvalid;
    YieldToEventLoop(kYieldTicks);
  }
}

OSErr UtilsCIP::LaunchWithDocument(FSSpec* app, AEEventClass eventClass, AEEventID eventID, FSSpec* documents,
                                   short count, OSType creator) {
  LaunchParamBlockRec pb{};
  OSErr err = LaunchAnotherApplication(app, &pb, creator);
  if (err != noErr) return err;
  if (count <= 0) return noErr;
  UInt32 start = TickCount();
  for (;;) {
    // The program may not listen for events yet just after it started.
    if (CreateODEvent(documents, eventClass, eventID, pb.launchProcessSN, count) == noErr) return noErr;
    if (TickCount() - start >= kLaunchWaitTicks) return connectionInvalid;
    YieldToEventLoop(kYieldTicks);
  }
}
