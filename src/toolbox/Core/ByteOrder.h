// Numbers in stored byte order: big-endian (movie atoms, Finder information, JPEG markers) and
// little-endian (RIFF WAVE, alias records), read from and written to bytes whatever the machine.
#pragma once
#include <cstddef>
#include <vector>

#include "toolbox/Core/MacTypes.h"

constexpr UInt16 ReadBigEndian16(const UInt8* p) { return UInt16((UInt16(p[0]) << 8) | p[1]); }
constexpr UInt32 ReadBigEndian32(const UInt8* p) {
  return (UInt32(ReadBigEndian16(p)) << 16) | ReadBigEndian16(p + 2);
}
constexpr UInt64 ReadBigEndian64(const UInt8* p) {
  return (UInt64(ReadBigEndian32(p)) << 32) | ReadBigEndian32(p + 4);
}

constexpr UInt16 ReadLittleEndian16(const UInt8* p) { return UInt16(p[0] | (UInt16(p[1]) << 8)); }
constexpr UInt32 ReadLittleEndian32(const UInt8* p) {
  return ReadLittleEndian16(p) | (UInt32(ReadLittleEndian16(p + 2)) << 16);
}
constexpr UInt64 ReadLittleEndian64(const UInt8* p) {
  return ReadLittleEndian32(p) | (UInt64(ReadLittleEndian32(p + 4)) << 32);
}

constexpr void WriteBigEndian16(UInt8* p, UInt16 v) {
  p[0] = UInt8(v >> 8);
  p[1] = UInt8(v);
}
constexpr void WriteBigEndian32(UInt8* p, UInt32 v) {
  WriteBigEndian16(p, UInt16(v >> 16));
  WriteBigEndian16(p + 2, UInt16(v));
}
constexpr void WriteBigEndian64(UInt8* p, UInt64 v) {
  WriteBigEndian32(p, UInt32(v >> 32));
  WriteBigEndian32(p + 4, UInt32(v));
}

constexpr void WriteLittleEndian16(UInt8* p, UInt16 v) {
  p[0] = UInt8(v);
  p[1] = UInt8(v >> 8);
}
constexpr void WriteLittleEndian32(UInt8* p, UInt32 v) {
  WriteLittleEndian16(p, UInt16(v));
  WriteLittleEndian16(p + 2, UInt16(v >> 16));
}
constexpr void WriteLittleEndian64(UInt8* p, UInt64 v) {
  WriteLittleEndian32(p, UInt32(v));
  WriteLittleEndian32(p + 4, UInt32(v >> 32));
}

// A growing record whose numbers are stored big-endian, as the movie file and its sample
// descriptions want them; patch32 fills in a size once what it counts has been written.
class BigEndianBytes {
 public:
  std::vector<UInt8> bytes;

  void u8(UInt8 v) { bytes.push_back(v); }
  void u16(UInt16 v) {
    UInt8 b[2];
    WriteBigEndian16(b, v);
    raw(b, 2);
  }
  void u32(UInt32 v) {
    UInt8 b[4];
    WriteBigEndian32(b, v);
    raw(b, 4);
  }
  void u64(UInt64 v) {
    UInt8 b[8];
    WriteBigEndian64(b, v);
    raw(b, 8);
  }
  void zeros(std::size_t n) { bytes.insert(bytes.end(), n, 0); }
  void raw(const UInt8* p, std::size_t n) { bytes.insert(bytes.end(), p, p + n); }
  void raw(const std::vector<UInt8>& b) { raw(b.data(), b.size()); }
  void patch32(std::size_t at, UInt32 v) { WriteBigEndian32(bytes.data() + at, v); }
};
