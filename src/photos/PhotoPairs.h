// SPDX-License-Identifier: GPL-2.0-or-later
// Photographs of several kinds under one name (DSC_0001.NEF beside DSC_0001.JPG) are one
// photograph: the kind first in the table of kinds, the camera's finished JPEG, is its picture.
#pragma once
#include <span>
#include <string>
#include <unordered_map>

namespace photos {

// The name, among the names in the photograph's folder, of the partner that is the picture in
// path's place; "" when path is the picture itself (no partner, or one of a later kind).
std::string PicturePartnerOf(const std::string& path, std::span<const std::string> folderNames);
// The same for every name of a folder at once: each name that has a partner, with it.
std::unordered_map<std::string, std::string> PicturePartners(std::span<const std::string> folderNames);

// The photograph to convert in path's place: its picture partner when the folder holds one as a
// regular file of its own (DSC_0001.JPG for DSC_0001.NEF), else path. The folder is read only
// for a kind a partner may stand in for; what the command line and the watcher ask, as the folder
// walk does with the names it read.
std::string PictureOf(const std::string& path);

}  // namespace photos
