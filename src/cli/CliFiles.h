// SPDX-License-Identifier: GPL-2.0-or-later
// File helpers for the subcommands: whole-file reads with a reason on failure, the file a
// command is to write, and replacing a file in one step so that a reader never sees it half written.
#pragma once
#include <cstddef>
#include <functional>
#include <string>

#include "toolbox/Files/Files.h"

namespace cli {

// Reads a regular file whole, never waiting on a FIFO or device under the name. On failure,
// reason says why in a few words ("no such file", "is a directory", "permission denied" ...).
bool readWholeFile(const std::string& path, std::string* bytes, std::string* reason);

// True when both paths name the same existing file (links and different spellings included).
bool sameFile(const std::string& a, const std::string& b);

// The specification of a file to write at path (relative to the current folder); false with
// why no file can be named there ("its folder does not exist" ...).
bool fileToWrite(const std::string& path, FSSpec* spec, std::string* reason);

// What a failed save of a file means, in words.
std::string saveFailure(OSErr err);

// Saves bytes as path, whole or not at all, as FSpSaveFile does: the new file keeps the
// permission bits of the file it replaces (never read through a link), or gets the usual ones
// (0666 less the umask). Nothing is left behind on failure or a kill.
bool replaceFileWith(const std::string& path, const std::string& bytes, std::string* reason);

// The same for a file made a piece at a time: produce appends through append (false once a
// write has failed, reason then saying why) and returns false to give up; no file is left then.
using FileAppend = std::function<bool(const char* bytes, std::size_t count)>;
bool replaceFileProducing(const std::string& path, const std::function<bool(const FileAppend& append)>& produce,
                          std::string* reason);

}  // namespace cli
