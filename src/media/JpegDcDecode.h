// SPDX-License-Identifier: GPL-2.0-or-later
// A progressive JPEG at one eighth of its size from its DC scans alone: what libjpeg gives at
// that scale, in memory of 2 bytes a block rather than the 128 libjpeg holds for every block.
#pragma once
#include <cstddef>
#include <cstdint>

#include "media/PixelImage.h"
#include "media/Status.h"

namespace media {

// The picture's rows at 1/8 (each side rounded up), grey or, with ycc, converted to RGB as
// libjpeg converts. For Huffman-coded 8-bit progressive streams whose sampling factors divide the
// largest; damaged where libjpeg would find the DC scans damaged; noMemory past maxBytes of
// coefficients. The AC scans are skipped unread.
Status JpegDecodeDcOnly(const std::uint8_t* data, std::size_t size, bool ycc, std::size_t maxBytes,
                        PixelRowSink* sink);

}  // namespace media
