// SPDX-License-Identifier: GPL-2.0-or-later
// The table of photograph kinds, made from PhotoKinds.def, and the questions every caller asks
// of it.
#include "photos/PhotoKinds.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace photos {

#define PHOTO_KIND(row) PhotoKind row();
#include "photos/PhotoKinds.def"
#undef PHOTO_KIND


std::span<const PhotoKind> PhotoKinds() {
  static const PhotoKind rows[] = {
#define PHOTO_KIND(row) row(),
#include "photos/PhotoKinds.def"
#undef PHOTO_KIND
  };
  return rows;
}

const PhotoKind* PhotoKindForName(const std::string& path) {
  // Asked for every name of every folder walked: each kind's endings are put in one index once,
  // the first kind to list an ending keeping it. Every ending is one extension, from its dot.
  static const std::unordered_map<std::string, const PhotoKind*> byEnding = [] {
    std::unordered_map<std::string, const PhotoKind*> index;
    for (const PhotoKind& kind : PhotoKinds())
      for (const char* extension : kind.extensions) {
        if (extension == nullptr || *extension == '\0') break;
        index.emplace(extension, &kind);
      }
    return index;
  }();
  const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
  const std::size_t dot = name.rfind('.');
  // A name that is only its ending (".jpg") is no photograph's.
  if (dot == std::string_view::npos || dot == 0) return nullptr;
  std::string ending(name.substr(dot));
  for (char& c : ending)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  const auto it = byEnding.find(ending);
  return it == byEnding.end() ? nullptr : it->second;
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

namespace {
class CalledReader final : public media::ByteReader {
 public:
  CalledReader(const std::function<bool(std::uint64_t, std::uint8_t*, std::size_t)>& read, std::uint64_t size)
      : read_(read), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
    return offset <= size_ && n <= size_ - offset && read_(offset, out, n);
  }

 private:
  const std::function<bool(std::uint64_t, std::uint8_t*, std::size_t)>& read_;
  std::uint64_t size_;
};
}  // namespace

std::vector<FileStretch> PhotographUnheldParts(
    const std::function<bool(std::uint64_t offset, std::uint8_t* out, std::size_t n)>& read, std::uint64_t size) {
  // Enough of the start for every kind's recognition.
  std::uint8_t start[4096];
  const std::size_t have = std::size_t(std::min<std::uint64_t>(size, sizeof start));
  if (have == 0 || !read(0, start, have)) return {};
  CalledReader file(read, size);
  for (const PhotoKind& kind : PhotoKinds())
    if (kind.recognizes({start, have})) return kind.unheldParts ? kind.unheldParts(file) : std::vector<FileStretch>{};
  return {};
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
