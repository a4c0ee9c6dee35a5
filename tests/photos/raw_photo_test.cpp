// SPDX-License-Identifier: GPL-2.0-or-later
// The raw photograph kind through the table of kinds: the names and bytes it takes, its still
// (the preview simple_dcraw -e extracts, upright by the raw's own orientation) and its metadata,
// on DNGs built here (Adobe DNG Specification 1.4 on TIFF 6.0) and the shared corpus's raws.
#include <gtest/gtest.h>

#include <string>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "media/JpegStructure.h"
#include "photos/PhotoKinds.h"
#include "support/DngBuilder.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

namespace {
using testsupport::DngSpec;

std::span<const std::uint8_t> spanOf(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string simpleDcrawJpeg(const std::string& path) {
  std::string out;
  testsupport::run("cd " + testsupport::shellQuote(path.substr(0, path.rfind('/'))) + " && simple_dcraw -e " +
                   testsupport::shellQuote(path) + " >/dev/null 2>&1");
  return testsupport::readFile(path + ".thumb.jpg");
}

TEST(RawPhotoKind, TakesRawNamesAndLeavesOthers) {
  const struct {
    const char* name;
    const char* kind;  // nullptr: no kind
  } cases[] = {
      {"DSC_0001.NEF", "raw"}, {"/a/b/IMG_1.cr3", "raw"}, {"x.Rw2", "raw"}, {"y.3FR", "raw"}, {"z.x3f", "raw"},
      {"p.IIQ", "raw"},        {"q.dng", "raw"},          {"DSC_0001.JPG", "jpeg"},             {"nef", nullptr},
      {"r.nef.txt", nullptr},  {"s.tif", nullptr},
  };
  for (const auto& c : cases) {
    const photos::PhotoKind* kind = photos::PhotoKindForName(c.name);
    EXPECT_EQ(kind ? std::string(kind->name) : "none", c.kind ? c.kind : "none") << c.name;
  }
}

struct DngRow {
  const char* name;
  DngSpec spec;
  bool readable;
  int width, height, orientation;
  const char* words;  // what an unreadable one says
};
const DngRow kDngRows[] = {
    {"jpeg preview", {}, true, 64, 48, 1, ""},
    {"turned right by IFD0", {.orientation = 6}, true, 64, 48, 6, ""},
    {"big-endian, turned left", {.orientation = 8, .bigEndian = true}, true, 64, 48, 8, ""},
    {"bitmap thumbnail only", {.jpegPreview = false}, true, 24, 16, 1, ""},
    {"raw data only", {.thumbnail = false, .jpegPreview = false}, false, 0, 0, 1, "no preview picture to show"},
    {"preview of 65000 x 65000", {.declaredWidth = 65000, .declaredHeight = 65000}, false, 0, 0, 1,
     "its preview picture is too large to show"},
};

TEST(RawPhotoKind, DngStillIsItsPreviewUprightWithTheRawsOwnMetadata) {
  REQUIRE_TOOL("simple_dcraw");
  testsupport::ScratchDir dir;
  for (const DngRow& row : kDngRows) {
    SCOPED_TRACE(row.name);
    const std::string dng = testsupport::buildDng(row.spec, testsupport::dngPreviewJpeg(row.spec));
    const std::string path = dir.file("DSC_0001.DNG");
    testsupport::writeFile(path, dng);
    ASSERT_STREQ(photos::PhotoKindForBytes(spanOf(dng)).name, "raw");

    ExImageInfo record;
    const photos::ReadPhotograph read = photos::ReadPhotographBytes(path, spanOf(dng), &record);
    ASSERT_STREQ(read.kind->name, "raw");
    // Metadata from the raw's own IFD0, whatever the preview says.
    EXPECT_STREQ(record.getModel(), "Canon EOS 350D DIGITAL");
    EXPECT_EQ(record.getOrientation(), row.spec.orientation);
    EXPECT_EQ(record.getFileName(), path);
    ASSERT_EQ(read.readable(), row.readable);
    if (!row.readable) {
      EXPECT_EQ(read.kind->unreadable(spanOf(dng)), row.words);
      continue;
    }
    EXPECT_EQ(read.still.width, row.width);
    EXPECT_EQ(read.still.height, row.height);
    EXPECT_EQ(read.still.orientation, row.orientation);
    EXPECT_EQ(record.getPixelWidth(), UInt32(row.width));
    ASSERT_NE(read.still.owner, nullptr);
    const std::string still(read.still.jpeg.begin(), read.still.jpeg.end());
    media::JpegLayout layout;
    ASSERT_EQ(media::ParseJpegLayout(read.still.jpeg.data(), read.still.jpeg.size(), &layout), media::Status::ok);
    EXPECT_EQ(int(layout.width), row.width);
    EXPECT_EQ(media::JpegMissingPart(layout), nullptr);
    if (row.spec.jpegPreview) {
      EXPECT_EQ(still, simpleDcrawJpeg(path));
    }
  }
}

// The corpus's RAF is no TIFF: its metadata is what LibRaw read, as the EXIF it gives the
// preview; its CR2 is TIFF-based but no raw LibRaw reads, and says so.
TEST(RawPhotoKind, SharedCorpusRawsThroughTheTable) {
  const std::string corpus = testsupport::corpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no shared corpus";
  REQUIRE_TOOL("simple_dcraw");
  testsupport::ScratchDir dir;
  const struct {
    const char* file;
    bool readable;
    const char* model;
    const char* words;
  } cases[] = {
      {"FujiFilm.raf", true, "S5Pro", ""},  // LibRaw's name; the camera wrote "FinePix S5Pro"
      {"Panasonic.rw2", true, "DMC-LX3", ""},
      {"Nikon.nef", false, "NIKON D70", "no preview picture to show"},
      {"CanonRaw.cr2", false, "Canon EOS 350D DIGITAL", "not a raw photograph LibRaw reads"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string bytes = testsupport::readFile(corpus + "/exiftool-raw/" + c.file);
    const std::string path = dir.file(c.file);
    testsupport::writeFile(path, bytes);
    ASSERT_STREQ(photos::PhotoKindForName(path)->name, "raw");
    ExImageInfo record;
    const photos::ReadPhotograph read = photos::ReadPhotographBytes(path, spanOf(bytes), &record);
    ASSERT_STREQ(read.kind->name, "raw");
    EXPECT_STREQ(record.getModel() ? record.getModel() : "", c.model);
    ASSERT_EQ(read.readable(), c.readable);
    if (!c.readable) {
      EXPECT_EQ(read.kind->unreadable(spanOf(bytes)), c.words);
      continue;
    }
    EXPECT_EQ(std::string(read.still.jpeg.begin(), read.still.jpeg.end()), simpleDcrawJpeg(path));
  }
}

}  // namespace
