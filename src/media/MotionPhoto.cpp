// SPDX-License-Identifier: GPL-2.0-or-later
// The still part of a motion photo: walks the header segments up to the first scan, places the
// XMP after the Exif segment (or the JFIF one, or the start of image), or merges it into the
// standard XMP packet already there.
#include "media/MotionPhoto.h"

#include <cstring>
#include <vector>

#include "media/JpegMarkers.h"
#include "media/MotionPhotoXmp.h"

namespace media {

namespace {

bool isXmp(const std::uint8_t* jpeg, const JpegMarker& m) {
  return m.kind == JpegMarker::Kind::segment && m.code == jpeg::kAPP1 && m.bodySize() >= sizeof kXmpSignature &&
         std::memcmp(jpeg + m.bodyOffset(), kXmpSignature, sizeof kXmpSignature) == 0;
}

bool isExif(const std::uint8_t* jpeg, const JpegMarker& m) {
  return m.kind == JpegMarker::Kind::segment && m.code == jpeg::kAPP1 && m.bodySize() >= 6 &&
         std::memcmp(jpeg + m.bodyOffset(), "Exif\0\0", 6) == 0;
}

std::string segmentWith(const std::string& packet) {
  const std::size_t length = 2 + sizeof kXmpSignature + packet.size();
  std::string out = {char(0xFF), char(0xE1), char(length >> 8), char(length & 0xFF)};
  out.append(kXmpSignature, sizeof kXmpSignature);
  return out + packet;
}

// The standard XMP packet among the header segments within size (the bytes may be the start of
// a file only); "" for none.
std::string xmpPacketOf(const std::uint8_t* jpeg, std::size_t size) {
  if (!StartsWithSOI(jpeg, size)) return "";
  JpegMarkerWalker walk(jpeg, size);
  for (JpegMarker m = walk.next(); m.kind == JpegMarker::Kind::segment && m.code != jpeg::kSOS; m = walk.next())
    if (isXmp(jpeg, m)) {
      const std::size_t packet = m.bodyOffset() + sizeof kXmpSignature;
      return std::string(reinterpret_cast<const char*>(jpeg) + packet, m.endOffset() - packet);
    }
  return "";
}

}  // namespace

bool IsMotionPhoto(const std::uint8_t* jpeg, std::size_t size) { return XmpSaysMotionPhoto(xmpPacketOf(jpeg, size)); }

std::optional<std::uint64_t> MotionPhotoVideoLength(const std::uint8_t* jpeg, std::size_t size) {
  return XmpMotionPhotoVideoLength(xmpPacketOf(jpeg, size));
}

std::optional<std::string> MotionPhotoStill(const std::uint8_t* jpeg, std::size_t size, std::uint64_t videoLength,
                                            std::string* why) {
  auto refuse = [why](const std::string& words) -> std::optional<std::string> {
    if (why) *why = words;
    return std::nullopt;
  };
  std::vector<JpegMarker> markers;
  if (JpegHeaderMarkers(jpeg, size, &markers) != Status::ok) return refuse("the photograph's JPEG header is damaged");
  const char* bytes = reinterpret_cast<const char*>(jpeg);
  for (const JpegMarker& m : markers) {
    if (!isXmp(jpeg, m)) continue;
    const std::size_t packet = m.bodyOffset() + sizeof kXmpSignature;
    std::string reason;
    auto merged = MergeMotionPhotoXmp(std::string(bytes + packet, m.endOffset() - packet), videoLength, &reason);
    if (!merged) return refuse(reason);
    return std::string(bytes, m.offset) + segmentWith(*merged) + std::string(bytes + m.endOffset(), size - m.endOffset());
  }
  // A new packet: after the Exif segment, else after a JFIF one, else right after the start.
  std::size_t at = 2;
  for (const JpegMarker& m : markers)
    if (isExif(jpeg, m)) {
      at = m.endOffset();
      break;
    }
  if (at == 2 && markers.front().code == jpeg::kAPP0) at = markers.front().endOffset();
  return std::string(bytes, at) + segmentWith(MotionPhotoXmp(videoLength)) + std::string(bytes + at, size - at);
}

std::string MotionPhotoName(const std::string& photographName) {
  const std::size_t slash = photographName.rfind('/');
  const std::size_t dot = photographName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
    return photographName + ".MP.jpg";
  return photographName.substr(0, dot) + ".MP" + photographName.substr(dot);
}

}  // namespace media
