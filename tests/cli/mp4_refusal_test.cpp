// SPDX-License-Identifier: GPL-2.0-or-later
// A recording an MP4's sound cannot be made from is refused in the encoder's own words, for the
// MP4 and the motion photo alike, and nothing is left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/Fixtures.h"
#include "support/TestPaths.h"

TEST(Mp4Refusal, ARateBelowWhatAacIsMadeFromIsSaidInWordsAndLeavesNothing) {
  struct Row {
    int rate;
    const char* format;
    const char* written;
  } rows[] = {{1, "mp4", "p.mp4"}, {999, "motion", "p.MP.jpg"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.rate) + " Hz, " + r.format);
    testsupport::ScratchDir dir;
    testsupport::writeFile(dir.file("p.jpg"), fixtures::makeJpeg({.width = 64, .height = 48}));
    testsupport::writeFile(dir.file("p.wav"),
                           fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 12, .rate = r.rate}));
    const auto result = fixtures::runStill2mov({std::string("--format=") + r.format, dir.file("p.jpg")});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(std::to_string(r.rate) + " Hz, is outside the 1000 to 384000 Hz"), std::string::npos)
        << result.err << result.out;
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 2) << "only the photograph and its recording";
    EXPECT_FALSE(std::filesystem::exists(dir.file(r.written)));
  }
}
