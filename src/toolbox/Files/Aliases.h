// SPDX-License-Identifier: GPL-2.0-or-later
// Alias records: a lasting reference to a file, by absolute path and by device and inode.
// Resolution never asks the user anything; it finds a file renamed within its own folder.
#pragma once
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"

// The record is opaque bytes in a handle (descriptor type 'alis'). Layout, little-endian:
//   0  4  magic "S2al"
//   4  2  version (1)
//   6  2  flags (0)
//   8  8  device (st_dev) of the file's volume
//  16  8  inode of the file
//  24  4  path length n (1..4096)
//  28  n  absolute path, UTF-8 bytes, no terminator
// The record is exactly 28 + n bytes; anything else is malformed.
struct AliasRecord;
using AliasPtr = AliasRecord*;
using AliasHandle = AliasPtr*;

inline constexpr UInt16 kAliasRecordVersion = 1;
inline constexpr Size kAliasHeaderSize = 28;
inline constexpr UInt32 kAliasMaxPath = 4096;

// Mount flags of FSResolveAliasWithMountFlags; user interaction never happens either way.
inline constexpr unsigned long kResolveAliasFileNoUI = 0x00000001;
inline constexpr unsigned long kResolveAliasTryFileIDFirst = 0x00000002;

// A new alias to target (an existing item); fromFile is ignored (aliases are absolute).
OSErr FSNewAlias(const FSRef* fromFile, const FSRef* target, AliasHandle* inAlias);
OSErr FSNewAliasMinimal(const FSRef* target, AliasHandle* inAlias);
OSErr NewAliasFromPath(const char* path, AliasHandle* inAlias);  // resolves the path first

Size GetAliasSize(AliasHandle alias);  // 0 for a null handle
void DisposeAlias(AliasHandle alias);

// noErr with target filled: the stored path when it still names that file (wasChanged false),
// else the file with that inode in the stored path's folder (wasChanged true, and the record is
// rewritten with the new path). fnfErr when the file is gone, nsvErr when its volume is not
// mounted, paramErr for a malformed record. fromFile is ignored.
OSErr FSResolveAliasWithMountFlags(const FSRef* fromFile, AliasHandle alias, FSRef* target, Boolean* wasChanged,
                                   unsigned long mountFlags);
OSErr FSResolveAlias(const FSRef* fromFile, AliasHandle alias, FSRef* target, Boolean* wasChanged);
