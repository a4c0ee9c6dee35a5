// SPDX-License-Identifier: GPL-2.0-or-later
// Running processes by creator, brought to the front, and our own program's place.
// One walk over the processes reads the desktop entries once, however many processes it asks about.
#include <cstring>

#include "platform/UtilsCIP.h"
#include "toolbox/Core/MacErrors.h"

namespace {

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
