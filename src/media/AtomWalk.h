// SPDX-License-Identifier: GPL-2.0-or-later
// The one reading of movie atom headers: an atom's type, header and size checked against what
// holds it, and the first child of a type inside a parent's body.
#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "media/MovieAtoms.h"

namespace media {

struct AtomHeader {
  FourCC type = 0;
  std::uint64_t headerSize = 0;  // 8, or 16 with a 64-bit size
  std::uint64_t size = 0;        // the whole atom, header included
};

// The atom whose header starts at p, with avail bytes of it at hand and room bytes from p to
// the end of what holds it. A size of 0 ("to the end") takes all of room. Nothing when the
// header is not all at hand or the size is under the header's or past room.
std::optional<AtomHeader> ReadAtomHeader(const std::uint8_t* p, std::uint64_t avail, std::uint64_t room);

// The body of parent's first child atom of that type; nothing when the walk meets none before
// the end or before an atom whose size does not fit its parent.
std::optional<std::span<const std::uint8_t>> ChildAtom(std::span<const std::uint8_t> parent, FourCC type);

}  // namespace media
