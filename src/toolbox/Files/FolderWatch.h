// SPDX-License-Identifier: GPL-2.0-or-later
// Kernel notifications of what changes in folders (inotify): files written, moved in or made,
// and folders made, each told by its path, for commands that act on files as they arrive.
#pragma once
#include <map>
#include <string>
#include <vector>

struct FSWatchEvent {
  enum class Kind {
    closed,    // a file written and closed, moved in whole, or its attributes set (as copies that
               // keep them do after closing): most likely complete
    changed,   // a file made or written to: maybe still being written
    folder,    // a folder made or moved in (its contents are not watched yet)
    overflow,  // the kernel dropped notifications: anything may have changed
    gone,      // a watched folder itself was removed, moved away or unmounted (path: the folder)
  };
  Kind kind = Kind::changed;
  std::string path;
};

class FSFolderWatch {
 public:
  FSFolderWatch();
  ~FSFolderWatch();
  FSFolderWatch(const FSFolderWatch&) = delete;
  FSFolderWatch& operator=(const FSFolderWatch&) = delete;

  enum class Added {
    watching,
    limitReached,  // the system's limit on watched folders (max_user_watches) is used up
    unavailable,   // no notifications for it (the system or its file system offers none)
    gone,          // no such folder any more
  };
  // Watches the folder itself, not the folders below it; reason in words when not watching.
  Added watchFolder(const std::string& folder, std::string* reason);

  // Waits at most timeoutMs (-1: no limit) for notifications, or until wakeDescriptor (when
  // >= 0) is readable, and appends what came.
  void wait(int timeoutMs, int wakeDescriptor, std::vector<FSWatchEvent>* events);

 private:
  int fd_ = -1;
  std::map<int, std::string> folders_;  // watch descriptor -> folder path
};
