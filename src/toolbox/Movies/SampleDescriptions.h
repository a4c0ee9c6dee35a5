// Sample description entries as a movie file stores them: the 86-byte 'jpeg' image description
// and the sound descriptions (36-byte version 0, 72-byte version 2 with its extensions), big-endian,
// data reference 1 (this file).
#pragma once
#include <vector>

#include "toolbox/Movies/Movies.h"

namespace movies {

std::vector<UInt8> serializeImageDescription(const ImageDescription& d);
// The entry for the description in the handle, of the version it says; empty when the handle is
// too small for that version.
std::vector<UInt8> serializeSoundDescription(SoundDescriptionHandle d);

// The entry for a media of that type that has no samples: readers refuse an empty table.
// Video: 'jpeg', 0 by 0 at 72 dpi, 24 bits; sound: 'sowt', one 16-bit channel at timeScale.
std::vector<UInt8> placeholderDescription(OSType mediaType, TimeScale timeScale);

}  // namespace movies
