// SPDX-License-Identifier: GPL-2.0-or-later
// The QuickTime movie PHOTO.mov: the camera's sound from time 0 and the photograph as one JPEG
// frame as long as the sound, flattened from the movie the QuickTime road builds.
#include "outputs/QuickTimeRoad.h"
#include "toolbox/AppKit/NSPathUtilities.h"

namespace outputs {
namespace {

std::string pathFor(const std::string& image) { return NSStringByDeletingPathExtension(image) + ".mov"; }
int write(const OutputJob& job) { return WriteThroughQuickTime(job); }

}  // namespace

Output MovOutput() {
  return {"mov", "QuickTime movie PHOTO.mov (the default)", "QuickTime movie", pathFor, nullptr, nullptr, true, write, ReadMovieMadeFrom,
          ReadMovieSoundSeconds};
}

}  // namespace outputs
