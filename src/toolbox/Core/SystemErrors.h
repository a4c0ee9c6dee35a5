// SPDX-License-Identifier: GPL-2.0-or-later
// The system's error numbers as the platform's result codes, one table row per error number.
// The table reads both ways, so that a code can still be told in the system's words.
#pragma once
#include <string>

#include "toolbox/Core/MacTypes.h"

// The result code for errno value error; ioErr for a number the table does not list. The
// number is kept (per thread) with the code it became, for SystemErrorBehind.
OSErr OSErrFromErrno(int error);

// The error number behind a result code: the one the last translation on this thread turned
// into that code (ELOOP behind fnfErr, EDQUOT behind dskFulErr, EFBIG behind ioErr), else the
// table's usual cause of the code, else 0 when no system error stands behind it.
int SystemErrorBehind(OSErr err);

// Forgets the last translation, so that a new task's codes are not read as an old one's.
void ForgetSystemError();

// The symbolic name of an error number ("ENOSPC", "ELOOP"); "E" and the number for one the C
// library does not name.
std::string ErrnoName(int error);

// A result code in words: the system's words for the error behind it, or "input/output error".
std::string ResultWords(OSErr err);

// The error number that stands for a result code: the first row with that code (ENOSPC for
// dskFulErr, EACCES for permErr ...), EIO for a code that no row gives.
int ErrnoFromOSErr(OSErr err);

// A few words for error, as this program says them to users ("no such file", "permission
// denied" ...); for a number the table does not list, the system's own words.
std::string ErrnoWords(int error);
