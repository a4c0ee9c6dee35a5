// Exclusive renames: renameat2 with RENAME_NOREPLACE, or a hard link and an unlink where the
// file system does not offer it.
#include "toolbox/Files/FilePlacing.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "toolbox/Core/MacErrors.h"

namespace {

OSErr errorOf(int e) {
  switch (e) {
    case EEXIST: return dupFNErr;
    case ENOENT: return fnfErr;
    case EACCES:
    case EPERM: return permErr;
    case EROFS: return wPrErr;
    case ENOSPC: return dskFulErr;
    default: return ioErr;
  }
}

std::string folderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

OSErr FSpRenameUnlessTaken(const FSSpec* source, const FSSpec* target) {
  std::string from, to;
  OSErr err = FSpGetPath(source, &from);
  if (err == noErr) err = FSpGetPath(target, &to);
  if (err != noErr) return err;
  int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errorOf(errno);
  int synced = fsync(fd);
  close(fd);
  if (synced != 0) return errorOf(errno);
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return errorOf(errno);
    if (link(from.c_str(), to.c_str()) != 0) return errorOf(errno);
    unlink(from.c_str());
  }
  int dirFd = open(folderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return noErr;
}
