// SPDX-License-Identifier: GPL-2.0-or-later
// The licence: its text beside the sources, its SPDX line at the top of every source file, and
// its name in what software centres show.
#include <gtest/gtest.h>

#include <string>

#include "support/RequireTool.h"
#include "support/TestPaths.h"

namespace {

TEST(License, TheTextTheSourceLinesAndTheMetainfoAgree) {
  const std::string root = testsupport::sourceDir();
  const std::string text = testsupport::readFile(root + "/LICENSE");
  EXPECT_NE(text.find("GNU GENERAL PUBLIC LICENSE"), std::string::npos);
  EXPECT_NE(text.find("Version 2, June 1991"), std::string::npos);
  EXPECT_NE(text.find("any later version"), std::string::npos);
  EXPECT_NE(testsupport::readFile(root + "/packaging/com.vantor.camera.still2mov.metainfo.xml")
                .find("<project_license>GPL-2.0-or-later</project_license>"),
            std::string::npos);
  REQUIRE_TOOL("python3");
  std::string missing;
  EXPECT_EQ(testsupport::run(testsupport::shellQuote(root + "/tools/spdx-headers") + " --check", &missing), 0);
  EXPECT_EQ(missing, "") << "files without an SPDX line";
}

}  // namespace
