// SPDX-License-Identifier: GPL-2.0-or-later
// PHOTO.mp4 in H.264 and AAC, which browsers and phones play.
#include "outputs/QuickTimeRoad.h"
#include "outputs/StillMp4Road.h"
#include "toolbox/AppKit/NSPathUtilities.h"

namespace outputs {
namespace {

std::string pathFor(const std::string& image) { return NSStringByDeletingPathExtension(image) + ".mp4"; }
int write(const OutputJob& job) { return WriteStillMp4(job, false); }

}  // namespace

Output Mp4Output() {
  return {"mp4", "PHOTO.mp4 in H.264 and AAC, which browsers and phones play", "MP4", pathFor, nullptr, nullptr, false, write,
          ReadMovieMadeFrom, ReadMovieSoundSeconds};
}

}  // namespace outputs
