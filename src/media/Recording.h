// SPDX-License-Identifier: GPL-2.0-or-later
// A voice note as every source hands it to every output: the stored file's bytes (a WAVE, or
// another kind a camera keeps), or decoded linear PCM with its layout, pulled in order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/Status.h"

namespace media {

// Linear PCM as it is handed over: little-endian, channels interleaved, no padding.
struct PcmLayout {
  int channels = 0;
  int rate = 0;
  int bits = 0;  // 8, 16, 24, 32 or 64 (float)
  bool isFloat = false;
  bool isSigned = true;
};

// The bytes of a stored recording, read at any offset: a file beside the photograph, or pieces
// inside it, without holding them all.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  virtual std::uint64_t size() const = 0;
  // false when the n bytes at offset cannot all be read.
  virtual bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) = 0;
};

// Decoded sound, pulled from its start to its end.
class PcmSource {
 public:
  virtual ~PcmSource() = default;
  virtual const PcmLayout& layout() const = 0;
  virtual std::uint64_t frames() const = 0;  // the whole length in sample frames
  // Up to frames sample frames into out; 0 at the end or on failure (status() tells which).
  virtual std::size_t read(std::uint8_t* out, std::size_t frames) = 0;
  virtual Status status() const = 0;
  virtual const std::string& problem() const = 0;  // words for a status other than ok
};

}  // namespace media
