// SPDX-License-Identifier: GPL-2.0-or-later
// Asks the movie importer, the one the conversion uses, what it makes of the recording.
#include "ImageAudio/Embed/RecordingCheck.h"

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Movies.h"

namespace flashpix {

std::string movieProblem(const FSSpec& recording) {
  ComponentInstance importer = OpenDefaultComponent(MovieImportType, kQTFileTypeWave);
  if (importer == nullptr) return "no importer for WAVE recordings";
  Boolean valid = false;
  std::string format;
  const OSErr err = OSErr(MovieImportValidate(importer, &recording, nullptr, &valid, &format));
  CloseComponent(importer);
  if (err == invalidSampleDescription) return "its WAVE header is damaged";
  if (err != noErr) return "no sound can be read from the recording";
  return valid ? "" : "recording format " + format + " not supported";
}

}  // namespace flashpix
