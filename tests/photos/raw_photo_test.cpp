// SPDX-License-Identifier: GPL-2.0-or-later
// The raw photograph kind through the table of kinds: the names it takes, its still (the preview
// simple_dcraw -e extracts, upright by the raw's own orientation), its metadata, its refusals;
// and a raw beside its JPEG is that JPEG's. DNGs built by tests/support/DngBuilder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "photos/PhotoKinds.h"
#include "photos/PhotoPairs.h"
#include "support/DngBuilder.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

namespace {

std::span<const std::uint8_t> spanOf(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// A JPEG without the EXIF segment that directly follows its start of image, if it has one.
std::string withoutLeadingExif(const std::string& jpeg) {
  if (jpeg.size() < 12 || jpeg.compare(2, 2, "\xFF\xE1") != 0 || jpeg.compare(6, 6, std::string("Exif\0\0", 6)) != 0)
    return jpeg;
  const std::size_t length = (std::size_t(std::uint8_t(jpeg[4])) << 8) | std::uint8_t(jpeg[5]);
  return jpeg.substr(0, 2) + jpeg.substr(std::min(jpeg.size(), 4 + length));
}

TEST(RawPhotoKind, NamesAndPairs) {
  for (const char* name : {"DSC_0001.NEF", "/a/IMG_1.cr3", "x.Rw2", "y.3FR", "z.x3f", "p.IIQ", "q.dng", "r.ORF"})
    EXPECT_STREQ(photos::PhotoKindForName(name) ? photos::PhotoKindForName(name)->name : "none", "raw") << name;
  for (const char* name : {"nef", "r.nef.txt", "s.tif"}) EXPECT_EQ(photos::PhotoKindForName(name), nullptr) << name;

  const std::vector<std::string> card = {"DSC_0001.NEF", "DSC_0001.JPG", "DSC_0001.WAV", "DSC_0002.NEF",
                                         "DSC_0002.MP.jpg", "DSC_0003.RW2", "DSC_0003.DNG"};
  const struct {
    const char* path;
    const char* partner;
  } pairs[] = {
      {"/card/DSC_0001.NEF", "DSC_0001.JPG"}, {"/card/DSC_0001.JPG", ""},  // the JPEG is the picture
      {"/card/DSC_0002.NEF", ""},                                        // alone beside our own output
      {"/card/DSC_0003.RW2", ""},                                        // two raws: neither is finished
  };
  for (const auto& p : pairs) EXPECT_EQ(photos::PicturePartnerOf(p.path, card), p.partner) << p.path;
}

TEST(RawPhotoKind, StillIsTheUprightPreviewAndMetadataTheRawsOwn) {
  REQUIRE_TOOL("simple_dcraw");
  REQUIRE_TOOL("exiftool");
  const std::string corpus = testsupport::corpusDir();
  struct Row {
    std::string name, bytes;
    int width, height, orientation;
    const char* model;  // as our record reads it
    const char* words;  // of an unreadable one
    // What exiftool reads of the still: Make, Model, Orientation, DateTimeOriginal, one a line.
    std::string exif = "";
  };
  std::vector<Row> rows;
  auto dng = [](const testsupport::DngSpec& s) { return testsupport::buildDng(s, testsupport::dngPreviewJpeg(s)); };
  const std::string canon = "Canon\nCanon EOS 350D DIGITAL\n";
  rows.push_back({"a.dng", dng({.orientation = 6, .dateTimeOriginal = "2024:03:01 10:20:30"}), 64, 48, 6,
                  "Canon EOS 350D DIGITAL", "", canon + "6\n2024:03:01 10:20:30\n"});
  rows.push_back({"b.dng", dng({.jpegPreview = false, .bigEndian = true}), 24, 16, 1, "Canon EOS 350D DIGITAL", "",
                  canon + "1\n"});
  rows.push_back({"c.dng", dng({.thumbnail = false, .jpegPreview = false}), 0, 0, 1, "Canon EOS 350D DIGITAL",
                  "no preview picture to show"});
  if (!corpus.empty()) {
    auto file = [&](const char* name) { return testsupport::readFile(corpus + "/exiftool-raw/" + name); };
    // No TIFF: the camera's own EXIF, in the JPEG it keeps inside (LibRaw's preview says "S5Pro").
    rows.push_back({"FujiFilm.raf", file("FujiFilm.raf"), 160, 120, 1, "FinePix S5Pro  ", "",  // padded
                    "FUJIFILM\nFinePix S5Pro\n1\n2007:05:22 13:58:30\n"});
    // A preview with EXIF of its own keeps it.
    rows.push_back({"Panasonic.rw2", file("Panasonic.rw2"), 8, 8, 1, "DMC-LX3", "",
                    "Panasonic\nDMC-LX3\n1\n2008:08:06 15:21:56\n"});
    rows.push_back({"Nikon.nef", file("Nikon.nef"), 0, 0, 1, "NIKON D70", "no preview picture to show"});
    rows.push_back({"CanonRaw.cr2", file("CanonRaw.cr2"), 0, 0, 1, "Canon EOS 350D DIGITAL",
                    "not a raw photograph LibRaw reads"});
  }
  testsupport::ScratchDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir.file(row.name);
    testsupport::writeFile(path, row.bytes);
    ExImageInfo record;
    photos::ReadPhotograph read = photos::ReadPhotographBytes(path, spanOf(row.bytes), &record);
    ASSERT_STREQ(read.kind->name, "raw");
    EXPECT_STREQ(record.getModel() ? record.getModel() : "", row.model);
    EXPECT_EQ(record.getFileName(), path);
    if (*row.words) {
      EXPECT_FALSE(read.readable());
      EXPECT_EQ(read.kind->unreadable(spanOf(row.bytes)), row.words);
      continue;
    }
    ASSERT_TRUE(read.readable());
    EXPECT_EQ(read.still.width * 1000 + read.still.height, row.width * 1000 + row.height);
    EXPECT_EQ(record.getPixelWidth(), UInt32(row.width));
    EXPECT_EQ(read.still.orientation, row.orientation);
    std::string ext;
    const std::string judge = testsupport::simpleDcrawExtract(path, &ext);
    const std::string still(read.still.jpeg.begin(), read.still.jpeg.end());
    // A bitmap preview is handed on as a JPEG of its own; a JPEG one as LibRaw extracts it, with
    // the raw's EXIF in place of the one LibRaw makes up for a preview without its own.
    if (ext == "jpg") EXPECT_TRUE(withoutLeadingExif(still) == withoutLeadingExif(judge));
    else EXPECT_EQ(still.substr(0, 2), "\xFF\xD8");
    const std::string stillPath = path + ".still.jpg";
    testsupport::writeFile(stillPath, still);
    std::string exif;
    ASSERT_EQ(testsupport::run("exiftool -m -s -s -s -Make -Model -Orientation# -DateTimeOriginal " +
                                   testsupport::shellQuote(stillPath),
                               &exif),
              0);
    EXPECT_EQ(exif, row.exif);

    // Asked again (with the first still held, then with none held, from a record of nothing and
    // back): each still is what the first was for its record, and a still held never changes.
    auto text = [](const media::Still& s) { return std::string(s.jpeg.begin(), s.jpeg.end()); };
    media::Still again = read.kind->still(spanOf(row.bytes), record);
    EXPECT_EQ(text(again), still);
    read.still = {};
    again = {};
    ExImageInfo bare;
    std::string ofBare;
    {
      const media::Still other = read.kind->still(spanOf(row.bytes), bare);
      ofBare = text(other);
      EXPECT_EQ(withoutLeadingExif(ofBare), withoutLeadingExif(still));
    }
    const media::Still back = read.kind->still(spanOf(row.bytes), record);
    EXPECT_EQ(text(back), still);
    EXPECT_EQ(text(read.kind->still(spanOf(row.bytes), bare)), ofBare);
    EXPECT_EQ(text(back), still);
  }
}

// Raws that crash LibRaw as it reads their TIFF directories (found by fuzzing): the program,
// reading them for a movie and for --info, refuses them in words, and leaves only what was there.
TEST(RawPhotoKind, RawsThatCrashLibRawAreRefusedInWords) {
  const std::string hostile = testsupport::sourceDir() + "/tests/photos/hostile-raws";
  testsupport::ScratchDir dir;
  for (const char* name : {"tiff-directory-1.dng", "tiff-directory-2.dng", "tiff-directory-3.dng"}) {
    SCOPED_TRACE(name);
    const std::string bytes = testsupport::readFile(hostile + "/" + name);
    ASSERT_FALSE(bytes.empty());
    const std::string path = dir.file(name);
    testsupport::writeFile(path, bytes);
    const std::string wave = path.substr(0, path.size() - 4) + ".wav";
    testsupport::writeFile(wave, fixtures::makeWave(fixtures::WaveKind::pcm16Mono));
    for (const char* command : {"", "--info "}) {
      std::string said;
      const int rc = testsupport::run(testsupport::shellQuote(testsupport::binaryPath()) + " " + command +
                                          testsupport::shellQuote(path) + " 2>&1",
                                      &said);
      EXPECT_EQ(rc, 1) << said;
      EXPECT_NE(said.find(std::string(name) + ": cannot be read (the raw photograph could not be read)"),
                std::string::npos)
          << said;
    }
    EXPECT_EQ(testsupport::readFile(path), bytes);
  }
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) left.push_back(e.path().filename());
  EXPECT_EQ(left.size(), 6u);  // the raws and their recordings
}

}  // namespace
