// SPDX-License-Identifier: GPL-2.0-or-later
// The camera's JPEG: its metadata read by the tag reader, its still the file's own bytes, sized
// by its frame header and turned by its EXIF orientation.
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "media/JpegMarkers.h"
#include "media/JpegStructure.h"
#include "photos/PhotoKinds.h"

namespace photos {
namespace {

bool recognizes(std::span<const std::uint8_t> bytes) { return media::StartsWithSOI(bytes.data(), bytes.size()); }

void readMetadata(const std::string& path, std::span<const std::uint8_t> bytes, ExImageInfo* record) {
  JpegTagReader reader;
  reader.readTags(path, bytes.data(), bytes.size(), record);
}

// A long voice annotation's pieces are pointed at where they lie, not held a second time.
void readMetadataInPlace(const std::string& path, std::span<const std::uint8_t> bytes, ExImageInfo* record) {
  JpegTagReader reader;
  reader.readTags(path, bytes.data(), bytes.size(), record, true);
}

media::Still still(std::span<const std::uint8_t> bytes, const ExImageInfo& record) {
  media::Still s;
  s.jpeg = bytes;
  s.width = int(record.getPixelWidth());
  s.height = int(record.getPixelHeight());
  if (record.getOrientationPresent()) s.orientation = record.getOrientation();
  return s;
}

std::string unreadable(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return "empty file";
  if (!recognizes(bytes)) return "not a JPEG file";
  return "damaged JPEG header";
}

// The picture through its end of image, with every header segment before it: what follows (a
// maker's trailer, an appended movie) is read where needed, never held.
std::size_t heldLength(std::span<const std::uint8_t> start) { return media::JpegImageEnd(start.data(), start.size()); }

// A long FlashPix voice annotation's pieces after their headers: the recording's reader reads
// them from the file, and nothing else reads them at all.
std::vector<FileStretch> unheldParts(media::ByteReader& file) {
  std::vector<FileStretch> parts;
  media::VisitJpegHeaderSegments(file, [&](std::uint8_t code, std::uint64_t body, std::uint32_t length,
                                           std::span<const std::uint8_t> head) {
    if (code != media::jpeg::kAPP2) return true;
    const UInt32 header = JpegTagReader::flashPixPieceHeader(head.data(), UInt32(head.size()));
    if (header != 0 && header < length) parts.push_back({body + header, length - header});
    return true;
  });
  return parts;
}

}  // namespace

PhotoKind JpegPhoto() {
  return {"jpeg",  {".jpg", ".jpeg", ""}, recognizes, readMetadata, still, unreadable, heldLength, readMetadataInPlace,
          unheldParts};
}

}  // namespace photos
