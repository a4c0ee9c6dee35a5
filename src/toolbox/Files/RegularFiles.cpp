// SPDX-License-Identifier: GPL-2.0-or-later
// Regular-file opening without blocking: O_NONBLOCK for the open itself, then the type of
// what was opened, from the descriptor.
#include "toolbox/Files/RegularFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// Takes over fd (from an open that may have failed, errno telling why): kept when it is a
// regular file, else closed.
int checkRegular(int fd, struct stat* st, OSErr* err, std::string* reason) {
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
  *err = noErr;
  return fd;
}

// A descriptor of a regular file at path, or -1 with the reason. O_NOCTTY: a terminal under the
// name must not become ours.
int openRegular(const std::string& path, struct stat* st, OSErr* err, std::string* reason) {
  if (path.empty()) {
    *err = fail(ENOENT, reason);
    return -1;
  }
  return checkRegular(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC), st, err, reason);
}

// The same for name as folder holds it, never through a link. O_NOFOLLOW fails with ELOOP on a
// link, which is said as what it is rather than as a loop.
int openRegularIn(const std::string& folder, const std::string& name, struct stat* st, OSErr* err,
                  std::string* reason) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    *err = fail(ENOENT, reason);
    return -1;
  }
  const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    *err = fail(errno, reason);
    return -1;
  }
  const int fd = openat(dir, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
  const int openErrno = errno;
  struct stat link {};
  const bool isLink = fd < 0 && openErrno == ELOOP && fstatat(dir, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISLNK(link.st_mode);
  close(dir);
  if (isLink) {
    *err = notAFileErr;
    if (reason) *reason = "is a symbolic link";
    return -1;
  }
  errno = openErrno;
  return checkRegular(fd, st, err, reason);
}

// A stream on a regular file's descriptor from openRegular or openRegularIn.
OSErr streamOn(int fd, OSErr err, std::FILE** stream, std::string* reason) {
  if (fd < 0) return err;
  // Reads of a regular file never wait anyway (whole reads keep O_NONBLOCK); blocking mode is
  // what stdio expects.
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  *stream = fdopen(fd, "rb");
  if (*stream == nullptr) {
    err = fail(errno, reason);
    close(fd);
  }
  return err;
}

}  // namespace

OSErr FSOpenRegularFile(const std::string& path, std::FILE** stream, std::string* reason) {
  if (stream == nullptr) return paramErr;
  *stream = nullptr;
  struct stat st {};
  OSErr err = noErr;
  const int fd = openRegular(path, &st, &err, reason);
  return streamOn(fd, err, stream, reason);
}

OSErr FSOpenRegularFileInFolder(const std::string& folder, const std::string& name, std::FILE** stream,
                                std::string* reason) {
  if (stream == nullptr) return paramErr;
  *stream = nullptr;
  struct stat st {};
  OSErr err = noErr;
  const int fd = openRegularIn(folder, name, &st, &err, reason);
  return streamOn(fd, err, stream, reason);
}

namespace {

// Reads up to capacity bytes from fd into dst; have says how many came (fewer when the file
// shrank while it was read: what is there is the file).
OSErr readUpTo(int fd, UInt8* dst, std::size_t capacity, std::size_t* have, std::string* reason) {
  *have = 0;
  while (*have < capacity) {
    ssize_t n = read(fd, dst + *have, capacity - *have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int e = errno;
      OSErr err = fail(e, reason);
      if (err == ioErr && reason) *reason = std::string("read error (") + std::strerror(e) + ")";
      return err;
    }
    if (n == 0) break;
    *have += size_t(n);
  }
  return noErr;
}

// A regular file's descriptor whose size is within maxBytes, or -1 with the reason.
int openWhole(const std::string& path, struct stat* st, UInt64 maxBytes, OSErr* err, std::string* reason) {
  int fd = openRegular(path, st, err, reason);
  if (fd < 0) return -1;
  if (UInt64(st->st_size) > maxBytes) {
    close(fd);
    if (reason) *reason = "larger than " + std::to_string(maxBytes >> 20) + " MB";
    *err = memFullErr;
    return -1;
  }
  return fd;
}

}  // namespace

OSErr FSReadRegularFile(const std::string& path, std::vector<UInt8>* bytes, std::string* reason, UInt64 maxBytes) {
  if (bytes == nullptr) return paramErr;
  bytes->clear();
  struct stat st {};
  OSErr err = noErr;
  int fd = openWhole(path, &st, maxBytes, &err, reason);
  if (fd < 0) return err;
  bytes->resize(size_t(st.st_size));
  std::size_t have = 0;
  err = readUpTo(fd, bytes->data(), bytes->size(), &have, reason);
  close(fd);
  bytes->resize(err == noErr ? have : 0);
  return err;
}

OSErr FSReadRegularFileInto(const std::string& path, FSBlock* bytes, std::size_t* size,
                            struct stat* st, std::string* reason, UInt64 maxBytes) {
  if (bytes == nullptr || size == nullptr || st == nullptr) return paramErr;
  bytes->reset();
  *size = 0;
  OSErr err = noErr;
  int fd = openWhole(path, st, maxBytes, &err, reason);
  if (fd < 0) return err;
  // Not cleared first: the read fills it, and clearing a photograph's worth of pages costs as
  // much again as reading it.
  FSBlock block(static_cast<UInt8*>(std::malloc(st->st_size > 0 ? size_t(st->st_size) : 1)));
  if (!block) {
    close(fd);
    if (reason) *reason = "not enough memory";
    return memFullErr;
  }
  std::size_t have = 0;
  err = readUpTo(fd, block.get(), size_t(st->st_size), &have, reason);
  close(fd);
  if (err != noErr) return err;
  *bytes = std::move(block);
  *size = have;
  return noErr;
}

namespace {
// The first step of a start read: most photographs whole in one read (and one look at them).
constexpr std::size_t kFirstStartRead = std::size_t(8) << 20;
}  // namespace

OSErr FSReadRegularFileStart(const std::string& path, std::size_t (*enough)(const UInt8*, std::size_t),
                             FSBlock* bytes, std::size_t* size, struct stat* st, int* fd,
                             std::string* reason, UInt64 maxBytes) {
  if (bytes == nullptr || size == nullptr || st == nullptr || fd == nullptr || enough == nullptr) return paramErr;
  bytes->reset();
  *size = 0;
  *fd = -1;
  OSErr err = noErr;
  const int file = openRegular(path, st, &err, reason);
  if (file < 0) return err;
  const UInt64 fileSize = st->st_size > 0 ? UInt64(st->st_size) : 0;
  FSBlock block;
  std::size_t capacity = 0, have = 0, keep = 0;
  for (;;) {
    UInt64 want = std::min<UInt64>(fileSize, capacity == 0 ? kFirstStartRead : UInt64(capacity) * 2);
    if (want > maxBytes) {
      // The start may still end within the limit; past it, it is refused.
      if (capacity >= maxBytes) {
        close(file);
        if (reason) *reason = "larger than " + std::to_string(maxBytes >> 20) + " MB";
        return memFullErr;
      }
      want = maxBytes;
    }
    if (want > capacity || !block) {
      auto* grown = static_cast<UInt8*>(std::realloc(block.get(), want > 0 ? std::size_t(want) : 1));
      if (grown == nullptr) {
        close(file);
        if (reason) *reason = "not enough memory";
        return memFullErr;
      }
      (void)block.release();
      block.reset(grown);
      capacity = std::size_t(want);
    }
    std::size_t got = 0;
    err = readUpTo(file, block.get() + have, capacity - have, &got, reason);
    if (err != noErr) {
      close(file);
      return err;
    }
    have += got;
    keep = enough(block.get(), have);
    if (keep != 0) break;
    // At the end of the file (or where it now ends, if it shrank) what is there is the start.
    if (have < capacity || have >= fileSize) {
      keep = have;
      break;
    }
  }
  keep = std::min(keep, have);
  // A start much shorter than what was read gives the rest back.
  if (capacity - keep > capacity / 4)
    if (auto* exact = static_cast<UInt8*>(std::realloc(block.get(), keep > 0 ? keep : 1))) {
      (void)block.release();
      block.reset(exact);
    }
  *bytes = std::move(block);
  *size = keep;
  *fd = file;
  return noErr;
}

bool FSReadAt(int fd, UInt64 offset, UInt8* out, std::size_t n) {
  while (n > 0) {
    const ssize_t got = pread(fd, out, n, off_t(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got;
    offset += UInt64(got);
    n -= std::size_t(got);
  }
  return true;
}
