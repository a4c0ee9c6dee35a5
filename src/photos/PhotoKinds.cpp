// SPDX-License-Identifier: GPL-2.0-or-later
// The table of photograph kinds, made from PhotoKinds.def, and the questions every caller asks
// of it.
#include "photos/PhotoKinds.h"

namespace photos {

#define PHOTO_KIND(row) PhotoKind row();
#include "photos/PhotoKinds.def"
#undef PHOTO_KIND

namespace {

bool endsWithIgnoringCase(const std::string& name, const std::string& tail) {
  if (name.size() <= tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = name[name.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

std::span<const PhotoKind> PhotoKinds() {
  static const PhotoKind rows[] = {
#define PHOTO_KIND(row) row(),
#include "photos/PhotoKinds.def"
#undef PHOTO_KIND
  };
  return rows;
}

const PhotoKind* PhotoKindForName(const std::string& path) {
  const std::string name = path.substr(path.rfind('/') + 1);
  for (const PhotoKind& kind : PhotoKinds())
    for (const char* extension : kind.extensions) {
      if (extension == nullptr || *extension == '\0') break;
      if (endsWithIgnoringCase(name, extension)) return &kind;
    }
  return nullptr;
}

const PhotoKind& PhotoKindForBytes(std::span<const std::uint8_t> bytes) {
  for (const PhotoKind& kind : PhotoKinds())
    if (kind.recognizes(bytes)) return kind;
  return PhotoKinds().front();
}

std::size_t PhotographHeldLength(const std::uint8_t* data, std::size_t have) {
  const std::span<const std::uint8_t> start(data, have);
  for (const PhotoKind& kind : PhotoKinds())
    if (kind.recognizes(start)) return kind.heldLength ? kind.heldLength(start) : 0;
  return 0;
}

ReadPhotograph ReadPhotographBytes(const std::string& path, std::span<const std::uint8_t> bytes, ExImageInfo* record,
                                   bool bytesOutliveRecord) {
  ReadPhotograph r;
  r.kind = &PhotoKindForBytes(bytes);
  if (bytesOutliveRecord && r.kind->readMetadataInPlace) r.kind->readMetadataInPlace(path, bytes, record);
  else r.kind->readMetadata(path, bytes, record);
  r.still = r.kind->still(bytes, *record);
  return r;
}

}  // namespace photos
