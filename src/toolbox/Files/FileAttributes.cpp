// SPDX-License-Identifier: GPL-2.0-or-later
// File attributes from statx. Only a real birth time counts as a creation date: the change or
// modification time would silently give a wrong answer.
#include "toolbox/Files/FileAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"

OSErr FSFileAttributesAtPath(const std::string& path, Boolean traverseLink, FSFileAttributes* attributes) {
  if (attributes == nullptr) return paramErr;
  *attributes = FSFileAttributes{};
  if (path.empty()) return fnfErr;
  struct statx st {};
  int flags = traverseLink ? 0 : AT_SYMLINK_NOFOLLOW;
  if (statx(AT_FDCWD, path.c_str(), flags, STATX_BTIME | STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_CTIME, &st) != 0) return OSErrFromErrno(errno);
  attributes->regularFile = S_ISREG(st.stx_mode);
  attributes->size = st.stx_size;
  attributes->modificationDate = {time_t(st.stx_mtime.tv_sec), long(st.stx_mtime.tv_nsec)};
  attributes->changeDate = {time_t(st.stx_ctime.tv_sec), long(st.stx_ctime.tv_nsec)};
  if (st.stx_mask & STATX_BTIME) {
    struct timespec birth {};
    birth.tv_sec = st.stx_btime.tv_sec;
    birth.tv_nsec = st.stx_btime.tv_nsec;
    attributes->creationDate = birth;
  }
  return noErr;
}
