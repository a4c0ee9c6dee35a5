// File attributes the file manager reports for a path: for now the creation date.
// The date is the file system's birth time; where none is kept, there is no date at all.
#pragma once
#include <ctime>
#include <optional>
#include <string>

#include "toolbox/Core/MacTypes.h"

struct FSFileAttributes {
  std::optional<struct timespec> creationDate;
};

// noErr and the attributes of the item at path (of the link's target when traverseLink is
// true), or the file manager's error code with the attributes left empty.
OSErr FSFileAttributesAtPath(const std::string& path, Boolean traverseLink, FSFileAttributes* attributes);
