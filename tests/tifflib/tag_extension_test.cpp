// The 73-tag extension through the library's own set/get/print calls: unset tags answer 0,
// slots keep their forms, resets empty the record, baseline tags are untouched.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

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
  b.longs(d, 256, {1});
  b.longs(d, 257, {1});
  b.shorts(d, 258, {8});
  b.shorts(d, 262, {1});
  b.longs(d, 273, {8});
  b.longs(d, 279, {1});
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
