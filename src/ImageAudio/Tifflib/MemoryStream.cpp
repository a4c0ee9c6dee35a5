// SPDX-License-Identifier: GPL-2.0-or-later
// The memory stream's process-wide table of 20 slots and its POSIX-like operations.
// Sizes are signed 32-bit; every sum is checked so that no offset wraps round.
#include "ImageAudio/Tifflib/MemoryStream.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int kSlots = 20;

int32_t fds[kSlots];
unsigned char* buf[kSlots];
int32_t buf_size[kSlots];
int32_t buf_off[kSlots];
int32_t buf_mode[kSlots];
bool library_init_done = false;

int fail(int code) {
  errno = code;
  return -1;
}

bool inUse(int32_t fd) { return fd >= 0 && fd < kSlots && library_init_done && fds[fd] == 0; }

// Grows the block to at least newSize bytes; on failure the block stays as it was.
bool growTo(int32_t fd, int64_t newSize) {
  if (newSize > INT32_MAX) return false;
  if (newSize <= 1) return true;  // every owned block has at least one byte
  void* grown = std::realloc(buf[fd], static_cast<size_t>(newSize));
  if (grown == nullptr) return false;
  buf[fd] = static_cast<unsigned char*>(grown);
  return true;
}

int32_t fdOf(thandle_t h) { return static_cast<int32_t>(reinterpret_cast<intptr_t>(h)); }
}  // namespace

int32_t mfs_open(void* block, int32_t length, const char* mode) {
  if (!library_init_done) {
    for (int i = 0; i < kSlots; ++i) {
      fds[i] = -1;
      buf[i] = nullptr;
      buf_size[i] = 0;
      buf_off[i] = 0;
    }
    library_init_done = true;
  }
  int fd = 0;
  while (fd < kSlots && fds[fd] != -1) ++fd;
  if (fd == kSlots) return fail(EMFILE);
  if (mode == nullptr) return fail(EINVAL);
  const char kind = mode[0];
  unsigned char* block_bytes = static_cast<unsigned char*>(block);
  int32_t size = 0;
  switch (kind) {
    case 'r':
      if (block == nullptr || length < 0) return fail(EINVAL);
      size = length;
      break;
    case 'w':
      if (block != nullptr) return fail(EINVAL);
      break;
    case 'a':
      if (block != nullptr) {
        if (length < 0) return fail(EINVAL);
        size = length;
      }
      break;
    default:
      return fail(EINVAL);
  }
  if (block_bytes == nullptr) {
    block_bytes = static_cast<unsigned char*>(std::malloc(1));
    if (block_bytes == nullptr) return fail(ENOMEM);
  }
  buf[fd] = block_bytes;
  buf_size[fd] = size;
  buf_off[fd] = 0;
  buf_mode[fd] = kind;
  fds[fd] = 0;
  return fd;
}

int32_t mfs_read(int32_t fd, void* destination, int32_t count) {
  if (!inUse(fd) || buf_mode[fd] != 'r') return fail(EBADF);
  if (count < 0) return fail(EINVAL);
  if (int64_t(buf_off[fd]) + count > buf_size[fd]) return 0;
  if (count > 0) std::memcpy(destination, buf[fd] + buf_off[fd], static_cast<size_t>(count));
  buf_off[fd] += count;
  return count;
}

int32_t mfs_write(int32_t fd, const void* source, int32_t count) {
  if (!inUse(fd) || buf_mode[fd] == 'r') return fail(EBADF);
  if (count < 0) return fail(EINVAL);
  const int64_t start = buf_mode[fd] == 'a' ? buf_size[fd] : buf_off[fd];
  const int64_t end = start + count;
  if (end > INT32_MAX) return fail(ENOMEM);
  if (end > buf_size[fd] || buf_mode[fd] == 'a') {
    if (!growTo(fd, end)) return fail(ENOMEM);
    buf_size[fd] = static_cast<int32_t>(end);
  }
  if (count > 0) std::memcpy(buf[fd] + start, source, static_cast<size_t>(count));
  buf_off[fd] = static_cast<int32_t>(end);
  return count;
}

int32_t mfs_lseek(int32_t fd, int32_t offset, int whence) {
  if (!inUse(fd)) return fail(EBADF);
  int64_t position;
  switch (whence) {
    case SEEK_SET:
      if (offset < 0) return fail(EINVAL);
      position = offset;
      break;
    case SEEK_CUR:
      position = int64_t(buf_off[fd]) + offset;
      break;
    case SEEK_END:
      position = int64_t(buf_size[fd]) + offset;
      break;
    default:
      return fail(EINVAL);
  }
  if (position < 0) return fail(EINVAL);
  if (position > INT32_MAX) return fail(EINVAL);
  // A writer's block is grown now, so that the gap is writable; its size moves only on write.
  if (position > buf_size[fd] && buf_mode[fd] != 'r' && !growTo(fd, position)) return fail(ENOMEM);
  buf_off[fd] = static_cast<int32_t>(position);
  return buf_off[fd];
}

int32_t mfs_size(int32_t fd) {
  if (!inUse(fd)) return fail(EBADF);
  return buf_size[fd];
}

int32_t mfs_map(int32_t fd, void** address, int32_t* size) {
  if (!inUse(fd)) return fail(EBADF);
  if (address != nullptr) *address = buf[fd];
  if (size != nullptr) *size = buf_size[fd];
  return 0;
}

int32_t mfs_unmap(int32_t, void*, int32_t) { return 0; }

int32_t mfs_close(int32_t fd) {
  if (!inUse(fd)) return fail(EBADF);
  fds[fd] = -1;
  return 0;
}

// Client-procedure forms. A request beyond 32 bits cannot be met by a 32-bit stream.
tmsize_t mfs_read(thandle_t h, void* destination, tmsize_t count) {
  if (count < 0 || count > INT32_MAX) return inUse(fdOf(h)) ? 0 : fail(EBADF);
  return mfs_read(fdOf(h), destination, static_cast<int32_t>(count));
}

tmsize_t mfs_write(thandle_t h, void* source, tmsize_t count) {
  if (count < 0 || count > INT32_MAX) return fail(inUse(fdOf(h)) ? ENOMEM : EBADF);
  return mfs_write(fdOf(h), source, static_cast<int32_t>(count));
}

toff_t mfs_lseek(thandle_t h, toff_t offset, int whence) {
  // The library passes offsets unsigned; read them back as signed to keep relative seeks.
  const int64_t signedOffset = static_cast<int64_t>(offset);
  if (signedOffset > INT32_MAX || signedOffset < INT32_MIN) {
    if (!inUse(fdOf(h))) return static_cast<toff_t>(fail(EBADF));
    return static_cast<toff_t>(fail(EINVAL));
  }
  const int32_t r = mfs_lseek(fdOf(h), static_cast<int32_t>(signedOffset), whence);
  return r < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(r);
}

toff_t mfs_size(thandle_t h) {
  const int32_t r = mfs_size(fdOf(h));
  return r < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(r);
}

int mfs_map(thandle_t h, void** address, toff_t* size) {
  int32_t size32 = 0;
  const int32_t r = mfs_map(fdOf(h), address, &size32);
  if (r == 0 && size != nullptr) *size = static_cast<toff_t>(size32);
  return r;
}

void mfs_unmap(thandle_t, void*, toff_t) {}

int mfs_close(thandle_t h) { return mfs_close(fdOf(h)); }
