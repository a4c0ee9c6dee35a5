// SPDX-License-Identifier: GPL-2.0-or-later
// What the rows of voice notes kept inside the photograph's own bytes share (a trailer, XMP, a
// maker's segments): each row is its finder; finding, checking, reading and extracting are one.
#pragma once
#include <optional>
#include <string>

#include "media/EmbeddedNote.h"
#include "sources/SoundSources.h"

namespace sources {

// A finder looks at the photograph's held start (its picture and header segments) and, for what
// lies after the picture, at the whole file by range.
using NoteFinder = media::Status (*)(const std::uint8_t*, std::size_t, media::ByteReader&, media::EmbeddedNote*,
                                     std::string*);
// A finder of notes kept in the header segments, which the held start always has.
template <media::Status (*finder)(const std::uint8_t*, std::size_t, media::EmbeddedNote*, std::string*)>
media::Status InHeader(const std::uint8_t* start, std::size_t size, media::ByteReader&, media::EmbeddedNote* note,
                       std::string* why) {
  return finder(start, size, note, why);
}

std::optional<Found> FindEmbeddedNote(const Photograph& photo, NoteFinder finder);
OSErr CheckEmbeddedNote(const Photograph& photo, NoteFinder finder, Found* found, std::string* problem);
OSErr EmbeddedNoteWaveFile(const Photograph& photo, NoteFinder finder, WaveFile* wave, std::string* problem);
OSErr OpenEmbeddedNote(const Photograph& photo, NoteFinder finder, Recording* recording, std::string* problem);
OSErr ExtractEmbeddedNote(const Photograph& photo, NoteFinder finder, std::FILE* out, std::uint64_t* written,
                          std::string* problem);

// The row of the source of that name whose notes the finder finds. extract's extension is the
// recording's own kind's, in Found::extension (".wav" when the kind is not known).
template <NoteFinder finder>
SoundSource EmbeddedNoteRow(const char* name) {
  return {name,
          [](const Photograph& p) { return FindEmbeddedNote(p, finder); },
          [](const Photograph& p, Found* f, std::string* why) { return CheckEmbeddedNote(p, finder, f, why); },
          [](const Photograph& p, const Found&, WaveFile* w, std::string* why) { return EmbeddedNoteWaveFile(p, finder, w, why); },
          [](const Photograph& p, const Found&, Recording* r, std::string* why) { return OpenEmbeddedNote(p, finder, r, why); },
          ".wav",
          [](const Photograph& p, const Found&, std::FILE* out, std::uint64_t* n, std::string* why) {
            return ExtractEmbeddedNote(p, finder, out, n, why);
          },
          nullptr,
          nullptr,
          nullptr,
          nullptr};
}

}  // namespace sources
