// SPDX-License-Identifier: GPL-2.0-or-later
// Relocatable memory blocks (handles) and plain pointer blocks, with the last memory error.
// A handle is a pointer to a master pointer that points at the block's bytes.
#pragma once
#include <memory>

#include "toolbox/Core/MacTypes.h"

Handle NewHandle(Size byteCount);
Handle NewHandleClear(Size byteCount);
void DisposeHandle(Handle h);
Size GetHandleSize(Handle h);
void SetHandleSize(Handle h, Size newSize);  // MemError() tells whether it worked
void HLock(Handle h);
void HUnlock(Handle h);
OSErr PtrToHand(const void* srcPtr, Handle* dstHndl, long size);
OSErr MemError();

// Pointer blocks remember their size, so GetPtrSize can bound every use of one.
Ptr NewPtr(Size byteCount);
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p);
void BlockMoveData(const void* src, void* dst, Size count);

// A pointer block over bytes that owner keeps alive, shared instead of copied: GetPtrSize gives
// count and DisposePtr releases the share. A second share of the same bytes with another length
// gets a copy of its own, so every block keeps one size. bytes must not be the start of a block
// made by NewPtr.
Ptr NewPtrSharing(std::shared_ptr<const void> owner, const void* bytes, Size count);
// What keeps bytes..bytes+count alive when they lie inside a shared pointer block, else null: a
// receiver may keep that instead of copying the bytes.
std::shared_ptr<const void> SharedPtrOwner(const void* bytes, Size count);
