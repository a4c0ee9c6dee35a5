// SPDX-License-Identifier: GPL-2.0-or-later
// Messages that must say what happened and stay one line: a photograph with an empty name handed
// to the application, the application's log, and what a walk passes over in JSON.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "support/Fixtures.h"
#include "support/TestPaths.h"
#include "toolbox/AppKit/NSLog.h"

using testsupport::ScratchDir;

namespace {

TEST(Messages, AnEmptyNameHandedToTheApplicationIsNoSuchFile) {
  const fixtures::RunResult r = fixtures::runStill2mov({"send", ""});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "still2mov: : cannot be read (no such file)\n");
}

// Without a journal the log goes to standard error, one line per message, escaped as on a terminal.
TEST(Messages, TheLogLineEscapesControlCharacters) {
  ASSERT_FALSE(std::filesystem::exists("/run/systemd/journal/socket")) << "the journal would take the line";
  testing::internal::CaptureStderr();
  NSLog("%s: %s", "/photos/\x1b]0;owned\x07IMG\n1.jpg", "cut\rshort\x9b");
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(said, "still2mov[" + std::to_string(getpid()) +
                      "]: /photos/\\x1b]0;owned\\x07IMG\\n1.jpg: cut\\rshort\\x9b\n");
}

TEST(Messages, WithJsonWhatAWalkPassesOverHasAStatus) {
  ScratchDir dir, tmp;
  testsupport::writeFile(dir.file("a.jpg"), fixtures::makeJpeg({.width = 16, .height = 16}));
  ASSERT_EQ(symlink(dir.file("a.jpg").c_str(), dir.file("link.jpg").c_str()), 0);
  const std::map<std::string, std::string> env = {{"TMPDIR", tmp.path()}};
  const std::string line = "{\"SourceFile\": \"" + dir.file("link.jpg") +
                           "\", \"Status\": \"passed-over\", \"Reason\": \"symbolic link; not followed\"}\n";
  fixtures::RunResult r = fixtures::runStill2mov({"-r", "-v", "--json", dir.path()}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  // Scripts count objects: JSON names them without -v too, the text only with it.
  r = fixtures::runStill2mov({"-r", "--json", dir.path()}, env);
  EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  r = fixtures::runStill2mov({"-r", dir.path()}, env);
  EXPECT_EQ(r.out.find("link.jpg"), std::string::npos) << r.out;
}

}  // namespace
