// Serialising a movie into its file-type and movie-header atoms.
// Sample data is written by the caller; here only where it lies is recorded.
#pragma once
#include <vector>

#include "toolbox/Movies/MovieModel.h"

namespace movies {

std::vector<UInt8> buildFileTypeAtom();

// chunkOffsets[t][c]: the file offset of chunk c of track t in the file being written.
std::vector<UInt8> buildMovieAtom(const MovieType& movie, const std::vector<std::vector<UInt64>>& chunkOffsets);

// The header of an atom with that many body bytes: 8 bytes, or 16 when the size passes 32 bits.
std::vector<UInt8> buildAtomHeader(OSType type, UInt64 bodySize);

}  // namespace movies
