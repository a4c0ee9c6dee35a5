// SPDX-License-Identifier: GPL-2.0-or-later
// Turning one 8-bit plane upright by its EXIF orientation (1 to 8, mirrored ones too), so that
// players that ignore a display matrix's mirroring still show the picture the right way round.
#pragma once
#include <cstdint>

namespace media {

// The stored plane is width × height; the upright one is the same size, or height × width for
// orientations 5 to 8. Any orientation outside 1..8 copies the plane as it is.
void OrientPlane(const std::uint8_t* src, int srcStride, int width, int height, int orientation, std::uint8_t* dst,
                 int dstStride);

}  // namespace media
