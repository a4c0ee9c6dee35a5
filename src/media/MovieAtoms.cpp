// SPDX-License-Identifier: GPL-2.0-or-later
// The atom writer: ftyp and the moov tree, big-endian, one small function per atom kind.
// Each atom is a scope that patches its own size when it closes.
#include "media/MovieAtoms.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "media/AtomScope.h"
#include "media/ByteOrder.h"
#include "media/SampleDescriptions.h"

namespace media {

namespace {

using Out = AtomBytes;
using Atom = AtomScope;

void versionFlags(Out& o, std::uint32_t flags = 0) { o.u32(flags & 0x00FFFFFF); }

// Row by row: a b u, c d v, x y w.
void matrix(Out& o, const Matrix& m = kIdentityMatrix) {
  for (const auto& row : m)
    for (std::int32_t v : row) o.u32(std::uint32_t(v));
}

// Version 1 of mvhd, tkhd and mdhd: 64-bit times and duration, for times 32 bits cannot hold.
// Every other movie keeps version 0, byte for byte.
bool wideTimes(const MovieFacts& m) { return m.creationTime > UINT32_MAX || m.modificationTime > UINT32_MAX; }

void versionFlags(Out& o, const MovieFacts& m, std::uint32_t flags = 0) {
  o.u32((wideTimes(m) ? 0x01000000u : 0u) | (flags & 0x00FFFFFF));
}

void times(Out& o, const MovieFacts& m) {
  if (wideTimes(m)) {
    o.u32(std::uint32_t(m.creationTime >> 32));
    o.u32(std::uint32_t(m.creationTime));
    o.u32(std::uint32_t(m.modificationTime >> 32));
    o.u32(std::uint32_t(m.modificationTime));
    return;
  }
  o.u32(std::uint32_t(m.creationTime));
  o.u32(std::uint32_t(m.modificationTime));
}

void headerDuration(Out& o, const MovieFacts& m, std::int64_t duration) {
  if (wideTimes(m)) o.u32(std::uint32_t(std::uint64_t(duration) >> 32));
  o.u32(std::uint32_t(duration));
}

void mvhd(Out& o, const MovieFacts& m) {
  Atom a(o, MakeFourCC("mvhd"));
  versionFlags(o, m);
  times(o, m);
  o.u32(std::uint32_t(m.timeScale));
  headerDuration(o, m, m.duration);
  o.u32(0x00010000);  // preferred rate 1.0
  o.u16(0x0100);      // preferred volume 1.0
  o.zeros(10);
  matrix(o);
  o.zeros(6 * 4);  // preview, poster, selection and current times
  std::uint32_t next = 1;
  for (const auto& t : m.tracks) next = std::max(next, t.id + 1);
  o.u32(next);
}

void tkhd(Out& o, const MovieFacts& m, const TrackFacts& t) {
  Atom a(o, MakeFourCC("tkhd"));
  versionFlags(o, m, 0x0F);  // enabled, in movie, in preview, in poster
  times(o, m);
  o.u32(t.id);
  o.u32(0);
  headerDuration(o, m, t.duration);
  o.zeros(8);
  o.u16(0);  // layer
  o.u16(0);  // alternate group
  o.u16(std::uint16_t(t.volume));
  o.u16(0);
  matrix(o, t.matrix);
  o.u32(std::uint32_t(t.width));
  o.u32(std::uint32_t(t.height));
}

void edts(Out& o, const TrackFacts& t) {
  if (t.edits.empty()) return;
  Atom a(o, MakeFourCC("edts"));
  Atom l(o, MakeFourCC("elst"));
  versionFlags(o);
  o.u32(std::uint32_t(t.edits.size()));
  for (const Edit& e : t.edits) {
    o.u32(std::uint32_t(e.trackDuration));
    o.u32(std::uint32_t(e.mediaTime));
    o.u32(std::uint32_t(e.rate));
  }
}

void mdhd(Out& o, const MovieFacts& m, const MediaFacts& media) {
  Atom a(o, MakeFourCC("mdhd"));
  versionFlags(o, m);
  times(o, m);
  o.u32(std::uint32_t(media.timeScale));
  headerDuration(o, m, media.duration);
  o.u16(0);  // language: English
  o.u16(0);  // quality
}

void hdlr(Out& o, FourCC componentType, FourCC subType, const char* name) {
  Atom a(o, MakeFourCC("hdlr"));
  versionFlags(o);
  o.u32(componentType);
  o.u32(subType);
  o.u32(0);  // manufacturer
  o.u32(0);  // flags
  o.u32(0);  // flags mask
  o.pascal(name);
}

void vmhd(Out& o) {
  Atom a(o, MakeFourCC("vmhd"));
  versionFlags(o, 1);
  o.u16(0x0040);  // dither copy
  o.u16(0x8000);
  o.u16(0x8000);
  o.u16(0x8000);
}

void smhd(Out& o) {
  Atom a(o, MakeFourCC("smhd"));
  versionFlags(o);
  o.u16(0);  // balance
  o.u16(0);
}

// One self reference: the samples are in this file.
void dinf(Out& o) {
  Atom a(o, MakeFourCC("dinf"));
  Atom d(o, MakeFourCC("dref"));
  versionFlags(o);
  o.u32(1);
  o.u32(12);
  o.u32(MakeFourCC("alis"));
  versionFlags(o, 1);
}

void stsd(Out& o, const MediaFacts& media) {
  Atom a(o, MakeFourCC("stsd"));
  versionFlags(o);
  if (media.descriptions.empty()) {
    o.u32(1);
    o.raw(PlaceholderDescription(media.type, media.timeScale));
    return;
  }
  o.u32(std::uint32_t(media.descriptions.size()));
  for (const auto& d : media.descriptions) o.raw(d);
}

void stts(Out& o, const MediaFacts& media) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> runs;
  for (const Chunk& c : media.chunks) {
    if (!runs.empty() && runs.back().second == std::uint32_t(c.sampleDuration))
      runs.back().first += c.sampleCount;
    else
      runs.emplace_back(c.sampleCount, std::uint32_t(c.sampleDuration));
  }
  Atom a(o, MakeFourCC("stts"));
  versionFlags(o);
  o.u32(std::uint32_t(runs.size()));
  for (const auto& r : runs) {
    o.u32(r.first);
    o.u32(r.second);
  }
}

// Sync samples, written only when some sample is not one.
void stss(Out& o, const MediaFacts& media) {
  bool allSync = std::all_of(media.chunks.begin(), media.chunks.end(), [](const Chunk& c) { return c.sync; });
  if (allSync) return;
  std::vector<std::uint32_t> numbers;
  std::uint32_t n = 1;
  for (const Chunk& c : media.chunks) {
    for (std::uint32_t k = 0; k < c.sampleCount; ++k, ++n)
      if (c.sync) numbers.push_back(n);
  }
  Atom a(o, MakeFourCC("stss"));
  versionFlags(o);
  o.u32(std::uint32_t(numbers.size()));
  for (std::uint32_t v : numbers) o.u32(v);
}

void stsc(Out& o, const MediaFacts& media) {
  struct Run {
    std::uint32_t firstChunk, samplesPerChunk, description;
  };
  std::vector<Run> runs;
  for (size_t k = 0; k < media.chunks.size(); ++k) {
    const Chunk& c = media.chunks[k];
    if (runs.empty() || runs.back().samplesPerChunk != c.sampleCount || runs.back().description != c.descriptionIndex)
      runs.push_back(Run{std::uint32_t(k + 1), c.sampleCount, c.descriptionIndex});
  }
  Atom a(o, MakeFourCC("stsc"));
  versionFlags(o);
  o.u32(std::uint32_t(runs.size()));
  for (const Run& r : runs) {
    o.u32(r.firstChunk);
    o.u32(r.samplesPerChunk);
    o.u32(r.description);
  }
}

void stsz(Out& o, const MediaFacts& media) {
  std::uint64_t count = 0;
  bool uniform = true;
  for (const Chunk& c : media.chunks) {
    count += c.sampleCount;
    uniform = uniform && c.sampleSize == media.chunks.front().sampleSize;
  }
  Atom a(o, MakeFourCC("stsz"));
  versionFlags(o);
  if (uniform && !media.chunks.empty()) {
    o.u32(media.chunks.front().sampleSize);
    o.u32(std::uint32_t(count));
    return;
  }
  o.u32(0);
  o.u32(std::uint32_t(count));
  for (const Chunk& c : media.chunks)
    for (std::uint32_t k = 0; k < c.sampleCount; ++k) o.u32(c.sampleSize);
}

// 32-bit offsets unless one of them does not fit.
void chunkOffsets(Out& o, const std::vector<std::uint64_t>& offsets) {
  bool wide = std::any_of(offsets.begin(), offsets.end(), [](std::uint64_t v) { return v > 0xFFFFFFFFULL; });
  Atom a(o, wide ? MakeFourCC("co64") : MakeFourCC("stco"));
  versionFlags(o);
  o.u32(std::uint32_t(offsets.size()));
  for (std::uint64_t v : offsets) {
    if (wide)
      o.u64(v);
    else
      o.u32(std::uint32_t(v));
  }
}

void stbl(Out& o, const MediaFacts& media, const std::vector<std::uint64_t>& offsets) {
  Atom a(o, MakeFourCC("stbl"));
  stsd(o, media);
  stts(o, media);
  stss(o, media);
  stsc(o, media);
  stsz(o, media);
  chunkOffsets(o, offsets);
}

void minf(Out& o, const MediaFacts& media, const std::vector<std::uint64_t>& offsets) {
  Atom a(o, MakeFourCC("minf"));
  if (media.type == kVideoMedia)
    vmhd(o);
  else
    smhd(o);
  hdlr(o, MakeFourCC("dhlr"), MakeFourCC("alis"), "Alias Data Handler");
  dinf(o);
  stbl(o, media, offsets);
}

void mdia(Out& o, const MovieFacts& m, const MediaFacts& media, const std::vector<std::uint64_t>& offsets) {
  Atom a(o, MakeFourCC("mdia"));
  mdhd(o, m, media);
  hdlr(o, MakeFourCC("mhlr"), media.type,
       media.type == kVideoMedia ? "Video Media Handler" : "Sound Media Handler");
  minf(o, media, offsets);
}

void trak(Out& o, const MovieFacts& m, const TrackFacts& t, const std::vector<std::uint64_t>& offsets) {
  Atom a(o, MakeFourCC("trak"));
  tkhd(o, m, t);
  edts(o, t);
  if (t.hasMedia) mdia(o, m, t.media, offsets);
}

// Items in the order they were added, each an atom of its own type.
void udta(Out& o, const MovieFacts& m) {
  if (m.userData.empty()) return;
  Atom a(o, MakeFourCC("udta"));
  for (const auto& item : m.userData) {
    Atom i(o, item.type);
    o.raw(item.body);
  }
}

}  // namespace

std::vector<std::uint8_t> BuildFileTypeAtom() {
  Out o;
  {
    Atom a(o, MakeFourCC("ftyp"));
    o.u32(MakeFourCC("qt  "));
    o.u32(0x20050300);
    o.u32(MakeFourCC("qt  "));
  }
  return o.bytes;
}

std::vector<std::uint8_t> BuildMovieAtom(const MovieFacts& movie,
                                         const std::vector<std::vector<std::uint64_t>>& chunkOffsets) {
  Out o;
  {
    Atom a(o, MakeFourCC("moov"));
    mvhd(o, movie);
    for (size_t k = 0; k < movie.tracks.size(); ++k) trak(o, movie, movie.tracks[k], chunkOffsets[k]);
    udta(o, movie);
  }
  return o.bytes;
}

std::vector<std::uint8_t> BuildAtomHeader(FourCC type, std::uint64_t bodySize) {
  Out o;
  if (bodySize + 8 <= 0xFFFFFFFFULL) {
    o.u32(std::uint32_t(bodySize + 8));
    o.u32(type);
  } else {
    o.u32(1);
    o.u32(type);
    o.u64(bodySize + 16);
  }
  return o.bytes;
}

}  // namespace media
