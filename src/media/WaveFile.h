// SPDX-License-Identifier: GPL-2.0-or-later
// Where a RIFF WAVE file's sound is: the format its 'fmt ' chunk gives and the byte range of its
// 'data' chunk, found through the caller's reads so that the file is never held whole.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

#include "media/WaveFormats.h"

namespace media::wave {

// Reads count bytes at offset into bytes; returns how many it could.
using ReadAt = std::function<std::size_t(std::uint64_t offset, void* bytes, std::size_t count)>;

struct Layout {
  Format format;
  std::uint64_t dataOffset = 0;
  std::uint64_t dataLength = 0;  // as declared, within the file
  std::uint64_t factFrames = 0;  // what a 'fact' chunk before the data says; 0 when none does
};

enum class Found {
  ok,
  noSound,        // not a RIFF WAVE file, or no format or data chunk in it
  damagedFormat,  // a header that contradicts itself: a format chunk too short for what it
                  // declares, or a format or data chunk declared past the file's end
};

// Walks the chunks as far as the file goes; a chunk past fileSize is trusted for nothing.
Found Locate(const ReadAt& read, std::uint64_t fileSize, Layout* out);

// The whole frames that length bytes of data give when decoded by codec, a unit at a time.
std::uint64_t FramesIn(const Codec& codec, const Format& format, std::uint64_t length);
// The frames the recording plays: its data's, decoded, as far as its fact chunk says.
std::uint64_t PlayedFrames(const Codec& codec, const Layout& layout);

}  // namespace media::wave
