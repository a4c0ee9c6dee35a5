// SPDX-License-Identifier: GPL-2.0-or-later
// Atom headers read big-endian; every size is checked against its holder before it is used, so a
// damaged file ends the walk instead of leading outside the bytes.
#include "media/AtomWalk.h"

#include "media/ByteOrder.h"

namespace media {

std::optional<AtomHeader> ReadAtomHeader(const std::uint8_t* p, std::uint64_t avail, std::uint64_t room) {
  avail = avail < room ? avail : room;
  if (p == nullptr || avail < 8) return std::nullopt;
  AtomHeader a;
  a.type = ReadBigEndian32(p + 4);
  a.size = ReadBigEndian32(p);
  a.headerSize = 8;
  if (a.size == 1) {
    if (avail < 16) return std::nullopt;
    a.size = ReadBigEndian64(p + 8);
    a.headerSize = 16;
  } else if (a.size == 0) {
    a.size = room;
  }
  if (a.size < a.headerSize || a.size > room) return std::nullopt;
  return a;
}

std::optional<std::span<const std::uint8_t>> ChildAtom(std::span<const std::uint8_t> parent, FourCC type) {
  for (std::size_t at = 0; at < parent.size();) {
    const std::size_t left = parent.size() - at;
    const std::optional<AtomHeader> a = ReadAtomHeader(parent.data() + at, left, left);
    if (!a) break;
    if (a->type == type) return parent.subspan(at + std::size_t(a->headerSize), std::size_t(a->size - a->headerSize));
    at += std::size_t(a->size);
  }
  return std::nullopt;
}

}  // namespace media
