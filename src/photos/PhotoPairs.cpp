// SPDX-License-Identifier: GPL-2.0-or-later
// Which of the photographs that share a name is the picture: by the order of the kinds.
#include "photos/PhotoPairs.h"

#include <unordered_map>
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

std::unordered_map<std::string, std::string> PicturePartners(std::span<const std::string> folderNames) {
  // Each name's stem is taken once, so that a folder of thousands costs no more than its names.
  struct Named {
    const std::string* name;
    std::size_t rank;
    std::string stem;
  };
  std::vector<Named> named;
  named.reserve(folderNames.size());
  // Each stem's picture: the name of the kind first in the table, the first such in the names.
  std::unordered_map<std::string, const Named*> best;
  for (const std::string& name : folderNames)
    if (const PhotoKind* kind = PhotoKindForName(name))
      named.push_back({&name, rankOf(kind), NSStringByDeletingPathExtension(name)});
  for (const Named& n : named) {
    auto [at, fresh] = best.try_emplace(n.stem, &n);
    if (!fresh && n.rank < at->second->rank) at->second = &n;
  }
  std::unordered_map<std::string, std::string> partners;
  for (const Named& n : named)
    if (const Named* picture = best.at(n.stem); picture->rank < n.rank) partners.emplace(*n.name, *picture->name);
  return partners;
}

std::string PicturePartnerOf(const std::string& path, std::span<const std::string> folderNames) {
  const std::string name = NSStringLastPathComponent(path);
  std::vector<std::string> names(folderNames.begin(), folderNames.end());
  names.push_back(name);
  const std::unordered_map<std::string, std::string> partners = PicturePartners(names);
  const auto it = partners.find(name);
  return it == partners.end() ? std::string() : it->second;
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
