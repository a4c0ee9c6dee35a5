// SPDX-License-Identifier: GPL-2.0-or-later
// Photographs sharing a name: the JPEG is the picture in a raw's place, never the other way, and
// a raw alone, or beside our own outputs, stands for itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "photos/PhotoPairs.h"

namespace {

TEST(PhotoPairs, TheJpegIsThePictureOfItsRaw) {
  const struct {
    const char* path;
    std::vector<std::string> folder;
    const char* partner;
  } cases[] = {
      {"/card/DSC_0001.NEF", {"DSC_0001.NEF", "DSC_0001.JPG", "DSC_0001.WAV"}, "DSC_0001.JPG"},
      {"/card/DSC_0001.JPG", {"DSC_0001.NEF", "DSC_0001.JPG", "DSC_0001.WAV"}, ""},
      {"IMG_1.CR3", {"IMG_1.jpeg", "IMG_1.CR3"}, "IMG_1.jpeg"},
      {"/card/DSC_0001.NEF", {"DSC_0001.NEF", "DSC_0001.WAV", "DSC_0001.mov"}, ""},  // the raw alone
      {"/card/DSC_0001.NEF", {"DSC_0001.NEF", "DSC_0001.MP.jpg", "DSC_00011.JPG"}, ""},
      {"/card/P1.RW2", {"P1.RW2", "P1.DNG"}, ""},  // two raws: neither is a finished picture
      {"/card/notes.txt", {"notes.txt", "notes.jpg"}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(photos::PicturePartnerOf(c.path, c.folder), c.partner) << c.path;
}

}  // namespace
