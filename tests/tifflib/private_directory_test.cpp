// SPDX-License-Identifier: GPL-2.0-or-later
// Opening without a directory read and reading directories at any offset: byte orders,
// refused entries with their messages, damaged offsets, and the writer's round trip.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"
#include "support/TiffBuilder.h"
#include "tifflib/TiffTestSupport.h"

using testsupport::TiffBuilder;
using tifftest::MessageCapture;
using tifftest::OpenStream;

namespace {
TiffBuilder sampleIfd0(bool big) {
  TiffBuilder b(big);
  const int ifd0 = b.directory();
  b.ascii(ifd0, 271, "Canon");
  b.rationals(ifd0, 282, {{180, 1}});
  b.shorts(ifd0, 296, {2});
  b.shorts(ifd0, 531, {1});
  b.ascii(ifd0, 33432, "me");
  b.longs(ifd0, 34665, {2090});
  return b;
}
}  // namespace

TEST(PrivateDirectory, OpenReadsNoDirectoryThenReadsIfd0InEitherByteOrder) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    OpenStream s(sampleIfd0(big).build());
    ASSERT_NE(s.tif, nullptr);
    EXPECT_EQ(TIFFCurrentDirectory(s.tif), tdir_t(-1));
    uint32_t exif = 0;
    EXPECT_EQ(TIFFGetField(s.tif, 34665, &exif), 0);
    EXPECT_EQ(TIFFPrivateFirstDirectoryOffset(s.tif), 8u);
    ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
    EXPECT_EQ(TIFFGetField(s.tif, 34665, &exif), 1);
    EXPECT_EQ(exif, 2090u);
    uint16_t unit = 0, pos = 0;
    EXPECT_EQ(TIFFGetField(s.tif, 296, &unit), 1);
    EXPECT_EQ(unit, 2);  // a SHORT in the value field, from its high half when big-endian
    EXPECT_EQ(TIFFGetField(s.tif, 531, &pos), 1);
    EXPECT_EQ(pos, 1);
    float xres = 0;
    EXPECT_EQ(TIFFGetField(s.tif, 282, &xres), 1);
    EXPECT_FLOAT_EQ(xres, 180.0f);
    char* make = nullptr;
    ASSERT_EQ(TIFFGetField(s.tif, 271, &make), 1);
    EXPECT_STREQ(make, "Canon");
    // Offset 0 reads nothing and leaves the directory in place.
    EXPECT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 0), 0);
    EXPECT_EQ(TIFFGetField(s.tif, 34665, &exif), 1);
  }
}

TEST(PrivateDirectory, BadHeadersFailTheOpenWithTheirMessageAndCloseTheStream) {
  struct Case { std::string bytes; std::string message; } cases[] = {
      {std::string("XX\x2a\0\x08\0\0\0", 8), "E APP1: Not a TIFF file, bad magic number 22616 (0x5858)"},
      {std::string("MI\0\x2a\0\0\0\x08", 8), "E APP1: Not a TIFF file, bad magic number 18765 (0x494d)"},
      {std::string("IM\x2a\0\x08\0\0\0", 8), "E APP1: Not a TIFF file, bad magic number 19785 (0x4d49)"},
      {std::string("II\x2a\0\x08\0", 6), "E APP1: Cannot read TIFF header"},
      {std::string("II\x2b\0\x08\0\0\0", 8), "E APP1: Not a TIFF file, bad version number 43 (0x2b)"},
      {std::string(), "E APP1: Cannot read TIFF header"},
  };
  for (const Case& c : cases) {
    MessageCapture capture;
    OpenStream s(c.bytes);
    EXPECT_EQ(s.tif, nullptr);
    EXPECT_EQ(capture.count(c.message), 1) << capture.all();
    errno = 0;
    EXPECT_EQ(mfs_close(s.fd), -1);  // already closed by the failed open
    EXPECT_EQ(errno, EBADF);
  }
  MessageCapture capture;
  OpenStream s(sampleIfd0(false).build(), "x");
  EXPECT_EQ(s.tif, nullptr);
}

TEST(PrivateDirectory, RefusedEntriesAreSkippedWithTheirWarningAndTheRestIsRead) {
  TiffBuilder b;
  const int d = b.directory();
  b.ascii(d, 271, "Make");
  b.rationals(d, 34665, {{7, 1}});              // ExifTag as RATIONAL: wrong type
  b.shorts(d, 50000, {1});                      // unknown
  b.ascii(d, 36867, "2004:01:31 12:00:0");      // 19 bytes: wrong count
  b.ascii(d, 37520, "ab");                      // count 3, in the value field
  b.rationals(d, 33434, {{1, 0}});              // single zero denominator: no value
  b.shorts(d, 34855, {100, 200});
  MessageCapture capture;
  OpenStream s(b.build());
  ASSERT_NE(s.tif, nullptr);
  EXPECT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
  EXPECT_EQ(capture.count("W APP1: wrong data type 5 for \"ExifTag\"; tag ignored"), 1) << capture.all();
  EXPECT_EQ(capture.count("W APP1: unknown field with tag 50000 (0xc350) in private subdirectory ignored"), 1);
  EXPECT_EQ(capture.count("W APP1: incorrect count for field \"DateTimeOriginal\" (19, expecting 20); tag ignored"), 1);
  EXPECT_EQ(capture.count("W APP1: ExposureTime: Rational with zero denominator (num = 1); tag ignored"), 1);
  uint32_t exif = 0;
  EXPECT_EQ(TIFFGetField(s.tif, 34665, &exif), 0);
  void* date = nullptr;
  EXPECT_EQ(TIFFGetField(s.tif, 36867, &date), 0);
  char* sub = nullptr;
  ASSERT_EQ(TIFFGetField(s.tif, 37520, &sub), 1);
  EXPECT_STREQ(sub, "ab");
  float exposure = 0;
  EXPECT_EQ(TIFFGetField(s.tif, 33434, &exposure), 0);
  uint16_t n = 0;
  uint16_t* iso = nullptr;
  ASSERT_EQ(TIFFGetField(s.tif, 34855, &n, &iso), 1);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(iso[0], 100);
  EXPECT_EQ(iso[1], 200);
}

TEST(PrivateDirectory, DescendingTagsWarnOnceAndAreAllFound) {
  TiffBuilder b(true);
  const int d = b.directory();
  b.shorts(d, 41495, {2});
  b.shorts(d, 37385, {1});
  b.shorts(d, 34850, {3});
  MessageCapture capture;
  OpenStream s(b.build());
  ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
  EXPECT_EQ(capture.count("W APP1: invalid TIFF private subdirectory; tags are not sorted in ascending order"), 1);
  uint16_t v = 0;
  for (uint32_t tag : {41495u, 37385u, 34850u}) EXPECT_EQ(TIFFGetField(s.tif, tag, &v), 1) << tag;
}

TEST(PrivateDirectory, ZeroDenominatorInAnArrayLeavesThatFieldUnsetAndTheRestIsRead) {
  TiffBuilder b;
  const int d = b.directory();
  b.ascii(d, 1, "N");
  b.rationals(d, 2, {{54, 1}, {59, 0}, {0, 1}});
  b.ascii(d, 3, "W");
  MessageCapture capture;
  OpenStream s(b.build());
  EXPECT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
  EXPECT_EQ(capture.count("W APP1: GPSLattitude: Rational with zero denominator (num = 59); tag ignored"), 1)
      << capture.all();
  char* ref = nullptr;
  float* position = nullptr;
  EXPECT_EQ(TIFFGetField(s.tif, 1, &ref), 1);
  EXPECT_EQ(TIFFGetField(s.tif, 2, &position), 0);
  EXPECT_EQ(TIFFGetField(s.tif, 3, &ref), 1);
}

TEST(PrivateDirectory, DamagedOffsetsEndAsMessagesNeverAsReadsOutsideTheStream) {
  TiffBuilder b;
  const int d = b.directory();
  b.ascii(d, 271, "Make");
  b.rawEntry(d, 272, 2, 64, 0xFFFFFFF0u);     // Model's text far beyond the stream
  b.rawEntry(d, 37510, 7, 0xFFFFFFFFu, 40);   // a count no stream can hold
  b.rationals(d, 41493, {{100, 1}});          // read after both
  const std::string bytes = b.build();
  {
    MessageCapture capture;
    OpenStream s(bytes);
    // Each damaged entry is skipped with its message; the directory itself is whole.
    EXPECT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
    EXPECT_EQ(capture.count("E APP1: Error fetching data for field \"Model\""), 1) << capture.all();
    EXPECT_EQ(capture.count("E APP1: Error fetching data for field \"UserComment\""), 1) << capture.all();
    char* make = nullptr;
    EXPECT_EQ(TIFFGetField(s.tif, 271, &make), 1);
    EXPECT_EQ(TIFFGetField(s.tif, 272, &make), 0);
    float f = 0;
    EXPECT_EQ(TIFFGetField(s.tif, 41493, &f), 1);
  }
  {
    MessageCapture capture;
    OpenStream s(bytes);
    EXPECT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 5000), 0);
    EXPECT_EQ(capture.count("E APP1: Can not read TIFF private subdirectory count"), 1) << capture.all();
    EXPECT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, uint32_t(bytes.size()) - 4), 0);
    EXPECT_EQ(capture.count("E APP1: Can not read TIFF private subdirectory"), 1) << capture.all();
  }
  // Every truncation of a good stream reads without touching bytes past its end.
  const std::string good = sampleIfd0(false).build();
  for (size_t len = 8; len < good.size(); ++len) {
    OpenStream s(good.substr(0, len));
    ASSERT_NE(s.tif, nullptr);
    TIFFReadPrivateDataSubDirectory(s.tif, 8);
  }
}

TEST(PrivateDirectory, SecondDirectoryReplacesTheFirst) {
  TiffBuilder b;
  const int ifd0 = b.directory();
  const int exif = b.directory();
  b.ascii(ifd0, 33432, "owner");
  b.pointer(ifd0, 34665, exif);
  b.rationals(exif, 33437, {{28, 10}});
  OpenStream s(b.build());
  ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
  char* owner = nullptr;
  EXPECT_EQ(TIFFGetField(s.tif, 33432, &owner), 1);
  ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, b.offsetOf(exif)), 1);
  EXPECT_EQ(TIFFGetField(s.tif, 33432, &owner), 0);
  float f = 0;
  EXPECT_EQ(TIFFGetField(s.tif, 33437, &f), 1);
  EXPECT_FLOAT_EQ(f, 2.8f);
}

TEST(PrivateDirectory, WrittenDirectoryReadsBackWithTheSameValues) {
  for (const char* mode : {"w", "wb"}) {
    SCOPED_TRACE(mode);
    OpenStream w("", mode);
    ASSERT_NE(w.tif, nullptr);
    const uint16_t iso[2] = {100, 200};
    const float lat[3] = {12, 30, 15.5f};
    const uint8_t version[4] = {2, 2, 0, 0};
    TIFFSetField(w.tif, 34665, uint64_t(2090));
    TIFFSetField(w.tif, 33437, 2.8);
    TIFFSetField(w.tif, 37380, -0.65);
    TIFFSetField(w.tif, 33434, 1.0 / 8000);
    TIFFSetField(w.tif, 41483, -3.0);  // unsigned: written as 0 with a warning
    TIFFSetField(w.tif, 34855, 2, iso);
    TIFFSetField(w.tif, 36867, "2004:01:31 12:00:00");
    TIFFSetField(w.tif, 37510, 5, "hello");
    TIFFSetField(w.tif, 2, lat);
    TIFFSetField(w.tif, 0, version);
    TIFFSetField(w.tif, 33432, "owner");
    const uint32_t off = TIFFWritePrivateDataSubDirectory(w.tif);
    ASSERT_GT(off, 1u);
    EXPECT_EQ(off % 2, 0u);
    void* base = nullptr;
    int32_t size = 0;
    mfs_map(w.fd, &base, &size);
    const std::string written(static_cast<char*>(base), size_t(size));

    OpenStream r(written);
    ASSERT_NE(r.tif, nullptr);
    ASSERT_EQ(TIFFReadPrivateDataSubDirectory(r.tif, off), 1);
    uint32_t exif = 0;
    float f = 0, bias = 0;
    EXPECT_EQ(TIFFGetField(r.tif, 34665, &exif), 1);
    EXPECT_EQ(exif, 2090u);
    EXPECT_EQ(TIFFGetField(r.tif, 33437, &f), 1);
    EXPECT_FLOAT_EQ(f, 2.8f);
    EXPECT_EQ(TIFFGetField(r.tif, 37380, &bias), 1);
    EXPECT_FLOAT_EQ(bias, -0.65f);
    EXPECT_EQ(TIFFGetField(r.tif, 33434, &f), 1);
    EXPECT_NEAR(f, 1.0f / 8000, 1e-9);  // at most ten steps of 8 in the denominator
    EXPECT_EQ(TIFFGetField(r.tif, 41483, &f), 1);
    EXPECT_EQ(f, 0.0f);
    uint16_t n = 0;
    uint16_t* isoBack = nullptr;
    ASSERT_EQ(TIFFGetField(r.tif, 34855, &n, &isoBack), 1);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(isoBack[1], 200);
    char* date = nullptr;
    ASSERT_EQ(TIFFGetField(r.tif, 36867, &date), 1);
    EXPECT_EQ(std::string(date, 20), std::string("2004:01:31 12:00:00", 20));
    uint8_t* comment = nullptr;
    ASSERT_EQ(TIFFGetField(r.tif, 37510, &n, &comment), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(comment), n), "hello");
    float* latBack = nullptr;
    ASSERT_EQ(TIFFGetField(r.tif, 2, &latBack), 1);
    EXPECT_FLOAT_EQ(latBack[2], 15.5f);
    uint8_t* versionBack = nullptr;
    ASSERT_EQ(TIFFGetField(r.tif, 0, &versionBack), 1);
    EXPECT_EQ(std::memcmp(versionBack, "\2\2\0\0", 4), 0);
    char* owner = nullptr;
    ASSERT_EQ(TIFFGetField(r.tif, 33432, &owner), 1);
    EXPECT_STREQ(owner, "owner");
  }
  OpenStream r(sampleIfd0(false).build());
  EXPECT_EQ(TIFFWritePrivateDataSubDirectory(r.tif), 1u);  // read-only: nothing written
}

// The generic reader knows no stream format's layout for transfer tables: the caller's rule
// names it, and a layout whose tables do not hold exactly the entry's values is refused, since
// the library would copy them by that layout.
TEST(PrivateDirectory, TransferTablesOfNoNamedLayoutTakeOnlyAFittingLayoutFromTheCallersRule) {
  static TIFFPrivateTransferLayout given;
  const TIFFPrivateTransferRule rule = [](TIFF*, uint32_t, TIFFPrivateTransferLayout* layout) {
    *layout = given;
    return true;
  };
  std::vector<uint16_t> ramp(768);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint16_t(i);
  struct Case { const char* what; TIFFPrivateTransferRule rule; TIFFPrivateTransferLayout layout; bool kept; } cases[] = {
      {"no rule", nullptr, {}, false},
      {"three tables of 2^8", rule, {8, 3}, true},
      {"one table of 2^8: fewer than the entry holds", rule, {8, 1}, false},
      {"three tables of 2^16: more than the entry holds", rule, {16, 3}, false},
  };
  for (bool big : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (big ? " MM" : " II"));
      TiffBuilder b(big);
      const int d = b.directory();
      b.ascii(d, 271, "Make");
      b.shorts(d, 301, ramp);
      given = c.layout;
      MessageCapture capture;
      OpenStream s(b.build());
      ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8, c.rule), 1);
      char* make = nullptr;
      EXPECT_EQ(TIFFGetField(s.tif, 271, &make), 1);
      uint16_t *t0 = nullptr, *t1 = nullptr, *t2 = nullptr;
      ASSERT_EQ(TIFFGetField(s.tif, 301, &t0, &t1, &t2), c.kept ? 1 : 0);
      uint16_t depth = 0;
      EXPECT_EQ(TIFFGetField(s.tif, 258, &depth), c.kept ? 1 : 0);
      if (c.kept) {
        EXPECT_EQ(depth, 8);
        EXPECT_EQ(t2[255], 767);
      } else {
        EXPECT_EQ(capture.count("W APP1: incorrect count for field \"TransferFunction\" (768, expecting 2); tag ignored"), 1)
            << capture.all();
      }
    }
}

// Values are kept in place up to a size and on the heap beyond it; counts around that size,
// reals of eight bytes and texts of every short length read back whole in either byte order.
TEST(PrivateDirectory, ValuesOfEverySizeReadBackWholeInEitherByteOrder) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    for (uint16_t n = 1; n <= 40; ++n) {
      SCOPED_TRACE(n);
      TiffBuilder b(big);
      const int d = b.directory();
      std::vector<uint16_t> iso(n);
      for (uint16_t i = 0; i < n; ++i) iso[i] = uint16_t(0x0102 * (i + 1));
      const std::string text(n, char('a' + n % 26));
      b.ascii(d, 34852, text);  // SpectralSensitivity
      b.shorts(d, 34855, iso);   // ISOSpeedRatings
      OpenStream s(b.build());
      ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
      char* back = nullptr;
      ASSERT_EQ(TIFFGetField(s.tif, 34852, &back), 1);
      EXPECT_EQ(std::string(back), text);
      uint16_t count = 0;
      uint16_t* isoBack = nullptr;
      ASSERT_EQ(TIFFGetField(s.tif, 34855, &count, &isoBack), 1);
      ASSERT_EQ(count, n);
      EXPECT_EQ(std::vector<uint16_t>(isoBack, isoBack + n), iso);
    }
    TiffBuilder b(big);
    const int d = b.directory();
    const double nits = -1234.56789;
    uint64_t bits;
    std::memcpy(&bits, &nits, 8);
    const std::string hi = b.u32(uint32_t(bits >> 32)), lo = b.u32(uint32_t(bits));
    b.entry(d, 37439, 12, 1, big ? hi + lo : lo + hi);  // StoNits, one DOUBLE
    OpenStream s(b.build());
    ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
    double back = 0;
    ASSERT_EQ(TIFFGetField(s.tif, 37439, &back), 1);
    EXPECT_EQ(back, nits);
  }
}

// Library fields that take tables by pointer once crashed the read when an entry held a
// single value (found by fuzzing): they are skipped and the rest of the directory is read.
TEST(PrivateDirectory, OneValueForATableFieldIsSkippedNotHandedOnAsAPointer) {
  TiffBuilder b;
  const int d = b.directory();
  b.ascii(d, 271, "Make");
  b.bytes(d, 301, std::string("\x5c", 1), 1);  // TransferFunction as one BYTE
  b.shorts(d, 301, {92});                        // and as one SHORT
  b.shorts(d, 320, {7});                         // ColorMap with one entry
  b.ascii(d, 272, "Model");
  MessageCapture capture;
  OpenStream s(b.build());
  ASSERT_NE(s.tif, nullptr);
  TIFFReadPrivateDataSubDirectory(s.tif, 8);
  char* make = nullptr;
  char* model = nullptr;
  ASSERT_EQ(TIFFGetField(s.tif, 271, &make), 1);
  EXPECT_STREQ(make, "Make");
  ASSERT_EQ(TIFFGetField(s.tif, 272, &model), 1);
  EXPECT_STREQ(model, "Model");
  uint16_t *t0 = nullptr, *t1 = nullptr, *t2 = nullptr;
  EXPECT_EQ(TIFFGetField(s.tif, 301, &t0, &t1, &t2), 0);
}

// A codec keeps state from the moment Compression names it; every directory read after that
// one must let it go. The sanitizer build's leak check reports what stays behind; in a plain
// build the heap must not grow with each read.
TEST(PrivateDirectory, ACodecsStateGoesWithTheDirectoryThatNamedIt) {
  for (uint16_t scheme : {7, 5, 8, 6}) {
    SCOPED_TRACE(scheme);
    TiffBuilder b;
    const int ifd0 = b.directory();
    const int exif = b.directory();
    b.shorts(ifd0, 259, {scheme});
    b.shorts(ifd0, 259, {scheme == 7 ? uint16_t(8) : uint16_t(7)});  // changed within one directory
    b.pointer(ifd0, 34665, exif);
    b.rationals(exif, 33437, {{28, 10}});
    OpenStream s(b.build());
    ASSERT_NE(s.tif, nullptr);
    auto readBoth = [&] {
      ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
      ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, b.offsetOf(exif)), 1);
    };
    readBoth();
    const size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 200; ++i) readBoth();
    EXPECT_LT(mallinfo2().uordblks, before + 16 * 1024);
    readBoth();  // the last state is the close's to free
  }
}
