// SPDX-License-Identifier: GPL-2.0-or-later
// The QuickTime road's writer and readers, as the movie, MP4 and motion photo rows use them.
#include "outputs/QuickTimeRoad.h"

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Movies/Movies.h"

namespace outputs {

int WriteThroughQuickTime(const OutputJob& job) {
  // A still that points into the photograph's own bytes is the image file: the road reads the
  // file as it always has. One the photograph kind made (a raw's preview) is handed over.
  const media::Still* made = job.still != nullptr && job.still->owner != nullptr ? job.still : nullptr;
  return QuickTimeU::CreateMovie(*job.movie, *job.image, *job.audio, job.resize, *job.facts, *job.publication, made);
}

std::optional<media::MadeFrom> ReadMovieMadeFrom(const std::string& path) { return media::ReadMadeFromMovie(path); }

OSErr ReadMovieSoundSeconds(FSSpec* file, double* seconds) {
  TimeValue duration = 0;
  TimeScale scale = 0;
  const OSErr err = GetMovieFileTrackDuration(file, SoundMediaType, &duration, &scale);
  if (err == noErr) *seconds = scale > 0 ? double(duration) / double(scale) : 0;
  return err;
}

}  // namespace outputs
