// SPDX-License-Identifier: GPL-2.0-or-later
// How one tiff_file fuzz input says which directories to read: a header byte (how the stream is
// opened, how many steps), the steps (an operation and a 32-bit argument each), then the stream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tiffscript {

enum class Op : uint8_t {
  next,             // the library's next directory in the chain
  number,           // the directory with that number (argument % 8), counted from the first
  subDirectory,     // the library's reader at an offset
  privateAt,        // the extension's reader at an offset
  recordTiff,       // the tag reader as for a TIFF file: next directory, then EXIF and GPS
  recordExif,       // the tag reader as for an EXIF segment: first directory, then EXIF and GPS
  recordCurrent,    // the current directory's main, EXIF or GPS rows (argument % 3) into the record
  print,            // the directory and the record, printed
};
inline constexpr unsigned kOps = 8;
inline constexpr unsigned kMaxSteps = 15;
inline constexpr uint8_t kOpenWithoutReading = 0x80;  // else the first directory is read at open

struct Step {
  Op op;
  uint32_t argument;
};

struct Script {
  bool openWithoutReading = false;
  std::vector<Step> steps;
  const unsigned char* stream = nullptr;
  size_t streamSize = 0;
};

inline uint32_t le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// False when the input is too short for the steps it announces.
inline bool parse(const unsigned char* data, size_t size, Script* out) {
  if (size < 1) return false;
  const unsigned count = data[0] & 0x0F;
  if (size < 1 + 5 * size_t(count)) return false;
  out->openWithoutReading = (data[0] & kOpenWithoutReading) != 0;
  out->steps.clear();
  for (unsigned k = 0; k < count; ++k) {
    const unsigned char* s = data + 1 + 5 * k;
    out->steps.push_back({Op(s[0] % kOps), le32(s + 1)});
  }
  out->stream = data + 1 + 5 * count;
  out->streamSize = size - 1 - 5 * size_t(count);
  return true;
}

// An argument naming an offset: taken within the stream (and just past it), unless its top byte
// is all ones, which keeps the offsets no stream reaches.
inline uint32_t offsetIn(uint32_t argument, size_t streamSize) {
  if ((argument >> 24) == 0xFF) return argument;
  return uint32_t(argument % (uint64_t(streamSize) + 8));
}

inline std::string build(bool openWithoutReading, const std::vector<Step>& steps, const std::string& stream) {
  std::string out(1, char((openWithoutReading ? kOpenWithoutReading : 0) | (steps.size() & 0x0F)));
  for (const Step& s : steps) {
    out += char(s.op);
    for (int b = 0; b < 4; ++b) out += char((s.argument >> (8 * b)) & 0xFF);
  }
  return out + stream;
}

}  // namespace tiffscript
