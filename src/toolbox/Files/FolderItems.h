// SPDX-License-Identifier: GPL-2.0-or-later
// A folder's items in name order, each told as what it is itself (a symbolic link as a link),
// for walks that must not leave the tree they were given.
#pragma once
#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"

enum class FSItemKind { file, folder, link, other };  // other: a FIFO, socket or device

struct FSFolderItem {
  std::string name;
  FSItemKind kind = FSItemKind::other;
  UInt64 device = 0;  // the item's identity (a link's own), to tell a folder met twice; 0 for a
  // regular file the listing named as one
  UInt64 inode = 0;
};

// What is at path itself (a link as a link): fnfErr when nothing is, with reason in words on
// any failure.
OSErr FSDescribeItem(const std::string& path, FSFolderItem* item, std::string* reason = nullptr);

// The folder's items in byte order of their names; links are described, never followed. An
// item removed while the folder is read is passed over. On failure reason says why in words
// ("permission denied", "no such file" ...).
OSErr FSListFolder(const std::string& folder, std::vector<FSFolderItem>* items, std::string* reason);
