// SPDX-License-Identifier: GPL-2.0-or-later
// Walks a JPEG stream's marker segments to find the frame header, and its entropy-coded scans to
// find the real end of image (an EOI nested in an APP segment, e.g. a thumbnail's, is skipped)
// where the file does not simply end with it.
#include "media/JpegStructure.h"

#include <cstring>

#include "media/ByteOrder.h"
#include "media/JpegMarkers.h"
#include "media/Status.h"

namespace media {

namespace {
using Kind = JpegMarker::Kind;

// SOF0..SOF15 apart from DHT (C4), JPG (C8) and DAC (CC).
bool isFrameHeader(int m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

bool isProgressive(int m) { return m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE; }

bool bodyStartsWith(const std::uint8_t* body, std::size_t length, const char* tag, std::size_t tagLength) {
  return length >= tagLength && std::memcmp(body, tag, tagLength) == 0;
}

// Whether a header segment says that more than this image follows its end of image: further
// images listed in a Multi-Picture Format index (APP2 "MPF"), or media listed in an XMP
// container directory (APP1). Such files end with the last of those, not with this image.
bool declaresAppendedData(int marker, const std::uint8_t* body, std::size_t length) {
  static constexpr char kMpf[] = "MPF";
  static constexpr char kXmp[] = "http://ns.adobe.com/xap/1.0/";
  static constexpr char kContainer[] = "ns.google.com/photos/1.0/container";
  if (marker == 0xE2) return bodyStartsWith(body, length, kMpf, sizeof kMpf);
  if (marker != 0xE1 || !bodyStartsWith(body, length, kXmp, sizeof kXmp)) return false;
  return memmem(body, length, kContainer, sizeof kContainer - 1) != nullptr;
}

bool endsWithEOI(const std::uint8_t* data, std::size_t size) {
  return size >= 4 && data[size - 2] == 0xFF && data[size - 1] == jpeg::kEOI;
}

// The first image's length from a Multi-Picture Format index (the APP2 body from "MPF"): its
// first entry, whose image starts at this file's SOI. 0 when the index does not say.
std::size_t mpfFirstImageLength(const std::uint8_t* body, std::size_t length) {
  if (length < 4 + 8) return 0;
  const std::uint8_t* h = body + 4;  // the TIFF-style header that offsets count from
  const std::size_t n = length - 4;
  const bool little = h[0] == 'I' && h[1] == 'I';
  if (!little && !(h[0] == 'M' && h[1] == 'M')) return 0;
  auto u16 = [&](std::size_t at) { return little ? ReadLittleEndian16(h + at) : ReadBigEndian16(h + at); };
  auto u32 = [&](std::size_t at) { return little ? ReadLittleEndian32(h + at) : ReadBigEndian32(h + at); };
  const std::size_t ifd = u32(4);
  if (ifd > n - 2) return 0;
  const std::size_t count = u16(ifd);
  constexpr unsigned kMPEntry = 0xB002;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t e = ifd + 2 + 12 * k;
    if (e > n - 12) return 0;
    if (u16(e) != kMPEntry) continue;
    const std::size_t entries = u32(e + 8);  // each entry: attribute, size, offset, two links
    if (u32(e + 4) < 16 || entries > n - 16) return 0;
    return u32(entries + 4);
  }
  return 0;
}
}  // namespace

bool LooksLikeJpeg(const std::uint8_t* data, std::size_t size) {
  return StartsWithSOI(data, size) && size >= 3 && data[2] == 0xFF;
}

Status ParseJpegLayout(const std::uint8_t* data, std::size_t size, JpegLayout* layout) {
  if (layout == nullptr) return Status::badArgument;
  *layout = JpegLayout{};
  if (!LooksLikeJpeg(data, size)) return Status::damaged;
  JpegLayout out;
  bool haveFrame = false;
  bool ended = false;
  bool appended = false;
  std::size_t declaredLength = 0;  // the image's length where an index gives it
  JpegMarkerWalker walk(data, size);
  for (;;) {
    const JpegMarker m = walk.next();
    if (m.kind == Kind::end) break;  // no EOI: the data runs to the end
    if (m.kind == Kind::strayByte) {
      // Garbage between segments: tolerated after a scan (decoders skip it), fatal before the frame.
      if (!haveFrame) return Status::damaged;
      walk.skipScanData();
      continue;
    }
    if (m.kind == Kind::endOfImage) {
      out.sawEOI = ended = true;
      out.dataSize = m.endOffset();
      break;
    }
    // A marker that cannot appear here ends the image data where it starts.
    if (m.kind == Kind::invalid) {
      if (!haveFrame) return Status::damaged;
      ended = true;
      out.dataSize = m.offset;
      break;
    }
    if (m.kind == Kind::standalone) continue;
    const bool frame = isFrameHeader(m.code) && !haveFrame;
    if (m.kind == Kind::truncated) {
      if (frame && m.size > 2) return Status::damaged;  // a frame header cut short
      break;  // truncated inside a segment
    }
    const std::uint8_t* body = data + m.bodyOffset();
    const std::size_t length = m.bodySize();
    if (frame) {
      if (length < 6) return Status::damaged;
      out.precision = body[0];
      out.height = ReadBigEndian16(body + 1);
      out.width = ReadBigEndian16(body + 3);
      out.components = body[5];
      out.frameMarker = m.code;
      out.progressive = isProgressive(m.code);
      if (out.width == 0 || out.height == 0 || out.components == 0 || length < 6u + 3u * out.components)
        return Status::damaged;
      haveFrame = true;
    }
    if (!out.sawScan && declaresAppendedData(m.code, body, length)) {
      appended = true;
      if (m.code == jpeg::kAPP2 && declaredLength == 0) declaredLength = mpfFirstImageLength(body, length);
    }
    if (m.code == jpeg::kSOS) {
      if (!haveFrame) return Status::damaged;
      // The image data runs to the end of image that ends the file, or, when the header says
      // that more follows, to the end its index gives; where neither holds, it is walked.
      const std::size_t imageEnd = !appended ? size : declaredLength <= size ? declaredLength : 0;
      if (!out.sawScan && imageEnd >= walk.position() + 2 && endsWithEOI(data, imageEnd)) {
        out.sawScan = out.sawEOI = ended = true;
        out.dataSize = imageEnd;
        break;
      }
      out.sawScan = true;
      walk.skipScanData();
    }
  }
  if (!haveFrame) return Status::damaged;
  if (!ended) out.dataSize = size;
  out.dataOffset = 0;
  *layout = out;
  return Status::ok;
}

std::size_t JpegImageEnd(const std::uint8_t* data, std::size_t size) {
  JpegLayout layout;
  if (ParseJpegLayout(data, size, &layout) != Status::ok || !layout.sawEOI) return 0;
  return layout.dataOffset + layout.dataSize;
}

const char* JpegMissingPart(const JpegLayout& layout) {
  if (!layout.sawScan) return "it ends before its image data";
  if (!layout.sawEOI) return "its image data is cut short (no end-of-image marker)";
  return nullptr;
}

}  // namespace media
