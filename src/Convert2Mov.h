// The conversion driver: photograph in, temporary WAVE file and movie beside the photograph out.
// One instance lives as long as the application; each call is one self-contained conversion.
#pragma once
#include <optional>
#include <string>

#include "toolbox/Core/MacTypes.h"

class Convert2Mov {
 public:
  // 0 when no failure was reported (movie written, or nothing to convert), else the failure
  // code of the assembly, kept whole so that no failure reads as 0.
  SInt32 createMovie(const std::string& movie, const std::string& image, SInt32 resize);

  // The WAVE file written from the photograph's voice annotation, or nothing.
  std::optional<std::string> extractAudioFromExifForFile(const std::string& image);

  SInt32 assembleMovieTracksForMovie(const std::string& movie, const std::string& image, const std::string& audio,
                                     SInt32 resize);
};
