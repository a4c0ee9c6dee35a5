// SPDX-License-Identifier: GPL-2.0-or-later
// The photograph as the byte reader its sources and outputs read beyond its held start with: the
// held bytes where they reach, the file itself past them.
#pragma once
#include <cstdint>
#include <memory>
#include <span>

#include "media/ByteReaders.h"
#include "media/Recording.h"
#include "toolbox/Files/FileContents.h"

namespace sources {

// Reads the whole file contents was read from; shares contents for the reader's life.
std::shared_ptr<media::ByteReader> PhotographReader(FSContentsRef contents);

// The photograph's whole file: its reader (file) when one is given, else its held bytes, which are
// then all of it.
class WholeFile {
 public:
  WholeFile(std::span<const std::uint8_t> bytes, std::shared_ptr<media::ByteReader> file)
      : memory_(bytes), file_(std::move(file)) {}
  media::ByteReader& reader() { return file_ ? *file_ : memory_; }

 private:
  media::MemoryByteReader memory_;
  std::shared_ptr<media::ByteReader> file_;
};

}  // namespace sources
