// Handles on the C heap: a small header before each block keeps its size.
// Every call records its outcome for MemError, as the platform does.
#include "toolbox/Core/MacMemory.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
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
}  // namespace

Ptr NewPtr(Size byteCount) { return makePtr(byteCount, false); }
Ptr NewPtrClear(Size byteCount) { return makePtr(byteCount, true); }

void DisposePtr(Ptr p) {
  if (p) std::free(p - kPtrHeader);
  gMemError = noErr;
}

Size GetPtrSize(Ptr p) {
  if (p == nullptr) {
    gMemError = nilHandleErr;
    return 0;
  }
  Size n;
  std::memcpy(&n, p - kPtrHeader, sizeof n);
  gMemError = noErr;
  return n;
}

void BlockMoveData(const void* src, void* dst, Size count) {
  if (count > 0) std::memmove(dst, src, count);
}
