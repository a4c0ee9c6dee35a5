// SPDX-License-Identifier: GPL-2.0-or-later
// Read and write loops over read(2)/write(2)/pread(2)/pwrite(2): a call may move fewer bytes than
// asked, or be interrupted, and either way the rest must follow.
#include "toolbox/Files/Descriptors.h"

#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"

namespace {

// Runs step(done) until count bytes are done; step answers what one call moved.
template <typename Step>
OSErr whole(std::size_t count, OSErr shortResult, Step step) {
  std::size_t done = 0;
  while (done < count) {
    ssize_t n = step(done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return OSErrFromErrno(errno);
    if (n == 0) return shortResult;
    done += std::size_t(n);
  }
  return noErr;
}

}  // namespace

OSErr FSWriteAll(int fd, const void* bytes, std::size_t count) {
  const auto* p = static_cast<const UInt8*>(bytes);
  return whole(count, dskFulErr, [&](std::size_t done) { return write(fd, p + done, count - done); });
}

OSErr FSWriteAt(int fd, UInt64 offset, const void* bytes, std::size_t count) {
  const auto* p = static_cast<const UInt8*>(bytes);
  return whole(count, dskFulErr,
               [&](std::size_t done) { return pwrite(fd, p + done, count - done, off_t(offset + done)); });
}

OSErr FSReadAt(int fd, UInt64 offset, void* bytes, std::size_t count) {
  auto* p = static_cast<UInt8*>(bytes);
  return whole(count, eofErr, [&](std::size_t done) { return pread(fd, p + done, count - done, off_t(offset + done)); });
}

OSErr FSWriteGatherAt(int fd, UInt64 offset, const struct iovec* pieces, std::size_t count) {
  // A call may stop anywhere, even inside a piece: the rest is described afresh each time.
  std::vector<struct iovec> rest(pieces, pieces + count);
  std::size_t first = 0;
  while (first < rest.size()) {
    if (rest[first].iov_len == 0) {
      ++first;
      continue;
    }
    int n = int(std::min<std::size_t>(rest.size() - first, IOV_MAX));
    ssize_t wrote = pwritev(fd, rest.data() + first, n, off_t(offset));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return OSErrFromErrno(errno);
    if (wrote == 0) return dskFulErr;
    offset += UInt64(wrote);
    std::size_t left = std::size_t(wrote);
    while (left > 0 && first < rest.size()) {
      std::size_t take = std::min(left, rest[first].iov_len);
      rest[first].iov_base = static_cast<char*>(rest[first].iov_base) + take;
      rest[first].iov_len -= take;
      left -= take;
      if (rest[first].iov_len == 0) ++first;
    }
  }
  return noErr;
}
