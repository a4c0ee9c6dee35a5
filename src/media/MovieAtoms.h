// SPDX-License-Identifier: GPL-2.0-or-later
// Serialising a movie into its file-type and movie-header atoms, from plain facts about its
// tracks. Sample data is written by the caller; here only where it lies is recorded.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace media {

// A four-character code, the first character in the most significant byte.
using FourCC = std::uint32_t;
constexpr FourCC fourCC(const char (&s)[5]) {
  return (FourCC(std::uint8_t(s[0])) << 24) | (FourCC(std::uint8_t(s[1])) << 16) |
         (FourCC(std::uint8_t(s[2])) << 8) | FourCC(std::uint8_t(s[3]));
}

constexpr FourCC kVideoMedia = fourCC("vide");
constexpr FourCC kSoundMedia = fourCC("soun");

// Row by row: a b u, c d v, x y w; 16.16 fixed point but for u, v and w (2.30).
using Matrix = std::array<std::array<std::int32_t, 3>, 3>;
inline constexpr Matrix kIdentityMatrix = {{{0x10000, 0, 0}, {0, 0x10000, 0}, {0, 0, 0x40000000}}};

// A run of equal samples stored contiguously.
struct Chunk {
  std::uint64_t offset;
  std::uint32_t sampleCount;
  std::uint32_t sampleSize;
  std::int32_t sampleDuration;
  std::uint32_t descriptionIndex;  // 1-based
  bool sync;
};

struct Edit {
  std::int32_t trackDuration;  // movie units
  std::int32_t mediaTime;      // -1: empty
  std::int32_t rate;           // 16.16
};

// An item of the movie's user data, an atom of its own type.
struct UserDataItem {
  FourCC type;
  std::vector<std::uint8_t> body;
};

struct MediaFacts {
  FourCC type = 0;  // kVideoMedia or kSoundMedia
  std::int32_t timeScale = 0;
  std::int64_t duration = 0;
  std::span<const std::vector<std::uint8_t>> descriptions;  // whole sample description entries
  std::span<const Chunk> chunks;
};

struct TrackFacts {
  std::uint32_t id = 0;
  std::int32_t width = 0;  // 16.16
  std::int32_t height = 0;
  std::int16_t volume = 0;  // 8.8
  Matrix matrix = kIdentityMatrix;
  std::int64_t duration = 0;  // movie units
  std::span<const Edit> edits;
  bool hasMedia = false;
  MediaFacts media;
};

struct MovieFacts {
  std::int32_t timeScale = 600;
  std::int64_t duration = 0;
  // Seconds since 1904; past 2040-02-06 the headers are written in their 64-bit version.
  std::uint64_t creationTime = 0;
  std::uint64_t modificationTime = 0;
  std::vector<TrackFacts> tracks;
  std::span<const UserDataItem> userData;
};

std::vector<std::uint8_t> buildFileTypeAtom();

// chunkOffsets[t][c]: the file offset of chunk c of track t in the file being written.
std::vector<std::uint8_t> buildMovieAtom(const MovieFacts& movie,
                                         const std::vector<std::vector<std::uint64_t>>& chunkOffsets);

// The header of an atom with that many body bytes: 8 bytes, or 16 when the size passes 32 bits.
std::vector<std::uint8_t> buildAtomHeader(FourCC type, std::uint64_t bodySize);

}  // namespace media
