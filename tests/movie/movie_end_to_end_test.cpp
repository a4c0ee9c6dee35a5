// SPDX-License-Identifier: GPL-2.0-or-later
// Whole conversions through the built still2mov, judged by the independent readers: streams,
// durations, codecs, the decoded sound, the frame bytes or its scaled picture, and the files left.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"

using fixtures::WaveKind;
using namespace moviechecks;
using testsupport::haveTool;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

constexpr double kUnit = 1.0 / 600;

bool haveReaders() { return testsupport::requireTool("ffprobe") && testsupport::requireTool("ffmpeg"); }

fixtures::RunResult convert(const std::string& photo, bool resize, const ScratchDir& tmp, bool overwrite = false) {
  std::vector<std::string> args = {resize ? "--resize" : "--no-resize", photo};
  if (overwrite) args.insert(args.begin(), "--overwrite");
  return fixtures::runStill2mov(args, {{"TMPDIR", tmp.path()}});
}

// Two streams, sound first, the still frame as long as the sound; the other readers agree.
void expectPlayableMovie(const std::string& movie, const std::string& soundCodec) {
  std::vector<Stream> streams = probeStreams(movie);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].codecType, "audio");
  EXPECT_EQ(streams[1].codecType, "video");
  EXPECT_EQ(streams[1].codecName, "mjpeg");
  EXPECT_GT(streams[0].duration, 0);
  EXPECT_NEAR(streams[0].duration, streams[1].duration, kUnit + 1e-6);
  // The mark by which a later conversion knows the movie as its own; readers call it the encoder.
  std::string encoder;
  testsupport::run("ffprobe -v error -show_entries format_tags=encoder -of default=nw=1:nk=1 " +
                       testsupport::shellQuote(movie),
                   &encoder);
  EXPECT_EQ(encoder, "still2mov " STILL2MOV_VERSION "\n");

  if (testsupport::requireTool("mediainfo")) {
    std::vector<InfoTrack> tracks = mediainfoTracks(movie);
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0].codecId, soundCodec);
    EXPECT_EQ(tracks[1].codecId, "jpeg");
    EXPECT_NEAR(tracks[0].durationSeconds, streams[0].duration, kUnit + 0.001);
    EXPECT_NEAR(tracks[1].durationSeconds, streams[1].duration, kUnit + 0.001);
  }
  if (testsupport::requireTool("gst-discoverer-1.0")) {
    DiscovererInfo info = discover(movie);
    EXPECT_EQ(info.streams, (std::vector<std::string>{"audio", "video"}));
    EXPECT_EQ(info.caps, (std::vector<std::string>{"audio/x-raw", "image/jpeg"}));
    EXPECT_NEAR(info.durationSeconds, streams[0].duration, kUnit + 0.001);
  }
}

class EveryKind : public testing::TestWithParam<WaveKind> {};

TEST_P(EveryKind, ConvertsInOneAndInSeveralPiecesWithAndWithoutResizing) {
  if (!haveReaders()) GTEST_SKIP() << "ffmpeg/ffprobe missing";
  if (GetParam() == WaveKind::msAdpcm) REQUIRE_TOOL("sox");
  const std::string wave = fixtures::makeWave(GetParam(), {.seconds = 1.2, .rate = 8000});
  const std::string jpeg = fixtures::makeJpeg({.width = 320, .height = 240});
  const std::string soundCodec = GetParam() == WaveKind::pcm8 ? "raw " : "sowt";
  for (bool several : {false, true}) {
    const std::string photoBytes = fixtures::embedWave(jpeg, wave, several ? fixtures::pieces(1000) : flashpix::EmbedOptions{});
    ASSERT_FALSE(photoBytes.empty());
    for (bool resize : {false, true}) {
      SCOPED_TRACE(std::string(several ? "several pieces" : "one piece") + (resize ? ", resized" : ", natural size"));
      ScratchDir dir, tmp;
      writeFile(dir.file("photo.jpg"), photoBytes);
      writeFile(tmp.file("reference.wav"), wave);
      fixtures::RunResult r = convert(dir.file("photo.jpg"), resize, tmp);
      ASSERT_EQ(r.status, 0) << r.err;

      const std::string movie = dir.file("photo.mov");
      EXPECT_EQ(readFile(dir.file("photo.jpg")), photoBytes);
      EXPECT_EQ(dir.list(), (std::vector<std::string>{"photo.jpg", "photo.mov"}));
      expectPlayableMovie(movie, soundCodec);
      // The reported length is the sound track's.
      std::size_t open = r.out.find("photo.mov (");
      ASSERT_NE(open, std::string::npos) << r.out;
      EXPECT_NEAR(std::atof(r.out.c_str() + open + 11), probeStreams(movie).at(0).duration, 0.051) << r.out;
      // The recording's samples, as far as a compressed one's fact chunk says.
      EXPECT_TRUE(decodePcm(movie) == moviechecks::playedPart(decodePcm(tmp.file("reference.wav")), wave, 2));
      if (!resize) {
        EXPECT_TRUE(copyFrame(movie) == photoBytes);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryKind,
                         testing::Values(WaveKind::pcm8, WaveKind::pcm16Mono, WaveKind::pcm16Stereo, WaveKind::muLaw,
                                         WaveKind::aLaw, WaveKind::imaAdpcm, WaveKind::msAdpcm),
                         [](const testing::TestParamInfo<WaveKind>& info) { return fixtures::waveKindName(info.param); });

TEST(EndToEnd, ResizingFollowsTheScalingRules) {
  if (!haveReaders()) GTEST_SKIP() << "ffmpeg/ffprobe missing";
  const struct {
    int width, height, trackWidth, trackHeight, frameWidth, frameHeight;
  } cases[] = {
      {1600, 1200, 600, 450, 600, 450},
      {1200, 1600, 600, 800, 450, 600},
      {400, 300, 600, 450, 400, 300},
      {700, 300, 600, 257, 600, 257},
  };
  const std::string wave = fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 0.5, .rate = 8000});
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    ScratchDir dir, tmp;
    // A natural test picture: hard-edged synthetic patterns would measure the codec, not the scaling.
    ASSERT_EQ(testsupport::run("ffmpeg -v error -f lavfi -i testsrc2=size=" + std::to_string(c.width) + "x" +
                               std::to_string(c.height) + " -frames:v 1 -q:v 2 " + tmp.file("plain.jpg")),
              0);
    writeFile(dir.file("photo.jpg"), fixtures::embedWave(readFile(tmp.file("plain.jpg")), wave));
    ASSERT_EQ(convert(dir.file("photo.jpg"), true, tmp).status, 0);
    std::string file = readFile(dir.file("photo.mov"));
    std::string tkhd = atomBody(file, "moov/trak#2/tkhd");
    EXPECT_EQ(int(be32(tkhd, 76) >> 16), c.trackWidth);
    EXPECT_EQ(int(be32(tkhd, 80) >> 16), c.trackHeight);

    writeFile(tmp.file("frame.jpg"), copyFrame(dir.file("photo.mov")));
    int w = 0, h = 0;
    std::string frame = decodeRgb(tmp.file("frame.jpg"), &w, &h);
    EXPECT_EQ(w, c.frameWidth);
    EXPECT_EQ(h, c.frameHeight);
    std::string reference = decodeRgbScaled(dir.file("photo.jpg"), c.frameWidth, c.frameHeight);
    EXPECT_LT(meanAbsDifference(frame, reference), 6.0);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"photo.jpg", "photo.mov"}));
  }
}

TEST(EndToEnd, UsersFilesSurviveAndAnEarlierMovieIsReplacedWhole) {
  if (!haveReaders()) GTEST_SKIP() << "ffmpeg/ffprobe missing";
  ScratchDir dir, tmp;
  const std::string photo =
      fixtures::embedWave(fixtures::makeJpeg({.width = 800, .height = 600}), fixtures::makeWave(WaveKind::pcm16Mono));
  writeFile(dir.file("photo.jpg"), photo);
  writeFile(dir.file("tmp.mov"), "mine");
  writeFile(dir.file("TempFile.jpg"), "also mine");
  // Not a movie of ours, so replaced only when asked; the second time it is ours.
  writeFile(dir.file("photo.mov"), std::string(3 << 20, 'x'));
  for (bool resize : {true, false}) {
    ASSERT_EQ(convert(dir.file("photo.jpg"), resize, tmp, resize).status, 0);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"TempFile.jpg", "photo.jpg", "photo.mov", "tmp.mov"}));
    EXPECT_EQ(readFile(dir.file("tmp.mov")), "mine");
    EXPECT_EQ(readFile(dir.file("TempFile.jpg")), "also mine");
    EXPECT_EQ(readFile(dir.file("photo.jpg")), photo);
    std::string file = readFile(dir.file("photo.mov"));
    std::uint64_t total = 0;
    for (const AtomRef& a : childAtoms(file, 0, file.size())) total += a.size;
    EXPECT_EQ(total, file.size());
    expectPlayableMovie(dir.file("photo.mov"), "sowt");
  }
}

TEST(EndToEnd, CorpusPhotographsWithAnEmbeddedRecordingConvert) {
  if (!haveReaders()) GTEST_SKIP() << "ffmpeg/ffprobe missing";
  std::vector<std::string> corpus = testsupport::corpusJpegs();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const std::string wave = fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 0.4, .rate = 8000});
  int converted = 0;
  for (std::size_t k = 0; k < corpus.size() && converted < 6; k += std::max<std::size_t>(1, corpus.size() / 6)) {
    std::string photo = fixtures::embedWave(readFile(corpus[k]), wave);
    if (photo.empty()) continue;
    SCOPED_TRACE(corpus[k]);
    ScratchDir dir, tmp;
    writeFile(dir.file("photo.jpg"), photo);
    fixtures::RunResult r = convert(dir.file("photo.jpg"), false, tmp);
    if (r.status != 0) continue;  // photographs the importer cannot read are covered elsewhere
    ++converted;
    std::vector<Stream> streams = probeStreams(dir.file("photo.mov"));
    ASSERT_EQ(streams.size(), 2u);
    EXPECT_EQ(streams[0].codecType, "audio");
    EXPECT_NEAR(streams[0].duration, streams[1].duration, kUnit + 1e-6);
  }
  EXPECT_GT(converted, 0);
}

}  // namespace
