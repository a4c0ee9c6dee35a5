// Regular-file opening without blocking: O_NONBLOCK for the open itself, then the type of
// what was opened, from the descriptor.
#include "toolbox/Files/RegularFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"

namespace {

// The file manager's code for a failed call, and the words for it.
OSErr fail(int error, std::string* reason) {
  if (reason) *reason = ErrnoWords(error);
  return OSErrFromErrno(error);
}

// A descriptor of a regular file at path, or -1 with the reason. O_NOCTTY: a terminal under the
// name must not become ours.
int openRegular(const std::string& path, struct stat* st, OSErr* err, std::string* reason) {
  if (path.empty()) {
    *err = fail(ENOENT, reason);
    return -1;
  }
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *err = fail(errno, reason);
    return -1;
  }
  if (fstat(fd, st) != 0) {
    *err = fail(errno, reason);
    close(fd);
    return -1;
  }
  if (!S_ISREG(st->st_mode)) {
    *err = notAFileErr;
    if (reason) *reason = S_ISDIR(st->st_mode) ? "is a directory" : "not a regular file";
    close(fd);
    return -1;
  }
  // Reads of a regular file never wait anyway; blocking mode is what stdio expects.
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  *err = noErr;
  return fd;
}

}  // namespace

OSErr FSOpenRegularFile(const std::string& path, std::FILE** stream, std::string* reason) {
  if (stream == nullptr) return paramErr;
  *stream = nullptr;
  struct stat st {};
  OSErr err = noErr;
  int fd = openRegular(path, &st, &err, reason);
  if (fd < 0) return err;
  *stream = fdopen(fd, "rb");
  if (*stream == nullptr) {
    err = fail(errno, reason);
    close(fd);
  }
  return err;
}

OSErr FSReadRegularFile(const std::string& path, std::vector<UInt8>* bytes, std::string* reason, UInt64 maxBytes) {
  if (bytes == nullptr) return paramErr;
  bytes->clear();
  struct stat st {};
  OSErr err = noErr;
  int fd = openRegular(path, &st, &err, reason);
  if (fd < 0) return err;
  if (UInt64(st.st_size) > maxBytes) {
    close(fd);
    if (reason) *reason = "larger than " + std::to_string(maxBytes >> 20) + " MB";
    return memFullErr;
  }
  bytes->resize(size_t(st.st_size));
  size_t have = 0;
  while (have < bytes->size()) {
    ssize_t n = read(fd, bytes->data() + have, bytes->size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      err = fail(e, reason);
      if (err == ioErr && reason) *reason = std::string("read error (") + std::strerror(e) + ")";
      close(fd);
      bytes->clear();
      return err;
    }
    if (n == 0) break;  // it shrank while we read: what is there is the file
    have += size_t(n);
  }
  close(fd);
  bytes->resize(have);
  return noErr;
}
