// SPDX-License-Identifier: GPL-2.0-or-later
// Builds little- and big-endian TIFF streams for tests: directories of raw entries, values
// placed inline or after the directories, and entries that point at another directory.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {
class TiffBuilder {
 public:
  explicit TiffBuilder(bool bigEndian = false) : big_(bigEndian) {}
  // A new directory; the first one made is the header's first directory.
  int directory();
  // An entry with the given raw value bytes (already in this stream's byte order).
  void entry(int dir, uint16_t tag, uint16_t type, uint32_t count, const std::string& bytes);
  // An entry whose value field holds exactly these four bytes (offsets, damaged values).
  void rawEntry(int dir, uint16_t tag, uint16_t type, uint32_t count, uint32_t valueField);
  // A LONG entry holding the offset of another directory.
  void pointer(int dir, uint16_t tag, int target);

  void shorts(int dir, uint16_t tag, const std::vector<uint16_t>& v, uint16_t type = 3);
  void longs(int dir, uint16_t tag, const std::vector<uint32_t>& v, uint16_t type = 4);
  void rationals(int dir, uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& v,
                 uint16_t type = 5);
  // ASCII with its terminator (count = size + 1) unless count is given.
  void ascii(int dir, uint16_t tag, const std::string& text, int count = -1);
  void bytes(int dir, uint16_t tag, const std::string& raw, uint16_t type = 7);

  std::string build() const;
  // Offset of a directory in the built stream.
  uint32_t offsetOf(int dir) const;

  std::string u16(uint16_t v) const;
  std::string u32(uint32_t v) const;

 private:
  struct Entry {
    uint16_t tag, type;
    uint32_t count;
    std::string bytes;
    int target = -1;
    bool raw = false;
    uint32_t valueField = 0;
  };
  bool big_;
  std::vector<std::vector<Entry>> dirs_;
};
}  // namespace testsupport
