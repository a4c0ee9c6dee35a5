// SPDX-License-Identifier: GPL-2.0-or-later
// The head of a movie we wrote, read back: a motion photo's MP4 found wherever the still's XMP
// lies and never from a header that is not whole; a track's duration as its headers give it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "media/MadeFrom.h"
#include "media/MotionPhoto.h"
#include "media/MotionPhotoXmp.h"
#include "media/MovieHead.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

namespace {

std::string be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string be64(std::uint64_t v) { return be32(std::uint32_t(v >> 32)) + be32(std::uint32_t(v)); }
std::string atom(const char* type, const std::string& body) { return be32(std::uint32_t(body.size() + 8)) + type + body; }
std::string segment(unsigned char code, const std::string& payload) {
  const std::size_t length = payload.size() + 2;
  return std::string{char(0xFF), char(code), char(length >> 8), char(length)} + payload;
}

const std::string kMoovBody = atom("mvhd", std::string(100, '\0')) + atom("udta", atom("s2mf", "record"));
const std::string kMp4 = atom("ftyp", "isom\0\0\2\0isom") + atom("moov", kMoovBody) + atom("mdat", std::string(5000, 'v'));

// The photograph behind that many full FlashPix-sized APP2 pieces and an Exif segment, made a
// motion photo of kMp4 (its XMP goes after the Exif segment, so after the pieces).
std::string motionPhotoBehind(int pieces, std::size_t exifBytes) {
  std::string jpeg = fixtures::withSegment(fixtures::makeJpeg(), 0xE1, "Exif" + std::string(exifBytes - 4, '\0'));
  for (int k = 0; k < pieces; ++k) jpeg = fixtures::withSegment(jpeg, 0xE2, "FPXR" + std::string(65529, char('a' + k % 26)));
  std::string why;
  const auto still = media::MotionPhotoStill(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), kMp4.size(), &why);
  EXPECT_TRUE(still.has_value()) << why;
  return still.value_or("") + kMp4;
}

}  // namespace

TEST(MovieHead, FindsAMotionPhotosMovieWhereverItsXmpLies) {
  testsupport::ScratchDir dir;
  const struct {
    const char* name;
    int pieces;
    std::size_t exifBytes;
  } rows[] = {{"first page", 0, 100},
              {"behind a thumbnail", 0, 60000},
              {"past 256 KB of recording pieces", 6, 100},
              {"past a megabyte of them", 20, 30000}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string bytes = motionPhotoBehind(r.pieces, r.exifBytes);
    testsupport::writeFile(dir.file("a.MP.jpg"), bytes);
    const std::optional<media::MovieHead> head = media::ReadMovieHeadAtPath(dir.file("a.MP.jpg"));
    ASSERT_TRUE(head.has_value());
    EXPECT_TRUE(head->motionPhoto);
    EXPECT_EQ(head->movieStart, bytes.size() - kMp4.size());
    EXPECT_EQ(std::string(head->moov.begin(), head->moov.end()), kMoovBody);
  }
  // A plain movie starts at 0, whether its head fits the first page or not.
  for (const std::string& movie : {kMp4, atom("free", std::string(9000, '\0')) + kMp4}) {
    testsupport::writeFile(dir.file("a.mp4"), movie);
    const std::optional<media::MovieHead> head = media::ReadMovieHeadAtPath(dir.file("a.mp4"));
    ASSERT_TRUE(head.has_value()) << movie.size();
    EXPECT_FALSE(head->motionPhoto);
    EXPECT_EQ(head->movieStart, 0u);
    EXPECT_EQ(std::string(head->moov.begin(), head->moov.end()), kMoovBody);
  }
}

TEST(MovieHead, AStillHeaderThatIsNotWholeGivesNoMovieAndEndsSoon) {
  testsupport::ScratchDir dir;
  const std::string xmp = segment(0xE1, std::string(media::kXmpSignature, sizeof media::kXmpSignature) +
                                            media::MotionPhotoXmp(kMp4.size()));
  const std::string rest = fixtures::makeJpeg().substr(2) + kMp4;
  const std::string soi = "\xFF\xD8";
  std::string tiny;
  for (int k = 0; k < 40000; ++k) tiny += segment(0xFE, "");
  const struct {
    const char* name;
    std::string before;  // the bytes between the start of image and the XMP segment
    bool found;
  } rows[] = {
      {"comments, fill bytes and a restart marker", segment(0xFE, "a") + "\xFF\xFF\xFF" + segment(0xFE, "b") + "\xFF\xD0", true},
      {"an Exif segment longer than a page", segment(0xE1, "Exif" + std::string(9000, '\0')), true},
      {"an APP1 too short for a signature", segment(0xE1, "http"), true},
      {"a length under 2", std::string("\xFF\xFE\x00\x01", 4), false},
      {"a stray byte", std::string("\x00", 1) + segment(0xFE, "a"), false},
      {"a second start of image", "\xFF\xD8", false},
      {"the scan first", segment(0xDA, std::string(10, '\0')), false},
      {"an end of image first", "\xFF\xD9", false},
      {"more segments than any photograph holds", tiny, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    testsupport::writeFile(dir.file("b.MP.jpg"), soi + r.before + xmp + rest);
    const auto started = std::chrono::steady_clock::now();
    const std::optional<media::MovieHead> head = media::ReadMovieHeadAtPath(dir.file("b.MP.jpg"));
    EXPECT_EQ(head.has_value(), r.found);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  }
  // A segment that claims to run past the end of the file, at every place a page may end.
  for (std::size_t pad : {0u, 4000u, 4090u, 4093u, 4095u}) {
    const std::string bytes = soi + segment(0xFE, std::string(pad, ' ')) + "\xFF\xE2\xFF\xF0" + "FPXR";
    testsupport::writeFile(dir.file("c.MP.jpg"), bytes);
    EXPECT_FALSE(media::ReadMovieHeadAtPath(dir.file("c.MP.jpg"))) << pad;
  }
}

TEST(MovieHead, ATracksDurationAsItsHeadersGiveIt) {
  using Result = media::TrackDuration::Result;
  const std::string mvhd0 = atom("mvhd", std::string(12, '\0') + be32(600) + be32(55) + std::string(80, '\0'));
  const std::string mvhd1 = atom("mvhd", std::string(1, '\1') + std::string(19, '\0') + be32(44100) + be64(1));
  auto trak = [](const char* handler, const std::string& tkhd) {
    return atom("trak", tkhd + atom("mdia", atom("hdlr", std::string(8, '\0') + handler + std::string(12, '\0'))));
  };
  const std::string tkhd0 = atom("tkhd", std::string(20, '\0') + be32(55) + std::string(60, '\0'));
  const std::string tkhd1 = atom("tkhd", std::string(1, '\1') + std::string(27, '\0') + be64(1ULL << 33));
  const struct {
    const char* name;
    std::string moov;
    Result result;
    std::int32_t scale;
    std::uint64_t duration;
  } rows[] = {
      {"sound track", mvhd0 + trak("soun", tkhd0), Result::found, 600, 55},
      {"the second track", mvhd0 + trak("vide", tkhd0) + trak("soun", tkhd1), Result::found, 600, 1ULL << 33},
      {"64-bit headers", mvhd1 + trak("soun", tkhd1), Result::found, 44100, 1ULL << 33},
      {"no such track", mvhd0 + trak("vide", tkhd0), Result::noSuchTrack, 600, 0},
      {"a track past its parent", mvhd0 + be32(400) + "trak" + tkhd0, Result::noSuchTrack, 600, 0},
      {"a short track header", mvhd0 + trak("soun", atom("tkhd", std::string(23, '\0'))), Result::damagedTrack, 600, 0},
      {"a wide track header cut", mvhd0 + trak("soun", atom("tkhd", "\1" + std::string(34, '\0'))), Result::damagedTrack, 600, 0},
      {"no track header", mvhd0 + trak("soun", ""), Result::damagedTrack, 600, 0},
      {"no movie header", trak("soun", tkhd0), Result::damagedMovie, 0, 0},
      {"a time scale of 0", atom("mvhd", std::string(96, '\0')) + trak("soun", tkhd0), Result::damagedMovie, 0, 0},
      {"a negative time scale", atom("mvhd", std::string(12, '\0') + be32(0x80000000u) + be32(1)) + trak("soun", tkhd0),
       Result::damagedMovie, 0, 0},
      {"a wide movie header cut", atom("mvhd", "\1" + std::string(21, '\0')) + trak("soun", tkhd0), Result::damagedMovie, 0, 0},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const media::TrackDuration d = media::MovieTrackDuration(
        std::span(reinterpret_cast<const std::uint8_t*>(r.moov.data()), r.moov.size()), media::kSoundMedia);
    EXPECT_EQ(d.result, r.result);
    EXPECT_EQ(d.movieScale, r.scale);
    EXPECT_EQ(d.duration, r.duration);
  }
}
