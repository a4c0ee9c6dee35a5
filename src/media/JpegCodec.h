// SPDX-License-Identifier: GPL-2.0-or-later
// JPEG decoding at a reduced DCT scale, row by row, and baseline encoding, on libjpeg.
// Decoding at M/8 keeps a large photograph from being expanded in full for a small copy.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/Status.h"
#include "media/PixelImage.h"

namespace media {

// The most one decode may hold (libjpeg's max_memory_to_use). A baseline picture at any size
// needs a few rows; a progressive or multi-scan one holds all its coefficients, about 3 bytes a
// pixel at 4:2:0 (a 50-megapixel photograph: 150 MB), whatever the scale it is decoded at. Past
// this it is refused with Status::noMemory rather than decoded.
constexpr std::uint64_t kMaxJpegDecodeBytes = std::uint64_t(192) << 20;

// What the last decode on this thread did; lets tests and benchmarks see the scale chosen.
struct JpegDecodeStats {
  int scaleNum = 0;  // over 8
  std::uint32_t outputWidth = 0;
  std::uint32_t outputHeight = 0;
};
JpegDecodeStats JpegLastDecodeStats();

// Decodes at the smallest scale M/8 (M = 1..8) whose output is at least minWidth by minHeight
// (full size when none is) and hands the rows to sink as they come, so the picture is never
// held whole. Grey stays grey; colour, CMYK and YCCK come out as RGB. Status::damaged for a
// stream libjpeg cannot decode whole (cut short or corrupt), after some rows may have gone to
// the sink; Status::noMemory past kMaxJpegDecodeBytes; the sink's own refusal of the size.
Status JpegDecodeScaled(const std::uint8_t* data, std::size_t size, std::uint32_t minWidth, std::uint32_t minHeight,
                       PixelRowSink* sink);

// Baseline JPEG at libjpeg quality 1..100; fullChroma keeps colour at full resolution (4:4:4)
// instead of halving it both ways (4:2:0).
Status JpegEncode(const PixelImage& image, int quality, bool fullChroma, std::vector<std::uint8_t>* out);


}  // namespace media
