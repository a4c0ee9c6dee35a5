// SPDX-License-Identifier: GPL-2.0-or-later
// A raw photograph with a WAVE beside it, through every output: the picture is the preview LibRaw's
// simple_dcraw -e extracts, upright, the sound the recording's; the motion photo is NAME.MP.jpg and
// carries the raw's EXIF. Judged by ffprobe/ffmpeg and exiftool. DNGs by tests/support/DngBuilder.
#include <gtest/gtest.h>

#include <string>

#include "support/DngBuilder.h"
#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

namespace {

using testsupport::run;
using testsupport::shellQuote;

// The JPEG without the EXIF segment right after its start of image, if it has one: LibRaw's
// extraction and our still differ only there.
std::string withoutLeadingExif(const std::string& jpeg) {
  if (jpeg.size() < 12 || jpeg.compare(2, 2, "\xFF\xE1") != 0 || jpeg.compare(6, 6, std::string("Exif\0\0", 6)) != 0)
    return jpeg;
  const std::size_t length = (std::size_t(std::uint8_t(jpeg[4])) << 8) | std::uint8_t(jpeg[5]);
  return jpeg.substr(0, 2) + jpeg.substr(std::min(jpeg.size(), 4 + length));
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

TEST(RawOutputs, EachOutputShowsTheUprightPreviewWithTheRecording) {
  for (const char* tool : {"simple_dcraw", "exiftool", "ffprobe", "ffmpeg"}) REQUIRE_TOOL(tool);
  const struct {
    const char* format;
    const char* file;       // written beside DSC_0001.DNG
    int width, height;      // of the video stream
    const char* rotation;   // the video track's, as ffprobe reads it ("" for none)
    bool samePcm;           // the sound sample for sample
  } rows[] = {
      {"mov", "DSC_0001.mov", 64, 48, "-90", true},
      {"mp4", "DSC_0001.mp4", 48, 64, "", false},
      {"motion", "DSC_0001.MP.jpg", 48, 64, "", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.format);
    testsupport::ScratchDir dir;
    const std::string raw = dir.file("DSC_0001.DNG");
    testsupport::DngSpec spec{.orientation = 6, .dateTimeOriginal = "2024:03:01 10:20:30"};
    const std::string rawBytes = testsupport::buildDng(spec, testsupport::dngPreviewJpeg(spec));
    testsupport::writeFile(raw, rawBytes);
    const std::string wave = dir.file("DSC_0001.WAV");
    testsupport::writeFile(wave, fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.5}));
    const fixtures::RunResult r = fixtures::runStill2mov({"--no-resize", std::string("--format=") + row.format, raw});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string file = dir.file(row.file);
    EXPECT_NE(r.out.find(" -> " + file + " (0.5 s of sound from "), std::string::npos) << r.out;
    EXPECT_EQ(testsupport::readFile(raw), rawBytes);

    std::string video = file;
    if (std::string(row.format) == "motion") {
      video = dir.file("embedded.mp4");
      ASSERT_EQ(run("exiftool -ee -b -EmbeddedVideo " + shellQuote(file) + " > " + shellQuote(video)), 0);
    }
    bool sawVideo = false, sawAudio = false;
    for (const moviechecks::Stream& s : moviechecks::probeStreams(video)) {
      if (s.codecType == "video") {
        sawVideo = true;
        EXPECT_EQ(s.width * 1000 + s.height, row.width * 1000 + row.height);
      }
      if (s.codecType == "audio") {
        sawAudio = true;
        EXPECT_NEAR(s.duration, 0.5, 0.03);
      }
    }
    EXPECT_TRUE(sawVideo && sawAudio);
    std::string rotation;
    run("ffprobe -v error -select_streams v:0 -show_entries stream_side_data=rotation -of default=nw=1:nk=1 " +
            shellQuote(video),
        &rotation);
    EXPECT_EQ(trimmed(rotation), row.rotation);
    if (row.samePcm) {
      EXPECT_TRUE(moviechecks::decodePcm(video) == moviechecks::decodePcm(wave));
    }

    const std::string judge = testsupport::simpleDcrawExtract(raw);
    ASSERT_FALSE(judge.empty());
    if (std::string(row.format) == "mov") {
      // The frame is the preview's JPEG, carrying the raw's EXIF.
      EXPECT_TRUE(withoutLeadingExif(moviechecks::copyFrame(video)) == withoutLeadingExif(judge));
    }
    if (std::string(row.format) == "motion") {
      // The still is the preview's picture, with the raw's metadata and its orientation.
      const std::string judgePath = dir.file("judge.jpg");
      testsupport::writeFile(judgePath, judge);
      EXPECT_TRUE(moviechecks::decodeRgb(file) == moviechecks::decodeRgb(judgePath));
      std::string exif;
      ASSERT_EQ(run("exiftool -m -s -s -s -Make -Model -Orientation# -DateTimeOriginal -MotionPhoto " + shellQuote(file),
                    &exif),
                0);
      EXPECT_EQ(exif, "Canon\nCanon EOS 350D DIGITAL\n6\n2024:03:01 10:20:30\n1\n");
    }
  }
}

}  // namespace
