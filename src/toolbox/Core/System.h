// SPDX-License-Identifier: GPL-2.0-or-later
// Process-wide platform services: the tick clock, the debugger message, the system version.
// The system version is what the 'sysv' selector answers (0x1030 for 10.3.0).
#pragma once
#include "toolbox/Core/MacTypes.h"

// Sixtieths of a second since the machine booted (CLOCK_BOOTTIME).
UInt32 TickCount();

// Hands the Pascal string to the developers' diagnostics (DebugLog) and returns.
void DebugStr(ConstStr255Param debuggerMsg);

// 'sysv' answers the emulated system version: 0x1040 (10.4.0) unless the environment variable
// STILL2MOV_SYSTEM_VERSION holds another hexadecimal value, or a test sets one.
constexpr OSType gestaltSystemVersion = FOUR_CHAR_CODE("sysv");
OSErr Gestalt(OSType selector, SInt32* response);
void SetEmulatedSystemVersion(SInt32 version);  // 0 returns to the default

// Pascal-string helpers for building the platform's arguments from C++ text. A C string longer
// than 255 bytes is cut as CopyTextToPascal cuts it, never inside a character.
void CopyCStringToPascal(const char* src, Str255 dst);
