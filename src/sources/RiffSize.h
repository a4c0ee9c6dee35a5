// SPDX-License-Identifier: GPL-2.0-or-later
// What a WAVE file's RIFF size field says the file holds, for the sources that check a stored
// recording is whole before anything is made of it.
#pragma once
#include <cstdint>

namespace sources {

// The bytes the field says the file holds; 0 when the writer left it unknown (all ones, as one
// that could not go back to fill it in leaves it).
inline std::uint64_t RiffDeclaredBytes(std::uint32_t riffSize) {
  return riffSize == 0xFFFFFFFFu ? 0 : std::uint64_t(riffSize) + 8;
}

}  // namespace sources
