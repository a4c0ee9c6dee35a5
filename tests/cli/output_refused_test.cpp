// SPDX-License-Identifier: GPL-2.0-or-later
// An output that cannot be made of a photograph says so under a code of its own, which scripts
// can tell apart from a damaged recording: both fail, for different reasons.
#include <gtest/gtest.h>

#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using testsupport::ScratchDir;

TEST(OutputRefused, ARefusalIsNoDamagedRecording) {
  ScratchDir dir, tmp;
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.3});
  testsupport::writeFile(dir.file("p.jpg"), fixtures::embedWave(fixtures::makeJpeg(), wave));
  ASSERT_EQ(fixtures::runStill2mov({"--format=motion", "--no-resize", dir.file("p.jpg")}, {{"TMPDIR", tmp.path()}}).status, 0);
  // A recording whose header declares more than its pieces hold.
  testsupport::writeFile(dir.file("cut.jpg"), fixtures::embedWave(fixtures::makeJpeg(), wave.substr(0, wave.size() / 2)));

  struct Case {
    const char* photo;
    const char* format;
    const char* code;
    const char* words;  // in the error
  };
  const Case cases[] = {
      {"p.MP.jpg", "motion", "output-refused", "already is a motion photo"},
      {"cut.jpg", "motion", "damaged-recording", ""},
      {"cut.jpg", "mov", "damaged-recording", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.photo) + " as " + c.format);
    const RunResult r = fixtures::runStill2mov(
        {"--json", "--no-resize", std::string("--format=") + c.format, dir.file(c.photo)}, {{"TMPDIR", tmp.path()}});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("\"Code\": \"" + std::string(c.code) + "\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(c.words), std::string::npos) << r.out;
    // -v names the code beside the words people read.
    const RunResult verbose = fixtures::runStill2mov(
        {"-v", "--no-resize", std::string("--format=") + c.format, dir.file(c.photo)}, {{"TMPDIR", tmp.path()}});
    EXPECT_NE(verbose.err.find("(" + std::string(c.code) + ")\n"), std::string::npos) << verbose.err;
  }
}
