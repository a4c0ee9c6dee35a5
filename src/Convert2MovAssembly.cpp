// Building the movie from the photograph and its temporary WAVE file.
// Not assembled yet: nothing is written and no failure is reported.
#include "Convert2Mov.h"

SInt32 Convert2Mov::assembleMovieTracksForMovie(const std::string&, const std::string&, const std::string&, SInt32) {
  return 0;
}
