// SPDX-License-Identifier: GPL-2.0-or-later
// What the outputs made through the QuickTime road share: the road itself (sound track from the
// WAVE file, the photograph as one frame, finished as asked) and the readers of what it wrote.
#pragma once
#include <optional>
#include <string>

#include "media/MadeFrom.h"
#include "movie/MovieFormat.h"
#include "outputs/Outputs.h"

namespace outputs {

int WriteThroughQuickTime(const OutputJob& job, MovieFormat finish);
// The record a movie of ours carries, from its head (a motion photo's appended MP4 too).
std::optional<media::MadeFrom> ReadMovieMadeFrom(const std::string& path);
// Its sound track's length.
OSErr ReadMovieSoundSeconds(FSSpec* file, double* seconds);

}  // namespace outputs
