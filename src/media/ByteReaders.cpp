// SPDX-License-Identifier: GPL-2.0-or-later
// The byte readers over a descriptor and over memory.
#include "media/ByteReaders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace media {

FdByteReader::FdByteReader(int fd, bool own) : fd_(fd), own_(own) {
  struct stat st;
  if (fd < 0) error_ = EBADF;
  else if (fstat(fd, &st) != 0) error_ = errno;
  else if (st.st_size > 0) size_ = std::uint64_t(st.st_size);
}

FdByteReader::~FdByteReader() {
  if (own_ && fd_ >= 0) ::close(fd_);
}

bool FdByteReader::read(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  while (n > 0) {
    const ssize_t got = pread(fd_, out, n, off_t(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (error_ == 0) error_ = got < 0 ? errno : EIO;
      return false;
    }
    out += got;
    offset += std::uint64_t(got);
    n -= std::size_t(got);
  }
  return true;
}

bool MemoryByteReader::read(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
  if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
  if (n > 0) std::memcpy(out, bytes_.data() + offset, n);
  return true;
}

}  // namespace media
