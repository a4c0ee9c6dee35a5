// SPDX-License-Identifier: GPL-2.0-or-later
// Saving a file whole or not at all: written into a private working file beside the target,
// flushed, then given the target's name in one step. The one way this program writes a file.
#pragma once
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"

// Fills the working file through fd (open for writing and reading back, at offset 0; not the
// writer's to close).
// Anything but noErr discards the working file and comes back from FSpSaveFile unchanged.
using FSSaveWriter = std::function<OSErr(int fd)>;

// Saves what write produces under target's name. The new file has the permission bits of the
// regular file it replaces (never those of a link's target, never set-ID or sticky bits), else
// 0666 less the umask, and the Finder information given. With replaceExisting, whatever has the
// name is replaced (a link itself, never what it points to); without, dupFNErr when the name is
// taken, checked in the same step that names the file. notAFileErr when a folder has the name.
// On any failure, or a kill, the target is as it was and no working file is left.
OSErr FSpSaveFile(const FSSpec* target, Boolean replaceExisting, const FSSaveWriter& write,
                  const FInfo* finderInfo = nullptr);
// The same, published as rule allows (FSpPublishTemporaryByRule): with replaceChecked only the
// file stamped earlier, unchanged, is replaced (dupFNErr for anything else there).
OSErr FSpSaveFileByRule(const FSSpec* target, FSPublishRule rule, const FSItemStamp* checked,
                        const FSSaveWriter& write, const FInfo* finderInfo = nullptr);

// The permission bits FSpSaveFile gives a file saved as target (see there); notAFileErr when a
// folder has the name.
OSErr FSpPermissionsForSaving(const FSSpec* target, UInt16* mode);
// Sets a file's permission bits (a working file's too), never through a link.
OSErr FSpSetPermissions(const FSSpec* spec, UInt16 mode);

// What a stamp saw under a name, in words for a refusal ("a FIFO", "a device", "a symbolic
// link", "a socket", "a directory"); empty for a regular file.
std::string FSItemKindWords(const FSItemStamp& stamp);

// FSpSaveFile with bytes as the whole contents.
OSErr FSpSaveBytes(const FSSpec* target, const void* bytes, std::size_t count, Boolean replaceExisting);

// FSpSaveFile with a stdio stream on the working file (the writer does not close it). A stream
// that fails to flush its buffer counts as a failed write, with the system's reason.
OSErr FSpSaveStream(const FSSpec* target, Boolean replaceExisting, const std::function<OSErr(std::FILE*)>& write);
OSErr FSpSaveStreamByRule(const FSSpec* target, FSPublishRule rule, const FSItemStamp* checked,
                          const std::function<OSErr(std::FILE*)>& write);
