// SPDX-License-Identifier: GPL-2.0-or-later
// The EXIF segment made for a picture without one: what it holds read back by exiftool (the
// judge) and by our own tag reader, the rationals it writes, and its placement in a JPEG.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "media/ExifSegment.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

namespace {

using media::ExifFacts;
using media::ExifRational;

const std::uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

TEST(ExifSegment, RationalsAreTheNearestATiffHolds) {
  const struct {
    double value;
    std::uint32_t numerator, denominator;  // 0/0: none
  } cases[] = {
      {0.004, 1, 250},  {1.0 / 3, 1, 3},   {0.0125, 1, 80}, {8, 8, 1},       {5.1, 51, 10},
      {0.35, 7, 20},    {0, 0, 1},          {-1, 0, 0},      {NAN, 0, 0},     {INFINITY, 0, 0},
      {1e12, 0, 0},     {29.53, 2953, 100},
  };
  for (const auto& c : cases) {
    const std::optional<ExifRational> r = media::ExifRationalOf(c.value);
    if (c.denominator == 0) {
      EXPECT_FALSE(r.has_value()) << c.value;
      continue;
    }
    ASSERT_TRUE(r.has_value()) << c.value;
    EXPECT_EQ(r->numerator, c.numerator) << c.value;
    EXPECT_EQ(r->denominator, c.denominator) << c.value;
  }
}

ExifFacts fullFacts() {
  ExifFacts f;
  f.make = "NIKON CORPORATION";
  f.model = "NIKON D70";
  f.software = "Ver.2.00";
  f.artist = "Ann Other";
  f.dateTimeOriginal = "2007:05:22 13:58:30";
  f.offsetTimeOriginal = "+09:00";
  f.orientation = 6;
  f.exposureTime = ExifRational{1, 250};
  f.fNumber = ExifRational{8, 1};
  f.focalLength = ExifRational{70, 1};
  f.iso = 200;
  ExifFacts::Position p;
  p.latitude[0] = {33, 1}, p.latitude[1] = {51, 1}, p.latitude[2] = {2953, 100};
  p.longitude[0] = {151, 1}, p.longitude[1] = {12, 1}, p.longitude[2] = {0, 1};
  p.latitudeRef = 'S';
  p.longitudeRef = 'E';
  p.altitude = ExifRational{12, 1};
  p.belowSeaLevel = true;
  f.position = p;
  return f;
}

// Each set of facts, put into a plain JPEG, is read back the same by exiftool and our reader.
TEST(ExifSegment, ExiftoolAndOurReaderReadBackWhatWasPutIn) {
  REQUIRE_TOOL("exiftool");
  ExifFacts bare;
  bare.orientation = 3;
  ExifFacts longText;
  longText.model = std::string(400, 'M');
  longText.make = std::string("Ma\0ke", 5);  // a text ends at its first NUL
  const struct {
    const char* name;
    ExifFacts facts;
    std::string exiftool;  // -s -s -s of the tags below, one a line
  } cases[] = {
      {"full", fullFacts(),
       "NIKON CORPORATION\nNIKON D70\n6\n2007:05:22 13:58:30\n+09:00\n1/250\n8.0\n200\n70.0 mm\n"
       "33 deg 51' 29.53\" S\n151 deg 12' 0.00\" E\n12 m Below Sea Level\nAnn Other\nVer.2.00\n"},
      {"orientation alone", bare, "3\n"},
      {"texts cut", longText, "Ma\n" + std::string(255, 'M') + "\n"},
  };
  testsupport::ScratchDir dir;
  const std::string plain = fixtures::makeJpeg({32, 24});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string segment = media::ExifSegment(c.facts);
    ASSERT_LE(segment.size(), 65537u);
    const std::optional<std::vector<std::uint8_t>> made = media::JpegWithExif(bytesOf(plain), plain.size(), segment, true);
    ASSERT_TRUE(made.has_value());
    const std::optional<std::string> jpeg = std::string(made->begin(), made->end());
    // The picture itself follows unchanged.
    EXPECT_EQ(jpeg->substr(2 + segment.size()), plain.substr(2));
    const std::string path = dir.file(std::string(c.name) + ".jpg");
    testsupport::writeFile(path, *jpeg);
    std::string said;
    ASSERT_EQ(testsupport::run("exiftool -m -s -s -s -Make -Model -Orientation# -DateTimeOriginal -OffsetTimeOriginal "
                               "-ExposureTime -FNumber -ISO -FocalLength -GPSLatitude -GPSLongitude -GPSAltitude "
                               "-Artist -Software " + testsupport::shellQuote(path) + " 2>&1",
                               &said),
              0);
    EXPECT_EQ(said, c.exiftool);
    std::string warnings;
    testsupport::run("exiftool -validate -warning -a -s -s -s " + testsupport::shellQuote(path) + " 2>&1", &warnings);
    EXPECT_EQ(warnings.find("Error"), std::string::npos) << warnings;

    ExImageInfo record;
    JpegTagReader reader;
    reader.readTags(path, bytesOf(*jpeg), jpeg->size(), &record);
    EXPECT_EQ(record.getOrientationPresent() ? int(record.getOrientation()) : 0, c.facts.orientation);
    EXPECT_STREQ(record.getModel() ? record.getModel() : "", c.facts.model.substr(0, 255).c_str());
    EXPECT_EQ(record.getDateTimeOriginalPresent() ? std::string(record.getDateTimeOriginal()) : "",
              c.facts.dateTimeOriginal);
    if (c.facts.position) {
      ASSERT_TRUE(record.getGpsLattitudePresent());
      EXPECT_NEAR(record.getGpsLattitude()[2], 29.53, 1e-4);
      EXPECT_STREQ(record.getGpsLattitudeRef(), "S");
      EXPECT_EQ(record.getGpsAltitudeRef(), 1);
    }
  }
}

TEST(ExifSegment, PlacedRightAfterTheStartOfImage) {
  const std::string plain = fixtures::makeJpeg({16, 16});
  const std::string segment = media::ExifSegment(fullFacts());
  const std::string leading = std::string("\xFF\xE1\0\x10" "Exif\0\0", 10) + std::string(8, 'x');
  const std::string withLeading = "\xFF\xD8" + leading + plain.substr(2);
  // 2000 bytes of segment: longer than any the facts make.
  const std::string withLongLeading =
      "\xFF\xD8" + std::string("\xFF\xE1\x07\xCE" "Exif\0\0", 10) + std::string(1990, 'y') + plain.substr(2);
  const struct {
    const char* name;
    std::string jpeg;
    bool replace;
    std::optional<std::string> expected;
  } cases[] = {
      {"plain", plain, true, "\xFF\xD8" + segment + plain.substr(2)},
      {"a leading EXIF replaced", withLeading, true, "\xFF\xD8" + segment + plain.substr(2)},
      {"a leading EXIF kept", withLeading, false, "\xFF\xD8" + segment + withLeading.substr(2)},
      {"a leading EXIF past the end", withLeading.substr(0, 15), true, std::nullopt},
      {"a leading EXIF too short", "\xFF\xD8" + std::string("\xFF\xE1\0\x02" "Exif\0\0", 10) + plain.substr(2), true,
       std::nullopt},
      {"a long leading EXIF replaced", withLongLeading, true, "\xFF\xD8" + segment + plain.substr(2)},
      {"no JPEG", "II*\0" + plain, true, std::nullopt},
      {"empty", "", true, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto made = media::JpegWithExif(bytesOf(c.jpeg), c.jpeg.size(), segment, c.replace);
    EXPECT_EQ(made ? std::optional<std::string>(std::string(made->begin(), made->end())) : std::nullopt, c.expected)
        << c.name;
  }
  // In place, with a segment longer and one shorter than the one it replaces, the bytes come out
  // as the copy has them; where there is no copy, they stay as they were.
  media::ExifFacts bare;
  bare.orientation = 3;
  for (const std::string& put : {segment, media::ExifSegment(bare)}) {
    for (const auto& c : cases) {
      const auto made = media::JpegWithExif(bytesOf(c.jpeg), c.jpeg.size(), put, c.replace);
      std::vector<std::uint8_t> inPlace(c.jpeg.begin(), c.jpeg.end());
      EXPECT_EQ(media::JpegPutExif(&inPlace, put, c.replace), made.has_value()) << c.name;
      EXPECT_EQ(std::string(inPlace.begin(), inPlace.end()),
                made ? std::string(made->begin(), made->end()) : c.jpeg) << c.name << ", " << put.size();
    }
  }
}

}  // namespace
