// SPDX-License-Identifier: GPL-2.0-or-later
// Reads a JPEG stream's frame header and the extent of its image data without decoding it.
// Every read is bounded by the buffer; damaged streams are reported, never overrun.
#pragma once
#include <cstddef>
#include <cstdint>

#include "media/Status.h"

namespace media {

struct JpegLayout {
  std::uint32_t width = 0;       // from the frame header
  std::uint32_t height = 0;
  int components = 0;
  int precision = 0;
  int frameMarker = 0;           // 0xC0..0xCF
  bool progressive = false;
  std::size_t dataOffset = 0;    // the SOI
  std::size_t dataSize = 0;      // through the EOI, or to the end of a stream that has none
  bool sawScan = false;          // a whole scan header, with the frame header before it
  bool sawEOI = false;
};

// True when the bytes begin like a JPEG stream (SOI followed by a marker).
bool LooksLikeJpeg(const std::uint8_t* data, std::size_t size);

// Status::ok with the layout filled; Status::damaged when the stream is not a JPEG or is damaged
// before its frame header.
Status ParseJpegLayout(const std::uint8_t* data, std::size_t size, JpegLayout* layout);

// Where the first image ends: just past its EOI, with whatever follows it (a motion photo's
// video, further images) left out. 0 when the stream is damaged or has no EOI.
std::size_t JpegImageEnd(const std::uint8_t* data, std::size_t size);

// What a parsed stream lacks to be decoded whole, in words ("its image data is cut short ..."),
// or nullptr when its frame header, a scan and the end of image are all there. Judged from the
// structure alone, without decoding.
const char* JpegMissingPart(const JpegLayout& layout);

}  // namespace media
