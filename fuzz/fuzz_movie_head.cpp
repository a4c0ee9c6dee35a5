// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: a file read back as one of our movies, the way -u and the duration check read it:
// its head (a motion photo's still header walked to its XMP), a track's duration, the record.
#include <string>

#include "FuzzScratch.h"
#include "media/MadeFrom.h"
#include "media/MovieHead.h"
#include "media/MovieUserData.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > (1u << 22)) return 0;
  static const std::string path = fuzzscratch::folder().file("movie.MP.jpg");
  fuzzscratch::Folder::write(path, data, size);
  if (const auto head = media::ReadMovieHeadAtPath(path)) {
    media::MovieTrackDuration(head->moov, media::kSoundMedia);
    media::MovieUserDataText(head->moov, media::kMadeFromItemType, "s2mf");
  }
  media::ReadMadeFromMovie(path);
  return 0;
}
