// SPDX-License-Identifier: GPL-2.0-or-later
// What real browsers make of video files: headless Chromium and Firefox ESR load each file in a
// <video> element, play a moment of it and report (tests/support/browser_judge.py does the work).
#pragma once
#include <string>
#include <vector>

namespace browserchecks {

struct Playback {
  std::string file;  // the file's name
  int videoWidth = 0, videoHeight = 0;
  double duration = 0;
  long audioBytes = -1;  // Chromium: sound bytes decoded; -1 elsewhere
  bool hasAudio = false; // Firefox: the element has a sound track
  std::string error;     // the media error, "" for none
};

// browser: "chromium" or "firefox" (its program must be on PATH: REQUIRE_TOOL it first). Empty
// when the browser gave no answer; the test fails then.
std::vector<Playback> play(const std::string& browser, const std::vector<std::string>& paths);

}  // namespace browserchecks
