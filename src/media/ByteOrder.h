// SPDX-License-Identifier: GPL-2.0-or-later
// Numbers in stored byte order: big-endian (movie atoms, Finder information, JPEG markers) and
// little-endian (RIFF WAVE, alias records), read from and written to bytes whatever the machine.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace media {

constexpr std::uint16_t ReadBigEndian16(const std::uint8_t* p) {
  return std::uint16_t((std::uint16_t(p[0]) << 8) | p[1]);
}
constexpr std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
  return (std::uint32_t(ReadBigEndian16(p)) << 16) | ReadBigEndian16(p + 2);
}
constexpr std::uint64_t ReadBigEndian64(const std::uint8_t* p) {
  return (std::uint64_t(ReadBigEndian32(p)) << 32) | ReadBigEndian32(p + 4);
}

constexpr std::uint16_t ReadLittleEndian16(const std::uint8_t* p) {
  return std::uint16_t(p[0] | (std::uint16_t(p[1]) << 8));
}
constexpr std::uint32_t ReadLittleEndian32(const std::uint8_t* p) {
  return ReadLittleEndian16(p) | (std::uint32_t(ReadLittleEndian16(p + 2)) << 16);
}
constexpr std::uint64_t ReadLittleEndian64(const std::uint8_t* p) {
  return ReadLittleEndian32(p) | (std::uint64_t(ReadLittleEndian32(p + 4)) << 32);
}

constexpr void WriteBigEndian16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v >> 8);
  p[1] = std::uint8_t(v);
}
constexpr void WriteBigEndian32(std::uint8_t* p, std::uint32_t v) {
  WriteBigEndian16(p, std::uint16_t(v >> 16));
  WriteBigEndian16(p + 2, std::uint16_t(v));
}
constexpr void WriteBigEndian64(std::uint8_t* p, std::uint64_t v) {
  WriteBigEndian32(p, std::uint32_t(v >> 32));
  WriteBigEndian32(p + 4, std::uint32_t(v));
}

constexpr void WriteLittleEndian16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
constexpr void WriteLittleEndian32(std::uint8_t* p, std::uint32_t v) {
  WriteLittleEndian16(p, std::uint16_t(v));
  WriteLittleEndian16(p + 2, std::uint16_t(v >> 16));
}
constexpr void WriteLittleEndian64(std::uint8_t* p, std::uint64_t v) {
  WriteLittleEndian32(p, std::uint32_t(v));
  WriteLittleEndian32(p + 4, std::uint32_t(v >> 32));
}

// A growing record whose numbers are stored big-endian, as the movie file and its sample
// descriptions want them; patch32 fills in a size once what it counts has been written.
class BigEndianBytes {
 public:
  std::vector<std::uint8_t> bytes;

  void u8(std::uint8_t v) { bytes.push_back(v); }
  void u16(std::uint16_t v) {
    std::uint8_t b[2];
    WriteBigEndian16(b, v);
    raw(b, 2);
  }
  void u32(std::uint32_t v) {
    std::uint8_t b[4];
    WriteBigEndian32(b, v);
    raw(b, 4);
  }
  void u64(std::uint64_t v) {
    std::uint8_t b[8];
    WriteBigEndian64(b, v);
    raw(b, 8);
  }
  void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
  void raw(const std::uint8_t* p, std::size_t n) { bytes.insert(bytes.end(), p, p + n); }
  void raw(const std::vector<std::uint8_t>& b) { raw(b.data(), b.size()); }
  void patch32(std::size_t at, std::uint32_t v) { WriteBigEndian32(bytes.data() + at, v); }
};

}  // namespace media
