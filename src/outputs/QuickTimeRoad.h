// SPDX-License-Identifier: GPL-2.0-or-later
// What the outputs share of the QuickTime road: the road itself (sound track from the WAVE file,
// the photograph as one frame, flattened) and the readers of the movies, MP4s and motion photos written.
#pragma once
#include <optional>
#include <string>

#include "media/MadeFrom.h"
#include "outputs/Outputs.h"

namespace outputs {

int WriteThroughQuickTime(const OutputJob& job);
// The record a movie of ours carries, from its head (a motion photo's appended MP4 too).
std::optional<media::MadeFrom> ReadMovieMadeFrom(const std::string& path);
// Its sound track's length.
OSErr ReadMovieSoundSeconds(FSSpec* file, double* seconds);

}  // namespace outputs
