// SPDX-License-Identifier: GPL-2.0-or-later
// The kinds of file a conversion writes, one row each: the name the command line and the
// preference give it, what it is in words, and the exporter that writes it.
#pragma once
#include <optional>
#include <string>

#include "toolbox/Movies/Components.h"

enum class MovieFormat {
  mov,     // QuickTime movie: the JPEG frame as it is and the camera's sound (the default)
  mp4,     // H.264 and AAC, which browsers and phones play
  motion,  // motion photo: the photograph with the MP4 appended
};

struct MovieFormatRow {
  MovieFormat format;
  const char* name;
  const char* words;
  OSType exporter;  // the movie export component's subtype; 0: the movie is saved as it is
};

inline constexpr MovieFormatRow kMovieFormats[] = {
    {MovieFormat::mov, "mov", "QuickTime movie PHOTO.mov (the default)", 0},
    {MovieFormat::mp4, "mp4", "PHOTO.mp4 in H.264 and AAC, which browsers and phones play", kQTFileTypeMP4},
    {MovieFormat::motion, "motion", "motion photo PHOTO.MP.jpg: the photograph with the MP4 appended",
     kQTFileTypeMP4},
};

inline std::optional<MovieFormat> MovieFormatNamed(const std::string& name) {
  for (const MovieFormatRow& row : kMovieFormats)
    if (name == row.name) return row.format;
  return std::nullopt;
}

inline const char* MovieFormatName(MovieFormat format) {
  for (const MovieFormatRow& row : kMovieFormats)
    if (row.format == format) return row.name;
  return "mov";
}

inline OSType MovieFormatExporter(MovieFormat format) {
  for (const MovieFormatRow& row : kMovieFormats)
    if (row.format == format) return row.exporter;
  return 0;
}
