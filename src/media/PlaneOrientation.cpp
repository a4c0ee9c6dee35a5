// SPDX-License-Identifier: GPL-2.0-or-later
// Upright plane copies: each EXIF orientation as a transpose and mirrorings of the stored plane.
#include "media/PlaneOrientation.h"

#include <cstring>

namespace media {

namespace {
struct Turn {
  bool transpose, flipX, flipY;
};
// Upright pixel (x, y) takes stored pixel (sx, sy): (x, y), or (y, x) when transposed; then
// flipX mirrors sx and flipY mirrors sy within the stored plane.
constexpr Turn kTurns[9] = {
    {false, false, false},  // (none)
    {false, false, false},  // 1 as stored
    {false, true, false},   // 2 mirrored left-right
    {false, true, true},    // 3 turned 180°
    {false, false, true},   // 4 mirrored top-bottom
    {true, false, false},   // 5 mirrored along the main diagonal
    {true, false, true},    // 6 turned 90° clockwise to view
    {true, true, true},     // 7 mirrored along the other diagonal
    {true, true, false},    // 8 turned 90° counter-clockwise to view
};
}  // namespace

void OrientPlane(const std::uint8_t* src, int srcStride, int width, int height, int orientation, std::uint8_t* dst,
                 int dstStride) {
  const Turn t = kTurns[orientation >= 1 && orientation <= 8 ? orientation : 1];
  const int outWidth = t.transpose ? height : width, outHeight = t.transpose ? width : height;
  for (int y = 0; y < outHeight; ++y) {
    std::uint8_t* out = dst + std::ptrdiff_t(y) * dstStride;
    if (!t.transpose) {
      const int sy = t.flipY ? height - 1 - y : y;
      const std::uint8_t* row = src + std::ptrdiff_t(sy) * srcStride;
      if (!t.flipX) {
        std::memcpy(out, row, std::size_t(width));
      } else {
        for (int x = 0; x < outWidth; ++x) out[x] = row[width - 1 - x];
      }
      continue;
    }
    // Transposed: upright row y is stored column y (mirrored as asked).
    const int sx = t.flipX ? width - 1 - y : y;
    for (int x = 0; x < outWidth; ++x) {
      const int sy = t.flipY ? height - 1 - x : x;
      out[x] = src[std::ptrdiff_t(sy) * srcStride + sx];
    }
  }
}

}  // namespace media
