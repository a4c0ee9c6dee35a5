// SPDX-License-Identifier: GPL-2.0-or-later
// Folder notifications on inotify: one watch per folder, events read in whole batches and told
// by path; a folder removed or moved away drops its watch, a full queue is said as an overflow.
#include "toolbox/Files/FolderWatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "toolbox/Core/SystemErrors.h"

namespace {

constexpr uint32_t kMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF |
                           IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

}  // namespace

FSFolderWatch::FSFolderWatch() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FSFolderWatch::~FSFolderWatch() {
  if (fd_ >= 0) close(fd_);
}

FSFolderWatch::Added FSFolderWatch::watchFolder(const std::string& folder, std::string* reason) {
  if (fd_ < 0) {
    if (reason) *reason = "the system gives no notifications of changes";
    return Added::unavailable;
  }
  const int wd = inotify_add_watch(fd_, folder.c_str(), kMask);
  if (wd >= 0) {
    folders_[wd] = folder;
    return Added::watching;
  }
  const int error = errno;
  if (reason) *reason = ErrnoWords(error);
  if (error == ENOSPC) {
    if (reason) *reason = "the system's limit on watched folders is reached";
    return Added::limitReached;
  }
  return error == ENOENT || error == ENOTDIR ? Added::gone : Added::unavailable;
}

void FSFolderWatch::wait(int timeoutMs, int wakeDescriptor, std::vector<FSWatchEvent>* events) {
  pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeDescriptor, POLLIN, 0}};
  const nfds_t count = wakeDescriptor >= 0 ? 2 : 1;
  if (poll(fds, count, timeoutMs) <= 0 || fd_ < 0 || !(fds[0].revents & POLLIN)) return;
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n <= 0) return;
    for (const char* p = buffer; p < buffer + n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(p);
      p += sizeof(inotify_event) + e->len;
      if (e->mask & IN_Q_OVERFLOW) {
        events->push_back({FSWatchEvent::Kind::overflow, {}});
        continue;
      }
      const auto folder = folders_.find(e->wd);
      if (folder == folders_.end()) continue;
      if (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
        // Moved away, it is seen again where it lands (as a folder moved in) under its new path;
        // its old path is told once, for a watcher that waits for it to come back there.
        events->push_back({FSWatchEvent::Kind::gone, folder->second});
        inotify_rm_watch(fd_, e->wd);
        folders_.erase(folder);
        continue;
      }
      if (e->mask & IN_IGNORED) {
        folders_.erase(folder);
        continue;
      }
      if (e->len == 0) continue;
      const std::string path = folder->second + (folder->second.back() == '/' ? "" : "/") + e->name;
      FSWatchEvent::Kind kind = FSWatchEvent::Kind::changed;
      if (e->mask & IN_ISDIR)
        kind = e->mask & (IN_CREATE | IN_MOVED_TO) ? FSWatchEvent::Kind::folder : FSWatchEvent::Kind::changed;
      else if (e->mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_ATTRIB))
        kind = FSWatchEvent::Kind::closed;
      if ((e->mask & IN_ISDIR) && kind != FSWatchEvent::Kind::folder) continue;
      events->push_back({kind, path});
    }
  }
}
