// SPDX-License-Identifier: GPL-2.0-or-later
// An 8-bit picture in memory, rows packed top to bottom: grey (1 channel) or RGB (3 channels),
// and the interface through which a decoder hands its rows, one at a time, to whoever uses them.
#pragma once
#include <cstdint>
#include <vector>

#include "media/Status.h"

namespace media {

struct PixelImage {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<std::uint8_t> pixels;

  std::uint8_t* row(int y) { return pixels.data() + std::size_t(y) * width * channels; }
  const std::uint8_t* row(int y) const { return pixels.data() + std::size_t(y) * width * channels; }
};

// Takes a picture row by row, top to bottom, so that a large one never has to be held whole:
// first its size, then for each row the buffer the row is written into, then word that it is
// there. A buffer stays valid until the next row's is asked for.
class PixelRowSink {
 public:
  virtual ~PixelRowSink() = default;
  // Anything but Status::ok stops the delivery with that result.
  virtual Status begin(int width, int height, int channels) = 0;
  // width × channels bytes for row y.
  virtual std::uint8_t* rowBuffer(int y) = 0;
  virtual void rowFilled(int y) = 0;
};

}  // namespace media
