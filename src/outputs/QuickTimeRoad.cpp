// SPDX-License-Identifier: GPL-2.0-or-later
// The QuickTime road's writer and readers, as the movie, MP4 and motion photo rows use them.
#include "outputs/QuickTimeRoad.h"

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Movies/Movies.h"

namespace outputs {

int WriteThroughQuickTime(const OutputJob& job) {
  return QuickTimeU::CreateMovie(*job.movie, *job.image, *job.audio, job.resize, *job.facts, *job.publication);
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
