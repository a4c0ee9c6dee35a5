// SPDX-License-Identifier: GPL-2.0-or-later
// A voice note kept inside a photograph by a phone or camera: where its stored bytes lie (or the
// bytes, pieced together), what kind of recording the bytes are, and the extension it is saved under.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/Recording.h"
#include "media/Status.h"

namespace media {

// The kinds a recording kept by a camera or phone comes as, told by the bytes alone.
#define RECORDING_KINDS(X)       \
  X(wave, "wav", "WAVE")          \
  X(mp4Audio, "m4a", "MPEG-4 audio") \
  X(adts, "aac", "AAC (ADTS)")    \
  X(amr, "amr", "AMR")            \
  X(amrWb, "awb", "AMR-WB")       \
  X(mp3, "mp3", "MP3")            \
  X(ogg, "ogg", "Ogg")            \
  X(flac, "flac", "FLAC")         \
  X(unknown, "bin", "unknown")

enum class RecordingKind {
#define RECORDING_KIND_ENUM(name, extension, words) name,
  RECORDING_KINDS(RECORDING_KIND_ENUM)
#undef RECORDING_KIND_ENUM
};

// The kind of the recording whose file starts with these bytes (the first 64 are plenty).
RecordingKind RecordingKindOf(const std::uint8_t* data, std::size_t size);
// The extension extract gives the stored recording, without the dot: "wav", "m4a", "amr"...
const char* RecordingExtension(RecordingKind kind);
// The kind in words, for --info and messages.
const char* RecordingKindWords(RecordingKind kind);

// The most an embedded note that has to be pieced together or decoded into memory may hold (XMP's
// base64, FLIR's records): far above any voice note, far below what would strain memory when a
// hostile file claims more. A note stored in one piece is read where it lies, at any size.
constexpr std::uint64_t kMaxEmbeddedNoteBytes = 48u << 20;

struct EmbeddedNote {
  bool found = false;
  // Where the recording lies in the photograph's file, when stored there in one piece.
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  // The recording's bytes, when they had to be pieced together or decoded (empty otherwise).
  std::vector<std::uint8_t> assembled;
  RecordingKind kind = RecordingKind::unknown;

  // The recording's bytes, when all the photograph's (data, size) are in memory.
  const std::uint8_t* bytes(const std::uint8_t* file) const {
    return assembled.empty() ? file + offset : assembled.data();
  }
  std::uint64_t size() const { return assembled.empty() ? length : assembled.size(); }
};

// The bodies (after their signature) of the header segments with this marker code whose body
// starts with the signature, in the order they come; empty when the header cannot be walked.
struct SegmentBody {
  const std::uint8_t* data;
  std::size_t size;
};
std::vector<SegmentBody> AppSegmentsWith(const std::uint8_t* file, std::size_t size, std::uint8_t code,
                                         const char* signature, std::size_t signatureSize);

// Each finder looks at a whole photograph's bytes. ok with found false: no such note;
// ok with found true: the note, its bounds checked; damaged or noMemory: a note that is there but
// cannot be taken, with why in words.
Status FindSamsungTrailerNote(const std::uint8_t* file, std::size_t size, EmbeddedNote* note, std::string* why);
// The same read from the file's end by range (the trailer after the picture is not held).
Status FindSamsungTrailerNote(ByteReader& file, EmbeddedNote* note, std::string* why);
Status FindGAudioNote(const std::uint8_t* file, std::size_t size, EmbeddedNote* note, std::string* why);
Status FindFlirNote(const std::uint8_t* file, std::size_t size, EmbeddedNote* note, std::string* why);

}  // namespace media
