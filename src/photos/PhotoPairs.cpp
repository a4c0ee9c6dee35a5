// SPDX-License-Identifier: GPL-2.0-or-later
// Which of the photographs that share a name is the picture: by the order of the kinds.
#include "photos/PhotoPairs.h"

#include <vector>

#include "photos/PhotoKinds.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/FolderItems.h"
#include "toolbox/Files/FolderNames.h"

namespace photos {
namespace {

std::size_t rankOf(const PhotoKind* kind) {
  const std::span<const PhotoKind> kinds = PhotoKinds();
  return kind == nullptr ? kinds.size() : std::size_t(kind - kinds.data());
}

}  // namespace

std::string PicturePartnerOf(const std::string& path, std::span<const std::string> folderNames) {
  const std::string name = NSStringLastPathComponent(path);
  const PhotoKind* kind = PhotoKindForName(name);
  if (kind == nullptr) return "";
  const std::string stem = NSStringByDeletingPathExtension(name);
  std::string best;
  std::size_t bestRank = rankOf(kind);
  for (const std::string& other : folderNames) {
    if (other == name || NSStringByDeletingPathExtension(other) != stem) continue;
    const std::size_t rank = rankOf(PhotoKindForName(other));
    if (rank < bestRank) {
      best = other;
      bestRank = rank;
    }
  }
  return best;
}

std::string PictureOf(const std::string& path) {
  const PhotoKind* kind = PhotoKindForName(path);
  if (kind == nullptr || rankOf(kind) == 0) return path;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::vector<std::string> names;
  if (FSListFolderNames(folder, &names, nullptr) != noErr) return path;
  // Only a regular file of the folder's own stands in: a link to a JPEG elsewhere does not.
  for (std::string partner; !(partner = PicturePartnerOf(path, names)).empty();) {
    FSFolderItem item;
    if (FSDescribeItem(folder + partner, &item) == noErr && item.kind == FSItemKind::file) return folder + partner;
    std::erase(names, partner);
  }
  return path;
}

}  // namespace photos
