// SPDX-License-Identifier: GPL-2.0-or-later
// Photographs cut short at every point, through the built program: each outcome is either a
// failure (exit 1, one line in words, no movie, an earlier movie untouched, no recording left)
// or, for the whole photograph, a complete movie - never a movie with a short recording or a
// bad frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "Convert2Mov.h"
#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

// Every file under the folder, however deep: recordings must not be left anywhere in it.
std::vector<std::string> filesUnder(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    if (!e.is_directory()) files.push_back(e.path().string());
  return files;
}

// Where the cuts go: evenly through the file, and on both sides of every segment boundary
// (the recording's pieces, the picture's headers) and of the end of image.
std::set<std::size_t> cutPoints(const std::string& jpeg, std::size_t evenly) {
  std::set<std::size_t> cuts;
  for (std::size_t k = 1; k < evenly; ++k) cuts.insert(jpeg.size() * k / evenly);
  for (std::size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos] == '\xFF';) {
    for (std::size_t at : {pos, pos + 1, pos + 3}) cuts.insert(at);
    if (jpeg[pos + 1] == '\xDA') break;
    pos += 2 + ((std::size_t(std::uint8_t(jpeg[pos + 2])) << 8) | std::uint8_t(jpeg[pos + 3]));
  }
  for (std::size_t back : {1, 2, 3}) cuts.insert(jpeg.size() - back);
  return cuts;
}

void expectWholeMovie(const std::string& movie, const std::string& photo, const std::string& recording, bool resized) {
  const std::string moviePcm = moviechecks::decodePcm(movie);
  // As far as a compressed recording's fact chunk says.
  const std::string recordingPcm =
      moviechecks::playedPart(moviechecks::decodePcm(recording), testsupport::readFile(recording), 2);
  ASSERT_FALSE(recordingPcm.empty());
  EXPECT_TRUE(moviePcm == recordingPcm) << moviePcm.size() << " bytes of sound, the recording has "
                                        << recordingPcm.size();
  int width = 0, height = 0;
  const std::string rgb = moviechecks::decodeRgb(movie, &width, &height);
  int photoWidth = 0, photoHeight = 0;
  moviechecks::decodeRgb(photo, &photoWidth, &photoHeight);
  EXPECT_EQ(width, resized ? std::min(600, photoWidth) : photoWidth);  // the scaled copy is never enlarged
  if (!resized) {
    EXPECT_TRUE(moviechecks::copyFrame(movie) == readFile(photo)) << "the frame is not the photograph's";
  }
  EXPECT_EQ(rgb.size(), std::size_t(width) * std::size_t(height) * 3);
  EXPECT_GT(height, 0);
}

struct Photograph {
  const char* name;
  std::string bytes;
};

}  // namespace

TEST(DamagedPhotograph, EveryCutIsAFailureInWordsAndOnlyTheWholeOneMakesAMovie) {
  ASSERT_TRUE(testsupport::haveTool("ffmpeg") && testsupport::haveTool("ffprobe")) << "ffmpeg judges the movies";
  const std::string jpeg = fixtures::makeJpeg({.width = 320, .height = 240});
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 3.0});
  std::vector<std::size_t> reversed{0};
  for (std::size_t k = flashpix::pieceCount(wave.size(), 2000); k-- > 1;) reversed.push_back(k);
  const Photograph photographs[] = {
      {"the sample", readFile(testsupport::sourceDir() + "/samples/voice-note.jpg")},
      {"pieces in order", fixtures::embedWave(jpeg, wave, fixtures::pieces(2000))},
      {"pieces reversed", fixtures::embedWave(jpeg, wave, fixtures::pieces(2000, reversed))},
  };
  for (const Photograph& p : photographs) {
    SCOPED_TRACE(p.name);
    ASSERT_FALSE(p.bytes.empty());
    ScratchDir dir, tmp;
    const std::string photo = dir.file("photo.jpg");
    const std::string movie = Convert2Mov::moviePathFor(photo);
    writeFile(photo, p.bytes);
    RunResult r = fixtures::runStill2mov({"extract", photo, dir.file("recording.wav")});
    ASSERT_EQ(r.status, 0) << r.err;

    bool resized = false;
    for (bool resize : {false, true}) {
      r = fixtures::runStill2mov({resize ? "--resize" : "--no-resize", photo}, {{"TMPDIR", tmp.path()}});
      ASSERT_EQ(r.status, 0) << r.err;
      expectWholeMovie(movie, photo, dir.file("recording.wav"), resize);
      resized = resize;
    }
    const std::string earlier = readFile(movie);

    std::set<std::string> lines;
    int runs = 0;
    for (std::size_t cut : cutPoints(p.bytes, 60)) {
      SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(p.bytes.size()));
      writeFile(photo, p.bytes.substr(0, cut));
      // Both picture paths: used as it is, and decoded for the scaled copy.
      resized = !resized;
      r = fixtures::runStill2mov({resized ? "--resize" : "--no-resize", photo}, {{"TMPDIR", tmp.path()}});
      ++runs;
      EXPECT_EQ(r.status, 1) << r.out;
      EXPECT_TRUE(r.out.empty()) << r.out;
      ASSERT_EQ(r.err.rfind(photo + ": ", 0), 0u) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
      lines.insert(r.err.substr(photo.size() + 2));
      EXPECT_TRUE(readFile(movie) == earlier) << "the earlier movie was replaced";
      EXPECT_TRUE(filesUnder(tmp.path()).empty());
    }
    std::string seen;
    for (const std::string& line : lines) seen += "  " + line;
    std::printf("%s: %d cuts, every one refused with one of:\n%s", p.name, runs, seen.c_str());
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"photo.jpg", "photo.mov", "recording.wav"}));
  }
}
