// SPDX-License-Identifier: GPL-2.0-or-later
// Checks that need an outside judge (ffmpeg, exiftool, python3, sox...) fail when it is missing:
// a skip or an early return would read as a pass. scripts/setup-tests installs every judge.
//   REQUIRE_TOOL("ffprobe");                        in a test body: fails and ends the test
//   if (!testsupport::requireTool("sox")) return x;  elsewhere: records the failure
#pragma once
#include <string>

namespace testsupport {
// True when the command is on PATH; otherwise records a failure naming it and returns false.
bool requireTool(const std::string& name);
}  // namespace testsupport

#define REQUIRE_TOOL(name)                             \
  do {                                                 \
    if (!::testsupport::requireTool(name)) return;     \
  } while (0)
