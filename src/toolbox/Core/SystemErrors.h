// The system's error numbers as the platform's result codes, one table row per error number.
// The table reads both ways, so that a code can still be told in the system's words.
#pragma once
#include <string>

#include "toolbox/Core/MacTypes.h"

// The result code for errno value error; ioErr for a number the table does not list.
OSErr OSErrFromErrno(int error);

// The error number that stands for a result code: the first row with that code (ENOSPC for
// dskFulErr, EACCES for permErr ...), EIO for a code that no row gives.
int ErrnoFromOSErr(OSErr err);

// A few words for error, as this program says them to users ("no such file", "permission
// denied" ...); for a number the table does not list, the system's own words.
std::string ErrnoWords(int error);
