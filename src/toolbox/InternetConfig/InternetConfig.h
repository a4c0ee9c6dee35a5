// SPDX-License-Identifier: GPL-2.0-or-later
// Internet Config over the desktop's default handlers: "Helper\xA5<scheme>" keys answer the
// default application for that URI scheme (GIO), with the creator of its desktop entry.
#pragma once
#include "toolbox/Core/MacTypes.h"

struct ICInstanceRecord;
using ICInstance = ICInstanceRecord*;
using ICAttr = UInt32;
constexpr OSStatus icPrefNotFoundErr = -666;
constexpr OSStatus icTruncatedErr = -669;

struct ICAppSpec {
  OSType fCreator;  // the handler entry's X-Creator-Code, '????' when it names none
  Str63 name;       // the handler's name, cut to 63 bytes where a character ends
};

// The signature identifies the caller; it is kept but changes nothing.
OSStatus ICStart(ICInstance* inst, OSType signature);
OSStatus ICStop(ICInstance inst);
// Only helper keys are known; any other key, or a scheme without a default handler, answers
// icPrefNotFoundErr. *ioSize is the buffer's size in and the preference's size out.
OSStatus ICGetPref(ICInstance inst, ConstStr255Param key, ICAttr* attr, void* buf, long* ioSize);
