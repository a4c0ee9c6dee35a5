// SPDX-License-Identifier: GPL-2.0-or-later
// Opening and reading files that must be regular files, such as photographs. The open never
// blocks (a FIFO or device under the name is refused, not waited on) and says why in words.
#pragma once
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"

// Files larger than this are not read whole into memory.
constexpr UInt64 kFSMaxWholeFileBytes = UInt64(1) << 30;

// A block of a file's bytes, from malloc: a start read in steps grows it in place (realloc moves
// the pages of a large block without copying them, so it never exists twice). A start read with
// stretches left unread is mapped instead (mapped: its length), so that their pages never exist.
struct FSBlockFree {
  std::size_t mapped = 0;
  void operator()(UInt8* p) const;
};
using FSBlock = std::unique_ptr<UInt8, FSBlockFree>;

// Opens the file at path for reading once it is known to be a regular file (checked on the
// open descriptor, so nothing can be swapped in between). On failure stream is null and
// reason says why: "no such file", "is a directory", "not a regular file",
// "permission denied" ...
OSErr FSOpenRegularFile(const std::string& path, std::FILE** stream, std::string* reason);

// The same for the item called name in folder ("" is the current folder) as the folder holds it:
// a symbolic link is refused ("is a symbolic link"), never followed, so the file read is the
// folder's own. A name holding '/' is refused as no such file.
OSErr FSOpenRegularFileInFolder(const std::string& folder, const std::string& name, std::FILE** stream,
                                std::string* reason);

// Reads a regular file whole (at most maxBytes, else memFullErr, "larger than ..."), with the
// same refusals as FSOpenRegularFile.
OSErr FSReadRegularFile(const std::string& path, std::vector<UInt8>* bytes, std::string* reason,
                        UInt64 maxBytes = kFSMaxWholeFileBytes);
// The same into a block of its own, without clearing it first; st describes the file read.
OSErr FSReadRegularFileInto(const std::string& path, FSBlock* bytes, std::size_t* size,
                            struct stat* st, std::string* reason, UInt64 maxBytes = kFSMaxWholeFileBytes);
// The first bytes of a regular file as far as enough asks (enough(data, have) gives the length to
// keep, or 0 to read on; the whole file when it never answers), read in doubling steps so that a
// long file after a short start is never read. The descriptor is handed over in *fd (the caller
// closes it) for reading the rest. memFullErr, "larger than ...", when the start asked for passes
// maxBytes.
OSErr FSReadRegularFileStart(const std::string& path, std::size_t (*enough)(const UInt8*, std::size_t),
                             FSBlock* bytes, std::size_t* size, struct stat* st, int* fd,
                             std::string* reason, UInt64 maxBytes = kFSMaxWholeFileBytes);
// Reads exactly n bytes at offset of fd; false when they are not all there.
bool FSReadAt(int fd, UInt64 offset, UInt8* out, std::size_t n);

// A stretch of a file.
struct FSByteRange {
  UInt64 offset = 0;
  UInt64 length = 0;
  UInt64 end() const { return offset + length; }
};
// Reads n bytes at offset of the file being read; false when they are not all there.
using FSFileReader = std::function<bool(UInt64 offset, UInt8* out, std::size_t n)>;
// Stretches of a file's start that need not be held, because their readers read them from the
// file where asked (a long voice annotation's pieces), found by reading what the file's headers
// say through read. In file order, not overlapping.
using FSUnheldParts = std::vector<FSByteRange> (*)(const FSFileReader& read, UInt64 fileSize);
// FSReadRegularFileStart leaving the whole memory pages inside unheld's stretches unread: they
// read as zeros in *bytes, and *gaps says where they are (in file order).
OSErr FSReadRegularFileStart(const std::string& path, std::size_t (*enough)(const UInt8*, std::size_t),
                             FSUnheldParts unheld, FSBlock* bytes, std::size_t* size, struct stat* st, int* fd,
                             std::vector<FSByteRange>* gaps, std::string* reason,
                             UInt64 maxBytes = kFSMaxWholeFileBytes);
