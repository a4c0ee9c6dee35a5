// Walks a JPEG stream's marker segments to find the frame header, and its entropy-coded scans to
// find the real end of image (an EOI nested in an APP segment, e.g. a thumbnail's, is skipped)
// where the file does not simply end with it.
#include "media/JpegStructure.h"

#include <cstring>

#include "media/ByteOrder.h"
#include "media/Status.h"

namespace media {

namespace {
constexpr int kSOI = 0xD8, kEOI = 0xD9, kSOS = 0xDA, kTEM = 0x01;

bool isStandalone(int m) { return m == kTEM || (m >= 0xD0 && m <= 0xD7); }

// SOF0..SOF15 apart from DHT (C4), JPG (C8) and DAC (CC).
bool isFrameHeader(int m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; }

bool isProgressive(int m) { return m == 0xC2 || m == 0xC6 || m == 0xCA || m == 0xCE; }

// From the first byte after a scan header, the position of the 0xFF that starts the marker
// ending the entropy-coded data (stuffed zeros and restart markers belong to the data), or
// size when the data runs to the end.
std::size_t skipEntropyData(const std::uint8_t* data, std::size_t size, std::size_t pos) {
  while (pos < size) {
    // Most of a photograph is scan data: let memchr find the next 0xFF.
    const void* ff = std::memchr(data + pos, 0xFF, size - pos);
    if (ff == nullptr) return size;
    pos = std::size_t(static_cast<const std::uint8_t*>(ff) - data);
    std::size_t next = pos + 1;
    while (next < size && data[next] == 0xFF) ++next;  // fill bytes
    if (next >= size) return size;
    int m = data[next];
    if (m == 0x00 || (m >= 0xD0 && m <= 0xD7)) {
      pos = next + 1;
      continue;
    }
    return next - 1;
  }
  return size;
}

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
  return size >= 4 && data[size - 2] == 0xFF && data[size - 1] == kEOI;
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
  return data != nullptr && size >= 3 && data[0] == 0xFF && data[1] == kSOI && data[2] == 0xFF;
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
  std::size_t pos = 2;
  for (;;) {
    if (pos >= size) break;  // no EOI: the data runs to the end
    if (data[pos] != 0xFF) {
      // Garbage between segments: tolerated after a scan (decoders skip it), fatal before the frame.
      if (!haveFrame) return Status::damaged;
      pos = skipEntropyData(data, size, pos);
      continue;
    }
    std::size_t mpos = pos + 1;
    while (mpos < size && data[mpos] == 0xFF) ++mpos;
    if (mpos >= size) break;
    int marker = data[mpos];
    pos = mpos + 1;
    if (marker == kEOI) {
      out.sawEOI = ended = true;
      out.dataSize = pos;
      break;
    }
    // A marker that cannot appear here ends the image data where it starts.
    bool impossible = marker == kSOI || marker == 0x00 ||
                      (pos + 2 <= size && ReadBigEndian16(data + pos) < 2 && !isStandalone(marker));
    if (impossible) {
      if (!haveFrame) return Status::damaged;
      ended = true;
      out.dataSize = mpos - 1;
      break;
    }
    if (isStandalone(marker)) continue;
    if (pos + 2 > size) break;
    unsigned length = ReadBigEndian16(data + pos);
    std::size_t body = pos + 2;
    std::size_t end = pos + length;
    if (isFrameHeader(marker) && !haveFrame) {
      if (end > size || length < 8) return Status::damaged;
      out.precision = data[body];
      out.height = ReadBigEndian16(data + body + 1);
      out.width = ReadBigEndian16(data + body + 3);
      out.components = data[body + 5];
      out.frameMarker = marker;
      out.progressive = isProgressive(marker);
      if (out.width == 0 || out.height == 0 || out.components == 0 || length < 8u + 3u * out.components)
        return Status::damaged;
      haveFrame = true;
    }
    if (end > size) break;  // truncated inside a segment
    if (!out.sawScan && length >= 2 && declaresAppendedData(marker, data + body, end - body)) {
      appended = true;
      if (marker == 0xE2 && declaredLength == 0) declaredLength = mpfFirstImageLength(data + body, end - body);
    }
    pos = end;
    if (marker == kSOS) {
      if (!haveFrame) return Status::damaged;
      // The image data runs to the end of image that ends the file, or, when the header says
      // that more follows, to the end its index gives; where neither holds, it is walked.
      const std::size_t imageEnd = !appended ? size : declaredLength <= size ? declaredLength : 0;
      if (!out.sawScan && imageEnd >= pos + 2 && endsWithEOI(data, imageEnd)) {
        out.sawScan = out.sawEOI = ended = true;
        out.dataSize = imageEnd;
        break;
      }
      out.sawScan = true;
      pos = skipEntropyData(data, size, pos);
    }
  }
  if (!haveFrame) return Status::damaged;
  if (!ended) out.dataSize = size;
  out.dataOffset = 0;
  *layout = out;
  return Status::ok;
}

const char* JpegMissingPart(const JpegLayout& layout) {
  if (!layout.sawScan) return "it ends before its image data";
  if (!layout.sawEOI) return "its image data is cut short (no end-of-image marker)";
  return nullptr;
}

}  // namespace media
