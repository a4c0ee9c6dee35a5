// SPDX-License-Identifier: GPL-2.0-or-later
// Whole reads and writes on open file descriptors, retried when a signal interrupts them.
// Failures come back as the file manager's codes; a write that makes no progress is a full disk.
#pragma once
#include <sys/uio.h>

#include <cstddef>

#include "toolbox/Core/MacTypes.h"

// All count bytes at the descriptor's offset, which moves past them.
OSErr FSWriteAll(int fd, const void* bytes, std::size_t count);
// All count bytes at offset; the descriptor's own offset stays.
OSErr FSWriteAt(int fd, UInt64 offset, const void* bytes, std::size_t count);
// All count bytes from offset: eofErr when the file ends first.
OSErr FSReadAt(int fd, UInt64 offset, void* bytes, std::size_t count);
// All the pieces, one after another from offset, in as few calls as the system allows
// (pwritev); the descriptor's own offset stays.
OSErr FSWriteGatherAt(int fd, UInt64 offset, const struct iovec* pieces, std::size_t count);
