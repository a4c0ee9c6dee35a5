// SPDX-License-Identifier: GPL-2.0-or-later
// What a movie importer component reads from and how MovieImportFile/MovieImportDataRef reach it.
// A source is read at explicit offsets with bounded reads, from a file or from memory.
#pragma once
#include "toolbox/Movies/Movies.h"

class ImportSource {
 public:
  virtual ~ImportSource() = default;
  virtual UInt64 size() const = 0;
  // Reads up to count bytes at offset; returns how many were read (fewer only at the end).
  virtual size_t readAt(UInt64 offset, void* bytes, size_t count) const = 0;
};

struct MovieImporterRecord : ComponentInstanceRecord {
  // Imports the source into the movie; with movieImportCreateTrack the samples go to a new track
  // inserted at atTime.
  virtual ComponentResult importSource(const ImportSource& source, Movie theMovie, Track targetTrack,
                                       Track* usedTrack, TimeValue atTime, TimeValue* addedDuration,
                                       long inFlags, long* outFlags) = 0;
  // Whether the source would import (MovieImportValidate); formatName may be null.
  virtual ComponentResult validateSource(const ImportSource& source, Boolean* valid, std::string* formatName) = 0;
};
