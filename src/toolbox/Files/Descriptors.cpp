// Read and write loops over read(2)/write(2)/pread(2)/pwrite(2): a call may move fewer bytes than
// asked, or be interrupted, and either way the rest must follow.
#include "toolbox/Files/Descriptors.h"

#include <unistd.h>

#include <cerrno>

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
