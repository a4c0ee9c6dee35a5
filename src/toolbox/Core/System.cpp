// SPDX-License-Identifier: GPL-2.0-or-later
// Tick clock, debugger messages, Gestalt's system version and Pascal-string conversion.
// The tick clock counts from boot, like the platform's, so it never goes backwards.
#include "toolbox/Core/System.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "toolbox/AppKit/NSLog.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/TextConversion.h"

namespace {
SInt32 gEmulatedSystemVersion = 0;
}

UInt32 TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_BOOTTIME, &ts);
  return UInt32(UInt64(ts.tv_sec) * 60u + UInt64(ts.tv_nsec) / (1000000000u / 60u));
}

void DebugStr(ConstStr255Param debuggerMsg) {
  if (debuggerMsg == nullptr) return;
  DebugLog("%.*s", int(debuggerMsg[0]), reinterpret_cast<const char*>(debuggerMsg + 1));
}

void SetEmulatedSystemVersion(SInt32 version) { gEmulatedSystemVersion = version; }

OSErr Gestalt(OSType selector, SInt32* response) {
  if (response == nullptr) return paramErr;
  if (selector != gestaltSystemVersion) return -5551;  // gestaltUndefSelectorErr
  if (gEmulatedSystemVersion != 0) {
    *response = gEmulatedSystemVersion;
    return noErr;
  }
  if (const char* env = std::getenv("STILL2MOV_SYSTEM_VERSION")) {
    char* end = nullptr;
    long v = std::strtol(env, &end, 16);
    if (end != env && v > 0) {
      *response = SInt32(v);
      return noErr;
    }
  }
  *response = 0x1040;
  return noErr;
}

void CopyCStringToPascal(const char* src, Str255 dst) { CopyTextToPascal(src ? src : "", dst); }

void SetIdentityMatrix(MatrixRecord* m) {
  for (auto& row : m->matrix)
    for (auto& v : row) v = 0;
  m->matrix[0][0] = fixed1;
  m->matrix[1][1] = fixed1;
  m->matrix[2][2] = 0x40000000;
}
