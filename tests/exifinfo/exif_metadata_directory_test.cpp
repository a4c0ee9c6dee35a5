// SPDX-License-Identifier: GPL-2.0-or-later
// From an EXIF segment to the record: which directories are read, what each tag fills, and
// how transfer tables of any size reach the record's three tables of 256.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "ImageAudio/Tifflib/MemoryStream.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"
#include "exifinfo/ExifSegment.h"
#include "support/TiffBuilder.h"

using testsupport::TiffBuilder;

namespace {
using exifsegment::kExifId;
const auto readSegment = exifsegment::read;

struct Camera {
  TiffBuilder b;
  int ifd0, exif = -1, gps = -1;
  Camera(bool big, bool withExif, bool withGps) : b(big) {
    ifd0 = b.directory();
    b.ascii(ifd0, 271, "Canon");
    b.ascii(ifd0, 272, "Canon EOS");
    b.rationals(ifd0, 282, {{72, 1}});
    if (withExif) {
      exif = b.directory();
      b.pointer(ifd0, 34665, exif);
      b.rationals(exif, 33434, {{1, 125}});
      b.shorts(exif, 34855, {100, 200});
      b.bytes(exif, 36864, "0220");
      b.rationals(exif, 37377, {{uint32_t(-1), 3}}, 10);
      b.rationals(exif, 37380, {{uint32_t(-2), 3}}, 10);
      b.bytes(exif, 37510, std::string(100, 'c'));
      b.shorts(exif, 40962, {1600});  // SHORT, as the EXIF standard allows
      b.longs(exif, 40963, {1200});
      b.bytes(exif, 41728, "\3");
    }
    if (withGps) {
      gps = b.directory();
      b.pointer(ifd0, 34853, gps);
      b.bytes(gps, 0, std::string("\2\2\0\0", 4), 1);
      b.ascii(gps, 1, "N");
      b.rationals(gps, 2, {{54, 1}, {5938, 100}, {0, 1}});
      b.ascii(gps, 3, "W");
      b.rationals(gps, 4, {{1, 1}, {5485, 100}, {0, 1}});
      b.bytes(gps, 5, std::string("\1", 1), 1);
      b.rationals(gps, 6, {{1234, 10}});
      b.ascii(gps, 18, "WGS-84");
    }
  }
  std::string segment() const { return kExifId + b.build(); }
};
}  // namespace

TEST(ExifMetadataDirectories, PrimaryOnlyFillsPrimaryFields) {
  ExImageInfo r;
  readSegment(Camera(false, false, false).segment(), &r);
  EXPECT_STREQ(r.getMake(), "Canon");
  EXPECT_STREQ(r.getModel(), "Canon EOS");
  EXPECT_EQ(r.getSoftware(), nullptr);
  EXPECT_TRUE(r.getXResolutionPresent());
  EXPECT_EQ(r.getXResolution(), 72.0f);
  EXPECT_FALSE(r.getExifIFDPresent());
  EXPECT_FALSE(r.getGPSIFDPresent());
  EXPECT_FALSE(r.getExposureTimePresent());
}

TEST(ExifMetadataDirectories, ExifDirectoryFillsItsFieldsInEitherByteOrder) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    Camera cam(big, true, false);
    ExImageInfo r;
    readSegment(cam.segment(), &r);
    EXPECT_TRUE(r.getExifIFDPresent());
    EXPECT_EQ(r.getExifIFD(), SInt32(cam.b.offsetOf(cam.exif)));
    EXPECT_FALSE(r.getGPSIFDPresent());
    EXPECT_FLOAT_EQ(r.getExposureTime(), 1.0f / 125);
    ASSERT_EQ(r.getNumISOSpeeds(), 2);
    EXPECT_EQ(r.getISOSpeedRating()[1], 200);
    EXPECT_EQ(std::memcmp(r.getEXIFVersion(), "0220", 4), 0);
    EXPECT_FLOAT_EQ(r.getShutterSpeed(), -1.0f / 3);
    EXPECT_FLOAT_EQ(r.getExposureBias(), -2.0f / 3);
    ASSERT_EQ(r.getCommentLength(), 100);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.getComment()), 100), std::string(100, 'c'));
    EXPECT_EQ(r.getPixelXDimension(), 1600u);
    EXPECT_EQ(r.getPixelYDimension(), 1200u);
    EXPECT_EQ(r.getFileSource()[0], 3);
    EXPECT_FALSE(r.getDateTimeOriginalPresent());
    EXPECT_EQ(std::string(r.getDateTimeOriginal(), 20), std::string(20, '\0'));
    EXPECT_STREQ(r.getMake(), "Canon");  // taken out of IFD0 before the EXIF read
  }
}

TEST(ExifMetadataDirectories, GpsDirectoryFillsThePosition) {
  ExImageInfo r;
  readSegment(Camera(true, true, true).segment(), &r);
  EXPECT_TRUE(r.getGPSIFDPresent());
  EXPECT_TRUE(r.getGpsVersionIdPresent());
  EXPECT_EQ(std::memcmp(r.getGpsVersionId(), "\2\2\0\0", 4), 0);
  EXPECT_STREQ(r.getGpsLattitudeRef(), "N");
  EXPECT_FLOAT_EQ(r.getGpsLattitude()[1], 59.38f);
  EXPECT_STREQ(r.getGpsLongitudeRef(), "W");
  EXPECT_FLOAT_EQ(r.getGpsLongitude()[0], 1.0f);
  EXPECT_EQ(r.getGpsAltitudeRef(), 1);
  EXPECT_FLOAT_EQ(r.getGpsAltitude(), 123.4f);
  EXPECT_STREQ(r.getGpsMapDatum(), "WGS-84");
  EXPECT_TRUE(r.getExposureTimePresent());
}

// Orientation belongs to the primary directory: the eight EXIF values in either byte order; a
// value outside them, or one in the EXIF directory, gives none.
TEST(ExifMetadataDirectories, OrientationComesFromThePrimaryDirectoryOnly) {
  for (bool big : {false, true}) {
    for (uint16_t v = 0; v <= 9; ++v) {
      SCOPED_TRACE(std::string(big ? "MM " : "II ") + std::to_string(v));
      TiffBuilder b(big);
      const int ifd0 = b.directory();
      b.shorts(ifd0, 274, {v});
      b.ascii(ifd0, 271, "Canon");
      ExImageInfo r;
      readSegment(kExifId + b.build(), &r);
      const bool valid = v >= 1 && v <= 8;
      EXPECT_EQ(r.getOrientationPresent(), valid);
      if (valid) {
        EXPECT_EQ(r.getOrientation(), v);
      }
      EXPECT_STREQ(r.getMake(), "Canon");  // a refused value ends nothing else
    }
  }
  Camera cam(false, true, false);
  cam.b.shorts(cam.exif, 274, {6});
  ExImageInfo r;
  readSegment(cam.segment(), &r);
  EXPECT_FALSE(r.getOrientationPresent());
  EXPECT_TRUE(r.getExposureTimePresent());
}

TEST(ExifMetadataDirectories, ExifOffsetZeroAsksThePrimaryDirectory) {
  TiffBuilder b;
  const int ifd0 = b.directory();
  b.longs(ifd0, 34665, {0});
  b.rationals(ifd0, 33437, {{28, 10}});  // an EXIF tag misplaced in IFD0
  ExImageInfo r;
  readSegment(kExifId + b.build(), &r);
  EXPECT_TRUE(r.getExifIFDPresent());
  EXPECT_EQ(r.getExifIFD(), 0);
  EXPECT_TRUE(r.getFNumberPresent());
  EXPECT_FLOAT_EQ(r.getFNumber(), 2.8f);
}

TEST(ExifMetadataDirectories, SegmentsThatCannotHoldATiffStreamAreSkipped) {
  const std::string tiff = Camera(false, false, false).b.build();
  struct Case { std::string payload; bool read; } cases[] = {
      {"Exif", false},
      {kExifId, false},
      {"Exif\1\2" + tiff, true},  // the two padding bytes are not examined
      {std::string("Exig\0\0", 6) + tiff, false},
      {kExifId + tiff.substr(0, 7), false},
  };
  for (const Case& c : cases) {
    ExImageInfo r;
    readSegment(c.payload, &r);
    EXPECT_EQ(r.getMake() != nullptr, c.read) << c.payload.size();
  }
  // A later segment overwrites what an earlier one set.
  TiffBuilder other;
  other.ascii(other.directory(), 271, "Nikon");
  ExImageInfo r;
  JpegTagReader reader;
  reader.setDataStore(&r);
  for (const std::string& p : {kExifId + tiff, kExifId + other.build()})
    reader.readExifSegment(reinterpret_cast<const UInt8*>(p.data()), UInt32(p.size()));
  EXPECT_STREQ(r.getMake(), "Nikon");
  EXPECT_STREQ(r.getModel(), "Canon EOS");
}

// The record still holds the first segment's EXIF and GPS offsets while the second is read;
// bytes at those offsets in the second segment belong to no directory of its own.
TEST(ExifMetadataDirectories, ALaterSegmentFollowsOnlyItsOwnOffsets) {
  TiffBuilder first;
  const int ifd0 = first.directory(), exif = first.directory(), gps = first.directory();
  first.ascii(ifd0, 271, "Canon");
  first.pointer(ifd0, 34665, exif);
  first.pointer(ifd0, 34853, gps);
  first.rationals(exif, 33434, {{1, 125}});
  first.ascii(gps, 1, "N");
  TiffBuilder second;  // same layout, but its IFD0 names neither directory
  const int ifd0b = second.directory(), strayExif = second.directory(), strayGps = second.directory();
  second.ascii(ifd0b, 271, "Nikon");
  second.ascii(ifd0b, 272, "D1");
  second.ascii(ifd0b, 305, "v1");
  second.rationals(strayExif, 33437, {{28, 10}});
  second.ascii(strayGps, 1, "S");
  ASSERT_EQ(first.offsetOf(exif), second.offsetOf(strayExif));
  ASSERT_EQ(first.offsetOf(gps), second.offsetOf(strayGps));

  ExImageInfo r;
  JpegTagReader reader;
  reader.setDataStore(&r);
  for (const std::string& p : {kExifId + first.build(), kExifId + second.build()})
    reader.readExifSegment(reinterpret_cast<const UInt8*>(p.data()), UInt32(p.size()));
  EXPECT_STREQ(r.getMake(), "Nikon");
  EXPECT_FALSE(r.getFNumberPresent());
  EXPECT_STREQ(r.getGpsLattitudeRef(), "N");
  EXPECT_FLOAT_EQ(r.getExposureTime(), 1.0f / 125);  // the first segment's values stay
}

TEST(ExifMetadataDirectories, TransferTablesOfAnySizeFillThreeTablesOf256) {
  auto ramp = [](int n, int scale) {
    std::vector<uint16_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[size_t(i)] = uint16_t(i * scale);
    return v;
  };
  {  // EXIF's form: three tables of 256 with no depth or samples given
    TiffBuilder b;
    std::vector<uint16_t> t = ramp(256, 1), g = ramp(256, 2), bl = ramp(256, 3);
    t.insert(t.end(), g.begin(), g.end());
    t.insert(t.end(), bl.begin(), bl.end());
    b.shorts(b.directory(), 301, t);
    ExImageInfo r;
    readSegment(kExifId + b.build(), &r);
    ASSERT_TRUE(r.getTransferFunctionPresent());
    EXPECT_EQ(r.getTransferFunction()[255], 255);
    EXPECT_EQ(r.getTransferFunction()[256 + 10], 20);
    EXPECT_EQ(r.getTransferFunction()[512 + 255], 765);
  }
  {  // one table of 16 for 4-bit grey: resampled and used for all three
    TiffBuilder b;
    const int d = b.directory();
    b.shorts(d, 258, {4});
    b.shorts(d, 277, {1});
    b.shorts(d, 301, ramp(16, 100));
    ExImageInfo r;
    readSegment(kExifId + b.build(), &r);
    ASSERT_TRUE(r.getTransferFunctionPresent());
    const UInt16* f = r.getTransferFunction();
    EXPECT_EQ(f[0], 0);
    EXPECT_EQ(f[255], 1500);
    EXPECT_EQ(f[256 + 255], 1500);
    EXPECT_EQ(f[512 + 17], f[17]);
  }
  {  // EXIF's other form: one table with no depth given, used for all three
    TiffBuilder b(true);
    b.shorts(b.directory(), 301, ramp(64, 4));
    ExImageInfo r;
    readSegment(kExifId + b.build(), &r);
    ASSERT_TRUE(r.getTransferFunctionPresent());
    const UInt16* f = r.getTransferFunction();
    EXPECT_EQ(f[255], 252);
    EXPECT_EQ(f[256 + 255], 252);
    EXPECT_EQ(f[512 + 128], f[128]);
  }
  {  // a count that fits no table size is refused
    TiffBuilder b;
    b.shorts(b.directory(), 301, ramp(100, 1));
    ExImageInfo r;
    readSegment(kExifId + b.build(), &r);
    EXPECT_FALSE(r.getTransferFunctionPresent());
  }
}

// Depth and channels that change after the tables were taken in would have the copy index
// them by the new depth; the tables are dropped instead. The sanitizer build proves that no
// read strays past them; the presence flag shows the outcome in any build.
TEST(ExifMetadataDirectories, TransferTablesGoWhenTheDepthOrChannelsChangeAfterThem) {
  auto ramp = [](size_t n) {
    std::vector<uint16_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint16_t(i);
    return v;
  };
  struct Entry { uint16_t tag; std::vector<uint16_t> values; };
  struct Case { const char* what; std::vector<Entry> entries; bool kept; } cases[] = {
      {"tables before a larger depth", {{301, ramp(48)}, {258, {8}}}, false},
      {"one table of 256, then depth 16", {{301, ramp(256)}, {258, {16}}}, false},
      {"depth repeated larger", {{258, {4}}, {277, {1}}, {301, ramp(16)}, {258, {8}}}, false},
      {"depth repeated smaller", {{258, {8}}, {277, {1}}, {301, ramp(256)}, {258, {4}}}, false},
      {"second tables, then more channels", {{301, ramp(48)}, {277, {1}}, {258, {8}}, {301, ramp(256)}, {277, {3}}}, false},
      {"tables before the same depth and channels", {{301, ramp(768)}, {258, {8}}, {277, {3}}}, true},
  };
  for (bool big : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (big ? " MM" : " II"));
      TiffBuilder b(big);
      const int d = b.directory();
      for (const Entry& e : c.entries) b.shorts(d, e.tag, e.values);
      b.ascii(d, 271, "Canon");
      // An exact-size heap copy, so that the sanitizer sees any read past the segment.
      const std::string segment = kExifId + b.build();
      std::vector<UInt8> copy(segment.begin(), segment.end());
      ExImageInfo r;
      JpegTagReader reader;
      reader.setDataStore(&r);
      reader.readExifSegment(copy.data(), UInt32(copy.size()));
      EXPECT_EQ(r.getTransferFunctionPresent(), c.kept);
      EXPECT_STREQ(r.getMake(), "Canon");
      if (c.kept) {
        EXPECT_EQ(r.getTransferFunction()[512 + 255], 767);
      }
    }
}

TEST(ExifMetadataDirectories, EmptyEntryDoesNotEndTheDirectory) {
  TiffBuilder b;
  const int d = b.directory();
  b.entry(d, 270, 2, 0, "");  // an ImageDescription of count 0
  b.ascii(d, 271, "Kodak");
  ExImageInfo r;
  readSegment(kExifId + b.build(), &r);
  EXPECT_EQ(r.getImageDescription(), nullptr);
  EXPECT_STREQ(r.getMake(), "Kodak");
}

TEST(ExifMetadataDirectories, TiffFilesAreReadTheLibrarysOrdinaryWay) {
  TiffBuilder b;
  const int d = b.directory();
  const int exif = b.directory();
  b.longs(d, 256, {1});
  b.longs(d, 257, {1});
  b.shorts(d, 258, {8});
  b.shorts(d, 262, {1});
  b.ascii(d, 271, "Scanner");
  b.longs(d, 273, {8});
  b.shorts(d, 277, {1});
  b.longs(d, 279, {1});
  b.pointer(d, 34665, exif);
  b.rationals(exif, 33437, {{56, 10}});
  std::string tiff = b.build();
  const int32_t fd = mfs_open(tiff.data(), int32_t(tiff.size()), "r");
  TIFF* tif = XTIFFClientOpenNoRead("file.tif", "r", mfs_handle(fd), mfs_read, mfs_write, mfs_lseek,
                                    mfs_close, mfs_size, mfs_map, mfs_unmap);
  ASSERT_NE(tif, nullptr);
  ExImageInfo r;
  JpegTagReader reader;
  reader.setDataStore(&r);
  reader.readIFDs(tif, FOUR_CHAR_CODE("TIFF"));
  XTIFFClose(tif);
  EXPECT_STREQ(r.getMake(), "Scanner");
  EXPECT_TRUE(r.getExifIFDPresent());
  EXPECT_FLOAT_EQ(r.getFNumber(), 5.6f);
}

TEST(ExifMetadataDirectories, EveryDamagedByteStaysInsideTheSegment) {
  // Each byte in turn set to 0xFF or 0x00; the sanitizer build proves no read strays.
  const std::string good = Camera(false, true, true).segment();
  for (size_t i = 6; i < good.size(); ++i)
    for (char damage : {'\xff', '\0'}) {
      std::string bad = good;
      bad[i] = damage;
      // An exact-size heap copy, so that any read past the end is caught.
      std::vector<UInt8> copy(bad.begin(), bad.end());
      ExImageInfo r;
      JpegTagReader reader;
      reader.setDataStore(&r);
      reader.readExifSegment(copy.data(), UInt32(copy.size()));
    }
}
