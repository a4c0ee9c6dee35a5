// SPDX-License-Identifier: GPL-2.0-or-later
// A path's folder and last component: together they name the same item, whatever slashes the
// path holds, and a bare name is in the current folder.
#include <gtest/gtest.h>

#include "toolbox/AppKit/NSPathUtilities.h"

TEST(PathUtilities, AFoldersAndANamesPartsNameTheSameItem) {
  const struct {
    const char* path;
    const char* folder;
    const char* name;
  } rows[] = {
      {"/a/b/photo.mov", "/a/b", "photo.mov"},
      {"a/photo.jpg", "a", "photo.jpg"},
      {"photo.jpg", ".", "photo.jpg"},
      {"/photo.jpg", "/", "photo.jpg"},
      {"/a/b/", "/a", "b"},
      {"a//b", "a", "b"},
      {"//photo", "/", "photo"},
      {"./photo", ".", "photo"},
      {"../photo", "..", "photo"},
      {"/", "/", "/"},
      {"//", "/", "/"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(NSStringByDeletingLastPathComponent(r.path), r.folder) << r.path;
    EXPECT_EQ(NSStringLastPathComponent(r.path), r.name) << r.path;
  }
}
