// SPDX-License-Identifier: GPL-2.0-or-later
// Output that cannot be written (a full disk behind standard output or standard error) fails
// the run with exit 1 and, where standard error still works, one line in words, as coreutils do.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::WaveKind;
using testsupport::ScratchDir;
using testsupport::shellQuote;

namespace {

TEST(OutputErrors, AFullDiskBehindTheOutputFailsTheRun) {
  ScratchDir dir, tmp;
  const std::string photo = dir.file("p.jpg");
  testsupport::writeFile(photo, fixtures::embedWave(fixtures::makeJpeg({.width = 64, .height = 48}),
                                                    fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 0.3, .rate = 8000})));
  testsupport::writeFile(dir.file("q.jpg"), fixtures::makeJpeg({.width = 64, .height = 48}));
  const std::string program = "TMPDIR=" + shellQuote(tmp.path()) + " " + shellQuote(testsupport::binaryPath());
  struct Case {
    std::string arguments;
    bool toStandardError;  // the full disk is behind standard error, not standard output
  };
  const Case cases[] = {
      {"--json " + shellQuote(photo), false},
      {"-r --json " + shellQuote(dir.path()), false},
      {"-r -j 2 " + shellQuote(dir.path()), false},
      {"--info --json " + shellQuote(photo), false},
      {"--help", false},
      {shellQuote(photo) + " " + shellQuote(dir.file("q.jpg")), true},  // the summary goes there
      {shellQuote(dir.file("absent.jpg")), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const std::string errors = tmp.file("errors");
    if (c.toStandardError) {
      EXPECT_EQ(testsupport::run(program + " " + c.arguments + " >/dev/null 2>/dev/full"), 1);
      continue;
    }
    std::string status;
    testsupport::run(program + " " + c.arguments + " >/dev/full 2>" + shellQuote(errors) + "; echo $?", &status);
    EXPECT_EQ(status, "1\n");
    // One line of its own, beside the summary that a walk always ends with.
    const std::string said = testsupport::readFile(errors);
    EXPECT_NE(said.find("still2mov: write error on standard output"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), c.arguments.rfind("-r", 0) == 0 ? 2 : 1) << said;
  }
}

}  // namespace
