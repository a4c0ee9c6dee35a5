// SPDX-License-Identifier: GPL-2.0-or-later
// A raw's own metadata where the raw is no TIFF, through the raw row of the kinds table: the
// camera's JPEG inside a Fujifilm RAF, a Minolta MRW's TTW block, a Canon CR3's CMT boxes; each
// fixture read back by exiftool to the same values, and damaged blocks read as none.
// Layouts: Fujifilm RAF, the header's big-endian JPEG offset and length at byte 84 (ExifTool's
// FujiFilm tags page, "FujiFilm RAF Tags"); Minolta MRW, "\0MRM" and big-endian length, then
// blocks of name and length ("\0TTW" holds a TIFF; Dalibor Jelinek's MRW format description);
// Canon CR3, ISO base media boxes, the Canon uuid box in moov holding CMT1 (IFD0), CMT2 (EXIF)
// and CMT4 (GPS), each a TIFF (Laurent Clevy's "Describing the Canon Raw v3 file format").
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "photos/PhotoKinds.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"
#include "support/TiffBuilder.h"

namespace {

using testsupport::TiffBuilder;

std::string be32(std::uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string box(const std::string& name, const std::string& body) { return be32(std::uint32_t(8 + body.size())) + name + body; }

// A primary directory naming the camera, with an EXIF directory.
std::string cameraTiff(bool bigEndian) {
  TiffBuilder b(bigEndian);
  const int ifd0 = b.directory();
  b.ascii(ifd0, 271, "Vantor");
  b.ascii(ifd0, 272, "VR-7 Raw");
  const int exif = b.directory();
  b.pointer(ifd0, 34665, exif);
  b.rationals(exif, 33434, {{1, 250}});
  return b.build();
}
// A stream whose first directory holds EXIF tags (CR3's CMT2), or GPS ones (CMT4).
std::string exifFirstTiff() {
  TiffBuilder b;
  b.rationals(b.directory(), 33434, {{1, 250}});
  return b.build();
}
std::string gpsFirstTiff() {
  TiffBuilder b;
  const int gps = b.directory();
  b.bytes(gps, 0, std::string("\2\3\0\0", 4), 1);
  b.ascii(gps, 1, "S");
  return b.build();
}

std::string raf(const std::string& jpeg) {
  std::string header = "FUJIFILMCCD-RAW 0201FF129502";
  header += "VR-7 Raw";
  header.resize(84, '\0');
  const std::uint32_t jpegAt = 160;
  header += be32(jpegAt) + be32(std::uint32_t(jpeg.size()));
  header.resize(jpegAt, '\0');
  return header + jpeg;
}
std::string rafWithExif() {
  return raf(fixtures::withSegment(fixtures::makeJpeg(), 0xE1, std::string("Exif\0\0", 6) + cameraTiff(false)));
}

std::string mrw(const std::string& ttwBody, std::uint32_t declared) {
  const std::string blocks = std::string("\0TTW", 4) + be32(declared) + ttwBody;
  return std::string("\0MRM", 4) + be32(std::uint32_t(blocks.size())) + blocks;
}

std::string cr3(const std::string& cmt1, const std::string& cmt2, const std::string& cmt4) {
  static const char kCanonUuid[] = "\x85\xc0\xb6\x87\x82\x0f\x11\xe0\x81\x11\xf4\xce\x46\x2b\x6a\x48";
  const std::string ftyp = box("ftyp", "crx " + be32(1) + "crx isom");
  const std::string uuid = box("uuid", std::string(kCanonUuid, 16) + box("CMT1", cmt1) + box("CMT2", cmt2) +
                                           box("CMT4", cmt4));
  return ftyp + box("moov", uuid);
}

struct Row {
  const char* name;
  std::string bytes;
  const char* make;         // "" when none is read
  double exposureTime;      // 0 when none
  const char* latitudeRef;  // "" when none
};

std::vector<Row> rows() {
  std::string cutMrw = mrw(cameraTiff(true), 0);
  std::string longCmt = cr3(cameraTiff(false), exifFirstTiff(), gpsFirstTiff());
  longCmt.replace(longCmt.find("CMT1") - 4, 4, be32(0xFFFFFFF0u));  // a box past the file's end
  std::string cutRaf = rafWithExif();
  cutRaf.resize(cutRaf.find("Exif") + 40);  // the EXIF segment cut short
  return {
      {"camera.raf", rafWithExif(), "Vantor", 0.004, ""},
      {"ttw.mrw", mrw(cameraTiff(true), std::uint32_t(cameraTiff(true).size())), "Vantor", 0.004, ""},
      {"cmt.cr3", cr3(cameraTiff(false), exifFirstTiff(), gpsFirstTiff()), "Vantor", 0.004, "S"},
      // Damaged: what does not fit is not read.
      {"empty-ttw.mrw", cutMrw, "", 0, ""},
      {"long-ttw.mrw", mrw(cameraTiff(true), 0x7FFFFFFF), "", 0, ""},
      {"long-cmt1.cr3", longCmt, "", 0.004, "S"},
      {"cut.raf", cutRaf, "", 0, ""},
  };
}

TEST(RawMetadata, ARawThatIsNoTiffGivesItsOwnMetadata) {
  const photos::PhotoKind* kind = photos::PhotoKindForName("x.cr3");
  ASSERT_NE(kind, nullptr);
  testsupport::ScratchDir dir;
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.file(row.name);
    testsupport::writeFile(path, row.bytes);
    ExImageInfo record;
    kind->readMetadata(path, {reinterpret_cast<const std::uint8_t*>(row.bytes.data()), row.bytes.size()}, &record);
    EXPECT_STREQ(record.getMake() ? record.getMake() : "", row.make);
    EXPECT_NEAR(record.getExposureTimePresent() ? double(record.getExposureTime()) : 0.0, row.exposureTime, 1e-9);
    EXPECT_STREQ(record.getGpsLattitudeRefPresent() ? record.getGpsLattitudeRef() : "", row.latitudeRef);
    EXPECT_EQ(record.getFileName(), path);
  }
}

// The fixtures are what exiftool reads as those raws, to the same values.
TEST(RawMetadata, ExiftoolReadsTheFixturesAlike) {
  REQUIRE_TOOL("exiftool");
  testsupport::ScratchDir dir;
  for (const Row& row : rows()) {
    if (!*row.make) continue;
    SCOPED_TRACE(row.name);
    const std::string path = dir.file(row.name);
    testsupport::writeFile(path, row.bytes);
    std::string out;
    testsupport::run("exiftool -s3 -n -Make -ExposureTime -GPSLatitudeRef " + testsupport::shellQuote(path), &out);
    std::string expected = std::string(row.make) + "\n0.004\n";
    if (*row.latitudeRef) expected += std::string(row.latitudeRef) + "\n";
    EXPECT_EQ(out, expected);
  }
}

}  // namespace
