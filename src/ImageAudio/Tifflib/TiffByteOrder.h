// SPDX-License-Identifier: GPL-2.0-or-later
// A TIFF stream's byte order, taken from its header mark or its open handle: the one place
// where 16-, 32- and 64-bit values are read from and written to the stream's bytes.
#pragma once
#include <tiffio.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>

class TiffByteOrder {
 public:
  constexpr explicit TiffByteOrder(bool bigEndian)
      : big_(bigEndian), swap_(bigEndian != (std::endian::native == std::endian::big)) {}

  // The order a header's first two bytes name ("II" or "MM"), or none for any other mark.
  static std::optional<TiffByteOrder> ofMark(const unsigned char* header) {
    if (header[0] != header[1]) return std::nullopt;
    if (header[0] == 'I') return TiffByteOrder(false);
    if (header[0] == 'M') return TiffByteOrder(true);
    return std::nullopt;
  }
  static TiffByteOrder of(TIFF* tif) { return TiffByteOrder(TIFFIsBigEndian(tif) != 0); }

  bool bigEndian() const { return big_; }

  uint16_t get16(const unsigned char* p) const { return get<uint16_t>(p); }
  uint32_t get32(const unsigned char* p) const { return get<uint32_t>(p); }
  uint64_t get64(const unsigned char* p) const { return get<uint64_t>(p); }
  void put16(unsigned char* p, uint16_t v) const { put(p, v); }
  void put32(unsigned char* p, uint32_t v) const { put(p, v); }

 private:
  static uint16_t swapped(uint16_t v) { return __builtin_bswap16(v); }
  static uint32_t swapped(uint32_t v) { return __builtin_bswap32(v); }
  static uint64_t swapped(uint64_t v) { return __builtin_bswap64(v); }
  template <typename T>
  T get(const unsigned char* p) const {
    T v;
    std::memcpy(&v, p, sizeof v);
    return swap_ ? swapped(v) : v;
  }
  template <typename T>
  void put(unsigned char* p, T v) const {
    if (swap_) v = swapped(v);
    std::memcpy(p, &v, sizeof v);
  }

  bool big_;
  bool swap_;  // the stream's order is not the machine's
};
