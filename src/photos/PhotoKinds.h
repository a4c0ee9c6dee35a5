// SPDX-License-Identifier: GPL-2.0-or-later
// The kinds of photograph a conversion reads, one row each: the names it takes, how its metadata
// is read into the record and how it hands over its still. A new kind is one file and one row.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "media/Recording.h"
#include "media/Still.h"

class ExImageInfo;

namespace photos {

// A stretch of a photograph's file.
struct FileStretch {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct PhotoKind {
  const char* name;  // "jpeg"
  // The name endings the folder walk and watch take as this kind, lower case, any letter case
  // matching ("" ends the list).
  const char* extensions[48];
  // Whether bytes are a photograph of this kind, judged from their start.
  bool (*recognizes)(std::span<const std::uint8_t> bytes);
  // Reads the header and metadata of the photograph at path (its bytes) into record; the record
  // keeps pointers into bytes, which must outlive it.
  void (*readMetadata)(const std::string& path, std::span<const std::uint8_t> bytes, ExImageInfo* record);
  // The picture an output shows, read from bytes and the record readMetadata filled; its JPEG
  // points into bytes. A still of width 0 is no readable picture.
  media::Still (*still)(std::span<const std::uint8_t> bytes, const ExImageInfo& record);
  // Why bytes hold no readable photograph of this kind, in words ("empty file" ...).
  std::string (*unreadable)(std::span<const std::uint8_t> bytes);
  // How much of the file's start every reader of this kind needs, judged from the bytes read so
  // far: the length, or 0 while it cannot tell yet. nullptr: the whole file.
  std::size_t (*heldLength)(std::span<const std::uint8_t> start) = nullptr;
  // readMetadata for bytes that outlive the record: the record may point into them rather than
  // copy what it keeps (a voice annotation's pieces). nullptr: readMetadata serves.
  void (*readMetadataInPlace)(const std::string& path, std::span<const std::uint8_t> bytes, ExImageInfo* record) =
      nullptr;
  // Stretches of the held start that no reader takes from the held bytes, because they are read
  // from the file where asked (a long voice annotation's pieces), in file order, found from the
  // headers in file; they need not be held. nullptr: none.
  std::vector<FileStretch> (*unheldParts)(media::ByteReader& file) = nullptr;
};

// Every kind, in the order they are tried.
std::span<const PhotoKind> PhotoKinds();
// The kind for a name by its extension (letter case aside); nullptr when no kind takes it.
const PhotoKind* PhotoKindForName(const std::string& path);
// The kind whose bytes these are; the first kind when none recognizes them, so that its words
// say what is wrong.
const PhotoKind& PhotoKindForBytes(std::span<const std::uint8_t> bytes);

// How much of a photograph's start to hold, as its kind says (0 while it cannot tell yet, and
// for a kind that needs all of it), from the first have bytes.
std::size_t PhotographHeldLength(const std::uint8_t* data, std::size_t have);

// The same for the stretches its kind leaves in the file, reading the file through read.
std::vector<FileStretch> PhotographUnheldParts(
    const std::function<bool(std::uint64_t offset, std::uint8_t* out, std::size_t n)>& read, std::uint64_t size);

// What a photograph read whole gives: its kind, the record filled and its still.
struct ReadPhotograph {
  const PhotoKind* kind = nullptr;
  media::Still still;
  bool readable() const { return still.width > 0 && still.height > 0; }
};
// Reads the metadata of the photograph at path (bytes) into record by its kind; with
// bytesOutliveRecord, the record may point into bytes instead of copying.
ReadPhotograph ReadPhotographBytes(const std::string& path, std::span<const std::uint8_t> bytes, ExImageInfo* record,
                                   bool bytesOutliveRecord = false);

}  // namespace photos
