// SPDX-License-Identifier: GPL-2.0-or-later
// Entries real cameras write outside the EXIF table's types and counts, rebuilt as small
// segments: each is read as exiftool reads it, a rational without a value is absent, and one
// bad entry never costs the rest of its directory.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "exifinfo/ExifSegment.h"
#include "support/TiffBuilder.h"

using testsupport::TiffBuilder;

namespace {
using exifsegment::kExifId;
const auto readSegment = exifsegment::read;

// A primary directory pointing at an EXIF directory (and a GPS one when asked), filled by the
// caller.
struct Segment {
  TiffBuilder b;
  int ifd0, exif, gps;
  explicit Segment(bool big = false) : b(big) {
    ifd0 = b.directory();
    exif = b.directory();
    gps = b.directory();
    b.ascii(ifd0, 271, "Camera");
    b.pointer(ifd0, 34665, exif);
    b.pointer(ifd0, 34853, gps);
  }
  ExImageInfo* read(ExImageInfo* r) const {
    readSegment(kExifId + b.build(), r);
    return r;
  }
};
}  // namespace

// Pentax Optio S4, FujiFilm FinePix 4900Zoom, Sony DSC-P150, Olympus E-M10 and a Nikon D3 store
// dates 21 or 19 bytes long; a text that is no date keeps being refused at those counts.
TEST(CameraEntries, DatesOfAnyCountFromNineteenAreTaken) {
  struct Case {
    const char* what;
    std::string stored;
    const char* expected;  // null: refused
  } cases[] = {
      {"19, no terminator", "2004:01:31 12:00:05", "2004:01:31 12:00:05"},
      {"21, trailing blank", std::string("2004:01:31 12:00:05 \0", 21), "2004:01:31 12:00:05"},
      {"21, two NULs", std::string("2004:01:31 12:00:05\0\0", 21), "2004:01:31 12:00:05"},
      {"unknown digits as blanks", "    :  :     :  :  ", "    :  :     :  :  "},
      {"18 characters", std::string("2004:01:31 12:00:0\0", 19), nullptr},
      {"21, no date", std::string("last tuesday at noon\0", 21), nullptr},
  };
  for (bool big : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (big ? " MM" : " II"));
      Segment s(big);
      s.b.entry(s.exif, 36867, 2, uint32_t(c.stored.size()), c.stored);
      s.b.entry(s.exif, 36868, 2, uint32_t(c.stored.size()), c.stored);
      s.b.rationals(s.exif, 37386, {{50, 1}});
      ExImageInfo r;
      s.read(&r);
      EXPECT_EQ(r.getDateTimeOriginalPresent(), c.expected != nullptr);
      EXPECT_EQ(r.getDateTimeDigitizedPresent(), c.expected != nullptr);
      if (c.expected) {
        EXPECT_STREQ(r.getDateTimeOriginal(), c.expected);
        EXPECT_STREQ(r.getDateTimeDigitized(), c.expected);
      }
      EXPECT_TRUE(r.getFocalLengthPresent());
    }
}

// A single 0/0 or n/0 has no value (Traveler SX330Z SubjectDistance, Motorola XT912
// ExposureIndex, Nexus S ExposureCompensation); in GPSLongitude (Nikon D5000) it leaves the
// longitude without one, and the altitude and references after it are still read.
TEST(CameraEntries, ZeroDenominatorsLeaveTheirFieldAbsentAndTheDirectoryRead) {
  Segment s;
  s.b.rationals(s.exif, 37380, {{0, 0}}, 10);
  s.b.rationals(s.exif, 37382, {{0, 0}});
  s.b.rationals(s.exif, 37386, {{35, 1}});
  s.b.rationals(s.exif, 41493, {{100, 0}});
  s.b.shorts(s.exif, 41495, {2});
  s.b.ascii(s.gps, 1, "N");
  s.b.rationals(s.gps, 2, {{48, 1}, {51, 1}, {30, 1}});
  s.b.ascii(s.gps, 3, "E");
  s.b.rationals(s.gps, 4, {{2, 1}, {0, 0}, {20, 1}});
  s.b.bytes(s.gps, 5, std::string("\0", 1), 1);
  s.b.rationals(s.gps, 6, {{35, 1}});
  ExImageInfo r;
  s.read(&r);
  EXPECT_FALSE(r.getExposureBiasPresent());
  EXPECT_FALSE(r.getSubjectDistancePresent());
  EXPECT_FALSE(r.getExposureIndexPresent());
  EXPECT_TRUE(r.getFocalLengthPresent());
  EXPECT_EQ(r.getSensingMethod(), 2);
  EXPECT_TRUE(r.getGpsLattitudePresent());
  EXPECT_FALSE(r.getGpsLongitudePresent());
  EXPECT_STREQ(r.getGpsLattitudeRef(), "N");
  EXPECT_STREQ(r.getGpsLongitudeRef(), "E");
  EXPECT_TRUE(r.getGpsAltitudeRefPresent());
  EXPECT_FLOAT_EQ(r.getGpsAltitude(), 35.0f);
}

// Types next to the table's: ShutterSpeedValue unsigned (FujiFilm DS-7, a Bushnell trail
// camera), ExifVersion as ASCII (FLIR), SceneType as BYTE, SpatialFrequencyResponse as LONG,
// LightSource as LONG, PixelXDimension as SHORT, GPS position as SRATIONAL.
TEST(CameraEntries, CompatibleTypesAreTaken) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    Segment s(big);
    s.b.rationals(s.exif, 37377, {{6, 1}}, 5);
    s.b.ascii(s.exif, 36864, "0230", 4);
    s.b.ascii(s.exif, 40960, "0100");  // with its terminator: count 5
    s.b.rationals(s.exif, 37378, {{4, 1}}, 10);
    s.b.longs(s.exif, 37384, {10});
    s.b.shorts(s.exif, 40962, {640});
    s.b.shorts(s.exif, 40963, {480}, 8);  // SSHORT
    s.b.longs(s.exif, 41484, {0x01020304});
    s.b.bytes(s.exif, 41729, "\1", 1);
    s.b.rationals(s.gps, 2, {{48, 1}, {30, 1}, {0, 1}}, 10);
    ExImageInfo r;
    s.read(&r);
    ASSERT_TRUE(r.getShutterSpeedPresent());
    EXPECT_FLOAT_EQ(r.getShutterSpeed(), 6.0f);
    ASSERT_TRUE(r.getVersionPresent());
    EXPECT_EQ(std::memcmp(r.getEXIFVersion(), "0230", 4), 0);
    ASSERT_TRUE(r.getFlashPixVersionPresent());
    EXPECT_EQ(std::memcmp(r.getFlashPixVersion(), "0100", 4), 0);
    EXPECT_FLOAT_EQ(r.getApertureValue(), 4.0f);
    EXPECT_TRUE(r.getLightSourcePresent());
    EXPECT_EQ(r.getLightSource(), 10);
    EXPECT_EQ(r.getPixelXDimension(), 640u);
    EXPECT_EQ(r.getPixelYDimension(), 480u);
    ASSERT_EQ(r.getSpatialFreqResponseLength(), 4);
    ASSERT_TRUE(r.getSceneTypePresent());
    EXPECT_EQ(r.getSceneType()[0], 1);
    ASSERT_TRUE(r.getGpsLattitudePresent());
    EXPECT_FLOAT_EQ(r.getGpsLattitude()[1], 30.0f);
  }
}

// Where one value is wanted, the first of several is taken (Olympus E-M10's Flash of count 2,
// Kodak's pixel dimensions of two values, Sigma's FileSource of four bytes); values that do not
// fit the field are refused alone; RelatedSoundFile of any count fitting its field is read
// (exiftool writes "ok.wav" with count 7).
TEST(CameraEntries, LongerCountsGiveTheirFirstValueAndMisfitsAreRefusedAlone) {
  Segment s;
  s.b.longs(s.exif, 37383, {5}, 9);                // MeteringMode as SLONG
  s.b.shorts(s.exif, 37385, {16, 0});              // Flash, count 2
  s.b.longs(s.exif, 37384, {70000});               // LightSource beyond 16 bits
  s.b.shorts(s.exif, 34850, {0xFFFF}, 8);          // ExposureProgram -1 as SSHORT
  s.b.longs(s.exif, 40962, {2048, 0});
  s.b.bytes(s.exif, 41728, std::string("\3\0\0\0", 4));
  s.b.ascii(s.exif, 40964, "ok.wav");
  s.b.rationals(s.exif, 37386, {{18, 1}, {55, 1}});  // FocalLength, count 2
  s.b.shorts(s.exif, 41492, {10});                   // SubjectLocation needs two
  ExImageInfo r;
  s.read(&r);
  EXPECT_EQ(r.getMeteringMode(), 5);
  EXPECT_TRUE(r.getFlashPresent());
  EXPECT_EQ(r.getFlash(), 16);
  EXPECT_FALSE(r.getLightSourcePresent());
  EXPECT_FALSE(r.getExposureProgramPresent());
  EXPECT_EQ(r.getPixelXDimension(), 2048u);
  ASSERT_TRUE(r.getFileSourcePresent());
  EXPECT_EQ(r.getFileSource()[0], 3);
  ASSERT_TRUE(r.getRelatedSoundFilePresent());
  EXPECT_STREQ(r.getRelatedSoundFile(), "ok.wav");
  EXPECT_FLOAT_EQ(r.getFocalLength(), 18.0f);
  EXPECT_FALSE(r.getSubjectLocationPresent());
}

// An Olympus E-M10 EXIF directory with its odd entries and damage around the good ones: every
// good entry is read.
TEST(CameraEntries, OneBadEntryNeverEmptiesItsDirectory) {
  Segment s;
  s.b.rationals(s.exif, 33434, {{1, 60}});
  s.b.rawEntry(s.exif, 33437, 5, 1, 0xFFFFFF00u);  // value beyond the stream
  s.b.rawEntry(s.exif, 34850, 99, 1, 2);           // no such type
  s.b.rationals(s.exif, 34855, {{100, 1}});        // ISO as RATIONAL
  s.b.entry(s.exif, 36867, 2, 20, std::string("2015:06:01 10:00:00\0", 20));
  s.b.shorts(s.exif, 37385, {24, 0});
  s.b.ascii(s.exif, 40964, "A_VERY_LONG_NAME.WAV");  // longer than the field holds
  s.b.shorts(s.exif, 41495, {2});
  ExImageInfo r;
  s.read(&r);
  EXPECT_FLOAT_EQ(r.getExposureTime(), 1.0f / 60);
  EXPECT_FALSE(r.getFNumberPresent());
  EXPECT_FALSE(r.getExposureProgramPresent());
  EXPECT_EQ(r.getISOSpeedRating(), nullptr);
  EXPECT_STREQ(r.getDateTimeOriginal(), "2015:06:01 10:00:00");
  EXPECT_EQ(r.getFlash(), 24);
  EXPECT_FALSE(r.getRelatedSoundFilePresent());
  EXPECT_EQ(r.getSensingMethod(), 2);
}

// The primary directory's own TIFF tags are read the same way.
TEST(CameraEntries, PrimaryTagsTakeCompatibleTypesAndTheFirstValue) {
  Segment s;
  s.b.shorts(s.ifd0, 274, {6, 1});          // Orientation, count 2
  s.b.rationals(s.ifd0, 532, {{0, 1}, {255, 1}, {128, 0}, {255, 1}, {128, 1}, {255, 1}});
  s.b.rationals(s.ifd0, 283, {{300, 1}}, 10);  // YResolution as SRATIONAL
  s.b.longs(s.ifd0, 296, {2});              // ResolutionUnit as LONG
  s.b.longs(s.ifd0, 531, {70000});          // YCbCrPositioning beyond 16 bits
  s.b.ascii(s.ifd0, 305, "Firmware 1.0");
  ExImageInfo r;
  s.read(&r);
  EXPECT_EQ(r.getOrientation(), 6);
  EXPECT_FALSE(r.getRefBlackWhitePresent());
  EXPECT_FLOAT_EQ(r.getYResolution(), 300.0f);
  EXPECT_TRUE(r.getResolutionUnitPresent());
  EXPECT_EQ(r.getResolutionUnit(), 2);
  EXPECT_FALSE(r.getYcbcrPresent());
  EXPECT_STREQ(r.getSoftware(), "Firmware 1.0");
  EXPECT_TRUE(r.getExifIFDPresent());
}

// A rational written as another type of the same bytes (a Bushnell trail camera's
// ExposureBiasValue 36/18 as four SHORTs) reads as exiftool reads it, the bytes as the rational;
// a single small integer stays the integer it is.
TEST(CameraEntries, RationalsWrittenAsOtherTypesOfTheirBytesReadAsRationals) {
  for (bool big : {false, true}) {
    const std::vector<uint16_t> halves = big ? std::vector<uint16_t>{0, 36, 0, 18} : std::vector<uint16_t>{36, 0, 18, 0};
    const std::vector<std::function<void(Segment&)>> writes = {
        [&](Segment& s) { s.b.shorts(s.exif, 37380, halves); },     // 2
        [&](Segment& s) { s.b.shorts(s.exif, 37380, halves, 8); },  // 2, SSHORT
        [](Segment& s) { s.b.longs(s.exif, 37380, {uint32_t(-6), 3}, 9); },  // -2, SLONG
        [](Segment& s) { s.b.shorts(s.exif, 37380, {2}); },         // 2, one SHORT
    };
    for (std::size_t k = 0; k < writes.size(); ++k) {
      SCOPED_TRACE(testing::Message() << (big ? "MM " : "II ") << k);
      Segment s(big);
      writes[k](s);
      s.b.longs(s.gps, 2, {48, 1, 30, 1, 15, 2});  // GPSLatitude's three rationals as six LONGs
      ExImageInfo r;
      s.read(&r);
      EXPECT_FLOAT_EQ(r.getExposureBias(), k == 2 ? -2.0f : 2.0f);
      ASSERT_TRUE(r.getGpsLattitudePresent());
      EXPECT_FLOAT_EQ(r.getGpsLattitude()[2], 7.5f);
    }
  }
}
