// SPDX-License-Identifier: GPL-2.0-or-later
// Which of the photographs that share a name is the picture: by the order of the kinds.
#include "photos/PhotoPairs.h"

#include "photos/PhotoKinds.h"
#include "toolbox/AppKit/NSPathUtilities.h"

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

}  // namespace photos
