// SPDX-License-Identifier: GPL-2.0-or-later
// Every photograph kind through its table: the names the folder walk takes for it, the kind its
// bytes are read as, the still it hands over (its own bytes, size and orientation) and the words
// for bytes that are no photograph of it.
#include <gtest/gtest.h>

#include <cstring>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "photos/PhotoKinds.h"
#include "support/DngBuilder.h"
#include "support/Fixtures.h"
#include "support/TiffBuilder.h"

namespace {

std::span<const std::uint8_t> span(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(PhotoKinds, TheWalkTakesANameByItsKindsExtensions) {
  struct Case {
    const char* name;
    const char* kind;  // nullptr: no kind takes it
  };
  const Case cases[] = {
      {"a.jpg", "jpeg"},  {"B.JPG", "jpeg"},      {"/x/y/c.Jpeg", "jpeg"}, {"d.JPEG", "jpeg"},
      {".jpg", nullptr},  {"e.jpg.wav", nullptr}, {"f.mov", nullptr},      {"g.jpg/h", nullptr},
      {"jpg", nullptr},   {"i.xjpg", nullptr},
  };
  for (const Case& c : cases) {
    const photos::PhotoKind* kind = photos::PhotoKindForName(c.name);
    EXPECT_STREQ(kind ? kind->name : nullptr, c.kind) << c.name;
  }
}

TEST(PhotoKinds, EachKindHandsOverItsOwnBytesSizedAndTurned) {
  // For each kind: a photograph of it, its stored size, and its orientation.
  struct Sample {
    const char* kind;
    std::string bytes;
    int width, height, orientation;
  };
  testsupport::TiffBuilder tiff;
  tiff.shorts(tiff.directory(), 274, {6});
  const std::string turned = fixtures::withSegment(fixtures::makeJpeg({.width = 40, .height = 30}), 0xE1,
                                                   std::string("Exif\0\0", 6) + tiff.build());
  const Sample samples[] = {{"jpeg", fixtures::makeJpeg({.width = 40, .height = 30}), 40, 30, 1},
                            {"jpeg", turned, 40, 30, 6},
                            {"raw", testsupport::buildDng({.orientation = 6}, testsupport::dngPreviewJpeg({})), 64, 48, 6}};
  for (const photos::PhotoKind& kind : photos::PhotoKinds()) {
    bool sampled = false;
    for (const Sample& s : samples) {
      if (std::string(s.kind) != kind.name) continue;
      sampled = true;
      EXPECT_EQ(&photos::PhotoKindForBytes(span(s.bytes)), &kind);
      ExImageInfo record;
      const photos::ReadPhotograph read = photos::ReadPhotographBytes("p", span(s.bytes), &record);
      EXPECT_EQ(read.kind, &kind);
      ASSERT_TRUE(read.readable()) << kind.name;
      // A kind that makes its picture (a raw's preview) keeps it alive itself.
      if (read.still.owner == nullptr) {
        EXPECT_EQ(read.still.jpeg.data(), span(s.bytes).data()) << "the still is the photograph's bytes, not a copy";
      }
      EXPECT_EQ(read.still.width, s.width);
      EXPECT_EQ(read.still.height, s.height);
      EXPECT_EQ(read.still.orientation, s.orientation);
    }
    EXPECT_TRUE(sampled) << "a new kind needs its sample here: " << kind.name;
  }
}

TEST(PhotoKinds, BytesOfNoKindAreSaidInTheFirstKindsWords) {
  const std::string jpeg = fixtures::makeJpeg();
  struct Case {
    std::string bytes;
    const char* words;
  };
  const Case cases[] = {
      {"", "empty file"},
      {"RIFF....WAVE", "not a JPEG file"},
      {jpeg.substr(0, 2), "damaged JPEG header"},
  };
  for (const Case& c : cases) {
    const photos::PhotoKind& kind = photos::PhotoKindForBytes(span(c.bytes));
    EXPECT_EQ(&kind, &photos::PhotoKinds().front());
    EXPECT_EQ(kind.unreadable(span(c.bytes)), c.words);
    ExImageInfo record;
    EXPECT_FALSE(photos::ReadPhotographBytes("p", span(c.bytes), &record).readable()) << c.words;
  }
}

// A FlashPix note's pieces past the first are left in the file after their headers, and they are
// nothing but the recording; the first piece, with the WAVE header, and every other segment stay.
TEST(PhotoKinds, AJpegLeavesOnlyItsNotesLaterPiecesInTheFile) {
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::pcm8, {.seconds = 2.0});
  const std::string plain = fixtures::makeJpeg();
  const auto read = [](const std::string& file) {
    return [&file](std::uint64_t at, std::uint8_t* out, std::size_t n) {
      if (at > file.size() || n > file.size() - at) return false;
      std::memcpy(out, file.data() + at, n);
      return true;
    };
  };
  const std::string photo = fixtures::embedWave(plain, wave, fixtures::pieces(4000));
  const std::vector<photos::FileStretch> parts = photos::PhotographUnheldParts(read(photo), photo.size());
  ASSERT_EQ(parts.size(), flashpix::pieceCount(wave.size(), 4000) - 1);
  std::uint64_t carried = 0;
  for (const photos::FileStretch& s : parts) {
    EXPECT_NE(wave.find(photo.substr(std::size_t(s.offset), std::size_t(s.length))), std::string::npos);
    carried += s.length;
  }
  EXPECT_GT(carried, wave.size() - 4000);
  EXPECT_TRUE(photos::PhotographUnheldParts(read(plain), plain.size()).empty());
  const std::string raw = testsupport::buildDng({}, testsupport::dngPreviewJpeg({}));
  EXPECT_TRUE(photos::PhotographUnheldParts(read(raw), raw.size()).empty());
}

}  // namespace

