// SPDX-License-Identifier: GPL-2.0-or-later
// Reads the movie model into the facts the atom writer takes; nothing is copied but the
// small per-track records.
#include "toolbox/Movies/MovieFacts.h"

namespace movies {

media::MovieFacts factsOf(const MovieType& m) {
  media::MovieFacts facts;
  facts.timeScale = m.timeScale;
  facts.duration = m.duration();
  facts.creationTime = m.creationTime;
  facts.modificationTime = m.modificationTime;
  facts.userData = m.userData.items;
  for (const auto& t : m.tracks) {
    media::TrackFacts track;
    track.id = t->id;
    track.width = t->width;
    track.height = t->height;
    track.volume = t->volume;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) track.matrix[r][c] = t->matrix.matrix[r][c];
    track.duration = t->duration();
    track.edits = t->edits;
    if (t->media) {
      track.hasMedia = true;
      track.media.type = t->media->type;
      track.media.timeScale = t->media->timeScale;
      track.media.duration = t->media->duration;
      track.media.descriptions = t->media->descriptions;
      track.media.chunks = t->media->chunks;
    }
    facts.tracks.push_back(track);
  }
  return facts;
}

std::vector<UInt8> BuildMovieAtom(const MovieType& movie, const std::vector<std::vector<UInt64>>& chunkOffsets) {
  return media::BuildMovieAtom(factsOf(movie), chunkOffsets);
}

}  // namespace movies
