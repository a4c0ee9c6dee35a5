// SPDX-License-Identifier: GPL-2.0-or-later
// Byte readers over what a recording is kept in: an open file, read where asked and never held
// whole, or bytes already in memory.
#pragma once
#include <cstdint>
#include <span>

#include "media/Recording.h"

namespace media {

// Reads an open descriptor with pread, closing it at the end when it was given to own. Its size is
// taken once, when made: a file that shrinks later fails the reads past its new end.
class FdByteReader final : public ByteReader {
 public:
  explicit FdByteReader(int fd, bool own = false);
  ~FdByteReader() override;
  FdByteReader(const FdByteReader&) = delete;
  FdByteReader& operator=(const FdByteReader&) = delete;
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override;
  int systemError() const { return error_; }  // errno of the first failed read; 0 none

 private:
  int fd_;
  bool own_;
  std::uint64_t size_ = 0;
  int error_ = 0;
};

// Reads bytes the caller holds for the reader's life.
class MemoryByteReader final : public ByteReader {
 public:
  explicit MemoryByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace media
