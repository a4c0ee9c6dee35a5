// SPDX-License-Identifier: GPL-2.0-or-later
// The folder walk: each folder listed by the file toolbox in name order with links told as
// links, and a folder that is its own ancestor (a bind mount) not entered again.
#include "cli/PhotoWalk.h"

#include <set>

#include "outputs/Outputs.h"
#include "photos/PhotoKinds.h"
#include "photos/PhotoPairs.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/FolderItems.h"

namespace cli {
namespace {

std::string joined(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

struct Ancestor {
  std::string path;
  UInt64 device, inode;
};

void walk(const std::string& folder, UInt64 device, UInt64 inode, std::vector<Ancestor>* ancestors,
          std::vector<std::string>* photos, const WalkNotes& notes) {
  for (const Ancestor& above : *ancestors)
    if (above.device == device && above.inode == inode) {
      notes.passedOver(folder, "the same folder as " + above.path + "; not walked again");
      return;
    }
  if (notes.entering) notes.entering(folder);
  std::vector<FSFolderItem> items;
  std::string reason;
  if (FSListFolder(folder, &items, &reason) != noErr) {
    notes.unreadable(folder, "cannot be read (" + reason + ")");
    return;
  }
  ancestors->push_back({folder, device, inode});
  // The folder's own regular files: what a raw's JPEG, or an output's photograph, can be.
  std::vector<std::string> names;
  for (const FSFolderItem& item : items)
    if (item.kind == FSItemKind::file) names.push_back(item.name);
  const std::set<std::string> files(names.begin(), names.end());
  const auto isThere = [&files](const std::string& name) { return files.count(name) > 0; };
  const std::unordered_map<std::string, std::string> partners = ::photos::PicturePartners(names);
  for (const FSFolderItem& item : items) {
    const std::string path = joined(folder, item.name);
    switch (item.kind) {
      case FSItemKind::link: notes.passedOver(path, "symbolic link; not followed"); break;
      case FSItemKind::folder: walk(path, item.device, item.inode, ancestors, photos, notes); break;
      case FSItemKind::file:
        if (!hasPhotographName(item.name)) break;
        // One of ours beside the photograph it was made from (a motion photo) is no photograph.
        if (const std::optional<std::string> ours = outputs::OurOutputByName(item.name, isThere)) {
          notes.passedOver(path, *ours);
          break;
        }
        // A raw beside its JPEG is the JPEG's photograph: converted once, from the JPEG.
        if (!partners.count(item.name)) photos->push_back(path);
        break;
      case FSItemKind::other: break;
    }
  }
  ancestors->pop_back();
}

}  // namespace

bool hasPhotographName(const std::string& path) { return photos::PhotoKindForName(path) != nullptr; }

bool isFolder(const std::string& path) {
  FSRef ref;
  Boolean folder = false;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, &folder) == noErr && folder;
}

void findPhotographs(const std::string& folder, std::vector<std::string>* photos, const WalkNotes& notes) {
  // The folder named on the command line may itself be reached through a link.
  FSRef root;
  std::vector<Ancestor> ancestors;
  if (const OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), &root, nullptr); err != noErr) {
    notes.unreadable(folder, "cannot be read (" + ResultWords(err) + ")");
    return;
  }
  walk(folder, root.device, root.inode, &ancestors, photos, notes);
}

}  // namespace cli
