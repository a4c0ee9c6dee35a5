// SPDX-License-Identifier: GPL-2.0-or-later
// What the open panel takes: a line typed or dropped at the terminal prompt, read as a shell
// user means it, and the photographs its filter lets through.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "Controller.h"
#include "toolbox/AppKit/NSOpenPanel.h"

namespace {

TEST(OpenPanelTypedPath, ReadsALineAsAShellUserMeansIt) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  struct Case {
    const char* line;
    std::string path;
  };
  const Case cases[] = {
      {"a b.jpg\n", "/work/here/a b.jpg"},  // relative to the current folder, not the home folder
      {"../up.jpg", "/work/up.jpg"},
      {"/abs/x.jpg", "/abs/x.jpg"},
      {"'/dropped/with space.jpg' \n", "/dropped/with space.jpg"},  // a terminal's quoting of a drop
      {"\"/double/quoted.jpg\"", "/double/quoted.jpg"},
      {"/escaped/with\\ space.jpg", "/escaped/with space.jpg"},
      {"'it'\\''s.jpg'", "/work/here/it's.jpg"},
      {"file:///uri/with%20space.JPG\r\n", "/uri/with space.JPG"},
      {"'file:///quoted/uri.jpg'", "/quoted/uri.jpg"},
      {"~/in-home.jpg", home + "/in-home.jpg"},
      {"'unterminated.jpg", "/work/here/'unterminated.jpg"},  // taken as it stands
      {"   \n", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NSOpenPanelTypedPath(c.line, "/work/here"), c.path) << c.line;
}

TEST(OpenPanelFilter, TakesJpegNamesInAnyLetterCase) {
  const std::vector<std::string>& types = Controller::openPanelTypes();
  for (const char* name : {"a.jpg", "b.JPG", "c.jpeg", "d.JPEG", "e.Jpeg", "/f/g.jPg"})
    EXPECT_TRUE(NSOpenPanelAcceptsPath(name, types)) << name;
  for (const char* name : {"a.jpe", "b.png", "c.jpg.txt", "jpeg", "d.jpegx"})
    EXPECT_FALSE(NSOpenPanelAcceptsPath(name, types)) << name;
}

}  // namespace
