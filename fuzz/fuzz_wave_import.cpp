// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: WAVE bytes through the movie importer, both ways the program reaches it: from
// memory (a handle data reference) and from a file, which is read through a window.
#include <vector>

#include "FuzzScratch.h"
#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Movies.h"

namespace {
void importFromMemory(const unsigned char* data, size_t size) {
  Movie movie = NewMovie(0);
  if (movie == nullptr) return;
  std::vector<char> bytes(data, data + size);
  QuickTimeU::ImportWAVDataFromMemory(movie, bytes.data(), long(bytes.size()));
  DisposeMovie(movie);
}

void importFromFile(const unsigned char* data, size_t size) {
  static const std::string path = fuzzscratch::folder().file("sound.wav");
  fuzzscratch::Folder::write(path, data, size);
  FSSpec spec;
  if (FSpFromPath(path, &spec) != noErr) return;
  Movie movie = NewMovie(0);
  if (movie == nullptr) return;
  QuickTimeU::CreateSoundTrack(movie, spec);
  DisposeMovie(movie);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterMovies();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > (1u << 22)) return 0;
  importFromMemory(data, size);
  importFromFile(data, size);
  return 0;
}
