// SPDX-License-Identifier: GPL-2.0-or-later
// The entries a movie file stores for the descriptions the toolbox hands around in handles.
#pragma once
#include <vector>

#include "toolbox/Movies/Movies.h"

namespace movies {

std::vector<UInt8> SerializeImageDescription(const ImageDescription& d);
// The entry for the description in the handle, of the version it says; empty when the handle is
// too small for that version.
std::vector<UInt8> SerializeSoundDescription(SoundDescriptionHandle d);

}  // namespace movies
