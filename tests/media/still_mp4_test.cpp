// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 and the motion photo written from a still and its PCM: odd sizes and every turn give an
// upright, even frame lasting the sound, the same with the sound encoded ahead; the motion photo
// is the photograph's bytes with the XMP, then that MP4; each refusal names its step in words.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "media/MotionPhoto.h"
#include "media/ByteReaders.h"
#include "media/StillMp4.h"
#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

using media::StillMp4Step;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::shellQuote;

namespace {

// A tone of frames sample frames, 16-bit, pulled in whatever pieces are asked for; it ends early
// (damaged) when told to.
class Tone final : public media::PcmSource {
 public:
  Tone(media::PcmLayout layout, std::uint64_t frames, std::uint64_t endsAt = ~std::uint64_t(0))
      : layout_(layout), frames_(frames), endsAt_(endsAt) {}
  const media::PcmLayout& layout() const override { return layout_; }
  std::uint64_t frames() const override { return frames_; }
  std::size_t read(std::uint8_t* out, std::size_t n) override {
    n = std::size_t(std::min<std::uint64_t>({n, frames_ - at_, endsAt_ > at_ ? endsAt_ - at_ : 0}));
    if (n == 0 && at_ < frames_) status_ = media::Status::damaged;
    for (std::size_t i = 0; i < n * std::size_t(layout_.channels); ++i) {
      const auto v = std::int16_t(8000 * ((at_ * 7 + i) % 40 < 20 ? 1 : -1));
      std::memcpy(out + 2 * i, &v, 2);
    }
    at_ += n;
    return n;
  }
  media::Status status() const override { return status_; }
  const std::string& problem() const override { return problem_; }

 private:
  media::PcmLayout layout_;
  std::uint64_t frames_, endsAt_, at_ = 0;
  media::Status status_ = media::Status::ok;
  std::string problem_ = "the recording ends early";
};

std::string picture(int width, int height) {
  return fixtures::encodeJpeg(width, height, 3, {}, [&](int y, std::uint8_t* row) {
    for (int x = 0; x < width; ++x) {
      row[3 * x] = std::uint8_t(x * 255 / width);
      row[3 * x + 1] = std::uint8_t(y * 255 / height);
      row[3 * x + 2] = std::uint8_t((x ^ y) & 0xFF);
    }
  });
}

media::Still stillOf(const std::string& jpeg, int width, int height, int orientation) {
  media::Still s;
  s.jpeg = {reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size()};
  s.width = width;
  s.height = height;
  s.orientation = orientation;
  return s;
}

struct Written {
  media::StillMp4Outcome outcome;
  std::string bytes;
};

Written write(const std::string& path, const media::Still& still, media::PcmSource& sound,
              const media::StillMp4Request& request, bool motion = false) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  EXPECT_GE(fd, 0);
  Written w;
  w.outcome = motion ? media::WriteMotionPhoto(fd, still, sound, request) : media::WriteStillMp4(fd, still, sound, request);
  close(fd);
  w.bytes = readFile(path);
  return w;
}

std::string md5(const std::string& path, const char* map) {
  std::string out;
  testsupport::run("ffmpeg -v error -i " + shellQuote(path) + " -map " + map + " -f md5 - 2>&1", &out);
  return out;
}

constexpr media::PcmLayout kMono8k{1, 8000, 16, false, true};

}  // namespace

// Each size written with the sound encoded ahead and in line: the same picture and sound either way.
TEST(StillMp4, OddSizesAndEveryTurnGiveAnUprightEvenFrameLastingTheSoundAheadOrInLine) {
  REQUIRE_TOOL("ffmpeg");
  ScratchDir dir;
  struct Row {
    int width, height, orientation, boxWidth, boxHeight;
    int outWidth, outHeight;
  } rows[] = {
      {320, 240, 1, 0, 0, 320, 240},     {641, 479, 6, 0, 0, 478, 640},  {33, 17, 3, 0, 0, 32, 16},
      {641, 479, 8, 600, 448, 448, 600}, {4000, 30, 5, 600, 4, 4, 532},  {160, 120, 2, 600, 450, 160, 120},
      {5000, 2000, 7, 0, 0, 1638, 4096},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.width) + " x " + std::to_string(r.height) + " turned " + std::to_string(r.orientation));
    const std::string jpeg = picture(r.width, r.height);
    std::string sums[2];
    for (int ahead = 0; ahead < 2; ++ahead) {
      Tone sound({2, 11025, 16, false, true}, 11025 * 3 / 2);
      media::StillMp4Request request;
      request.boxWidth = r.boxWidth;
      request.boxHeight = r.boxHeight;
      request.soundAhead = ahead == 1;
      const Written w = write(dir.file("a.mp4"), stillOf(jpeg, r.width, r.height, r.orientation), sound, request);
      ASSERT_EQ(w.outcome.failed, StillMp4Step::done) << w.outcome.problem;
      sums[ahead] = md5(dir.file("a.mp4"), "0:v") + md5(dir.file("a.mp4"), "0:a");
    }
    EXPECT_EQ(sums[0], sums[1]);
    const auto streams = moviechecks::probeStreams(dir.file("a.mp4"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].width, r.outWidth);
    EXPECT_EQ(streams[0].height, r.outHeight);
    for (const auto& s : streams) EXPECT_NEAR(s.duration, 1.5, 0.03) << s.codecType;
  }
}

TEST(StillMp4, MotionPhotoIsThePhotographWithItsXmpThenTheMp4) {
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  const std::string jpeg = picture(320, 240) + "trailer bytes kept";
  Tone sound(kMono8k, 8000);
  const Written w = write(dir.file("m.jpg"), stillOf(jpeg, 320, 240, 6), sound, {}, true);
  ASSERT_EQ(w.outcome.failed, StillMp4Step::done) << w.outcome.problem;
  // The front is what the photograph becomes for an MP4 of the rest's length, byte for byte, and
  // what followed the picture ends the file, after the MP4.
  std::string why, tail;
  for (std::size_t videoLength = 1000; videoLength < w.bytes.size(); ++videoLength) {
    const auto front = media::MotionPhotoStill(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(),
                                               videoLength, &why, &tail);
    ASSERT_TRUE(front) << why;
    if (front->size() + videoLength + tail.size() != w.bytes.size()) continue;
    EXPECT_EQ(w.bytes.compare(0, front->size(), *front), 0);
    EXPECT_EQ(w.bytes.compare(w.bytes.size() - tail.size(), tail.size(), tail), 0);
    EXPECT_NE(tail.find("trailer bytes kept"), std::string::npos);
    testsupport::writeFile(dir.file("tail.mp4"), w.bytes.substr(front->size()));
    const auto streams = moviechecks::probeStreams(dir.file("tail.mp4"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].width, 240);
    EXPECT_NEAR(streams[1].duration, 1.0, 0.03);
    return;
  }
  ADD_FAILURE() << "no MP4 length makes the file's size";
}

// A photograph held only through its picture's end, the rest read from the file where needed,
// becomes the same motion photo as one held whole: its trailer after the movie, a gain map's
// directory keeping what follows the picture in place, and a Samsung motion photo whose mark
// lies past the held start refused.
TEST(StillMp4, MotionPhotoOfAPhotographHeldOnlyToItsPictureIsTheSame) {
  ScratchDir dir;
  const std::string picture320 = picture(320, 240);
  const std::string samsungEnd = [] {
    const std::string name = "MotionPhoto_Data";
    std::string block = std::string("\0\0\x30\x0a", 4) + char(name.size()) + std::string(3, '\0') + name + "video";
    std::string entry = std::string("\0\0\x30\x0a", 4);
    for (std::uint32_t v : {std::uint32_t(block.size()), std::uint32_t(block.size())})
      for (int i = 0; i < 4; ++i) entry += char((v >> (8 * i)) & 0xFF);
    std::string directory = "SEFH" + std::string("\x6a\0\0\0\x01\0\0\0", 8) + entry;
    std::string length;
    for (int i = 0; i < 4; ++i) length += char((directory.size() >> (8 * i)) & 0xFF);
    return block + directory + length + "SEFT";
  }();
  const struct {
    const char* name;
    std::string file;
    bool refused;
  } rows[] = {
      {"trailer", picture320 + std::string(300000, 't') + "end", false},
      {"nothing after", picture320, false},
      {"samsung motion photo", picture320 + samsungEnd, true},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::string made[2];
    for (int held = 0; held < 2; ++held) {
      media::Still still = stillOf(r.file, 320, 240, 1);
      if (held == 1) {
        still.jpeg = still.jpeg.first(picture320.size());
        still.file = std::make_shared<media::MemoryByteReader>(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(r.file.data()), r.file.size()));
      }
      Tone sound(kMono8k, 8000);
      const Written w = write(dir.file("m.jpg"), still, sound, {}, true);
      if (r.refused) {
        EXPECT_EQ(w.outcome.failed, StillMp4Step::photograph);
        EXPECT_EQ(w.outcome.problem, "the photograph already is a motion photo");
        continue;
      }
      ASSERT_EQ(w.outcome.failed, StillMp4Step::done) << w.outcome.problem;
      made[held] = w.bytes;
    }
    EXPECT_TRUE(made[0] == made[1]) << made[0].size() << " against " << made[1].size();
  }
}

TEST(StillMp4, EachRefusalNamesItsStepInWords) {
  ScratchDir dir;
  const std::string jpeg = picture(64, 48);
  struct Row {
    const char* what;
    std::string jpeg;
    media::PcmLayout layout;
    std::uint64_t frames, endsAt;
    bool motion;
    StillMp4Step step;
    const char* words;
  } rows[] = {
      {"a 1 Hz recording", jpeg, {1, 1, 16, false, true}, 10, ~0ull, false, StillMp4Step::encoding, "1 Hz"},
      {"nine channels", jpeg, {9, 8000, 16, false, true}, 800, ~0ull, false, StillMp4Step::encoding, "9 channels"},
      {"samples of 12 bits", jpeg, {1, 8000, 12, false, true}, 800, ~0ull, false, StillMp4Step::encoding, "12 bits"},
      {"no sound", jpeg, kMono8k, 0, ~0ull, false, StillMp4Step::sound, "ends"},
      {"sound that ends early", jpeg, kMono8k, 8000, 100, false, StillMp4Step::sound, "ends"},
      {"sound that ends early, motion", jpeg, kMono8k, 8000, 100, true, StillMp4Step::sound, "ends"},
      {"no JPEG", "not a picture at all", kMono8k, 800, ~0ull, false, StillMp4Step::picture, "picture"},
      {"a JPEG cut short", jpeg.substr(0, jpeg.size() / 2), kMono8k, 800, ~0ull, false, StillMp4Step::picture,
       "damaged"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Tone sound(r.layout, r.frames, r.endsAt);
    media::StillMp4Request request;
    request.soundAhead = true;
    const Written w = write(dir.file("x"), stillOf(r.jpeg, 64, 48, 1), sound, request, r.motion);
    EXPECT_EQ(w.outcome.failed, r.step) << w.outcome.problem;
    EXPECT_NE(w.outcome.problem.find(r.words), std::string::npos) << w.outcome.problem;
  }
}
