// SPDX-License-Identifier: GPL-2.0-or-later
// File attributes the file manager reports for a path: its creation date, size and the times
// that tell whether its contents may have changed. Where no birth time is kept there is no
// creation date at all.
#pragma once
#include <ctime>
#include <optional>
#include <string>

#include "toolbox/Core/MacTypes.h"

struct FSFileAttributes {
  std::optional<struct timespec> creationDate;
  bool regularFile = false;  // a regular file itself (a link is not one when not traversed)
  UInt64 size = 0;
  struct timespec modificationDate {};  // set by whoever writes the file, or by the user
  struct timespec changeDate {};        // the system's own: any write, rename or attribute
                                        // change moves it, and no user can set it
};

// noErr and the attributes of the item at path (of the link's target when traverseLink is
// true), or the file manager's error code with the attributes left empty.
OSErr FSFileAttributesAtPath(const std::string& path, Boolean traverseLink, FSFileAttributes* attributes);
