// SPDX-License-Identifier: GPL-2.0-or-later
// The still part of a motion photo: walks the header segments up to the first scan, places the
// XMP after the Exif segment (or the JFIF one, or the start of image), or merges it into the
// standard XMP packet already there.
#include "media/MotionPhoto.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "media/ByteReaders.h"
#include "media/JpegMarkers.h"
#include "media/JpegStructure.h"
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
  // Two-byte markers among the header segments are stepped over, as the still's writer does.
  for (JpegMarker m = walk.next(); (m.kind == JpegMarker::Kind::segment || m.kind == JpegMarker::Kind::standalone) && m.code != jpeg::kSOS;
       m = walk.next())
    if (isXmp(jpeg, m)) {
      const std::size_t packet = m.bodyOffset() + sizeof kXmpSignature;
      return std::string(reinterpret_cast<const char*>(jpeg) + packet, m.endOffset() - packet);
    }
  return "";
}

std::uint32_t le32(const std::uint8_t* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24; }

// Samsung's trailer ends the file with its directory ("SEFH", a version, a count, then per entry
// two bytes, a type, the distance back from the directory to the entry's data and its length),
// that directory's length and "SEFT". Each entry's data opens with two bytes, the type, and a
// named length; the video of a motion photo is the entry named MotionPhoto_Data.
bool samsungMotionPhoto(ByteReader& file) {
  static constexpr char kName[] = "MotionPhoto_Data";
  // A directory lists a few blocks; a longer one is no maker's, and is not read.
  constexpr std::uint64_t kMaxDirectory = 1u << 20;
  const std::uint64_t size = file.size();
  std::uint8_t end[8];
  if (size < 8 || !file.read(size - 8, end, 8) || std::memcmp(end + 4, "SEFT", 4) != 0) return false;
  const std::uint32_t directoryLength = le32(end);
  if (directoryLength < 12 || directoryLength > size - 8 || directoryLength > kMaxDirectory) return false;
  const std::uint64_t directory = size - 8 - directoryLength;
  std::vector<std::uint8_t> d(directoryLength);
  if (!file.read(directory, d.data(), d.size()) || std::memcmp(d.data(), "SEFH", 4) != 0) return false;
  const std::uint32_t entries = le32(d.data() + 8);
  for (std::uint32_t i = 0; i < entries && i < (directoryLength - 12) / 12; ++i) {
    const std::uint8_t* entry = d.data() + 12 + 12 * std::size_t(i);
    const std::uint32_t back = le32(entry + 4), length = le32(entry + 8);
    if (back > directory || length < 8 || length > back) continue;
    std::uint8_t block[8 + sizeof kName - 1];
    if (length < sizeof block || !file.read(directory - back, block, sizeof block)) continue;
    const std::uint32_t nameLength = le32(block + 4);
    if (nameLength == sizeof kName - 1 && nameLength <= length - 8 && std::memcmp(block + 8, kName, nameLength) == 0) return true;
  }
  return false;
}

// The header of an ISO BMFF "free" box around that many bytes, which every MP4 reader skips.
std::string skippedBoxHeader(std::uint64_t size) {
  std::string box;
  auto be = [&box](std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) box += char((value >> (8 * i)) & 0xFF);
  };
  if (size + 8 <= 0xFFFFFFFFu) {
    be(size + 8, 4);
    box += "free";
  } else {
    be(1, 4);
    box += "free";
    be(size + 16, 8);
  }
  return box;
}

}  // namespace

bool IsMotionPhoto(const std::uint8_t* jpeg, std::size_t size, ByteReader* file) {
  if (XmpSaysMotionPhoto(xmpPacketOf(jpeg, size))) return true;
  MemoryByteReader held({jpeg, size});
  return samsungMotionPhoto(file ? *file : held);
}

std::optional<std::uint64_t> MotionPhotoVideoLength(const std::uint8_t* jpeg, std::size_t size) {
  return XmpMotionPhotoVideoLength(xmpPacketOf(jpeg, size));
}

namespace {

std::optional<MotionPhotoParts> planStill(const std::uint8_t* jpeg, std::size_t size, std::uint64_t fileSize,
                                          std::uint64_t videoLength, bool canTail, std::string* why) {
  auto refuse = [why](const std::string& words) -> std::optional<MotionPhotoParts> {
    if (why) *why = words;
    return std::nullopt;
  };
  std::vector<JpegMarker> markers;
  if (JpegHeaderMarkers(jpeg, size, &markers) != Status::ok) return refuse("the photograph's JPEG header is damaged");
  if (IsMotionPhoto(jpeg, size)) return refuse("the photograph already is a motion photo");
  MotionPhotoParts plan;
  const std::uint64_t pictureEnd = JpegImageEnd(jpeg, size);
  if (pictureEnd == 0) return refuse("the photograph's image data has no end");
  const JpegMarker* xmp = nullptr;
  for (const JpegMarker& m : markers)
    if (isXmp(jpeg, m)) {
      xmp = &m;
      break;
    }
  const std::size_t packetAt = xmp ? xmp->bodyOffset() + sizeof kXmpSignature : 0;
  const std::string packet = xmp ? std::string(reinterpret_cast<const char*>(jpeg) + packetAt, xmp->endOffset() - packetAt) : "";

  // What follows the picture is kept. Readers look for the movie both right after the picture's
  // end and at the file's end less its length, so when the caller can write bytes after the
  // movie, they go there, in a box MP4 readers skip, and count as part of the movie's item. A
  // directory of the photograph's own (a gain map) keeps its items where they are.
  plan.keepTo = fileSize;
  std::uint64_t itemLength = videoLength;
  if (canTail && pictureEnd < fileSize && !XmpHasContainerDirectory(packet)) {
    plan.keepTo = pictureEnd;
    plan.tailHeader = skippedBoxHeader(fileSize - pictureEnd);
    plan.tailFrom = pictureEnd;
    plan.tailTo = fileSize;
    itemLength += plan.tailHeader.size() + (fileSize - pictureEnd);
  }
  const std::uint64_t between = plan.keepTo - pictureEnd;
  if (xmp) {
    std::string reason;
    auto merged = MergeMotionPhotoXmp(packet, itemLength, between, &reason);
    if (!merged) return refuse(reason);
    plan.segment = segmentWith(*merged);
    plan.replaceFrom = xmp->offset;
    plan.replaceTo = xmp->endOffset();
    return plan;
  }
  // A new packet: after the Exif segment, else after a JFIF one, else right after the start.
  std::size_t at = 2;
  for (const JpegMarker& m : markers)
    if (isExif(jpeg, m)) {
      at = m.endOffset();
      break;
    }
  if (at == 2 && markers.front().code == jpeg::kAPP0) at = markers.front().endOffset();
  plan.segment = segmentWith(MotionPhotoXmp(itemLength, between));
  plan.replaceFrom = plan.replaceTo = at;
  return plan;
}

}  // namespace

std::optional<MotionPhotoParts> MotionPhotoPartsOf(const std::uint8_t* start, std::size_t startSize,
                                                   std::uint64_t fileSize, std::uint64_t videoLength, std::string* why) {
  return planStill(start, startSize, std::max<std::uint64_t>(fileSize, startSize), videoLength, true, why);
}

std::optional<std::string> MotionPhotoStill(const std::uint8_t* jpeg, std::size_t size, std::uint64_t videoLength,
                                            std::string* why, std::string* tail) {
  const auto plan = planStill(jpeg, size, size, videoLength, tail != nullptr, why);
  if (!plan) return std::nullopt;
  const char* bytes = reinterpret_cast<const char*>(jpeg);
  if (tail) {
    tail->clear();
    if (plan->tailTo > plan->tailFrom)
      *tail = plan->tailHeader + std::string(bytes + plan->tailFrom, std::size_t(plan->tailTo - plan->tailFrom));
  }
  std::string still;
  still.reserve(std::size_t(plan->stillSize()));
  still.append(bytes, plan->replaceFrom).append(plan->segment).append(bytes + plan->replaceTo, std::size_t(plan->keepTo - plan->replaceTo));
  return still;
}

std::string MotionPhotoRefusal(const std::uint8_t* jpeg, std::size_t size) {
  // The longest length a movie can have makes the packet as long as it will ever be.
  std::string why;
  return planStill(jpeg, size, size, 9999999999999999999u, true, &why) ? std::string() : why;
}

std::string MotionPhotoName(const std::string& photographName) {
  const std::size_t slash = photographName.rfind('/');
  const std::size_t dot = photographName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1)
    return photographName + ".MP.jpg";
  return photographName.substr(0, dot) + ".MP" + photographName.substr(dot);
}

}  // namespace media
