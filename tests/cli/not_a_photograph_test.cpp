// SPDX-License-Identifier: GPL-2.0-or-later
// Something that is no regular file under a photograph's name (a FIFO, a device) is refused at
// once, in words, by every command that reads a photograph - it is never waited on.
#include <gtest/gtest.h>

#include "support/Fifo.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using testsupport::ScratchDir;

TEST(NotAPhotograph, AFifoOrDeviceIsRefusedAtOnceByEveryCommand) {
  ScratchDir dir, tmp;
  const std::string fifo = dir.file("photo.jpg");
  ASSERT_TRUE(testsupport::makeFifo(fifo));
  struct Case {
    std::vector<std::string> args;
    std::string err;
    std::string out = "";  // in JSON, the refusal is also the photograph's object
  };
  const Case cases[] = {
      {{"--no-resize", fifo}, fifo + ": cannot be read (not a regular file)\n"},
      {{"--resize", "/dev/zero"}, "/dev/zero: cannot be read (not a regular file)\n"},
      {{"--info", fifo}, "still2mov: " + fifo + ": cannot be read (not a regular file)\n"},
      {{"--info", "--json", "/dev/zero"},
       "still2mov: /dev/zero: cannot be read (not a regular file)\n",
       "[{\n  \"SourceFile\": \"/dev/zero\",\n  \"Error\": \"cannot be read (not a regular file)\"\n}]\n"},
      {{"extract", fifo, dir.file("out.wav")}, fifo + ": cannot be read (not a regular file)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    RunResult r;
    EXPECT_TRUE(testsupport::returnsWithin(fifo, [&] { r = fixtures::runStill2mov(c.args, {{"TMPDIR", tmp.path()}}); }));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.out);
  }
  EXPECT_EQ(dir.list(), std::vector<std::string>{"photo.jpg"});
  EXPECT_TRUE(tmp.list().empty());
}
