// SPDX-License-Identifier: GPL-2.0-or-later
// Test TIFF streams: header, then every directory in order, then the out-of-line values.
#include "support/TiffBuilder.h"

namespace testsupport {
int TiffBuilder::directory() {
  dirs_.emplace_back();
  return int(dirs_.size()) - 1;
}

void TiffBuilder::entry(int dir, uint16_t tag, uint16_t type, uint32_t count, const std::string& bytes) {
  dirs_[dir].push_back(Entry{tag, type, count, bytes});
}

void TiffBuilder::rawEntry(int dir, uint16_t tag, uint16_t type, uint32_t count, uint32_t valueField) {
  Entry e{tag, type, count, {}};
  e.raw = true;
  e.valueField = valueField;
  dirs_[dir].push_back(e);
}

void TiffBuilder::pointer(int dir, uint16_t tag, int target) {
  Entry e{tag, 4, 1, {}};
  e.target = target;
  dirs_[dir].push_back(e);
}

std::string TiffBuilder::u16(uint16_t v) const {
  return big_ ? std::string{char(v >> 8), char(v)} : std::string{char(v), char(v >> 8)};
}

std::string TiffBuilder::u32(uint32_t v) const {
  return big_ ? u16(uint16_t(v >> 16)) + u16(uint16_t(v)) : u16(uint16_t(v)) + u16(uint16_t(v >> 16));
}

void TiffBuilder::shorts(int dir, uint16_t tag, const std::vector<uint16_t>& v, uint16_t type) {
  std::string b;
  for (uint16_t x : v) b += u16(x);
  entry(dir, tag, type, uint32_t(v.size()), b);
}

void TiffBuilder::longs(int dir, uint16_t tag, const std::vector<uint32_t>& v, uint16_t type) {
  std::string b;
  for (uint32_t x : v) b += u32(x);
  entry(dir, tag, type, uint32_t(v.size()), b);
}

void TiffBuilder::rationals(int dir, uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& v,
                            uint16_t type) {
  std::string b;
  for (auto [n, d] : v) b += u32(n) + u32(d);
  entry(dir, tag, type, uint32_t(v.size()), b);
}

void TiffBuilder::ascii(int dir, uint16_t tag, const std::string& text, int count) {
  std::string b = text + std::string(1, '\0');
  if (count >= 0) b.resize(size_t(count), '\0');
  entry(dir, tag, 2, uint32_t(b.size()), b);
}

void TiffBuilder::bytes(int dir, uint16_t tag, const std::string& raw, uint16_t type) {
  entry(dir, tag, type, uint32_t(raw.size()), raw);
}

uint32_t TiffBuilder::offsetOf(int dir) const {
  uint32_t off = 8;
  for (int i = 0; i < dir; ++i) off += 2 + 12 * uint32_t(dirs_[i].size()) + 4;
  return off;
}

std::string TiffBuilder::build() const {
  std::string out = big_ ? "MM" : "II";
  out += u16(42) + u32(dirs_.empty() ? 0 : 8);
  std::string data;
  const uint32_t dataStart = offsetOf(int(dirs_.size()));
  for (size_t d = 0; d < dirs_.size(); ++d) {
    out += u16(uint16_t(dirs_[d].size()));
    for (const Entry& e : dirs_[d]) {
      out += u16(e.tag) + u16(e.type) + u32(e.count);
      if (e.raw) {
        out += u32(e.valueField);
      } else if (e.target >= 0) {
        out += u32(offsetOf(e.target));
      } else if (e.bytes.size() <= 4) {
        std::string v = e.bytes;
        v.resize(4, '\0');
        out += v;
      } else {
        out += u32(dataStart + uint32_t(data.size()));
        data += e.bytes;
        if (data.size() & 1) data += '\0';
      }
    }
    out += u32(0);
  }
  return out + data;
}
}  // namespace testsupport
