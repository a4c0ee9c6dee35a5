// SPDX-License-Identifier: GPL-2.0-or-later
// The raw photograph: its picture the largest preview LibRaw finds in it, its metadata the raw's
// own TIFF directories where it is TIFF-based, else the camera's EXIF inside it, else the EXIF
// LibRaw's preview carries.
#include <glib.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "media/ByteOrder.h"
#include "media/ExifSegment.h"
#include "media/JpegCodec.h"
#include "media/RawPreview.h"
#include "photos/PhotoKinds.h"
#include "toolbox/Files/FileAttributes.h"
#include "toolbox/Processes/ChildCalls.h"

namespace photos {
namespace {

// A preview handed on as a still, with the JPEG bytes it owns (a bitmap preview encoded once).
struct Preview {
  media::RawPreviewOutcome outcome = media::RawPreviewOutcome::notRaw;
  std::shared_ptr<std::vector<std::uint8_t>> jpeg;
  int width = 0, height = 0, orientation = 1;
  bool ownExif = false;  // the JPEG came with EXIF of its own, rather than LibRaw's or none
  std::string putExif;   // the EXIF segment still() put into jpeg where it lies; empty: none yet
  std::int64_t captureTime = 0;
};

// LibRaw reads a hostile file in a child process: its crash, its runaway allocation or its hang
// ends the child, and the photograph is refused in words. Bounds well past a real raw's needs.
const ChildCallLimits kLibRawLimits{.extraAddressSpace = std::uint64_t(3) << 30, .milliseconds = 20000};
// An answer holds at most the file's bytes (a JPEG preview) or a bitmap within the pixel bound.
constexpr std::uint64_t kMaxAnswer = media::kMaxRawPreviewPixels * 3 + 64;
// Room kept behind the answer for the raw's EXIF segment (at most one segment's length), which
// then goes into the preview without a copy of it.
constexpr std::size_t kExifRoom = 65536 + 4;

media::RawPreviewOutcome readInChild(std::span<const std::uint8_t> bytes, media::RawPreview* raw) {
  // Loaded here, once, so that each child has LibRaw without loading it again.
  if (!media::LoadRawPreviewModule()) return media::RawPreviewOutcome::unavailable;
  // The preview crosses as it lies: written from the child's block, read into the one it keeps.
  ChildCallResult r = CallInChildProcess(
      [&] {
        media::RawPreview found;
        const media::RawPreviewOutcome outcome = media::ReadRawPreview(bytes.data(), bytes.size(), &found);
        ChildAnswer answer{media::RawPreviewAnswerHead(outcome, found), {}};
        if (outcome == media::RawPreviewOutcome::ok) answer.body = std::move(found.isJpeg ? found.jpeg : found.bitmap.pixels);
        return answer;
      },
      kLibRawLimits, kMaxAnswer + bytes.size(), kExifRoom);
  media::RawPreviewOutcome outcome = media::RawPreviewOutcome::lost;
  if (r.ending != ChildCallResult::Ending::answered || !media::ReadRawPreviewAnswer(std::move(r.bytes), &outcome, raw))
    return media::RawPreviewOutcome::lost;
  return outcome;
}

// Bitmap previews are small (a camera's thumbnail); kept close to their pixels.
constexpr int kBitmapQuality = 95;

Preview readPreview(std::span<const std::uint8_t> bytes) {
  Preview p;
  media::RawPreview raw;
  p.outcome = readInChild(bytes, &raw);
  if (p.outcome != media::RawPreviewOutcome::ok) return p;
  auto jpeg = std::make_shared<std::vector<std::uint8_t>>();
  if (raw.isJpeg) {
    *jpeg = std::move(raw.jpeg);
  } else if (media::JpegEncode(raw.bitmap, kBitmapQuality, true, jpeg.get()) != media::Status::ok) {
    p.outcome = media::RawPreviewOutcome::noMemory;
    return p;
  }
  p.jpeg = std::move(jpeg);
  p.width = raw.width;
  p.height = raw.height;
  p.orientation = raw.orientation;
  p.ownExif = raw.isJpeg && raw.ownExif;
  p.captureTime = raw.captureTime;
  return p;
}

// The metadata and the still come from one LibRaw reading: the last photograph's preview on
// this thread is kept until the next one is read.
struct LastPreview {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  Preview preview;
};
thread_local LastPreview tLast;

Preview& previewOf(std::span<const std::uint8_t> bytes) {
  if (tLast.data != bytes.data() || tLast.size != bytes.size() || tLast.data == nullptr) {
    tLast.preview = readPreview(bytes);
    tLast.data = bytes.data();
    tLast.size = bytes.size();
  }
  return tLast.preview;
}

bool tiffBased(std::span<const std::uint8_t> b) {
  return b.size() >= 8 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
                           (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42));
}

bool recognizes(std::span<const std::uint8_t> bytes) {
  if (tiffBased(bytes)) return true;  // a TIFF that is no raw is told so in this kind's words
  if (!media::LoadRawPreviewModule()) return false;
  const ChildCallResult r = CallInChildProcess(
      [&] { return std::string(1, char(media::IdentifyRaw(bytes.data(), bytes.size()))); }, kLibRawLimits, 1);
  return r.ending == ChildCallResult::Ending::answered && r.bytes.size() == 1 &&
         r.bytes[0] == std::uint8_t(media::RawPreviewOutcome::ok);
}

// The EXIF segment of the JPEG picture a camera keeps inside a raw that is no TIFF (a Fujifilm
// RAF's): the camera's own names and values, where the EXIF LibRaw gives its preview holds what
// LibRaw made of them ("S5Pro", its own Software). Empty when the raw has none.
std::span<const std::uint8_t> cameraExif(std::span<const std::uint8_t> bytes) {
  static constexpr std::uint8_t kExifStart[] = {0xFF, 0xD8, 0xFF, 0xE1};  // start of image, APP1
  static constexpr char kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
  for (auto at = std::search(bytes.begin(), bytes.end(), std::begin(kExifStart), std::end(kExifStart));
       at != bytes.end(); at = std::search(at + 1, bytes.end(), std::begin(kExifStart), std::end(kExifStart))) {
    const std::span<const std::uint8_t> rest = bytes.subspan(std::size_t(at - bytes.begin()) + 4);
    if (rest.size() < 2 + sizeof kExif) break;
    const std::size_t length = std::size_t(rest[0]) << 8 | rest[1];  // counts itself
    if (length >= 2 + sizeof kExif && length <= rest.size() && std::memcmp(&rest[2], kExif, sizeof kExif) == 0)
      return rest.subspan(2, length - 2);
  }
  return {};
}

// The TIFF streams raws of other containers keep their metadata in, by their block's name: a
// Minolta MRW's TTW block (its name, a big-endian length of what follows, the TIFF), and a Canon
// CR3's boxes CMT1 (primary directory), CMT2 (EXIF) and CMT4 (GPS), each a big-endian size
// counting itself, the name, the TIFF.
struct TiffBlock {
  std::string_view fileStart;  // how the raw's container begins, at fileStartAt
  std::size_t fileStartAt;
  std::string_view name;
  bool sizeBefore;  // a box's size comes before its name; else a length after it
  JpegTagReader::FirstDirectory first;
};
using namespace std::string_view_literals;
constexpr TiffBlock kTiffBlocks[] = {
    {"\0MRM"sv, 0, "\0TTW"sv, false, JpegTagReader::FirstDirectory::primary},
    {"ftypcrx "sv, 4, "CMT1"sv, true, JpegTagReader::FirstDirectory::primary},
    {"ftypcrx "sv, 4, "CMT2"sv, true, JpegTagReader::FirstDirectory::exif},
    {"ftypcrx "sv, 4, "CMT4"sv, true, JpegTagReader::FirstDirectory::gps},
};

// Reads each of those blocks the raw has; whether any was there.
bool readTiffBlocks(std::span<const std::uint8_t> bytes, JpegTagReader* reader) {
  const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  bool read = false;
  for (const TiffBlock& block : kTiffBlocks) {
    if (all.substr(std::min(all.size(), block.fileStartAt), block.fileStart.size()) != block.fileStart) continue;
    const std::size_t at = all.find(block.name, block.fileStartAt + block.fileStart.size());
    if (at == std::string_view::npos || at < 4 || at + 8 > all.size()) continue;
    std::size_t start = at + 8, size = media::ReadBigEndian32(bytes.data() + at + 4);  // a length after the name
    if (block.sizeBefore) {
      start = at + 4;
      size = media::ReadBigEndian32(bytes.data() + at - 4);
      if (size < 8) continue;
      size -= 8;
    }
    if (size > all.size() - std::min(all.size(), start)) continue;
    reader->readTiffStream(bytes.data() + start, size, block.first);
    read = true;
  }
  return read;
}

void readMetadata(const std::string& path, std::span<const std::uint8_t> bytes, ExImageInfo* record) {
  if (record == nullptr) return;
  tLast = {};  // a new photograph: read afresh, even at the last one's address
  const Preview& preview = previewOf(bytes);
  JpegTagReader reader;
  reader.setDataStore(record);
  // The raw's own metadata before what LibRaw made of it.
  bool own = tiffBased(bytes);
  if (own) {
    reader.readTiffStream(bytes.data(), bytes.size());
  } else if (const std::span<const std::uint8_t> exif = cameraExif(bytes); !exif.empty()) {
    reader.readExifSegment(exif.data(), UInt32(exif.size()));
    own = true;
  } else {
    own = readTiffBlocks(bytes, &reader);
  }
  if (own || preview.jpeg == nullptr) {
    record->setFileName(path);
    FSFileAttributes attributes;
    if (FSFileAttributesAtPath(path, true, &attributes) == 0 && attributes.creationDate)
      record->setCreationDate(attributes.creationDate);
  } else {
    // LibRaw writes what it read of the shot into the EXIF of a preview that had none, its
    // capture time as the time of the last change: that is when the shot was taken.
    reader.readTags(path, preview.jpeg->data(), preview.jpeg->size(), record);
    if (!record->getDateTimeOriginalPresent() && preview.captureTime > 0) {
      if (GDateTime* local = g_date_time_new_from_unix_local(preview.captureTime)) {
        gchar* text = g_date_time_format(local, "%Y:%m:%d %H:%M:%S");
        if (text != nullptr) {
          record->setDateTimeOriginal(text);
          record->setDateTimeOriginalPresent(true);
        }
        g_free(text);
        g_date_time_unref(local);
      }
    }
  }
  if (preview.jpeg != nullptr) {
    // The decoded picture's bytes are the preview's, whichever directories gave the metadata.
    ExImageInfo shown;
    JpegTagReader().readTags(path, preview.jpeg->data(), preview.jpeg->size(), &shown);
    record->setFileSize(shown.getFileSize());
    record->setPixelWidth(UInt32(preview.width));
    record->setPixelHeight(UInt32(preview.height));
  }
}

std::string text(const char* s) { return s != nullptr ? s : ""; }

std::optional<media::ExifRational> rationalOf(bool present, float v) {
  return present && v > 0 ? media::ExifRationalOf(v) : std::nullopt;
}

// The raw's metadata as the record holds it, for the EXIF of a preview that has none of its own:
// what photo libraries show of the shot, and the orientation the still is shown in.
media::ExifFacts exifFactsOf(const ExImageInfo& record, int orientation) {
  media::ExifFacts f;
  f.make = text(record.getMake());
  f.model = text(record.getModel());
  f.software = text(record.getSoftware());
  f.artist = text(record.getArtist());
  if (record.getDateTimeOriginalPresent()) f.dateTimeOriginal = record.getDateTimeOriginal();
  if (record.getOffsetTimeOriginalPresent()) f.offsetTimeOriginal = record.getOffsetTimeOriginal();
  f.orientation = orientation;
  f.exposureTime = rationalOf(record.getExposureTimePresent(), record.getExposureTime());
  f.fNumber = rationalOf(record.getFNumberPresent(), record.getFNumber());
  f.focalLength = rationalOf(record.getFocalLengthPresent(), record.getFocalLength());
  if (record.getNumISOSpeeds() > 0 && record.getISOSpeedRating() != nullptr) f.iso = record.getISOSpeedRating()[0];
  auto dms = [](const float* v, media::ExifRational* out) {
    for (int i = 0; i < 3; ++i) {
      const std::optional<media::ExifRational> r = media::ExifRationalOf(v[i]);
      if (!r) return false;
      out[i] = *r;
    }
    return true;
  };
  media::ExifFacts::Position p;
  if (record.getGpsLattitudePresent() && record.getGpsLongitudePresent() && dms(record.getGpsLattitude(), p.latitude) &&
      dms(record.getGpsLongitude(), p.longitude)) {
    p.latitudeRef = record.getGpsLattitudeRefPresent() ? record.getGpsLattitudeRef()[0] : 'N';
    p.longitudeRef = record.getGpsLongitudeRefPresent() ? record.getGpsLongitudeRef()[0] : 'E';
    if (record.getGpsAltitudePresent()) p.altitude = media::ExifRationalOf(record.getGpsAltitude());
    p.belowSeaLevel = record.getGpsAltitudeRefPresent() && record.getGpsAltitudeRef() == 1;
    f.position = p;
  }
  return f;
}

media::Still still(std::span<const std::uint8_t> bytes, const ExImageInfo& record) {
  Preview& preview = previewOf(bytes);
  media::Still s;
  if (preview.jpeg == nullptr) return s;
  // A TIFF-based raw's own Orientation, as its metadata says; else LibRaw's reading of it.
  s.orientation = tiffBased(bytes) && record.getOrientationPresent() ? record.getOrientation() : preview.orientation;
  // A preview without EXIF of its own carries the raw's, as the camera's JPEG would: a motion
  // photo made of it is the shot's in every photo library. The segment goes in where the
  // preview's bytes lie while no still handed out shares them, replacing LibRaw's or the one put
  // there before.
  std::shared_ptr<const std::vector<std::uint8_t>> jpeg;
  if (!preview.ownExif) {
    const std::string segment = media::ExifSegment(exifFactsOf(record, s.orientation));
    if (segment != preview.putExif && preview.jpeg.use_count() == 1) {
      if (media::JpegPutExif(preview.jpeg.get(), segment, true)) preview.putExif = segment;
    } else if (segment != preview.putExif) {
      if (std::optional<std::vector<std::uint8_t>> withExif =
              media::JpegWithExif(preview.jpeg->data(), preview.jpeg->size(), segment, true))
        jpeg = std::make_shared<const std::vector<std::uint8_t>>(std::move(*withExif));
    }
  }
  if (jpeg == nullptr) jpeg = preview.jpeg;
  s.jpeg = *jpeg;
  s.owner = jpeg;
  s.width = preview.width;
  s.height = preview.height;
  return s;
}

std::string unreadable(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return "empty file";
  const Preview& preview = previewOf(bytes);
  return media::RawPreviewWords(preview.outcome == media::RawPreviewOutcome::ok ? media::RawPreviewOutcome::noPreview
                                                                                 : preview.outcome);
}

}  // namespace

PhotoKind RawPhoto() {
  return {"raw",
          {".3fr", ".ari", ".arw", ".bay", ".cr2", ".cr3", ".crw", ".cs1", ".dcr", ".dcs", ".dng", ".drf", ".eip",
           ".erf", ".fff", ".gpr", ".iiq", ".k25", ".kdc", ".mdc", ".mef", ".mos", ".mrw", ".nef", ".nrw", ".orf",
           ".pef", ".ptx", ".pxn", ".raf", ".raw", ".rw2", ".rwl", ".rwz", ".sr2", ".srf", ".srw", ".sti", ".x3f", ""},
          recognizes,
          readMetadata,
          still,
          unreadable};
}

}  // namespace photos
