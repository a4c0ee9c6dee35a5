// SPDX-License-Identifier: GPL-2.0-or-later
// The 74-tag extension through the library's own set/get/print calls: unset tags answer 0,
// slots keep their forms, resets empty the record, baseline tags are untouched.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"
#include "support/TestPaths.h"
#include "support/TiffBuilder.h"
#include "toolbox/Files/Files.h"
#include "tifflib/TiffTestSupport.h"

using tifftest::OpenStream;

namespace {
std::string emptyIfd() {
  testsupport::TiffBuilder b;
  b.directory();
  return b.build();
}

std::string printed(TIFF* tif) {
  char* text = nullptr;
  size_t len = 0;
  FILE* f = open_memstream(&text, &len);
  TIFFPrintDirectory(tif, f, 0);
  std::fclose(f);
  std::string s(text, len);
  std::free(text);
  return s;
}

int extenderRuns = 0;
TIFFExtendProc earlierExtender = nullptr;
void countingExtender(TIFF* tif) {
  ++extenderRuns;
  if (earlierExtender) earlierExtender(tif);
}

// The image fields the library's own reader demands of a directory.
void imageFields(testsupport::TiffBuilder& b, int d) {
  b.longs(d, 256, {1});
  b.longs(d, 257, {1});
  b.shorts(d, 258, {8});
  b.shorts(d, 262, {1});
  b.longs(d, 273, {8});
  b.longs(d, 279, {1});
}

// One entry for every extended row, in the row's own type and count, tags ascending.
std::string everyRowStream() {
  std::vector<int> rows;
  for (int i = 0; i < kXTiffTagCount; ++i) rows.push_back(i);
  std::sort(rows.begin(), rows.end(),
            [](int a, int c) { return xtiffFieldInfo[a].tag < xtiffFieldInfo[c].tag; });
  testsupport::TiffBuilder b;
  const int d = b.directory();
  bool imageDone = false;
  for (int i : rows) {
    const XTiffTagInfo& r = xtiffFieldInfo[i];
    if (!imageDone && r.tag > 279) {
      imageFields(b, d);
      imageDone = true;
    }
    const char letter = char('A' + i % 26);
    switch (r.slot) {
      case XTiffSlot::U32: case XTiffSlot::Offset: b.longs(d, r.tag, {uint32_t(1000 + i)}); break;
      case XTiffSlot::F32:
        b.rationals(d, r.tag, {{r.type == TIFF_SRATIONAL ? uint32_t(-i) : uint32_t(i), 4}}, r.type);
        break;
      case XTiffSlot::U16: b.shorts(d, r.tag, {uint16_t(i)}); break;
      case XTiffSlot::U8: b.bytes(d, r.tag, std::string(1, char(i)), r.type); break;
      case XTiffSlot::Text: b.ascii(d, r.tag, "text " + std::to_string(i)); break;
      case XTiffSlot::Bytes:
        if (r.type == TIFF_ASCII) b.ascii(d, r.tag, std::string(r.slotCount - 1u, letter));
        else b.bytes(d, r.tag, std::string(r.slotCount, char(i)), r.type);
        break;
      case XTiffSlot::OneByte: b.bytes(d, r.tag, std::string(1, char(i)), r.type); break;
      case XTiffSlot::Shorts: b.shorts(d, r.tag, {uint16_t(i), uint16_t(i + 1)}); break;
      case XTiffSlot::Floats: b.rationals(d, r.tag, {{1, 2}, {uint32_t(i), 1}, {3, 4}}); break;
      case XTiffSlot::CountedShorts: b.shorts(d, r.tag, {100, uint16_t(i)}); break;
      case XTiffSlot::CountedBytes: b.bytes(d, r.tag, "bytes " + std::to_string(i), r.type); break;
    }
  }
  return b.build();
}

template <typename T>
std::string scalarOf(TIFF* tif, uint32_t tag) {
  T v{};
  return TIFFGetField(tif, tag, &v) == 1 ? std::to_string(v) : "unset";
}

// A row's value as the get call delivers it, as text; "unset" when the get answers 0.
std::string valueOf(TIFF* tif, const XTiffTagInfo& r) {
  switch (r.slot) {
    case XTiffSlot::U32: case XTiffSlot::Offset: return scalarOf<uint32_t>(tif, r.tag);
    case XTiffSlot::F32: return scalarOf<float>(tif, r.tag);
    case XTiffSlot::U16: return scalarOf<uint16_t>(tif, r.tag);
    case XTiffSlot::U8: return scalarOf<uint8_t>(tif, r.tag);
    case XTiffSlot::CountedShorts: case XTiffSlot::CountedBytes: {
      uint16_t n = 0;
      char* p = nullptr;
      if (TIFFGetField(tif, r.tag, &n, &p) != 1 || !p) return "unset";
      return std::to_string(n) + ":" + std::string(p, n * (r.slot == XTiffSlot::CountedShorts ? 2u : 1u));
    }
    default: break;
  }
  char* p = nullptr;
  if (TIFFGetField(tif, r.tag, &p) != 1 || !p) return "unset";
  const float* f = reinterpret_cast<const float*>(p);
  switch (r.slot) {
    case XTiffSlot::Text: return p;
    case XTiffSlot::Shorts: return std::string(p, 4);
    case XTiffSlot::Floats: return std::to_string(f[0]) + ":" + std::to_string(f[1]) + ":" + std::to_string(f[2]);
    default: return std::string(p, r.slotCount);
  }
}
}  // namespace

TEST(TagExtension, ValuesKeepTheirSlotFormsAndUnsetTagsAnswerZero) {
  OpenStream s(emptyIfd());
  ASSERT_NE(s.tif, nullptr);
  float f = 0;
  EXPECT_EQ(TIFFGetField(s.tif, 33437, &f), 0);
  ASSERT_EQ(TIFFSetField(s.tif, 33437, 2.8), 1);
  EXPECT_EQ(TIFFGetField(s.tif, 33437, &f), 1);
  EXPECT_EQ(f, 2.8f);
  // Another extended tag is still unset although the library now calls the get method.
  uint32_t exif = 0;
  EXPECT_EQ(TIFFGetField(s.tif, 34665, &exif), 0);
  char* copyright = nullptr;
  EXPECT_EQ(TIFFGetField(s.tif, 33432, &copyright), 0);

  char date[20];
  std::memcpy(date, "2004:01:31 12:00:00", 20);
  TIFFSetField(s.tif, 36867, date);
  std::memset(date, 'x', sizeof date);
  char* held = nullptr;
  ASSERT_EQ(TIFFGetField(s.tif, 36867, &held), 1);
  EXPECT_EQ(std::string(held, 20), std::string("2004:01:31 12:00:00", 20));

  const uint16_t two[2] = {100, 200}, one[1] = {400};
  TIFFSetField(s.tif, 34855, 2, two);
  TIFFSetField(s.tif, 34855, 1, one);  // the old array is freed (the sanitizer build checks)
  uint16_t n = 0;
  uint16_t* iso = nullptr;
  ASSERT_EQ(TIFFGetField(s.tif, 34855, &n, &iso), 1);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(iso[0], 400);

  const float dest[3] = {12, 30, 15.5f};
  TIFFSetField(s.tif, 20, dest);
  float* got = nullptr;
  ASSERT_EQ(TIFFGetField(s.tif, 20, &got), 1);
  EXPECT_EQ(got[0], 12);
  EXPECT_EQ(got[2], 15.5f);

  TIFFSetField(s.tif, 5, 1);
  uint8_t ref = 0;
  ASSERT_EQ(TIFFGetField(s.tif, 5, &ref), 1);
  EXPECT_EQ(ref, 1);

  // Maker notes are kept like user comments.
  TIFFSetField(s.tif, 37500, 3, "abc");
  uint8_t* note = nullptr;
  ASSERT_EQ(TIFFGetField(s.tif, 37500, &n, &note), 1);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(std::memcmp(note, "abc", 3), 0);

  // A baseline tag goes to the library as before.
  EXPECT_EQ(TIFFSetField(s.tif, 256, uint32_t(640)), 1);
  uint32_t width = 0;
  EXPECT_EQ(TIFFGetField(s.tif, 256, &width), 1);
  EXPECT_EQ(width, 640u);
}

TEST(TagExtension, DirectoryResetEmptiesTheRecord) {
  OpenStream s(emptyIfd());
  TIFFSetField(s.tif, 34665, uint64_t(2090));
  TIFFSetField(s.tif, 8, "7");
  ASSERT_EQ(TIFFReadPrivateDataSubDirectory(s.tif, 8), 1);
  uint32_t exif = 0;
  char* sats = nullptr;
  EXPECT_EQ(TIFFGetField(s.tif, 34665, &exif), 0);
  EXPECT_EQ(TIFFGetField(s.tif, 8, &sats), 0);
}

TEST(TagExtension, PrintOutAddsOneLinePerSetField) {
  OpenStream s(emptyIfd());
  TIFFSetField(s.tif, 33437, 2.8);
  const std::string once = printed(s.tif);
  EXPECT_NE(once.find("  F Number:\t2.800000\n"), std::string::npos) << once;
  EXPECT_EQ(once.find("Exposure"), std::string::npos) << once;
  EXPECT_NE(once.find("TIFF Directory"), std::string::npos) << once;  // the library's own lines

  const uint16_t iso[2] = {100, 200};
  TIFFSetField(s.tif, 34855, 2, iso);
  TIFFSetField(s.tif, 37520, "12");
  TIFFSetField(s.tif, 41484, 4, "abcd");
  TIFFSetField(s.tif, 34665, uint64_t(2090));
  const std::string more = printed(s.tif);
  EXPECT_NE(more.find("  ISO Speed Ratings:\t2 values present:\n\t  ISO Speed Rating 0:\t100\n"
                      "\t  ISO Speed Rating 1:\t200\n"), std::string::npos) << more;
  EXPECT_NE(more.find("  Sub Sec Time:\t12\n"), std::string::npos);
  EXPECT_NE(more.find("  Frequency Response:\t4 bytes present\n"), std::string::npos);
  EXPECT_NE(more.find("  Exif IFD Offset:  2090\n"), std::string::npos);
}

TEST(TagExtension, ExtenderInstallsOnceAndEarlierExtendersStillRun) {
  XTIFFClose(nullptr);
  XTIFFInitialize();
  // An extender installed after ours chains to ours; both run for each directory.
  earlierExtender = TIFFSetTagExtender(countingExtender);
  extenderRuns = 0;
  {
    OpenStream a(emptyIfd());
    OpenStream b(emptyIfd());
    ASSERT_NE(a.tif, nullptr);
    EXPECT_EQ(extenderRuns, 2);
    TIFFReadPrivateDataSubDirectory(a.tif, 8);
    EXPECT_EQ(extenderRuns, 3);
    float f = 0;
    TIFFSetField(a.tif, 33437, 4.0);
    EXPECT_EQ(TIFFGetField(a.tif, 33437, &f), 1);
  }
  TIFFSetTagExtender(earlierExtender);
}

TEST(TagExtension, FilesOpenByPathOrSpecificationAndTheLibraryVersionIsChecked) {
  testsupport::TiffBuilder b;
  const int d = b.directory();
  imageFields(b, d);
  b.rationals(d, 33437, {{40, 10}});
  testsupport::ScratchDir dir;
  const std::string path = dir.file("image.tif");
  testsupport::writeFile(path, b.build());
  FSSpec spec{};
  ASSERT_EQ(FSpFromPath(path, &spec), 0);
  for (TIFF* tif : {XTIFFAppleOpen(&spec, "r"), XTIFFOpen(path.c_str(), "r")}) {
    ASSERT_NE(tif, nullptr);
    float f = 0;
    EXPECT_EQ(TIFFGetField(tif, 33437, &f), 1);  // through the library's own directory reader
    EXPECT_EQ(f, 4.0f);
    XTIFFClose(tif);
  }
  EXPECT_TRUE(TIFFPrivateVersionSupported(TIFFGetVersion()));
  EXPECT_TRUE(TIFFPrivateVersionSupported("LIBTIFF, Version 4.1.0\nCopyright"));
  EXPECT_FALSE(TIFFPrivateVersionSupported("LIBTIFF, Version 3.9.7"));
  EXPECT_FALSE(TIFFPrivateVersionSupported("LIBTIFF"));
}

// The library's own directory reader hands each value over in the form it derives from the
// field information; every row must arrive as the sub-directory reader delivers it.
TEST(TagExtension, EveryRowReadsTheSameThroughTheLibrarysReaderAndEachOpenWrapper) {
  const std::string bytes = everyRowStream();
  OpenStream reference(bytes);
  ASSERT_EQ(TIFFReadPrivateDataSubDirectory(reference.tif, 8), 1);
  testsupport::ScratchDir dir;
  const std::string path = dir.file("every.tif");
  testsupport::writeFile(path, bytes);
  FSSpec spec{};
  ASSERT_EQ(FSpFromPath(path, &spec), 0);
  std::string copy = bytes;
  const int32_t mfd = mfs_open(copy.data(), int32_t(copy.size()), "r");
  struct Opened { const char* wrapper; TIFF* tif; } opened[] = {
      {"XTIFFOpen", XTIFFOpen(path.c_str(), "r")},
      {"XTIFFFdOpen", XTIFFFdOpen(open(path.c_str(), O_RDONLY), path.c_str(), "r")},
      {"XTIFFAppleOpen", XTIFFAppleOpen(&spec, "r")},
      {"XTIFFClientOpen", XTIFFClientOpen("every", "r", mfs_handle(mfd), mfs_read, mfs_write, mfs_lseek,
                                          mfs_close, mfs_size, mfs_map, mfs_unmap)},
  };
  for (const Opened& o : opened) {
    SCOPED_TRACE(o.wrapper);
    ASSERT_NE(o.tif, nullptr);
    for (const XTiffTagInfo& r : xtiffFieldInfo) {
      const std::string expected = valueOf(reference.tif, r);
      EXPECT_NE(expected, "unset") << r.name;
      EXPECT_EQ(valueOf(o.tif, r), expected) << r.name;
    }
    XTIFFClose(o.tif);
  }
}

// The library's reader checks no count for a text: a short one must not be read past its end
// (the sanitizer build sees such a read), a long one is cut to the field.
TEST(TagExtension, FixedTextsOfAnyLengthFromTheLibrarysReaderStayInTheirField) {
  testsupport::TiffBuilder b;
  const int d = b.directory();
  b.ascii(d, 9, "");                              // GPSStatus: only the terminator
  imageFields(b, d);
  b.ascii(d, 36867, "2004");                      // DateTimeOriginal, 5 of 20
  b.ascii(d, 36868, std::string(30, 'x'));        // DateTimeDigitized, 31 of 20
  b.ascii(d, 40964, "SND1234.WAV", 11);           // RelatedSoundFile without its terminator
  testsupport::ScratchDir dir;
  const std::string path = dir.file("texts.tif");
  testsupport::writeFile(path, b.build());
  TIFF* tif = XTIFFOpen(path.c_str(), "r");
  ASSERT_NE(tif, nullptr);
  char* text = nullptr;
  ASSERT_EQ(TIFFGetField(tif, 9, &text), 1);
  EXPECT_EQ(std::string(text, 2), std::string(2, '\0'));
  ASSERT_EQ(TIFFGetField(tif, 36867, &text), 1);
  EXPECT_EQ(std::string(text, 20), std::string("2004") + std::string(16, '\0'));
  ASSERT_EQ(TIFFGetField(tif, 36868, &text), 1);
  EXPECT_EQ(std::string(text, 20), std::string(20, 'x'));
  ASSERT_EQ(TIFFGetField(tif, 40964, &text), 1);
  EXPECT_EQ(std::string(text, 13), std::string("SND1234.WAV\0\0", 13));
  XTIFFClose(tif);
}

// A directory the library refuses fails its open after the extender has made the handle's
// record; the wrapper must free it. The sanitizer build's leak check names what stays; in a
// plain build the heap must not grow with each failed open.
TEST(TagExtension, AFailedOpenLeavesNoRecordBehind) {
  testsupport::TiffBuilder b;
  const int d = b.directory();
  b.shorts(d, 259, {7});  // no image size: the library's reader refuses the directory
  std::string bytes = b.build();
  auto failOnce = [&] {
    const int32_t mfd = mfs_open(bytes.data(), int32_t(bytes.size()), "r");
    ASSERT_GE(mfd, 0);
    TIFF* tif = XTIFFClientOpen("refused", "r", mfs_handle(mfd), mfs_read, mfs_write, mfs_lseek, mfs_close,
                                mfs_size, mfs_map, mfs_unmap);
    ASSERT_EQ(tif, nullptr);
    mfs_close(mfd);  // the library's failed open leaves its stream to the caller
  };
  failOnce();
  const size_t before = mallinfo2().uordblks;
  for (int i = 0; i < 200; ++i) failOnce();
  EXPECT_LT(mallinfo2().uordblks, before + 16 * 1024);
}
