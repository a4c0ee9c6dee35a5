// SPDX-License-Identifier: GPL-2.0-or-later
// --format=mp4 and --format=motion judged by the programs people play them with: ffprobe and
// ffmpeg for streams, lengths, layout, picture (against ImageMagick's upright photograph) and
// sound (against the recording); headless Chromium and Firefox ESR for playing in a browser;
// exiftool and djpeg for motion photos. Also the rules for files already under the name.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/BrowserChecks.h"
#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"
#include "support/TiffBuilder.h"

using fixtures::WaveKind;
using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::shellQuote;
using testsupport::writeFile;

namespace {

// A photograph with detail and colour everywhere (so that a wrong turn, mirror, colour matrix or
// range shows in the PSNR), width × height as stored, with that EXIF orientation, carrying wave.
std::string photograph(int width, int height, int orientation, const std::string& wave) {
  const std::string jpeg = fixtures::encodeJpeg(width, height, 3, {.quality = 92}, [&](int y, std::uint8_t* row) {
    for (int x = 0; x < width; ++x) {
      row[3 * x] = std::uint8_t(255 * x / width);
      row[3 * x + 1] = std::uint8_t(255 * y / height);
      row[3 * x + 2] = std::uint8_t(128 + 100 * std::sin(x / 9.0) * std::cos(y / 13.0));
      // A dark corner block top left, so that mirrors and turns change the picture a lot.
      if (x < width / 4 && y < height / 3) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 20;
    }
  });
  testsupport::TiffBuilder tiff;
  const int ifd0 = tiff.directory();
  tiff.shorts(ifd0, 274, {std::uint16_t(orientation)});
  tiff.ascii(ifd0, 271, "TestMaker");
  tiff.ascii(ifd0, 272, "TestModel 1");
  const std::string exif = std::string("Exif\0\0", 6) + tiff.build();
  return fixtures::embedWave(fixtures::withSegment(jpeg, 0xE1, exif), wave);
}

double psnr(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = double(std::uint8_t(a[i])) - double(std::uint8_t(b[i]));
    sum += d * d;
  }
  const double mse = sum / double(a.size());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Mono 16-bit samples at rate, as ffmpeg decodes the file's first sound stream.
std::vector<std::int16_t> decodedMono(const std::string& path, int rate) {
  std::string out;
  run("ffmpeg -v error -i " + shellQuote(path) + " -map 0:a:0 -ac 1 -ar " + std::to_string(rate) + " -f s16le - 2>/dev/null",
      &out);
  std::vector<std::int16_t> samples(out.size() / 2);
  std::memcpy(samples.data(), out.data(), samples.size() * 2);
  return samples;
}

// Signal to noise of decoded against reference, both from sample 0, over the reference's length.
double snr(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& decoded) {
  double signal = 0, noise = 0;
  for (std::size_t i = 0; i < reference.size(); ++i) {
    const double r = reference[i], d = i < decoded.size() ? decoded[i] : 0;
    signal += r * r;
    noise += (r - d) * (r - d);
  }
  return noise == 0 ? 99 : 10 * std::log10(signal / noise);
}

double recordingSeconds(const std::string& wavePath) {
  std::string out;
  run("ffprobe -v error -show_entries stream=duration -of csv=p=0 " + shellQuote(wavePath), &out);
  return std::atof(out.c_str());
}

struct Probe {
  std::string text;
  bool has(const std::string& s) const { return text.find(s) != std::string::npos; }
};

Probe probe(const std::string& path) {
  Probe p;
  run("ffprobe -v error -show_entries stream=codec_type,codec_name,pix_fmt,color_range,duration,width,height "
      "-show_entries stream_side_data -show_entries format_tags -of flat " + shellQuote(path),
      &p.text);
  return p;
}

// Every WAVE kind still2mov reads, at the rates cameras and recorders use.
struct Recording {
  WaveKind kind;
  int rate;
  double seconds;
};
const Recording kRecordings[] = {
    {WaveKind::imaAdpcm, 8000, 3.5},    {WaveKind::pcm16Mono, 11025, 1.3}, {WaveKind::pcm16Stereo, 44100, 1.0},
    {WaveKind::pcm8, 22050, 0.7},       {WaveKind::muLaw, 8000, 1.1},      {WaveKind::aLaw, 8000, 0.9},
    {WaveKind::msAdpcm, 22050, 1.2},    {WaveKind::pcm24, 48000, 0.8},     {WaveKind::pcm32, 32000, 0.6},
    {WaveKind::float32, 48000, 1.0},    {WaveKind::float64, 96000, 0.5},
};

}  // namespace

TEST(Mp4Format, EveryWaveKindGivesH264AndAacOfTheRecordingsLengthIndexFirstUnturnedAndOurs) {
  REQUIRE_TOOL("ffprobe");
  REQUIRE_TOOL("ffmpeg");
  for (const Recording& rec : kRecordings) {
    SCOPED_TRACE(std::string(fixtures::waveKindName(rec.kind)) + " at " + std::to_string(rec.rate));
    ScratchDir dir;
    const std::string wave = fixtures::makeWave(rec.kind, {.seconds = rec.seconds, .rate = rec.rate});
    writeFile(dir.file("rec.wav"), wave);
    writeFile(dir.file("p.jpg"), photograph(160, 120, 6, wave));
    const auto r = fixtures::runStill2mov({"--format=mp4", dir.file("p.jpg")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string mp4 = dir.file("p.mp4");
    const Probe p = probe(mp4);
    EXPECT_TRUE(p.has("codec_name=\"h264\"") && p.has("codec_name=\"aac\"")) << p.text;
    EXPECT_TRUE(p.has("pix_fmt=\"yuv420p\"") && p.has("color_range=\"tv\"")) << p.text;
    EXPECT_FALSE(p.has("rotation")) << "the picture is turned in its pixels, not by a matrix\n" << p.text;
    EXPECT_TRUE(p.has("encoder=\"still2mov")) << p.text;
    // Turned upright: stored 160 × 120 with orientation 6 shows 120 × 160.
    EXPECT_TRUE(p.has("width=120") && p.has("height=160")) << p.text;
    const double seconds = recordingSeconds(dir.file("rec.wav"));
    for (const auto& s : moviechecks::probeStreams(mp4)) EXPECT_NEAR(s.duration, seconds, 0.05) << s.codecType;
    const auto top = moviechecks::topLevelTypes(readFile(mp4));
    const auto moov = std::find(top.begin(), top.end(), "moov"), mdat = std::find(top.begin(), top.end(), "mdat");
    EXPECT_TRUE(moov != top.end() && mdat != top.end() && moov < mdat) << "moov must come before mdat";

    // The sound, from its first sample on, is the recording's.
    const auto reference = decodedMono(dir.file("rec.wav"), rec.rate);
    const auto decoded = decodedMono(mp4, rec.rate);
    ASSERT_FALSE(reference.empty());
    EXPECT_GE(snr(reference, decoded), 20.0);
  }
}

TEST(Mp4Format, EveryOrientationMatchesImageMagicksUprightPhotograph) {
  REQUIRE_TOOL("ffmpeg");
  REQUIRE_TOOL("convert");
  const std::string wave = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.5});
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE("orientation " + std::to_string(orientation));
    ScratchDir dir;
    writeFile(dir.file("p.jpg"), photograph(200, 120, orientation, wave));
    const auto r = fixtures::runStill2mov({"--format=mp4", "--no-resize", dir.file("p.jpg")});
    ASSERT_EQ(r.status, 0) << r.err;
    int w = 0, h = 0;
    const std::string frame = moviechecks::decodeRgb(dir.file("p.mp4"), &w, &h);
    EXPECT_EQ(w, orientation >= 5 ? 120 : 200);
    EXPECT_EQ(h, orientation >= 5 ? 200 : 120);
    std::string upright;
    run("convert " + shellQuote(dir.file("p.jpg")) + " -auto-orient -depth 8 rgb:- 2>/dev/null", &upright);
    ASSERT_EQ(upright.size(), std::size_t(w) * std::size_t(h) * 3) << "ImageMagick's upright photograph";
    EXPECT_GE(psnr(frame, upright), 30.0);
  }
}

TEST(Mp4Format, SizesFollowResizeAndTheHardwareLimit) {
  REQUIRE_TOOL("ffprobe");
  const std::string wave = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.3});
  struct Row {
    int w, h, orientation;
    const char* resize;
    int outW, outH;
  } rows[] = {
      {1201, 801, 1, "--resize", 600, 400},       // the longer side to 600, even sides
      {1200, 800, 8, "--resize", 400, 600},       // upright
      {5000, 1000, 1, "--no-resize", 4096, 818},  // wider than hardware decoders take
      {300, 200, 1, "--resize", 300, 200},        // never enlarged
  };
  for (const Row& row : rows) {
    ScratchDir dir;
    writeFile(dir.file("p.jpg"), photograph(row.w, row.h, row.orientation, wave));
    const auto r = fixtures::runStill2mov({"--format=mp4", row.resize, dir.file("p.jpg")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Probe p = probe(dir.file("p.mp4"));
    EXPECT_TRUE(p.has("width=" + std::to_string(row.outW) + "\n") && p.has("height=" + std::to_string(row.outH) + "\n"))
        << row.w << "x" << row.h << " " << row.resize << "\n" << p.text;
  }
}

TEST(Mp4Format, ChromiumAndFirefoxShowThePictureAndDecodeTheSound) {
  REQUIRE_TOOL("chromium");
  REQUIRE_TOOL("firefox-esr");
  REQUIRE_TOOL("python3");
  ScratchDir dir;
  struct Case {
    const char* name;
    WaveKind kind;
    int rate;
    double seconds;
    int orientation;
    int width;  // of the frame, upright
  } cases[] = {
      {"ima", WaveKind::imaAdpcm, 8000, 3.5, 1, 160},
      {"turned", WaveKind::pcm16Stereo, 44100, 2.0, 6, 120},
      {"mulaw", WaveKind::muLaw, 11025, 1.5, 3, 160},
  };
  std::vector<std::string> files;
  for (const Case& c : cases) {
    const std::string photo = dir.file(std::string(c.name) + ".jpg");
    writeFile(photo, photograph(160, 120, c.orientation, fixtures::makeWave(c.kind, {.seconds = c.seconds, .rate = c.rate})));
    const auto r = fixtures::runStill2mov({"--format=mp4", photo});
    ASSERT_EQ(r.status, 0) << r.err;
    files.push_back(dir.file(std::string(c.name) + ".mp4"));
  }
  // The motion photo's own video too, as galleries hand it to a browser.
  {
    const std::string photo = dir.file("motion.jpg");
    writeFile(photo, photograph(160, 120, 1, fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 2.0})));
    ASSERT_EQ(fixtures::runStill2mov({"--format=motion", photo}).status, 0);
    const std::string still = readFile(dir.file("motion.MP.jpg"));
    std::string length;
    run("exiftool -s3 -MicroVideoOffset " + shellQuote(dir.file("motion.MP.jpg")), &length);
    const std::size_t n = std::strtoul(length.c_str(), nullptr, 10);
    ASSERT_GT(n, 0u);
    writeFile(dir.file("motion-video.mp4"), still.substr(still.size() - n));
    files.push_back(dir.file("motion-video.mp4"));
  }
  const double expected[] = {3.5, 2.0, 1.5, 2.0};
  const int widths[] = {160, 120, 160, 160};
  for (const char* browser : {"chromium", "firefox"}) {
    SCOPED_TRACE(browser);
    const auto results = browserchecks::play(browser, files);
    ASSERT_EQ(results.size(), files.size()) << "the browser gave no answer for every file";
    for (std::size_t i = 0; i < results.size(); ++i) {
      const auto& p = results[i];
      SCOPED_TRACE(p.file);
      EXPECT_EQ(p.error, "");
      EXPECT_EQ(p.videoWidth, widths[i]);
      EXPECT_NEAR(p.duration, expected[i], 0.1);
      if (std::string(browser) == "chromium")
        EXPECT_GT(p.audioBytes, 0) << "no sound decoded";
      else
        EXPECT_TRUE(p.hasAudio) << "no sound track seen";
    }
  }
}

TEST(Mp4Format, TheBrowserJudgeCatchesAMovieBrowsersCannotShow) {
  // The QuickTime movie's JPEG frame: Chromium plays its sound but shows no picture.
  REQUIRE_TOOL("chromium");
  REQUIRE_TOOL("python3");
  ScratchDir dir;
  writeFile(dir.file("p.jpg"), photograph(160, 120, 1, fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 1.0})));
  ASSERT_EQ(fixtures::runStill2mov({dir.file("p.jpg")}).status, 0);
  const auto results = browserchecks::play("chromium", {dir.file("p.mov")});
  ASSERT_EQ(results.size(), 1u);
  EXPECT_NE(results[0].videoWidth, 160);
}

TEST(MotionFormat, ThePhotographStaysAndTheVideoPlaysForExiftoolAndDjpeg) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("ffprobe");
  REQUIRE_TOOL("djpeg");
  ScratchDir dir;
  const std::string photo = dir.file("IMG_0001.JPG");
  writeFile(photo, photograph(160, 120, 6, fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 1.5})));
  const auto r = fixtures::runStill2mov({"--format=motion", "--json", photo});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string motion = dir.file("IMG_0001.MP.JPG");
  EXPECT_NE(r.out.find("\"Movie\": \"" + motion + "\""), std::string::npos) << r.out;

  std::string out;
  run("exiftool -s3 -MotionPhoto " + shellQuote(motion), &out);
  EXPECT_EQ(out, "1\n");
  run("exiftool -ee -b -EmbeddedVideo " + shellQuote(motion) + " > " + shellQuote(dir.file("v.mp4")));
  const Probe p = probe(dir.file("v.mp4"));
  EXPECT_TRUE(p.has("codec_name=\"h264\"") && p.has("codec_name=\"aac\"")) << p.text;
  EXPECT_TRUE(p.has("width=120")) << "the video is upright in its pixels\n" << p.text;

  std::string a, b;
  run("djpeg -pnm " + shellQuote(photo), &a);
  run("djpeg -pnm " + shellQuote(motion), &b);
  EXPECT_FALSE(a.empty());
  EXPECT_TRUE(a == b) << "the still decodes to the photograph's pixels";
  run("exiftool -s -EXIF:all " + shellQuote(photo), &a);
  run("exiftool -s -EXIF:all " + shellQuote(motion), &b);
  EXPECT_NE(a.find("Orientation"), std::string::npos) << a;
  EXPECT_EQ(a, b) << "the same EXIF, the orientation included";

  // Made once: the motion photo is no photograph to make one of.
  const auto again = fixtures::runStill2mov({"--format=motion", motion});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("already is a motion photo"), std::string::npos) << again.err;
}

TEST(Mp4Format, FilesUnderTheNameAreReplacedOnlyWhenOursOrAsked) {
  const std::string wave = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.4});
  for (const char* format : {"mp4", "motion"}) {
    SCOPED_TRACE(format);
    ScratchDir dir;
    writeFile(dir.file("p.jpg"), photograph(64, 48, 1, wave));
    const std::string target = dir.file(std::string(format) == "mp4" ? "p.mp4" : "p.MP.jpg");
    const std::string option = std::string("--format=") + format;
    // Someone else's file: left alone, unless -y.
    writeFile(target, "not ours");
    auto r = fixtures::runStill2mov({option, dir.file("p.jpg")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(target), "not ours");
    EXPECT_NE(r.err.find("not a movie still2mov made"), std::string::npos) << r.err;
    r = fixtures::runStill2mov({option, "-y", dir.file("p.jpg")});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string ours = readFile(target);
    EXPECT_NE(ours, "not ours");
    // Ours: replaced without asking; -n keeps it.
    r = fixtures::runStill2mov({option, dir.file("p.jpg")});
    EXPECT_EQ(r.status, 0) << r.err;
    writeFile(target, ours + "x");
    r = fixtures::runStill2mov({option, "-n", dir.file("p.jpg")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(target), ours + "x");
    EXPECT_EQ(dir.list().size(), 2u) << "no working file left";
  }
}

TEST(Mp4Format, AnUnknownKindIsAUsageError) {
  const auto r = fixtures::runStill2mov({"--format=avi", "x.jpg"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--format takes mov, mp4, motion"), std::string::npos) << r.err;
}

TEST(Mp4Format, OnlyAnMp4LoadsTheEncoders) {
  // libav* and its hundred-odd dependencies would weigh on every start; only the MP4 path loads them.
  ScratchDir dir;
  writeFile(dir.file("p.jpg"), photograph(64, 48, 1, fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.3})));
  auto r = fixtures::runStill2mov({dir.file("p.jpg")}, {{"LD_DEBUG", "files"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("libavcodec"), std::string::npos) << "a QuickTime movie loaded libavcodec";
  r = fixtures::runStill2mov({"--version"}, {{"LD_DEBUG", "files"}});
  EXPECT_EQ(r.err.find("libavcodec"), std::string::npos);
  r = fixtures::runStill2mov({"--format=mp4", dir.file("p.jpg")}, {{"LD_DEBUG", "files"}});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("libavcodec"), std::string::npos) << "the check sees no library at all";
}

TEST(MotionFormat, AFolderWalkPassesOverTheMotionPhotosItMade) {
  ScratchDir dir;
  const std::string wave = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.3});
  writeFile(dir.file("a.jpg"), photograph(64, 48, 1, wave));
  ASSERT_EQ(fixtures::runStill2mov({"-r", "--format=motion", dir.path()}).status, 0);
  // Again, and for movies: the motion photo beside its photograph is output, not input.
  for (const char* format : {"--format=motion", "--format=mov"}) {
    const auto r = fixtures::runStill2mov({"-r", "-v", format, dir.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE((r.out + r.err).find("a.MP.jpg: a motion photo made from a.jpg"), std::string::npos) << r.out << r.err;
  }
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"a.MP.jpg", "a.jpg", "a.mov"}));
}

TEST(Mp4Format, EncodersThatCannotBeLoadedAreAFailureInWordsAndWriteNothing) {
  ScratchDir dir, libs;
  writeFile(dir.file("p.jpg"), photograph(64, 48, 1, fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.3})));
  // A damaged libavcodec found first, as after a broken upgrade.
  writeFile(libs.file("libavcodec.so.59"), "not a library");
  for (const char* format : {"--format=mp4", "--format=motion"}) {
    const auto r = fixtures::runStill2mov({format, dir.file("p.jpg")}, {{"LD_LIBRARY_PATH", libs.path()}});
    EXPECT_EQ(r.status, 1) << format;
    EXPECT_NE(r.err.find("no movie written: libav* or its H.264 or AAC encoder cannot be loaded"), std::string::npos)
        << r.err;
    EXPECT_EQ(dir.list(), std::vector<std::string>{"p.jpg"});
  }
}
