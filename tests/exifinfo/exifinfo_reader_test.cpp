// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a JPEG header into the record: decoded size, segments in file order, path and
// creation date, and damaged or foreign files that must leave only what was gathered.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "support/Fifo.h"
#include "support/JpegBuilder.h"
#include "support/TestPaths.h"

namespace {

using namespace testsupport;

void readInto(const std::string& path, ExImageInfo& record) {
  JpegTagReader reader;
  reader.readTags(path, &record);
}

std::vector<std::string> segmentCopies(const ExImageInfo& record) {
  std::vector<std::string> out;
  for (size_t i = 0; i < record.getFPDataArray().size(); ++i)
    out.emplace_back(reinterpret_cast<const char*>(record.getFPDataArray()[i]), record.getFPLengthArray()[i]);
  return out;
}

std::optional<struct timespec> birthTime(const std::string& path) {
  struct statx st {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &st) != 0 || !(st.stx_mask & STATX_BTIME)) return std::nullopt;
  struct timespec t {};
  t.tv_sec = st.stx_btime.tv_sec;
  t.tv_nsec = st.stx_btime.tv_nsec;
  return t;
}

TEST(JpegTagReaderSize, BitmapSizeHasFourByteAlignedRows) {
  ScratchDir dir;
  struct Case {
    int width, height, components;
    UInt32 size;
    bool progressive;
  };
  const Case cases[] = {
      {1600, 1200, 3, 5760000, false}, {99, 10, 1, 1000, false}, {99, 2, 3, 600, false},
      {101, 2, 3, 608, false},         {101, 3, 3, 912, true},   {1, 1, 1, 4, false},
  };
  for (const auto& c : cases) {
    const std::string path = dir.file("size.jpg");
    writeFile(path, buildJpeg(c.width, c.height, c.components, {}, c.progressive));
    ExImageInfo record;
    readInto(path, record);
    EXPECT_EQ(record.getFileSize(), c.size) << c.width << "x" << c.height << "x" << c.components;
    EXPECT_EQ(record.getPixelWidth(), UInt32(c.width));
    EXPECT_EQ(record.getPixelHeight(), UInt32(c.height));
  }
}

TEST(JpegTagReaderSegments, PlainJpegGivesFileFactsOnly) {
  ScratchDir dir;
  const std::string path = dir.file("plain.jpg");
  writeFile(path, buildJpeg(16, 8, 3, {}));
  ExImageInfo record;
  readInto(path, record);
  EXPECT_EQ(record.getFileSize(), 384u);
  EXPECT_EQ(record.getFileName(), path);
  EXPECT_FALSE(record.getExifIFDPresent());
  EXPECT_EQ(record.getMake(), nullptr);
  EXPECT_TRUE(record.getFPDataArray().empty());
  EXPECT_EQ(record.numAudioBlocks(), 0u);
  auto birth = birthTime(path);
  ASSERT_EQ(record.getCreationDate().has_value(), birth.has_value());
  if (birth) {
    EXPECT_EQ(record.getCreationDate()->tv_nsec, birth->tv_nsec);
  }
}

TEST(JpegTagReaderSegments, EveryApp2IsCopiedInFileOrderAndAudioIsFound) {
  ScratchDir dir;
  const std::string wave = pcmWave(1, 8, 8000, 16000);
  auto pieces = fpxrPieces(wave, {9000}, {0, 1});
  const std::string icc = std::string("ICC_PROFILE\0\x01\x02", 14) + pseudoRandomBytes(3000, 7);
  std::vector<JpegSegment> segments = {{0xE2, icc}, {0xE1, "http://ns.adobe.com/xap/1.0/"}, pieces[1],
                                       {0xE1, std::string("Exif\0\0", 6)}, pieces[0], {0xE1, "Ex"}, {0xE1, ""}};
  const std::string path = dir.file("voice.jpg");
  writeFile(path, buildJpeg(32, 16, 3, segments));
  ExImageInfo record;
  readInto(path, record);
  auto copies = segmentCopies(record);
  ASSERT_EQ(copies.size(), 3u);
  EXPECT_EQ(copies[0], icc);
  EXPECT_EQ(copies[1], pieces[1].payload);
  EXPECT_EQ(copies[2], pieces[0].payload);
  ASSERT_EQ(record.numAudioBlocks(), 2u);
  EXPECT_EQ(record.getAudioSeconds(), 2u);
  EXPECT_EQ(record.getPixelWidth(), 32u);
}

// Read in place (the bytes outlive the record), every APP2 body is the same, in the same order,
// and lies in the bytes themselves rather than in a copy; a file cut inside a segment keeps only
// the whole ones, as copies do.
TEST(JpegTagReaderSegments, InPlaceTheSegmentsArePointedAtNotCopied) {
  const std::string wave = pcmWave(1, 8, 8000, 16000);
  auto pieces = fpxrPieces(wave, {9000}, {0, 1});
  const std::string icc = std::string("ICC_PROFILE\0\x01\x02", 14) + pseudoRandomBytes(3000, 7);
  const std::string jpeg = buildJpeg(32, 16, 3, {{0xE2, icc}, pieces[1], {0xE1, std::string("Exif\0\0", 6)}, pieces[0]});
  const std::size_t cut = jpeg.find(pieces[0].payload) + 10;
  for (const std::string& bytes : {jpeg, jpeg.substr(0, cut)}) {
    SCOPED_TRACE(bytes.size());
    const auto* data = reinterpret_cast<const UInt8*>(bytes.data());
    ExImageInfo copied, inPlace;
    JpegTagReader().readTags("p.jpg", data, bytes.size(), &copied);
    JpegTagReader().readTags("p.jpg", data, bytes.size(), &inPlace, true);
    EXPECT_EQ(segmentCopies(inPlace), segmentCopies(copied));
    EXPECT_EQ(segmentCopies(inPlace).size(), bytes.size() == jpeg.size() ? 3u : 2u);
    for (const UInt8* segment : inPlace.getFPDataArray()) {
      EXPECT_GE(segment, data);
      EXPECT_LT(segment, data + bytes.size());
    }
    for (const UInt8* segment : copied.getFPDataArray()) EXPECT_TRUE(segment < data || segment >= data + bytes.size());
    EXPECT_EQ(inPlace.numAudioBlocks(), copied.numAudioBlocks());
    EXPECT_EQ(inPlace.getAudioSeconds(), copied.getAudioSeconds());
  }
}

TEST(JpegTagReaderFiles, SymbolicLinkGivesTheTargetsCreationDate) {
  ScratchDir dir;
  const std::string target = dir.file("target.jpg");
  writeFile(target, buildJpeg(8, 8, 1, {}));
  auto birth = birthTime(target);
  if (!birth) GTEST_SKIP() << "this file system keeps no creation date";
  const std::string link = dir.file("link.jpg");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ExImageInfo record;
  readInto(link, record);
  ASSERT_TRUE(record.getCreationDate().has_value());
  EXPECT_EQ(record.getCreationDate()->tv_sec, birth->tv_sec);
  EXPECT_EQ(record.getCreationDate()->tv_nsec, birth->tv_nsec);
  EXPECT_EQ(record.getFileName(), link);
}

TEST(JpegTagReaderFiles, MissingFileLeavesTheRecordUntouched) {
  ScratchDir dir;
  ExImageInfo record;
  record.setPixelWidth(7);
  readInto(dir.file("absent.jpg"), record);
  EXPECT_EQ(record.getPixelWidth(), 7u);
  EXPECT_FALSE(record.hasFileName());
  EXPECT_FALSE(record.getCreationDate().has_value());
  EXPECT_TRUE(record.getFPDataArray().empty());
  JpegTagReader reader;
  reader.readTags(dir.file("x.jpg"), nullptr);  // no record: nothing to do
}

TEST(JpegTagReaderFiles, ForeignFilesGiveNoDecodedFacts) {
  ScratchDir dir;
  writeFile(dir.file("empty.jpg"), "");
  writeFile(dir.file("text.jpg"), "This is not a photograph.\n");
  writeFile(dir.file("soi.jpg"), "\xFF\xD8");
  mkdir(dir.file("folder.jpg").c_str(), 0700);
  ASSERT_TRUE(makeFifo(dir.file("fifo.jpg")));
  for (const char* name : {"empty.jpg", "text.jpg", "soi.jpg", "folder.jpg", "fifo.jpg"}) {
    ExImageInfo record;
    // Whatever is under the name, the reader never waits on it.
    EXPECT_TRUE(returnsWithin(dir.file("fifo.jpg"), [&] { readInto(dir.file(name), record); })) << name;
    EXPECT_EQ(record.getPixelWidth(), 0u) << name;
    EXPECT_EQ(record.getFileSize(), 0u) << name;
    EXPECT_TRUE(record.getFPDataArray().empty()) << name;
    EXPECT_EQ(record.numAudioBlocks(), 0u) << name;
  }
}

TEST(JpegTagReaderFiles, TruncatedJpegKeepsOnlyCompleteSegments) {
  ScratchDir dir;
  const std::string wave = pcmWave(1, 8, 8000, 2000);
  auto pieces = fpxrPieces(wave, {1000}, {0, 1});
  const std::string jpeg = buildJpeg(24, 24, 3, pieces);
  // JFIF header (20 bytes), then the two APP2 segments.
  const size_t firstEnd = 20 + 4 + pieces[0].payload.size();
  const size_t secondEnd = firstEnd + 4 + pieces[1].payload.size();
  ASSERT_EQ(jpeg.substr(firstEnd, 2), "\xFF\xE2");
  const std::string path = dir.file("cut.jpg");
  for (size_t n : {size_t(1), size_t(3), size_t(30), firstEnd - 1, firstEnd, firstEnd + 3, secondEnd - 1, secondEnd,
                   secondEnd + 50, jpeg.size() - 1}) {
    writeFile(path, jpeg.substr(0, n));
    ExImageInfo record;
    readInto(path, record);
    const size_t expected = n < firstEnd ? 0 : n < secondEnd ? 1 : 2;
    auto copies = segmentCopies(record);
    ASSERT_EQ(copies.size(), expected) << n;
    for (size_t i = 0; i < copies.size(); ++i) EXPECT_EQ(copies[i], pieces[i].payload) << n;
    EXPECT_EQ(record.numAudioBlocks(), expected >= 1 ? expected : 0u) << n;
  }
}

TEST(JpegTagReaderCorpus, EveryCameraJpegIsReadSafely) {
  auto files = corpusJpegs();
  if (files.empty()) GTEST_SKIP() << "no corpus";
  for (const auto& path : files) {
    ExImageInfo record;
    readInto(path, record);
    EXPECT_EQ(record.getFileName(), path);
    // Blocks always lie inside the record's own segment copies.
    for (UInt32 k = 0; k < record.numAudioBlocks(); ++k) {
      const UInt8* data = nullptr;
      UInt32 length = 0, offset = 0;
      record.getNthAudioBlock(SInt32(k), &data, &length, &offset);
      bool inside = false;
      for (size_t i = 0; i < record.getFPDataArray().size(); ++i) {
        const UInt8* s = record.getFPDataArray()[i];
        inside |= data >= s && data + length <= s + record.getFPLengthArray()[i];
      }
      EXPECT_TRUE(inside) << path;
    }
  }
}

}  // namespace
