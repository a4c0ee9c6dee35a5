// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 and motion-photo roads under valgrind at sizes whose rows end off any vector boundary
// (libswscale and libx264 read in wide vectors past what they are given, which only padding makes
// safe, and ASan cannot see inside them), and a recording they refuse, said in the encoder's words
// with nothing left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/AddressSpace.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

using testsupport::shellQuote;

TEST(Mp4Valgrind, OddSizesReadNothingOutsideTheirBuffersAndRefusalsAreSaid) {
  // valgrind cannot run a program built with AddressSanitizer; the ordinary build runs this.
  SKIP_UNDER_ADDRESS_SANITIZER();
  REQUIRE_TOOL("valgrind");
  struct Row {
    int width, height, rate;
    const char* format;
    const char* extra;
    const char* refusal;  // nullptr: written
  } rows[] = {{320, 240, 8000, "mp4", "--no-resize", nullptr},
              {641, 479, 8000, "motion", "--no-resize", nullptr},
              {641, 479, 8000, "mp4", "--resize", nullptr},
              {64, 48, 1, "mp4", "--resize", "1 Hz, is outside the 1000 to 384000 Hz"},
              {64, 48, 999, "motion", "--resize", "999 Hz, is outside"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.width) + " x " + std::to_string(r.height) + " " + r.format + " " + r.extra);
    testsupport::ScratchDir dir;
    testsupport::writeFile(dir.file("p.jpg"), fixtures::encodeJpeg(r.width, r.height, 3, {}, [&](int y, std::uint8_t* row) {
      for (int x = 0; x < r.width; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = std::uint8_t(x + y);
    }));
    testsupport::writeFile(dir.file("p.wav"),
                           fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = r.rate < 8000 ? 12 : 0.5, .rate = r.rate}));
    std::string said;
    const int status = testsupport::run("valgrind --quiet --error-exitcode=99 --log-file=" + shellQuote(dir.file("vg.log")) +
                                            " " + shellQuote(testsupport::binaryPath()) + " --format=" + r.format + " " +
                                            r.extra + " " + shellQuote(dir.file("p.jpg")) + " 2>&1",
                                        &said);
    const std::string report = testsupport::readFile(dir.file("vg.log"));
    EXPECT_EQ(report.find("Invalid read"), std::string::npos) << report;
    EXPECT_EQ(report.find("Invalid write"), std::string::npos) << report;
    EXPECT_EQ(status, r.refusal ? 1 : 0) << report << said;
    if (r.refusal == nullptr) continue;
    EXPECT_NE(said.find(r.refusal), std::string::npos) << said;
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 3) << "only the photograph, its recording and valgrind's log";
  }
}
