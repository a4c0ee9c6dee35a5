// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 and motion-photo roads under valgrind at sizes whose rows end off any vector boundary:
// libswscale and libx264 read in wide vectors past what they are given, which only padding makes
// safe, and ASan cannot see inside them.
#include <gtest/gtest.h>

#include <string>

#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::shellQuote;

TEST(Mp4Valgrind, OddSizesReadNothingOutsideTheirBuffers) {
  REQUIRE_TOOL("valgrind");
  struct Row {
    int width, height;
    const char* format;
    const char* extra;
  } rows[] = {{320, 240, "mp4", "--no-resize"}, {641, 479, "motion", "--no-resize"}, {641, 479, "mp4", "--resize"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.width) + " x " + std::to_string(r.height) + " " + r.format + " " + r.extra);
    ScratchDir dir;
    testsupport::writeFile(dir.file("p.jpg"), fixtures::encodeJpeg(r.width, r.height, 3, {}, [&](int y, std::uint8_t* row) {
      for (int x = 0; x < r.width; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = std::uint8_t(x + y);
    }));
    testsupport::writeFile(dir.file("p.wav"), fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.5}));
    const std::string log = dir.file("valgrind.log");
    const int status = run("valgrind --quiet --error-exitcode=99 --log-file=" + shellQuote(log) + " " +
                           shellQuote(testsupport::binaryPath()) + " -q --format=" + r.format + " " + r.extra + " " +
                           shellQuote(dir.file("p.jpg")) + " 2>&1");
    const std::string report = readFile(log);
    EXPECT_EQ(report.find("Invalid read"), std::string::npos) << report;
    EXPECT_EQ(report.find("Invalid write"), std::string::npos) << report;
    EXPECT_EQ(status, 0) << report;
  }
}
