// SPDX-License-Identifier: GPL-2.0-or-later
// Replacing a file for the subcommands: the new file keeps only permission bits, never read
// through a link, and a link under the name is replaced rather than written through.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/CliFiles.h"
#include "support/TestPaths.h"

using testsupport::ScratchDir;

TEST(CliFiles, ReplacingKeepsOnlyPermissionBitsAndNeverFollowsALink) {
  ScratchDir dir;
  mode_t mask = umask(0);
  umask(mask);
  const std::string out = dir.file("out.jpg"), program = dir.file("program");
  testsupport::writeFile(program, "a setuid program");
  ASSERT_EQ(chmod(program.c_str(), 04755), 0);
  ASSERT_EQ(symlink(program.c_str(), out.c_str()), 0);
  std::string reason;
  ASSERT_TRUE(cli::replaceFileWith(out, "new", &reason)) << reason;
  struct stat st {};
  ASSERT_EQ(lstat(out.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
  EXPECT_EQ(testsupport::readFile(program), "a setuid program");

  ASSERT_EQ(chmod(out.c_str(), 06750), 0);
  ASSERT_TRUE(cli::replaceFileWith(out, "newer", &reason)) << reason;
  ASSERT_EQ(lstat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
  EXPECT_EQ(testsupport::readFile(out), "newer");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"out.jpg", "program"}));
}
