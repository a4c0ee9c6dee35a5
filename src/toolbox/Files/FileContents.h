// SPDX-License-Identifier: GPL-2.0-or-later
// A regular file's bytes read once and shared: while a conversion holds a photograph's bytes,
// every reader of that same, unchanged file takes them instead of reading the file again. Only
// the file's start may be held (a picture without the trailer after it): the rest is read where asked.
#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/RegularFiles.h"

// The bytes as read, and what tells the file they came from: device, inode, size and the time
// of its last change. data() and size() are the held start of the file, but for its gaps (read
// as zeros there); fileSize() and readAt() are the whole file, through a descriptor kept open
// while any of it is not held.
class FSFileContents {
 public:
  FSFileContents(FSBlock bytes, std::size_t size, const struct stat& st, int fd = -1,
                 std::vector<FSByteRange> gaps = {});
  ~FSFileContents();
  FSFileContents(const FSFileContents&) = delete;
  FSFileContents& operator=(const FSFileContents&) = delete;
  const UInt8* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  UInt64 fileSize() const { return fileSize_; }
  bool holdsWholeFile() const { return size_ == fileSize_ && gaps_.empty(); }
  // Stretches of the held start left unread, in file order: only readAt gives their bytes, until
  // fillGaps has read them into data() for a reader that needs the start whole.
  const std::vector<FSByteRange>& gaps() const { return gaps_; }
  // Reads the gaps into the held bytes, once; false when the file no longer gives them.
  bool fillGaps() const;
  // Copies the n bytes at offset of the whole file into out; false when they are not all there
  // (the file shrank, or a read failed).
  bool readAt(UInt64 offset, UInt8* out, std::size_t n) const;
  // Whether st describes the very file these bytes were read from, unchanged since.
  bool isContentsOf(const struct stat& st) const;

 private:
  FSBlock bytes_;
  std::size_t size_;
  UInt64 fileSize_;
  int fd_;  // open while the file is not held whole; -1 otherwise
  struct stat identity_;
  std::vector<FSByteRange> gaps_;
  mutable std::mutex filling_;
  mutable bool filled_ = false;
};
using FSContentsRef = std::shared_ptr<const FSFileContents>;

// How much of a file's start must be held, judged from the first have bytes: the length to keep
// (at most have), or 0 to read on. The whole file is held when the answer stays 0 to its end.
using FSHeldLength = std::size_t (*)(const UInt8* data, std::size_t have);

// Reads a regular file whole, with FSReadRegularFile's refusals and limit; with held, only the
// start it asks for (the limit then bounds what is held, not the file), and without what unheld
// finds there.
OSErr FSReadFileContents(const std::string& path, FSContentsRef* contents, std::string* reason,
                         UInt64 maxBytes = kFSMaxWholeFileBytes, FSHeldLength held = nullptr,
                         FSUnheldParts unheld = nullptr);

// While a hold lives, FSpReadFileContents answers its contents for the file they were read from.
class FSContentsHold {
 public:
  FSContentsHold() = default;
  explicit FSContentsHold(FSContentsRef contents);
  FSContentsHold(FSContentsHold&& other) noexcept;
  FSContentsHold& operator=(FSContentsHold&& other) noexcept;
  FSContentsHold(const FSContentsHold&) = delete;
  FSContentsHold& operator=(const FSContentsHold&) = delete;
  ~FSContentsHold();
  void release();
  const FSContentsRef& contents() const { return contents_; }

 private:
  FSContentsRef contents_;
};

// The whole contents of the regular file a specification names: the held bytes of that file
// when a hold has them and it is unchanged, else read now as FSReadFileContents does.
OSErr FSpReadFileContents(const FSSpec* spec, FSContentsRef* contents, std::string* reason = nullptr);
