// SPDX-License-Identifier: GPL-2.0-or-later
// File URLs over file references: they keep the reference's absolute path.
// The URL text is built by GLib, which escapes what a file URL must not carry raw.
#include "toolbox/CoreFoundation/CFURL.h"

#include <glib.h>

void CFRelease(CFTypeRef cf) { delete cf; }

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef, const FSRef* fsRef) {
  if (fsRef == nullptr || fsRef->path.empty() || fsRef->path[0] != '/') return nullptr;
  auto* url = new __CFURL();
  url->path = fsRef->path;
  return url;
}

std::string CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle) { return anURL ? anURL->path : std::string(); }
