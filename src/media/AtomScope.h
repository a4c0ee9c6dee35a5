// SPDX-License-Identifier: GPL-2.0-or-later
// Atoms (an MP4's boxes) written as scopes: the header goes out when the scope opens and its size
// is patched in when it closes, so that each atom kind is one small function.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "media/ByteOrder.h"

namespace media {

// The record atoms are written into: numbers big-endian, names as Pascal strings. elsewhere
// counts bytes that belong at the record's end but are written straight to the file by the
// caller (a sample table too long to hold): every atom still open when they are counted holds
// them in its size.
class AtomBytes : public BigEndianBytes {
 public:
  std::uint64_t elsewhere = 0;

  void pascal(const char* s) {
    const std::size_t n = std::char_traits<char>::length(s);
    u8(std::uint8_t(n));
    raw(reinterpret_cast<const std::uint8_t*>(s), n);
  }
  void text(const std::string& s) { raw(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }
};

// Opens an atom; its size is filled in when the scope ends.
class AtomScope {
 public:
  AtomScope(AtomBytes& out, std::uint32_t type) : out_(out), start_(out.bytes.size()) {
    out_.u32(0);
    out_.u32(type);
  }
  ~AtomScope() { out_.patch32(start_, std::uint32_t(out_.bytes.size() + out_.elsewhere - start_)); }
  AtomScope(const AtomScope&) = delete;
  AtomScope& operator=(const AtomScope&) = delete;

 private:
  AtomBytes& out_;
  std::size_t start_;
};

}  // namespace media
