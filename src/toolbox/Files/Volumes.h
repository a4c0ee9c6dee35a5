// SPDX-License-Identifier: GPL-2.0-or-later
// Volume information by index: the mounted file systems of /proc/self/mounts, one per device.
// A volume's name is its mount point, which is what identifies a mounted file system on Linux.
#pragma once
#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"

// volumeIndex counts from 1 over the mounts in table order, keeping the first mount of each
// device; volume is ignored when an index is given. nsvErr past the last volume. The name is
// the mount point, bdNamErr when it does not fit in 255 bytes.
OSErr FSGetVolumeInfo(SInt16 volume, UInt32 volumeIndex, SInt16* actualVolume, Str255 volumeName,
                      FSRef* rootDirectory);
// The mount point of a volume reference number seen before; false when none is mounted.
bool FSGetVolumeMountPoint(SInt16 vRefNum, std::string* mountPoint);

// A catalog search of one volume for items named exactly name (bytes compared): the volume's
// file system from its mount point down, never crossing into another file system and never
// following symbolic links (a link whose own name matches is a match). Folders are visited in
// name order, depth first; stops after maxMatches. nsvErr for an unknown volume.
OSErr FSCatalogSearchByName(SInt16 vRefNum, const std::string& name, size_t maxMatches, std::vector<FSSpec>* matches);
