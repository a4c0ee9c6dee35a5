// SPDX-License-Identifier: GPL-2.0-or-later
// Which MP4 metadata key carries each of a movie's user-data text items: the one table the MP4
// exporter writes by and the movie file reader reads by.
#pragma once
#include <string>

#include "toolbox/Core/MacTypes.h"

// QuickTime's keys for the camera and the place, which phones and photo libraries read; "encoder"
// for the software item (the program's mark); any other item under its own type ("©abc" in UTF-8).
std::string Mp4KeyForUserDataType(OSType type);
