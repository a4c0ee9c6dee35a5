// Fuzz target: WAVE bytes through the movie importer, as a sound track of a movie in memory.
#include <vector>

#include "movie/QuickTimeU.h"
#include "toolbox/Movies/Movies.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > (1u << 22)) return 0;
  EnterMovies();
  Movie movie = NewMovie(0);
  if (movie == nullptr) return 0;
  std::vector<char> bytes(data, data + size);
  QuickTimeU::ImportWAVDataFromMemory(movie, bytes.data(), long(bytes.size()));
  DisposeMovie(movie);
  return 0;
}
