// SPDX-License-Identifier: GPL-2.0-or-later
// Regular-file opening without blocking: O_NONBLOCK for the open itself, then the type of
// what was opened, from the descriptor.
#include "toolbox/Files/RegularFiles.h"

#include <fcntl.h>
#include <sys/mman.h>
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

// A read that failed with error, in words: a device's I/O error says it was the read.
OSErr readFailed(int error, std::string* reason) {
  const OSErr err = fail(error, reason);
  if (err == ioErr && reason) *reason = std::string("read error (") + std::strerror(error) + ")";
  return err;
}

// Reads up to capacity bytes from fd into dst; have says how many came (fewer when the file
// shrank while it was read: what is there is the file).
OSErr readUpTo(int fd, UInt8* dst, std::size_t capacity, std::size_t* have, std::string* reason) {
  *have = 0;
  while (*have < capacity) {
    ssize_t n = read(fd, dst + *have, capacity - *have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return readFailed(errno, reason);
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

UInt64 pageSize() {
  static const UInt64 size = UInt64(sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096);
  return size;
}
UInt64 pageUp(UInt64 n) { return (n + pageSize() - 1) / pageSize() * pageSize(); }

// The whole pages inside each stretch (only those can stay unread and cost nothing), within the
// file; stretches out of order, overlapping or wrapping are not trusted and skipped.
std::vector<FSByteRange> wholePagesOf(const std::vector<FSByteRange>& parts, UInt64 fileSize) {
  std::vector<FSByteRange> pages;
  UInt64 last = 0;
  for (const FSByteRange& r : parts) {
    if (r.offset < last || r.end() < r.offset || r.end() > fileSize) continue;
    last = r.end();
    const UInt64 from = pageUp(r.offset), to = r.end() / pageSize() * pageSize();
    if (to > from) pages.push_back({from, to - from});
  }
  return pages;
}

// Reads [from, to) of fd into block (file offsets) with the gaps' bytes left as they are; *end
// is where the file ended, when it did before to.
OSErr readAround(int fd, UInt8* block, UInt64 from, UInt64 to, const std::vector<FSByteRange>& gaps, UInt64* end,
                 std::string* reason) {
  *end = to;
  for (auto gap = gaps.begin(); from < to;) {
    while (gap != gaps.end() && gap->end() <= from) ++gap;
    if (gap != gaps.end() && gap->offset <= from) {
      from = std::min(to, gap->end());
      continue;
    }
    const UInt64 stop = gap != gaps.end() ? std::min(to, gap->offset) : to;
    while (from < stop) {
      const ssize_t n = pread(fd, block + from, std::size_t(stop - from), off_t(from));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return readFailed(errno, reason);
      if (n == 0) {
        *end = from;
        return noErr;
      }
      from += UInt64(n);
    }
  }
  return noErr;
}

// The block a start is read into: grown by realloc, or, with gaps, a mapping grown by mremap,
// which moves pages without touching them, so the unread ones never exist.
class StartBlock {
 public:
  explicit StartBlock(bool mapped) : mapped_(mapped) {}
  UInt8* data() const { return block_.get(); }
  bool grow(std::size_t want) {
    if (mapped_) {
      const std::size_t size = std::size_t(pageUp(std::max<std::size_t>(want, 1)));
      void* p = block_ ? mremap(block_.get(), mappedSize_, size, MREMAP_MAYMOVE)
                       : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) return false;
      (void)block_.release();
      block_ = FSBlock(static_cast<UInt8*>(p), FSBlockFree{size});
      mappedSize_ = size;
      return true;
    }
    auto* grown = static_cast<UInt8*>(std::realloc(block_.get(), want > 0 ? want : 1));
    if (grown == nullptr) return false;
    (void)block_.release();
    block_.reset(grown);
    return true;
  }
  // Gives back what lies past keep when it is much of what was read.
  FSBlock finish(std::size_t keep, std::size_t capacity) {
    if (mapped_) {
      const std::size_t kept = std::size_t(pageUp(std::max<std::size_t>(keep, 1)));
      if (kept < mappedSize_) munmap(block_.get() + kept, mappedSize_ - kept);
      return FSBlock(block_.release(), FSBlockFree{std::min(kept, mappedSize_)});
    }
    if (capacity - keep > capacity / 4)
      if (auto* exact = static_cast<UInt8*>(std::realloc(block_.get(), keep > 0 ? keep : 1))) {
        (void)block_.release();
        block_.reset(exact);
      }
    return std::move(block_);
  }

 private:
  bool mapped_;
  std::size_t mappedSize_ = 0;
  FSBlock block_;
};
}  // namespace

void FSBlockFree::operator()(UInt8* p) const {
  if (mapped != 0) munmap(p, mapped);
  else std::free(p);
}

OSErr FSReadRegularFileStart(const std::string& path, std::size_t (*enough)(const UInt8*, std::size_t),
                             FSBlock* bytes, std::size_t* size, struct stat* st, int* fd,
                             std::string* reason, UInt64 maxBytes) {
  return FSReadRegularFileStart(path, enough, nullptr, bytes, size, st, fd, nullptr, reason, maxBytes);
}

OSErr FSReadRegularFileStart(const std::string& path, std::size_t (*enough)(const UInt8*, std::size_t),
                             FSUnheldParts unheld, FSBlock* bytes, std::size_t* size, struct stat* st, int* fd,
                             std::vector<FSByteRange>* gaps, std::string* reason, UInt64 maxBytes) {
  if (bytes == nullptr || size == nullptr || st == nullptr || fd == nullptr || enough == nullptr) return paramErr;
  bytes->reset();
  *size = 0;
  *fd = -1;
  if (gaps) gaps->clear();
  OSErr err = noErr;
  const int file = openRegular(path, st, &err, reason);
  if (file < 0) return err;
  const UInt64 fileSize = st->st_size > 0 ? UInt64(st->st_size) : 0;
  std::vector<FSByteRange> skipped;
  if (unheld != nullptr && gaps != nullptr)
    skipped = wholePagesOf(unheld([file](UInt64 at, UInt8* out, std::size_t n) { return FSReadAt(file, at, out, n); },
                                  fileSize),
                           fileSize);
  StartBlock block(!skipped.empty());
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
    if (want > capacity || !block.data()) {
      if (!block.grow(std::size_t(want))) {
        close(file);
        if (reason) *reason = "not enough memory";
        return memFullErr;
      }
      capacity = std::size_t(want);
    }
    UInt64 end = 0;
    err = readAround(file, block.data(), have, capacity, skipped, &end, reason);
    if (err != noErr) {
      close(file);
      return err;
    }
    have = std::size_t(end);
    keep = enough(block.data(), have);
    if (keep != 0) break;
    // At the end of the file (or where it now ends, if it shrank) what is there is the start.
    if (have < capacity || have >= fileSize) {
      keep = have;
      break;
    }
  }
  keep = std::min(keep, have);
  for (const FSByteRange& gap : skipped)
    if (gap.offset < keep) gaps->push_back({gap.offset, std::min<UInt64>(gap.end(), keep) - gap.offset});
  *bytes = block.finish(keep, capacity);
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
