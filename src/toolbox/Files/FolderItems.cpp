// SPDX-License-Identifier: GPL-2.0-or-later
// Folder items on the one-pass name listing and lstat: links are looked at, never through.
#include "toolbox/Files/FolderItems.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

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
  std::vector<std::string> names;
  if (const OSErr err = FSListFolderNames(folder, &names, reason); err != noErr) return err;
  std::sort(names.begin(), names.end());
  // The walk's reading also answers later look-ups of names in this folder during a run.
  FSRememberFolderNames(folder, names);
  int error = 0;
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  for (std::size_t k = 0; error == 0 && k < names.size(); ++k) {
    FSFolderItem item;
    if (const int failed = describe(prefix + names[k], &item); failed != 0) {
      if (failed == ENOENT) continue;  // removed since it was listed
      // A folder that may be listed but not searched hides what its items are.
      error = failed;
      break;
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
    item->name = path.substr(path.find_last_of('/') + 1);
    return noErr;
  }
  if (reason != nullptr) *reason = ErrnoWords(error);
  return OSErrFromErrno(error);
}
