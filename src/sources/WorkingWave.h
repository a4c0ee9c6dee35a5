// SPDX-License-Identifier: GPL-2.0-or-later
// The WAVE working file the sources write a recording into for the QuickTime road: new, in the
// user's private temporary-items folder, never through a link, and gone however the run stops.
#pragma once
#include <cstdio>
#include <string>

#include "toolbox/Core/MacTypes.h"

namespace sources {

// A new, empty file open for writing at *path, in *folder; or the failure with its words.
OSErr NewWorkingWave(std::string* folder, std::string* path, std::FILE** file, std::string* problem);

}  // namespace sources
