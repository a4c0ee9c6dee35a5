// SPDX-License-Identifier: GPL-2.0-or-later
// File URLs made from file references, and the paths they name.
// Objects are released with CFRelease, as the platform's are.
#pragma once
#include <string>

#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"

struct __CFRuntimeBase {
  virtual ~__CFRuntimeBase() = default;
};
using CFTypeRef = const __CFRuntimeBase*;
using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

struct __CFURL : __CFRuntimeBase {
  std::string path;  // absolute, as the file system names it
};
using CFURLRef = const __CFURL*;

enum CFURLPathStyle { kCFURLPOSIXPathStyle = 0 };

void CFRelease(CFTypeRef cf);

// nullptr when the reference names no path.
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef* fsRef);
// The URL's path in that style ("" for a null URL).
std::string CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle);
