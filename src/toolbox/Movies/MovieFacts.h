// SPDX-License-Identifier: GPL-2.0-or-later
// The movie model as the atom writer sees it: its tracks, media and user data as plain facts.
#pragma once
#include <vector>

#include "media/MovieAtoms.h"
#include "toolbox/Movies/MovieModel.h"

namespace movies {

// Spans into movie: valid while it is not changed.
media::MovieFacts factsOf(const MovieType& movie);

// The movie atom of movie with its chunks at chunkOffsets[track][chunk].
std::vector<UInt8> BuildMovieAtom(const MovieType& movie, const std::vector<std::vector<UInt64>>& chunkOffsets);

}  // namespace movies
