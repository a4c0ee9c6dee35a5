// SPDX-License-Identifier: GPL-2.0-or-later
// Reading back the head of a movie this program wrote (a QuickTime movie, an MP4, or a motion
// photo: a JPEG with its MP4 appended): where the movie starts, its movie atom, what that says.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "media/MovieAtoms.h"

namespace media {

struct MovieHead {
  std::uint64_t movieStart = 0;     // 0, or where a motion photo's MP4 begins (it runs to the end)
  bool motionPhoto = false;
  std::vector<std::uint8_t> moov;   // the movie atom's body
};

// The head of the movie in fd, open for reading: the movie atom found among the top-level atoms
// without reading samples. One page is read for a movie whose movie atom comes first, as ours
// do; a motion photo takes one or two more. Nothing when the file is no movie or a damaged one.
std::optional<MovieHead> ReadMovieHead(int fd);
// The same for the regular file at path, opened without following a link or waiting on a FIFO.
std::optional<MovieHead> ReadMovieHeadAtPath(const std::string& path);

// The standard XMP packet of the JPEG stream in fd, whose first bytes (from offset 0) are given:
// the header segments are walked by their lengths up to the first scan, reading no more of each
// than its marker and length unless it is an APP1 that may hold the packet. A bounded number of
// segments, so a hostile file ends the walk. Nothing when the stream is no JPEG or has none.
std::optional<std::string> ReadStandardXmp(int fd, std::uint64_t fileSize, std::span<const std::uint8_t> first);

// The first track of that media type, as the movie atom's headers give it.
struct TrackDuration {
  enum class Result { found, noSuchTrack, damagedMovie, damagedTrack };
  Result result = Result::damagedMovie;
  std::int32_t movieScale = 0;  // the movie header's time scale, set unless damagedMovie
  std::uint64_t duration = 0;   // in movie units, when found
};
TrackDuration MovieTrackDuration(std::span<const std::uint8_t> moov, FourCC mediaType);

}  // namespace media
