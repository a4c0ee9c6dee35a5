// SPDX-License-Identifier: GPL-2.0-or-later
// Folder items on the one-pass name listing, and lstat where the listing does not say a regular
// file: links are looked at, never through.
#include "toolbox/Files/FolderItems.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/FolderNames.h"

namespace {

// The error number of a failed look, 0 when item describes what is at path.
int describe(const std::string& path, FSFolderItem* item) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return errno;
  item->kind = S_ISLNK(st.st_mode)   ? FSItemKind::link
               : S_ISDIR(st.st_mode) ? FSItemKind::folder
               : S_ISREG(st.st_mode) ? FSItemKind::file
                                     : FSItemKind::other;
  item->device = UInt64(st.st_dev);
  item->inode = UInt64(st.st_ino);
  return 0;
}

}  // namespace

OSErr FSListFolder(const std::string& folder, std::vector<FSFolderItem>* items, std::string* reason) {
  if (items == nullptr || folder.empty()) return paramErr;
  items->clear();
  std::vector<std::string> listed;
  std::vector<bool> regular;
  if (const OSErr err = FSListFolderNames(folder, &listed, &regular, reason); err != noErr) return err;
  std::vector<std::size_t> order(listed.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return listed[a] < listed[b]; });
  std::vector<std::string> names;
  names.reserve(listed.size());
  for (std::size_t k : order) names.push_back(listed[k]);
  // The walk's reading also answers later look-ups of names in this folder during a run.
  FSRememberFolderNames(folder, names);
  int error = 0;
  bool searched = false;  // one item looked at shows the folder may be searched
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  for (std::size_t k = 0; error == 0 && k < names.size(); ++k) {
    FSFolderItem item;
    if (searched && regular[order[k]]) {
      // The listing says it is a regular file: no look of its own (only folders need their
      // identity), which keeps a walk over a large library at one listing per folder.
      item.kind = FSItemKind::file;
    } else if (const int failed = describe(prefix + names[k], &item); failed != 0) {
      if (failed == ENOENT) continue;  // removed since it was listed
      // A folder that may be listed but not searched hides what its items are.
      error = failed;
      break;
    } else {
      searched = true;
    }
    item.name = std::move(names[k]);
    items->push_back(std::move(item));
  }
  if (error == 0) return noErr;
  items->clear();
  if (reason != nullptr) *reason = ErrnoWords(error);
  return OSErrFromErrno(error);
}

OSErr FSDescribeItem(const std::string& path, FSFolderItem* item, std::string* reason) {
  if (item == nullptr || path.empty()) return paramErr;
  *item = FSFolderItem{};
  const int error = describe(path, item);
  if (error == 0) {
    item->name = NSStringLastPathComponent(path);
    return noErr;
  }
  if (reason != nullptr) *reason = ErrnoWords(error);
  return OSErrFromErrno(error);
}
