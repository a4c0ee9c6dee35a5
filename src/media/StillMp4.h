// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 of a still and a recording, and the motion photo made of the still's own JPEG with
// that MP4 appended, each written into one working file the caller publishes.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "media/Mp4Writer.h"
#include "media/Recording.h"
#include "media/Still.h"

namespace media {

struct StillMp4Request {
  // The box the frame is fitted into, in the stored picture's orientation, keeping its shape and
  // never enlarging; 0 × 0: no box but the MP4's own limits.
  int boxWidth = 0;
  int boxHeight = 0;
  std::map<std::string, std::string> metadata;  // as Mp4Writer::setMetadata takes them
  // Encode the sound on a second thread while the picture is decoded and scaled.
  bool soundAhead = false;
};

// Which step failed; the words are in problem.
enum class StillMp4Step {
  done,
  sound,       // the recording could not be pulled (status: its source's)
  picture,     // the JPEG is no picture (badArgument) or could not be decoded whole (its status)
  encoding,    // the writer refused or failed (result)
  photograph,  // the photograph cannot become a motion photo (its XMP or header)
};

struct StillMp4Outcome {
  StillMp4Step failed = StillMp4Step::done;
  Mp4Result result = Mp4Result::ok;
  Status status = Status::ok;
  std::string problem;
  int systemError = 0;  // errno behind a failed write
};

// Writes the MP4 to fd (open for reading and writing, empty, at 0).
StillMp4Outcome WriteStillMp4(int fd, const Still& still, PcmSource& sound, const StillMp4Request& request);
// Writes the motion photo to fd: the still's JPEG with the XMP that points at the MP4, then the MP4.
StillMp4Outcome WriteMotionPhoto(int fd, const Still& still, PcmSource& sound, const StillMp4Request& request);

}  // namespace media
