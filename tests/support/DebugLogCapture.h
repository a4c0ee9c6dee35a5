// SPDX-License-Identifier: GPL-2.0-or-later
// Collects what the program logs for its developers (GLib's "still2mov" domain) while a test
// looks, one line per message; other domains go on to GLib's default writer.
#pragma once
#include <string>

namespace testsupport {

class DebugLogCapture {
 public:
  DebugLogCapture();
  ~DebugLogCapture();
  DebugLogCapture(const DebugLogCapture&) = delete;
  DebugLogCapture& operator=(const DebugLogCapture&) = delete;
  std::string text() const;
};

}  // namespace testsupport
