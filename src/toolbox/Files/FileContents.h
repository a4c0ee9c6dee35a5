// SPDX-License-Identifier: GPL-2.0-or-later
// A regular file's bytes read once and shared: while a conversion holds a photograph's bytes,
// every reader of that same, unchanged file takes them instead of reading the file again.
#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <memory>
#include <string>

#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/RegularFiles.h"

// The bytes as read, and what tells the file they came from: device, inode, size and the time
// of its last change.
class FSFileContents {
 public:
  FSFileContents(std::unique_ptr<UInt8[]> bytes, std::size_t size, const struct stat& st);
  const UInt8* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }
  // Whether st describes the very file these bytes were read from, unchanged since.
  bool isContentsOf(const struct stat& st) const;

 private:
  std::unique_ptr<UInt8[]> bytes_;
  std::size_t size_;
  struct stat identity_;
};
using FSContentsRef = std::shared_ptr<const FSFileContents>;

// Reads a regular file whole, with FSReadRegularFile's refusals and limit.
OSErr FSReadFileContents(const std::string& path, FSContentsRef* contents, std::string* reason,
                         UInt64 maxBytes = kFSMaxWholeFileBytes);

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
