// SPDX-License-Identifier: GPL-2.0-or-later
// A file-like stream over a block of memory, named by a small descriptor, so that the TIFF
// library can parse an EXIF segment in place. Failures return -1 and set errno.
#pragma once
#include <tiffio.h>

#include <cstdint>

// Modes by first letter: 'r' reads the caller's block (never copied, never freed);
// 'w' writes into a block of its own; 'a' appends to the caller's heap block or a new one.
// A writer takes its bytes through mfs_map; closing never frees the block.
int32_t mfs_open(void* block, int32_t length, const char* mode);
int32_t mfs_read(int32_t fd, void* destination, int32_t count);
int32_t mfs_write(int32_t fd, const void* source, int32_t count);
int32_t mfs_lseek(int32_t fd, int32_t offset, int whence);
int32_t mfs_size(int32_t fd);
int32_t mfs_map(int32_t fd, void** address, int32_t* size);
int32_t mfs_unmap(int32_t fd, void* address, int32_t size);
int32_t mfs_close(int32_t fd);

// The same operations under the TIFF library's client procedure types, the descriptor
// travelling as the client handle (see mfs_handle).
tmsize_t mfs_read(thandle_t fd, void* destination, tmsize_t count);
tmsize_t mfs_write(thandle_t fd, void* source, tmsize_t count);
toff_t mfs_lseek(thandle_t fd, toff_t offset, int whence);
toff_t mfs_size(thandle_t fd);
int mfs_map(thandle_t fd, void** address, toff_t* size);
void mfs_unmap(thandle_t fd, void* address, toff_t size);
int mfs_close(thandle_t fd);

inline thandle_t mfs_handle(int32_t fd) { return reinterpret_cast<thandle_t>(static_cast<intptr_t>(fd)); }
