// SPDX-License-Identifier: GPL-2.0-or-later
// How the QuickTime road finishes the movie it has built: flattened as it is, exported as an MP4,
// or exported and appended to the photograph as a motion photo; and the exporter each takes.
#pragma once

#include "toolbox/Movies/Components.h"

enum class MovieFormat {
  mov,     // the movie flattened: the JPEG frame as it is and the camera's sound
  mp4,     // exported in H.264 and AAC
  motion,  // exported, and appended to the photograph
};

// The movie export component's subtype; 0: the movie is saved as it is.
inline OSType MovieFormatExporter(MovieFormat format) { return format == MovieFormat::mov ? 0 : kQTFileTypeMP4; }
