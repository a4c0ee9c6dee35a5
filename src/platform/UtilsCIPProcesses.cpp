// Running processes by creator, launching applications and waiting for them, and our own place.
// The waits yield to the event loop so the caller's events keep flowing while a program starts.
#include <cstring>

#include "platform/UtilsCIP.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"

namespace {

constexpr UInt32 kLaunchWaitTicks = 480;
constexpr UInt32 kYieldTicks = 90;

// The first process with that creator whose type is one of the wanted ones (any when none given).
OSErr findProcess(OSType creator, OSType typeA, OSType typeB, ProcessSerialNumber* psn, StringPtr name) {
  ProcessWalk walk;  // the desktop entries read once, not once for each process
  ProcessSerialNumber cursor;
  OSErr err;
  while ((err = walk.next(&cursor)) == noErr) {
    Str255 processName;
    ProcessInfoRec info{};
    info.processInfoLength = sizeof info;
    info.processName = processName;
    if (walk.information(&cursor, &info) != noErr) continue;  // ended meanwhile
    if (info.processSignature != creator) continue;
    if (typeA != 0 && info.processType != typeA && info.processType != typeB) continue;
    if (psn) *psn = cursor;
    if (name) std::memcpy(name, processName, size_t(processName[0]) + 1);
    return noErr;
  }
  return err;
}

void prepareBlock(LaunchParamBlockRec* pb, FSSpec* app, UInt16 controlFlags) {
  pb->launchBlockID = extendedBlock;
  pb->launchEPBLength = extendedBlockLen;
  pb->launchFileFlags = 0;
  pb->launchControlFlags = controlFlags;
  pb->launchAppSpec = app;
}

}  // namespace

OSErr UtilsCIP::FindRunningProcess(ProcessSerialNumber* psn, OSType creator, StringPtr name) {
  ProcessSerialNumber found;
  if (findProcess(creator, kApplicationType, kApplicationType, &found, name) != noErr) return procNotFound;
  SetFrontProcess(&found);
  if (psn) *psn = found;
  return noErr;
}

OSErr UtilsCIP::SetFrontProcessByCreator(OSType creator) {
  ProcessSerialNumber found;
  OSErr err = findProcess(creator, 0, 0, &found, nullptr);
  if (err != noErr) return err;
  return SetFrontProcess(&found);
}

OSErr UtilsCIP::FindRunningApp(OSType creator) {
  return findProcess(creator, kApplicationType, kBackgroundAppType, nullptr, nullptr) == noErr ? noErr : procNotFound;
}

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

OSErr UtilsCIP::GetInteriorDir(FSSpec* spec) {
  if (spec == nullptr) return paramErr;
  ProcessSerialNumber self;
  OSErr err = GetCurrentProcess(&self);
  if (err != noErr) return err;
  ProcessInfoRec info{};
  info.processInfoLength = sizeof info;
  info.processAppSpec = spec;
  return GetProcessInformation(&self, &info);
}

OSErr UtilsCIP::GetActiveDir(FSSpec* spec) {
  GetInteriorDir(spec);
  return noErr;
}

OSErr UtilsCIP::GetExteriorDir(FSSpec* spec) {
  if (spec == nullptr) return noErr;
  FSSpec here{};
  GetInteriorDir(&here);
  for (int level = 0; level < 3; ++level) {
    FSSpec up;
    if (!GetParentSpec(here, up)) break;
    here = up;
  }
  *spec = here;
  return noErr;
}
