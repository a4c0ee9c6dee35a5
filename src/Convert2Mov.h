// The conversion driver: photograph in, temporary WAVE file and movie beside the photograph out.
// One instance lives as long as the application; each call is one self-contained conversion.
#pragma once
#include <optional>
#include <string>

#include "toolbox/Core/MacTypes.h"

// What the last conversion found and did, for callers that say more than the status.
struct ConversionReport {
  bool imageFound = false;     // a file exists at the image path
  bool imageReadable = false;  // its JPEG header was read (the pixel size is known)
  UInt32 audioBlocks = 0;      // pieces of the voice annotation found
  UInt32 audioSeconds = 0;     // the recording's length from its WAVE headers
  std::string wavePath;        // the temporary WAVE file, when one was written
  bool waveWritten = false;
  bool assembled = false;      // the movie assembly ran
  std::string moviePath;       // where the movie was written
  double soundSeconds = 0;     // duration of the movie's sound track
  SInt32 status = 0;           // what createMovie returned
  std::string problem;         // when it failed or was refused: what went wrong, in words
  bool skippedExisting = false;  // a file had the movie's name and the rule said keep it
  bool refusedExisting = false;  // a file had the movie's name and the rule did not allow replacing it
};

// What a conversion may do with a file that already has the movie's name.
enum class ExistingMovie {
  replaceOwn,  // replace a movie that still2mov made, refuse anything else (the default)
  replaceAny,  // replace whatever file is there
  keep,        // leave any existing file and make no movie
};

class Convert2Mov {
 public:
  // 0 when no failure was reported (movie written, or nothing to convert), else the failure
  // code of the assembly, kept whole so that no failure reads as 0.
  SInt32 createMovie(const std::string& movie, const std::string& image, SInt32 resize);

  // The WAVE file written from the photograph's voice annotation, or nothing.
  std::optional<std::string> extractAudioFromExifForFile(const std::string& image);

  SInt32 assembleMovieTracksForMovie(const std::string& movie, const std::string& image, const std::string& audio,
                                     SInt32 resize);

  const ConversionReport& lastReport() const { return mReport; }

  void setExistingMovieRule(ExistingMovie rule) { mExistingMovie = rule; }

 private:
  ConversionReport mReport;
  ExistingMovie mExistingMovie = ExistingMovie::replaceOwn;
};
