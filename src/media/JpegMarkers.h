// SPDX-License-Identifier: GPL-2.0-or-later
// The one walk over a JPEG stream's markers: each marker where it is and how long its segment
// is, what stops the walk, and the scan data skipped to the marker that ends it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "media/Recording.h"
#include "media/Status.h"

namespace media {

namespace jpeg {
constexpr std::uint8_t kSOI = 0xD8, kEOI = 0xD9, kSOS = 0xDA, kAPP0 = 0xE0, kAPP1 = 0xE1, kAPP2 = 0xE2;
}  // namespace jpeg

struct JpegMarker {
  enum class Kind {
    segment,     // a marker with a length field, the whole segment inside the bytes
    standalone,  // TEM or RST0..7: two bytes, no length
    endOfImage,  // EOI
    strayByte,   // not a 0xFF where a marker should start: scan data or junk
    invalid,     // SOI again, 0xFF00, or a length under 2: cannot appear here
    truncated,   // the length field or the segment runs past the end
    end,         // no bytes left (fill bytes may run to the end)
  };
  Kind kind = Kind::end;
  std::uint8_t code = 0;    // the marker's second byte (0xE1 for APP1), 0 for strayByte and end
  std::size_t offset = 0;   // of the 0xFF right before code (fill bytes before it are not counted)
  std::size_t size = 0;     // from offset: 2 for a two-byte marker, 4 + body for a segment
  std::size_t bodyOffset() const { return offset + 4; }
  std::size_t bodySize() const { return size >= 4 ? size - 4 : 0; }
  std::size_t endOffset() const { return offset + size; }
};

class JpegMarkerWalker {
 public:
  // Starts right after the SOI, or at start when the bytes are a later part of the stream (a
  // marker there); data must outlive the walker.
  JpegMarkerWalker(const std::uint8_t* data, std::size_t size, std::size_t start = 2)
      : data_(data), size_(size), pos_(start) {}

  // The marker at the current position. A segment, a two-byte marker or EOI moves past it;
  // anything else stays where it is, for the caller to stop or to skip scan data.
  JpegMarker next();

  // From the current position (the first byte after a scan header, or stray bytes), moves to
  // the 0xFF that starts the marker ending the entropy-coded data: stuffed zeros and restart
  // markers belong to the data. To the end when the data runs there.
  void skipScanData();

  std::size_t position() const { return pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_;
};

// True when the bytes start with an SOI: the one test of "is this a JPEG stream" before a walk.
bool StartsWithSOI(const std::uint8_t* data, std::size_t size);

// The markers from the SOI up to and including the first scan header (SOS, last), the
// two-byte ones included. damaged when there is no SOI, when the walk meets anything but a
// whole segment or a two-byte marker first, or when the bytes end before a scan.
Status JpegHeaderMarkers(const std::uint8_t* data, std::size_t size, std::vector<JpegMarker>* markers);

// The header segments of the JPEG stream that starts file, read from the file by their markers
// and lengths, not their bodies: visit(code, bodyOffset, bodyLength, head), head being the
// body's first bytes (up to 32), until it answers false. The walk ends at the first scan, at
// anything but a segment or a two-byte marker, at the file's end and after kMaxHeaderSegments.
constexpr std::size_t kMaxHeaderSegments = 65536;
void VisitJpegHeaderSegments(
    ByteReader& file,
    const std::function<bool(std::uint8_t code, std::uint64_t body, std::uint32_t length,
                             std::span<const std::uint8_t> head)>& visit);

}  // namespace media
