// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 writer on its own: frame sizes, every EXIF orientation turned in the pixels, every
// sample layout it takes, its mark and metadata, the index ahead of the data, and failures that
// come back as results (a full disk, calls out of order) rather than as a broken file.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "media/Mp4Writer.h"
#include "support/MovieChecks.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

using media::Mp4Picture;
using media::Mp4Result;
using media::Mp4Writer;
using media::PcmLayout;
using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::shellQuote;

namespace {

// A stored picture whose quadrants differ: red top left, green top right, blue bottom left,
// white bottom right, so that any turn or mirror shows.
std::vector<std::uint8_t> quadrantPicture(int width, int height) {
  std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
      const bool right = x >= width / 2, bottom = y >= height / 2;
      const int q = (bottom ? 2 : 0) + (right ? 1 : 0);
      static const std::uint8_t colours[4][3] = {{220, 30, 30}, {30, 200, 30}, {30, 30, 220}, {240, 240, 240}};
      std::memcpy(p, colours[q], 3);
    }
  return rgb;
}

// 16-bit sine, mono, rate Hz.
std::vector<std::uint8_t> sine(int rate, std::size_t frames, int channels = 1) {
  std::vector<std::uint8_t> out(frames * channels * 2);
  for (std::size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) {
      const auto v = std::int16_t(std::lround(12000 * std::sin(2 * M_PI * 440.0 * double(i) / rate)));
      std::memcpy(&out[(i * channels + c) * 2], &v, 2);
    }
  return out;
}

struct Written {
  Mp4Result result;
  std::string problem;
  int systemError = 0;
};

// The orders in which a writer can be given its parts.
enum class Order {
  pictureThenSound,  // begin, rows, sound
  soundFirst,        // beginSound and the sound before the file is known, then begin and rows
  pictureFirst,      // beginPicture and rows, then beginSound and the sound
  adopted,           // beginPicture and rows, then the sound another writer encoded ahead
};

// One MP4 of the quadrant picture and a sine, written to fd in pieces, in that order.
Written writeMp4(int fd, int width, int height, int orientation, int rate, std::size_t frames,
                 const std::vector<std::pair<std::string, std::string>>& metadata = {},
                 Order order = Order::pictureThenSound) {
  Mp4Writer writer(order == Order::soundFirst ? -1 : fd);
  for (const auto& [k, v] : metadata) writer.setMetadata(k, v);
  Mp4Picture picture{width, height, 3, orientation, 0, 0};
  media::Mp4FrameSize(width, height, orientation, 0, 0, &picture.outWidth, &picture.outHeight);
  PcmLayout layout{1, rate, 16, false, true};
  const auto pcm = sine(rate, frames);
  auto addSound = [&](Mp4Writer& to, Mp4Result r) {
    for (std::size_t at = 0; at < frames && r == Mp4Result::ok; at += 3000)
      r = to.addSound(pcm.data() + at * 2, std::min<std::size_t>(3000, frames - at));
    return r;
  };
  Mp4Writer ahead;
  Mp4Result r = Mp4Result::ok;
  if (order == Order::soundFirst) {
    r = addSound(writer, writer.beginSound(layout, frames));
    writer.setOutput(fd);
  }
  if (order == Order::adopted) r = addSound(ahead, ahead.beginSound(layout, frames));
  if (r == Mp4Result::ok)
    r = order == Order::pictureFirst || order == Order::adopted ? writer.beginPicture(picture, layout, frames)
                                                                 : writer.begin(picture, layout, frames);
  const auto rgb = quadrantPicture(width, height);
  for (int y = 0; y < height && r == Mp4Result::ok; y += 7)
    r = writer.addPictureRows(rgb.data() + std::size_t(y) * width * 3, std::size_t(width) * 3, std::min(7, height - y));
  if (r == Mp4Result::ok && order == Order::pictureThenSound) r = addSound(writer, r);
  if (r == Mp4Result::ok && order == Order::pictureFirst) r = addSound(writer, writer.beginSound(layout, frames));
  if (r == Mp4Result::ok && order == Order::adopted) r = writer.adoptSound(ahead);
  if (r == Mp4Result::ok) r = writer.finish();
  return {r, writer.problem(), writer.systemError()};
}

std::string writeFileMp4(const std::string& path, int width, int height, int orientation, int rate,
                         std::size_t frames, const std::vector<std::pair<std::string, std::string>>& metadata = {},
                         Order order = Order::pictureThenSound) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  EXPECT_GE(fd, 0);
  const Written w = writeMp4(fd, width, height, orientation, rate, frames, metadata, order);
  ::close(fd);
  EXPECT_EQ(w.result, Mp4Result::ok) << w.problem;
  return readFile(path);
}

// The quadrant colours of a decoded RGB frame, one letter each, read near each quadrant's middle.
std::string quadrantsOf(const std::string& rgb, int width, int height) {
  std::string out;
  for (int qy = 0; qy < 2; ++qy)
    for (int qx = 0; qx < 2; ++qx) {
      const int x = width / 4 + qx * width / 2, y = height / 4 + qy * height / 2;
      const auto* p = reinterpret_cast<const std::uint8_t*>(rgb.data()) + (std::size_t(y) * width + x) * 3;
      out += p[0] > 180 && p[1] > 180 ? 'w' : p[0] > 150 ? 'r' : p[1] > 150 ? 'g' : p[2] > 150 ? 'b' : '?';
    }
  return out;
}

}  // namespace

TEST(Mp4FrameSize, FitsTheBoxAndHardwareLimitsWithEvenSidesAndNeverEnlarges) {
  struct Row {
    int w, h, orientation, boxW, boxH, outW, outH;
  } rows[] = {
      {640, 480, 1, 0, 0, 640, 480},        // natural size
      {641, 479, 1, 0, 0, 640, 478},        // odd sides made even
      {640, 480, 6, 0, 0, 480, 640},        // upright sides for a turned picture
      {4000, 3000, 1, 0, 0, 3072, 2304},    // 12 MP: the short side is the limit
      {3000, 4000, 1, 0, 0, 2304, 3072},    // portrait
      {4000, 3000, 8, 0, 0, 2304, 3072},    // stored wide, shown tall
      {8000, 1000, 1, 0, 0, 4096, 512},     // a panorama: the long side is the limit
      {4000, 3000, 1, 640, 640, 640, 480},  // --resize box
      {320, 240, 1, 640, 640, 320, 240},    // never enlarged
      {1, 1, 1, 0, 0, 2, 2},                // never below 2 × 2
  };
  for (const Row& r : rows) {
    int w = 0, h = 0;
    media::Mp4FrameSize(r.w, r.h, r.orientation, r.boxW, r.boxH, &w, &h);
    EXPECT_EQ(w, r.outW) << r.w << "x" << r.h << " o" << r.orientation;
    EXPECT_EQ(h, r.outH) << r.w << "x" << r.h << " o" << r.orientation;
  }
}

TEST(Mp4Writer, H264AndAacWithTheIndexFirstTheMarkAndTheRecordingsLength) {
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  const std::string path = dir.file("a.mp4");
  const std::string bytes =
      writeFileMp4(path, 320, 240, 1, 8000, 8000 * 3 + 123, {{"made_from", "IMG_0001.JPG"}, {"creation_time", "2024-05-01T10:20:30Z"}});
  const auto top = moviechecks::topLevelTypes(bytes);
  const auto moov = std::find(top.begin(), top.end(), "moov"), mdat = std::find(top.begin(), top.end(), "mdat");
  ASSERT_NE(moov, top.end());
  ASSERT_NE(mdat, top.end());
  EXPECT_LT(moov - top.begin(), mdat - top.begin()) << "the index must come before the data";

  std::string out;
  run("ffprobe -v error -show_entries stream=codec_name,pix_fmt,color_range,duration,width,height,sample_rate "
      "-show_entries stream_side_data -show_entries format_tags -of flat " + shellQuote(path),
      &out);
  EXPECT_NE(out.find("codec_name=\"h264\""), std::string::npos) << out;
  EXPECT_NE(out.find("codec_name=\"aac\""), std::string::npos) << out;
  EXPECT_NE(out.find("pix_fmt=\"yuv420p\""), std::string::npos) << out;
  EXPECT_NE(out.find("color_range=\"tv\""), std::string::npos) << out;
  EXPECT_EQ(out.find("rotation"), std::string::npos) << out;
  EXPECT_NE(out.find(std::string("encoder=\"") + Mp4Writer::mark() + "\""), std::string::npos) << out;
  EXPECT_NE(out.find("creation_time=\"2024-05-01T10:20:30"), std::string::npos) << out;
  EXPECT_NE(out.find("made_from=\"IMG_0001.JPG\""), std::string::npos) << out;
  const double expected = (8000.0 * 3 + 123) / 8000;
  for (const auto& s : moviechecks::probeStreams(path)) EXPECT_NEAR(s.duration, expected, 0.05) << s.codecType;
}

TEST(Mp4Writer, EveryOrientationIsTurnedUprightInThePixels) {
  REQUIRE_TOOL("ffmpeg");
  ScratchDir dir;
  // What each orientation shows upright, from the stored r g / b w (exiftool's meaning of 1..8).
  const char* upright[9] = {"", "rgbw", "grwb", "wbgr", "bwrg", "rbgw", "brwg", "wgbr", "gwrb"};
  for (int o = 1; o <= 8; ++o) {
    const std::string path = dir.file("o" + std::to_string(o) + ".mp4");
    writeFileMp4(path, 96, 64, o, 16000, 16000);
    int w = 0, h = 0;
    const std::string rgb = moviechecks::decodeRgb(path, &w, &h);
    EXPECT_EQ(w, o >= 5 ? 64 : 96) << o;
    EXPECT_EQ(h, o >= 5 ? 96 : 64) << o;
    EXPECT_EQ(quadrantsOf(rgb, w, h), upright[o]) << "orientation " << o;
  }
}

// Whichever part is encoded first, and whichever writer encoded the sound, the tracks are the
// same and in the same order: the packets kept meanwhile all go in, timed as they were.
TEST(Mp4Writer, EveryOrderOfPictureAndSoundMakesTheSameTracks) {
  REQUIRE_TOOL("ffmpeg");
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  auto decoded = [](const std::string& path, const char* map) {
    std::string md5;
    EXPECT_EQ(run("ffmpeg -v error -i " + shellQuote(path) + " -map " + map + " -f md5 -", &md5), 0);
    return md5;
  };
  for (int rate : {8000, 44100}) {
    const std::string plain = dir.file("plain.mp4");
    writeFileMp4(plain, 160, 120, 6, rate, std::size_t(rate) * 5 / 2);
    for (Order order : {Order::soundFirst, Order::pictureFirst, Order::adopted}) {
      const std::string path = dir.file("order" + std::to_string(int(order)) + ".mp4");
      writeFileMp4(path, 160, 120, 6, rate, std::size_t(rate) * 5 / 2, {}, order);
      for (const char* map : {"0:v", "0:a"})
        EXPECT_EQ(decoded(plain, map), decoded(path, map)) << map << " at " << rate << " Hz, order " << int(order);
      const auto streams = moviechecks::probeStreams(path);
      ASSERT_EQ(streams.size(), 2u);
      EXPECT_EQ(streams[0].codecType, "video") << "the picture's track comes first";
      for (const auto& s : streams) EXPECT_NEAR(s.duration, 2.5, 0.05) << s.codecType;
    }
  }
}

TEST(Mp4Writer, AFullDiskIsAWriteFailureWithTheSystemsReason) {
  for (Order order : {Order::pictureThenSound, Order::soundFirst, Order::adopted}) {
    const int fd = ::open("/dev/full", O_RDWR);
    ASSERT_GE(fd, 0);
    const Written w = writeMp4(fd, 64, 48, 1, 8000, 8000, {}, order);
    ::close(fd);
    EXPECT_EQ(w.result, Mp4Result::writeFailed) << w.problem;
    EXPECT_EQ(w.systemError, ENOSPC);
  }
}

TEST(Mp4Writer, CallsOutOfOrderAndUnusableInputAreRefusedInWords) {
  ScratchDir dir;
  const int fd = ::open(dir.file("x.mp4").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  {
    Mp4Writer writer(fd);
    std::uint8_t row[64 * 3] = {};
    EXPECT_EQ(writer.addPictureRows(row, sizeof row, 1), Mp4Result::badInput);
    EXPECT_FALSE(writer.problem().empty());
  }
  {
    Mp4Writer writer(fd);
    EXPECT_EQ(writer.begin({64, 48, 3, 1, 63, 48}, {1, 8000, 16, false, true}, 8000), Mp4Result::badInput);
  }
  {
    Mp4Writer writer(fd);
    EXPECT_EQ(writer.begin({64, 48, 3, 1, 64, 48}, {1, 8000, 12, false, true}, 8000), Mp4Result::badInput);
  }
  {
    Mp4Writer writer(fd);
    EXPECT_EQ(writer.begin({64, 48, 3, 1, 64, 48}, {1, 8000, 16, false, true}, 0), Mp4Result::badInput);
  }
  {
    // Sound begun ahead is the sound the movie gets: another one is refused.
    Mp4Writer writer;
    ASSERT_EQ(writer.beginSound({1, 8000, 16, false, true}, 8000), Mp4Result::ok);
    EXPECT_EQ(writer.beginSound({1, 8000, 16, false, true}, 8000), Mp4Result::badInput);
    Mp4Writer other;
    ASSERT_EQ(other.beginSound({1, 8000, 16, false, true}, 8000), Mp4Result::ok);
    other.setOutput(fd);
    EXPECT_EQ(other.begin({64, 48, 3, 1, 64, 48}, {2, 8000, 16, false, true}, 8000), Mp4Result::badInput);
    EXPECT_FALSE(other.problem().empty());
    // A picture begun for one recording takes no other, nor a writer whose sound is not its own.
    Mp4Writer picture(fd), longer;
    ASSERT_EQ(picture.beginPicture({64, 48, 3, 1, 64, 48}, {1, 8000, 16, false, true}, 8000), Mp4Result::ok);
    ASSERT_EQ(longer.beginSound({1, 8000, 16, false, true}, 9000), Mp4Result::ok);
    EXPECT_EQ(picture.adoptSound(longer), Mp4Result::badInput);
    Mp4Writer withPicture(fd), empty;
    ASSERT_EQ(withPicture.beginPicture({64, 48, 3, 1, 64, 48}, {1, 8000, 16, false, true}, 8000), Mp4Result::ok);
    EXPECT_EQ(withPicture.adoptSound(empty), Mp4Result::badInput);
    // A picture with no sound ever given finishes nothing.
    Mp4Writer alone(fd);
    ASSERT_EQ(alone.beginPicture({64, 48, 3, 1, 64, 48}, {1, 8000, 16, false, true}, 8000), Mp4Result::ok);
    std::uint8_t rows[64 * 3 * 48] = {};
    ASSERT_EQ(alone.addPictureRows(rows, 64 * 3, 48), Mp4Result::ok);
    EXPECT_EQ(alone.finish(), Mp4Result::badInput);
  }
  {
    // The picture not given whole: no file is finished.
    Mp4Writer writer(fd);
    ASSERT_EQ(writer.begin({64, 48, 3, 1, 64, 48}, {1, 8000, 16, false, true}, 8000), Mp4Result::ok);
    std::uint8_t rows[64 * 3 * 10] = {};
    EXPECT_EQ(writer.addPictureRows(rows, 64 * 3, 10), Mp4Result::ok);
    EXPECT_EQ(writer.finish(), Mp4Result::badInput);
  }
  ::close(fd);
}

namespace {

TEST(Mp4Writer, EveryPacketOfAnyLengthAndRateIsIndexedAndPlays) {
  REQUIRE_TOOL("ffprobe");
  REQUIRE_TOOL("ffmpeg");
  struct Case {
    int rate;
    double seconds;
    int aacRate;
  };
  // Resampled up eightfold, at an AAC rate as it is, and long enough for many batches of sizes.
  const Case cases[] = {{1000, 5.0, 8000}, {44100, 1.5, 44100}, {8000, 600.0, 8000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.seconds) + " s");
    ScratchDir dir;
    const std::string path = dir.file("a.mp4");
    const std::size_t frames = std::size_t(c.rate * c.seconds);
    writeFileMp4(path, 64, 48, 1, c.rate, frames);
    std::string out;
    run("ffprobe -v error -count_packets -select_streams a -show_entries stream=nb_frames,nb_read_packets,duration "
        "-of csv=p=0 " + shellQuote(path),
        &out);
    int indexed = 0, read = 0;
    double seconds = 0;
    ASSERT_EQ(std::sscanf(out.c_str(), "%lf,%d,%d", &seconds, &indexed, &read), 3) << out;
    EXPECT_EQ(indexed, read);
    // Every frame of 1024 samples and the encoder's priming.
    EXPECT_GE(indexed, int(std::ceil(c.seconds * c.aacRate / 1024)) + 1);
    EXPECT_NEAR(seconds, double(frames) / c.rate, 0.002);
    std::string errors;
    run("ffmpeg -v error -i " + shellQuote(path) + " -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
  }
}

// Float samples far outside -1 to 1, infinite or NaN (a damaged or hostile float WAVE) are clipped
// rather than handed to the AAC encoder, whose search never ends on some of them; what plays is
// in range.
TEST(Mp4Writer, FloatSamplesOfAnyValueAreClippedAndNeverStallTheEncoder) {
  REQUIRE_TOOL("ffmpeg");
  const double wild[] = {2.159e8, -1e30, INFINITY, -INFINITY, NAN, 1.0000001, -3.5};
  for (const int bits : {32, 64}) {
    SCOPED_TRACE(bits);
    ScratchDir dir;
    const std::string path = dir.file("a.mp4");
    const std::size_t frames = 8000, width = std::size_t(bits / 8);
    std::vector<std::uint8_t> pcm(frames * width);
    for (std::size_t i = 0; i < frames; ++i) {
      const double v = i % 400 < 7 ? wild[i % 400] : 0.5 * std::sin(double(i) / 10);
      const float f = float(v);
      std::memcpy(&pcm[i * width], bits == 32 ? static_cast<const void*>(&f) : &v, width);
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    Mp4Writer writer(fd);
    Mp4Picture picture{64, 48, 3, 1, 0, 0};
    media::Mp4FrameSize(64, 48, 1, 0, 0, &picture.outWidth, &picture.outHeight);
    alarm(120);  // a stalled encoder ends the test rather than the suite's patience
    Mp4Result r = writer.begin(picture, PcmLayout{1, 8000, bits, true, true}, frames);
    const auto rgb = quadrantPicture(64, 48);
    if (r == Mp4Result::ok) r = writer.addPictureRows(rgb.data(), 64 * 3, 48);
    if (r == Mp4Result::ok) r = writer.addSound(pcm.data(), frames);
    if (r == Mp4Result::ok) r = writer.finish();
    alarm(0);
    ::close(fd);
    ASSERT_EQ(r, Mp4Result::ok) << writer.problem();
    std::string decoded;
    run("ffmpeg -v error -i " + shellQuote(path) + " -f f32le -", &decoded);
    ASSERT_GT(decoded.size(), frames * 4 / 2);
    float peak = 0;
    for (std::size_t at = 0; at + 4 <= decoded.size(); at += 4) {
      float f;
      std::memcpy(&f, decoded.data() + at, 4);
      peak = std::max(peak, std::fabs(f));
    }
    EXPECT_LT(peak, 1.5f);
  }
}

}  // namespace

