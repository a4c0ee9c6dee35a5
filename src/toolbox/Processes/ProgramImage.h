// SPDX-License-Identifier: GPL-2.0-or-later
// Replacing this process with a program installed beside the one it runs, as a front program
// hands its work to a companion binary without a shell or a search of $PATH.
#pragma once
#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"

// Runs, in this same process, the first program found at one of places (each relative to the
// folder of the program this process runs, unless absolute) with argv (null-terminated) as its arguments.
// Returns only when none could be run: fnfErr when none is there, else the error of the last
// that is there but would not run, with the system's words for it in reason.
OSErr ExecProgramBesideThisOne(const std::vector<std::string>& places, char* const argv[], std::string* reason);
