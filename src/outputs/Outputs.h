// SPDX-License-Identifier: GPL-2.0-or-later
// The kinds of file a conversion writes, one row each: the name the command line and the
// preference give it, its words, the file it writes beside a photograph, its writer, and its
// readers of the made-from record and of the duration. A new output is one file and one row.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "media/MadeFrom.h"
#include "media/Still.h"
#include "movie/PhotoFacts.h"
#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"

namespace sources {
struct Recording;
}

namespace outputs {

// What a writer is handed for one photograph.
struct OutputJob {
  FSSpec* movie = nullptr;  // the file to write, in the photograph's folder
  FSSpec* image = nullptr;  // the photograph
  // The recording as a WAVE file, for a row that takesWaveFile; else a specification of no file.
  FSSpec* audio = nullptr;
  const media::Still* still = nullptr;     // the photograph kind's still
  sources::Recording* recording = nullptr;  // the source's recording, for a row that does not take a WAVE file
  const PhotoFacts* facts = nullptr;
  int resize = 0;  // the longest side asked for; 0 keeps the picture's size
  const MoviePublication* publication = nullptr;
  std::string* problem = nullptr;  // receives a writer's refusal in its own words, when it has them
};

struct Output {
  const char* name;   // --format's value, the preference's, and the made-from record's
  const char* words;  // what it writes, for the help ("QuickTime movie PHOTO.mov (the default)")
  const char* noun;   // what one is called in a sentence ("motion photo")
  // Where it goes for the photograph at image: beside it, named after it.
  std::string (*pathFor)(const std::string& image);
  // The photograph that the file at path would be this output of, by name alone (IMG_1.MP.JPG is
  // IMG_1.JPG's motion photo); nullptr for an output that no walk takes for a photograph.
  std::optional<std::string> (*photographOf)(const std::string& path);
  // Why the photograph (its bytes) cannot become this output, in words; "" when it can.
  // nullptr: any photograph can.
  std::string (*refusal)(std::span<const std::uint8_t> photograph);
  // Whether the writer reads the recording from a WAVE file (job.audio) rather than from the
  // source's recording (job.recording).
  bool takesWaveFile;
  // Writes the output; noErr, or the failure's code (the driver says it in words).
  int (*write)(const OutputJob& job);
  // The made-from record of the file at path, when it is one of ours that carries one.
  std::optional<media::MadeFrom> (*readMadeFrom)(const std::string& path);
  // The length of the written file's sound in seconds: the read-back that proves it whole.
  OSErr (*readSoundSeconds)(FSSpec* file, double* seconds);
};

// Every output, the default first.
std::span<const Output> Outputs();
// The output of that name; nullptr when none has it.
const Output* OutputNamed(std::string_view name);
// The QuickTime movie, written unless another is asked for.
const Output& DefaultOutput();
// Whether the file at path is one of ours rather than a photograph, with what it is in words ("a
// motion photo made from IMG_1.jpg"). By name, without a read: an output's name for a
// photograph that isThere finds (IMG_1.MP.jpg beside IMG_1.jpg). By mark, with a read of its
// head: the made-from record it carries (a motion photo renamed). The walks ask by name; what is
// about to be converted is asked by mark.
std::optional<std::string> OurOutputByName(const std::string& path,
                                           const std::function<bool(const std::string& photo)>& isThere);
std::optional<std::string> OurOutputByMark(const std::string& path);

// The names for words: "mov, mp4 or motion".
std::string OutputNamesInWords(const char* lastJoin = " or ");

}  // namespace outputs
