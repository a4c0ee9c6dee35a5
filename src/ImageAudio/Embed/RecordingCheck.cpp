// Asks the movie importer, the one the conversion uses, what it makes of the recording.
#include "ImageAudio/Embed/RecordingCheck.h"

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/Movies.h"

namespace flashpix {

std::string movieProblem(const std::string& wave) {
  ComponentInstance importer = OpenDefaultComponent(MovieImportType, kQTFileTypeWave);
  if (importer == nullptr) return "no importer for WAVE recordings";
  Handle data = nullptr;
  Boolean valid = false;
  std::string format;
  OSErr err = PtrToHand(wave.data(), &data, long(wave.size()));
  // Without memory for the copy nothing is known against the recording.
  const bool checked = err == noErr && data != nullptr;
  if (checked) err = OSErr(MovieImportValidate(importer, nullptr, data, &valid, &format));
  if (data != nullptr) DisposeHandle(data);
  CloseComponent(importer);
  if (!checked) return "";
  if (err != noErr) return "no sound can be read from the recording";
  return valid ? "" : "recording format " + format + " not supported";
}

}  // namespace flashpix
