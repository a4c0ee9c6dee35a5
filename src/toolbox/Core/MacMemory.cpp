// SPDX-License-Identifier: GPL-2.0-or-later
// Handles on the C heap: a small header before each block keeps its size.
// Every call records its outcome for MemError, as the platform does.
#include "toolbox/Core/MacMemory.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "toolbox/Core/MacErrors.h"

namespace {
thread_local OSErr gMemError = noErr;

struct MasterBlock {
  char* data;
  Size size;
};

Handle makeHandle(Size byteCount, bool clear) {
  if (byteCount < 0) {
    gMemError = paramErr;
    return nullptr;
  }
  auto* master = static_cast<MasterBlock*>(std::malloc(sizeof(MasterBlock)));
  if (master == nullptr) {
    gMemError = memFullErr;
    return nullptr;
  }
  // One byte at least, so an empty handle still has a distinct block.
  master->data = static_cast<char*>(clear ? std::calloc(1, byteCount ? byteCount : 1) : std::malloc(byteCount ? byteCount : 1));
  if (master->data == nullptr) {
    std::free(master);
    gMemError = memFullErr;
    return nullptr;
  }
  master->size = byteCount;
  gMemError = noErr;
  // The handle is the address of the master pointer, which is the struct's first member.
  return reinterpret_cast<Handle>(&master->data);
}

MasterBlock* masterOf(Handle h) { return reinterpret_cast<MasterBlock*>(h); }
}  // namespace

Handle NewHandle(Size byteCount) { return makeHandle(byteCount, false); }
Handle NewHandleClear(Size byteCount) { return makeHandle(byteCount, true); }

void DisposeHandle(Handle h) {
  if (h == nullptr) {
    gMemError = nilHandleErr;
    return;
  }
  MasterBlock* master = masterOf(h);
  std::free(master->data);
  std::free(master);
  gMemError = noErr;
}

Size GetHandleSize(Handle h) {
  if (h == nullptr) {
    gMemError = nilHandleErr;
    return 0;
  }
  gMemError = noErr;
  return masterOf(h)->size;
}

void SetHandleSize(Handle h, Size newSize) {
  if (h == nullptr || newSize < 0) {
    gMemError = h == nullptr ? nilHandleErr : paramErr;
    return;
  }
  MasterBlock* master = masterOf(h);
  char* grown = static_cast<char*>(std::realloc(master->data, newSize ? newSize : 1));
  if (grown == nullptr) {
    gMemError = memFullErr;
    return;
  }
  master->data = grown;
  master->size = newSize;
  gMemError = noErr;
}

void HLock(Handle) { gMemError = noErr; }
void HUnlock(Handle) { gMemError = noErr; }

OSErr PtrToHand(const void* srcPtr, Handle* dstHndl, long size) {
  if (dstHndl == nullptr || size < 0 || (srcPtr == nullptr && size > 0)) {
    gMemError = paramErr;
    return paramErr;
  }
  *dstHndl = NewHandle(size);
  if (*dstHndl == nullptr) return gMemError;
  if (size > 0) std::memcpy(**dstHndl, srcPtr, size);
  return noErr;
}

OSErr MemError() { return gMemError; }

namespace {
// A pointer block is preceded by its size, padded so the bytes stay maximally aligned.
constexpr size_t kPtrHeader = alignof(std::max_align_t) > sizeof(Size) ? alignof(std::max_align_t) : sizeof(Size);

Ptr makePtr(Size byteCount, bool clear) {
  if (byteCount < 0) {
    gMemError = paramErr;
    return nullptr;
  }
  size_t total = kPtrHeader + size_t(byteCount ? byteCount : 1);
  char* raw = static_cast<char*>(clear ? std::calloc(1, total) : std::malloc(total));
  if (raw == nullptr) {
    gMemError = memFullErr;
    return nullptr;
  }
  std::memcpy(raw, &byteCount, sizeof byteCount);
  gMemError = noErr;
  return raw + kPtrHeader;
}

// Shared blocks have no header of their own: their bytes are someone else's. They are found by
// address; the count lets the common case (none at all) skip the lock.
struct SharedBlock {
  Size size;
  std::shared_ptr<const void> owner;
  long shares;
};
std::mutex gSharedLock;
std::map<const char*, SharedBlock> gShared;
std::atomic<long> gSharedCount{0};

// Releases one share of p; false when p is no shared block.
bool releaseShared(Ptr p) {
  if (gSharedCount.load(std::memory_order_acquire) == 0) return false;
  std::lock_guard<std::mutex> lock(gSharedLock);
  auto it = gShared.find(p);
  if (it == gShared.end()) return false;
  if (--it->second.shares == 0) {
    gShared.erase(it);
    gSharedCount.fetch_sub(1, std::memory_order_release);
  }
  return true;
}

bool sharedSize(Ptr p, Size* size) {
  if (gSharedCount.load(std::memory_order_acquire) == 0) return false;
  std::lock_guard<std::mutex> lock(gSharedLock);
  auto it = gShared.find(p);
  if (it == gShared.end()) return false;
  *size = it->second.size;
  return true;
}
}  // namespace

Ptr NewPtr(Size byteCount) { return makePtr(byteCount, false); }

Ptr NewPtrSharing(std::shared_ptr<const void> owner, const void* bytes, Size count) {
  if (count < 0 || (bytes == nullptr && count > 0) || (owner == nullptr && count > 0)) {
    gMemError = paramErr;
    return nullptr;
  }
  // Nothing to share: an empty block is an ordinary one.
  if (count == 0) return makePtr(0, true);
  const char* p = static_cast<const char*>(bytes);
  {
    std::lock_guard<std::mutex> lock(gSharedLock);
    auto [it, added] = gShared.try_emplace(p, SharedBlock{count, std::move(owner), 0});
    if (added || it->second.size == count) {
      if (added) gSharedCount.fetch_add(1, std::memory_order_release);
      ++it->second.shares;
      gMemError = noErr;
      return const_cast<char*>(p);
    }
  }
  Ptr copy = makePtr(count, false);
  if (copy) std::memcpy(copy, bytes, size_t(count));
  return copy;
}

std::shared_ptr<const void> SharedPtrOwner(const void* bytes, Size count) {
  if (bytes == nullptr || count < 0 || gSharedCount.load(std::memory_order_acquire) == 0) return nullptr;
  const char* p = static_cast<const char*>(bytes);
  std::lock_guard<std::mutex> lock(gSharedLock);
  // Shares may overlap (two ranges of one image); there are only ever a few.
  for (auto it = gShared.begin(); it != gShared.upper_bound(p); ++it) {
    const size_t at = size_t(reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(it->first)), size = size_t(it->second.size);
    if (at <= size && size_t(count) <= size - at) return it->second.owner;
  }
  return nullptr;
}

void DisposePtr(Ptr p) {
  if (p && !releaseShared(p)) std::free(p - kPtrHeader);
  gMemError = noErr;
}

Size GetPtrSize(Ptr p) {
  if (p == nullptr) {
    gMemError = nilHandleErr;
    return 0;
  }
  Size n;
  if (sharedSize(p, &n)) {
    gMemError = noErr;
    return n;
  }
  std::memcpy(&n, p - kPtrHeader, sizeof n);
  gMemError = noErr;
  return n;
}

void BlockMoveData(const void* src, void* dst, Size count) {
  if (count > 0) std::memmove(dst, src, count);
}
