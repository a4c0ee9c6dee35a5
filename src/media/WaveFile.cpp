// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the format and the data chunk of a RIFF WAVE file, one chunk header at a time.
#include "media/WaveFile.h"

#include <algorithm>
#include <cstring>

#include "media/ByteOrder.h"
#include "media/WaveFormats.h"

namespace media::wave {
namespace {

constexpr std::uint32_t kMaxFormatChunk = 2048;  // room for any MS ADPCM coefficient table we accept

}  // namespace

Found Locate(const ReadAt& read, std::uint64_t fileSize, Layout* out) {
  std::uint8_t h[12];
  if (read(0, h, 12) != 12 || !IsRiffWaveHeader(h, sizeof h)) return Found::noSound;
  bool haveFormat = false, haveData = false;
  std::uint64_t pos = 12;
  while (pos + 8 <= fileSize && !(haveFormat && haveData)) {
    std::uint8_t c[8];
    if (read(pos, c, 8) != 8) break;
    const std::uint64_t size = ReadLittleEndian32(c + 4);
    const std::uint64_t body = pos + 8;
    const std::uint64_t available = std::min(size, fileSize - body);
    const bool sound = std::memcmp(c, "fmt ", 4) == 0 || std::memcmp(c, "data", 4) == 0;
    // A recording that claims more than its file holds is refused, not guessed at (the pad byte
    // of an odd size may be missing at the very end).
    if (sound && available < size) return Found::damagedFormat;
    if (std::memcmp(c, "fact", 4) == 0 && !haveData && available >= 4) {
      std::uint8_t b[4];
      if (read(body, b, 4) == 4) out->factFrames = ReadLittleEndian32(b);
    } else if (!haveFormat && std::memcmp(c, "fmt ", 4) == 0) {
      std::uint8_t b[kMaxFormatChunk];
      const std::uint32_t n = std::uint32_t(std::min<std::uint64_t>(available, kMaxFormatChunk));
      if (read(body, b, n) != n) return Found::noSound;
      if (!ParseFormat(b, n, &out->format)) return Found::damagedFormat;
      haveFormat = true;
    } else if (!haveData && std::memcmp(c, "data", 4) == 0) {
      out->dataOffset = body;
      out->dataLength = available;
      haveData = true;
    }
    pos = body + size + (size & 1);  // chunks are padded to even sizes
  }
  return haveFormat && haveData ? Found::ok : Found::noSound;
}

std::uint64_t FramesIn(const Codec& codec, const Format& format, std::uint64_t length) {
  const std::uint32_t unit = codec.unitBytes(format);
  if (unit == 0) return 0;
  return (length / unit) * codec.framesIn(format, unit) + codec.framesIn(format, std::uint32_t(length % unit));
}

std::uint64_t PlayedFrames(const Codec& codec, const Layout& layout) {
  return PlayedFrames(layout.format, FramesIn(codec, layout.format, layout.dataLength), layout.factFrames);
}

}  // namespace media::wave
