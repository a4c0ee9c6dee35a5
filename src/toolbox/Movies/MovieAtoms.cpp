// The atom writer: ftyp and the moov tree, big-endian, one small function per atom kind.
// Each atom is a scope that patches its own size when it closes.
#include "toolbox/Movies/MovieAtoms.h"

#include <algorithm>
#include <string>

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Movies/SampleDescriptions.h"

namespace movies {

namespace {

// The atom writer's record: numbers big-endian, names as Pascal strings.
class Out : public BigEndianBytes {
 public:
  void pascal(const char* s) {
    size_t n = std::char_traits<char>::length(s);
    u8(UInt8(n));
    raw(reinterpret_cast<const UInt8*>(s), n);
  }
};

// Opens an atom; its size is filled in when the scope ends.
class Atom {
 public:
  Atom(Out& out, OSType type) : out_(out), start_(out.bytes.size()) {
    out_.u32(0);
    out_.u32(type);
  }
  ~Atom() { out_.patch32(start_, UInt32(out_.bytes.size() - start_)); }
  Atom(const Atom&) = delete;
  Atom& operator=(const Atom&) = delete;

 private:
  Out& out_;
  size_t start_;
};

void versionFlags(Out& o, UInt32 flags = 0) { o.u32(flags & 0x00FFFFFF); }

// Row by row: a b u, c d v, x y w.
void matrix(Out& o, const MatrixRecord& m = kIdentityMatrix) {
  for (const auto& row : m.matrix)
    for (Fixed v : row) o.u32(UInt32(v));
}

void times(Out& o, const MovieType& m) {
  o.u32(m.creationTime);
  o.u32(m.modificationTime);
}

void mvhd(Out& o, const MovieType& m) {
  Atom a(o, FOUR_CHAR_CODE("mvhd"));
  versionFlags(o);
  times(o, m);
  o.u32(UInt32(m.timeScale));
  o.u32(UInt32(m.duration()));
  o.u32(0x00010000);  // preferred rate 1.0
  o.u16(0x0100);      // preferred volume 1.0
  o.zeros(10);
  matrix(o);
  o.zeros(6 * 4);  // preview, poster, selection and current times
  UInt32 next = 1;
  for (const auto& t : m.tracks) next = std::max(next, t->id + 1);
  o.u32(next);
}

void tkhd(Out& o, const MovieType& m, const TrackType& t) {
  Atom a(o, FOUR_CHAR_CODE("tkhd"));
  versionFlags(o, 0x0F);  // enabled, in movie, in preview, in poster
  times(o, m);
  o.u32(t.id);
  o.u32(0);
  o.u32(UInt32(t.duration()));
  o.zeros(8);
  o.u16(0);  // layer
  o.u16(0);  // alternate group
  o.u16(UInt16(t.volume));
  o.u16(0);
  matrix(o, t.matrix);
  o.u32(UInt32(t.width));
  o.u32(UInt32(t.height));
}

void edts(Out& o, const TrackType& t) {
  if (t.edits.empty()) return;
  Atom a(o, FOUR_CHAR_CODE("edts"));
  Atom l(o, FOUR_CHAR_CODE("elst"));
  versionFlags(o);
  o.u32(UInt32(t.edits.size()));
  for (const Edit& e : t.edits) {
    o.u32(UInt32(e.trackDuration));
    o.u32(UInt32(e.mediaTime));
    o.u32(UInt32(e.rate));
  }
}

void mdhd(Out& o, const MovieType& m, const MediaType& media) {
  Atom a(o, FOUR_CHAR_CODE("mdhd"));
  versionFlags(o);
  times(o, m);
  o.u32(UInt32(media.timeScale));
  o.u32(UInt32(media.duration));
  o.u16(0);  // language: English
  o.u16(0);  // quality
}

void hdlr(Out& o, OSType componentType, OSType subType, const char* name) {
  Atom a(o, FOUR_CHAR_CODE("hdlr"));
  versionFlags(o);
  o.u32(componentType);
  o.u32(subType);
  o.u32(0);  // manufacturer
  o.u32(0);  // flags
  o.u32(0);  // flags mask
  o.pascal(name);
}

void vmhd(Out& o) {
  Atom a(o, FOUR_CHAR_CODE("vmhd"));
  versionFlags(o, 1);
  o.u16(0x0040);  // dither copy
  o.u16(0x8000);
  o.u16(0x8000);
  o.u16(0x8000);
}

void smhd(Out& o) {
  Atom a(o, FOUR_CHAR_CODE("smhd"));
  versionFlags(o);
  o.u16(0);  // balance
  o.u16(0);
}

// One self reference: the samples are in this file.
void dinf(Out& o) {
  Atom a(o, FOUR_CHAR_CODE("dinf"));
  Atom d(o, FOUR_CHAR_CODE("dref"));
  versionFlags(o);
  o.u32(1);
  o.u32(12);
  o.u32(FOUR_CHAR_CODE("alis"));
  versionFlags(o, 1);
}

void stsd(Out& o, const MediaType& media) {
  Atom a(o, FOUR_CHAR_CODE("stsd"));
  versionFlags(o);
  if (media.descriptions.empty()) {
    o.u32(1);
    o.raw(placeholderDescription(media.type, media.timeScale));
    return;
  }
  o.u32(UInt32(media.descriptions.size()));
  for (const auto& d : media.descriptions) o.raw(d);
}

void stts(Out& o, const MediaType& media) {
  std::vector<std::pair<UInt32, UInt32>> runs;
  for (const Chunk& c : media.chunks) {
    if (!runs.empty() && runs.back().second == UInt32(c.sampleDuration))
      runs.back().first += c.sampleCount;
    else
      runs.emplace_back(c.sampleCount, UInt32(c.sampleDuration));
  }
  Atom a(o, FOUR_CHAR_CODE("stts"));
  versionFlags(o);
  o.u32(UInt32(runs.size()));
  for (const auto& r : runs) {
    o.u32(r.first);
    o.u32(r.second);
  }
}

// Sync samples, written only when some sample is not one.
void stss(Out& o, const MediaType& media) {
  bool allSync = std::all_of(media.chunks.begin(), media.chunks.end(), [](const Chunk& c) { return c.sync; });
  if (allSync) return;
  std::vector<UInt32> numbers;
  UInt32 n = 1;
  for (const Chunk& c : media.chunks) {
    for (UInt32 k = 0; k < c.sampleCount; ++k, ++n)
      if (c.sync) numbers.push_back(n);
  }
  Atom a(o, FOUR_CHAR_CODE("stss"));
  versionFlags(o);
  o.u32(UInt32(numbers.size()));
  for (UInt32 v : numbers) o.u32(v);
}

void stsc(Out& o, const MediaType& media) {
  struct Run {
    UInt32 firstChunk, samplesPerChunk, description;
  };
  std::vector<Run> runs;
  for (size_t k = 0; k < media.chunks.size(); ++k) {
    const Chunk& c = media.chunks[k];
    if (runs.empty() || runs.back().samplesPerChunk != c.sampleCount || runs.back().description != c.descriptionIndex)
      runs.push_back(Run{UInt32(k + 1), c.sampleCount, c.descriptionIndex});
  }
  Atom a(o, FOUR_CHAR_CODE("stsc"));
  versionFlags(o);
  o.u32(UInt32(runs.size()));
  for (const Run& r : runs) {
    o.u32(r.firstChunk);
    o.u32(r.samplesPerChunk);
    o.u32(r.description);
  }
}

void stsz(Out& o, const MediaType& media) {
  UInt64 count = 0;
  bool uniform = true;
  for (const Chunk& c : media.chunks) {
    count += c.sampleCount;
    uniform = uniform && c.sampleSize == media.chunks.front().sampleSize;
  }
  Atom a(o, FOUR_CHAR_CODE("stsz"));
  versionFlags(o);
  if (uniform && !media.chunks.empty()) {
    o.u32(media.chunks.front().sampleSize);
    o.u32(UInt32(count));
    return;
  }
  o.u32(0);
  o.u32(UInt32(count));
  for (const Chunk& c : media.chunks)
    for (UInt32 k = 0; k < c.sampleCount; ++k) o.u32(c.sampleSize);
}

// 32-bit offsets unless one of them does not fit.
void chunkOffsets(Out& o, const std::vector<UInt64>& offsets) {
  bool wide = std::any_of(offsets.begin(), offsets.end(), [](UInt64 v) { return v > 0xFFFFFFFFULL; });
  Atom a(o, wide ? FOUR_CHAR_CODE("co64") : FOUR_CHAR_CODE("stco"));
  versionFlags(o);
  o.u32(UInt32(offsets.size()));
  for (UInt64 v : offsets) {
    if (wide)
      o.u64(v);
    else
      o.u32(UInt32(v));
  }
}

void stbl(Out& o, const MediaType& media, const std::vector<UInt64>& offsets) {
  Atom a(o, FOUR_CHAR_CODE("stbl"));
  stsd(o, media);
  stts(o, media);
  stss(o, media);
  stsc(o, media);
  stsz(o, media);
  chunkOffsets(o, offsets);
}

void minf(Out& o, const MediaType& media, const std::vector<UInt64>& offsets) {
  Atom a(o, FOUR_CHAR_CODE("minf"));
  if (media.type == VideoMediaType)
    vmhd(o);
  else
    smhd(o);
  hdlr(o, FOUR_CHAR_CODE("dhlr"), FOUR_CHAR_CODE("alis"), "Alias Data Handler");
  dinf(o);
  stbl(o, media, offsets);
}

void mdia(Out& o, const MovieType& m, const MediaType& media, const std::vector<UInt64>& offsets) {
  Atom a(o, FOUR_CHAR_CODE("mdia"));
  mdhd(o, m, media);
  hdlr(o, FOUR_CHAR_CODE("mhlr"), media.type,
       media.type == VideoMediaType ? "Video Media Handler" : "Sound Media Handler");
  minf(o, media, offsets);
}

void trak(Out& o, const MovieType& m, const TrackType& t, const std::vector<UInt64>& offsets) {
  Atom a(o, FOUR_CHAR_CODE("trak"));
  tkhd(o, m, t);
  edts(o, t);
  if (t.media) mdia(o, m, *t.media, offsets);
}

// Items in the order they were added, each an atom of its own type.
void udta(Out& o, const MovieType& m) {
  if (m.userData.items.empty()) return;
  Atom a(o, FOUR_CHAR_CODE("udta"));
  for (const auto& item : m.userData.items) {
    Atom i(o, item.type);
    o.raw(item.body);
  }
}

}  // namespace

std::vector<UInt8> buildFileTypeAtom() {
  Out o;
  {
    Atom a(o, FOUR_CHAR_CODE("ftyp"));
    o.u32(FOUR_CHAR_CODE("qt  "));
    o.u32(0x20050300);
    o.u32(FOUR_CHAR_CODE("qt  "));
  }
  return o.bytes;
}

std::vector<UInt8> buildMovieAtom(const MovieType& movie, const std::vector<std::vector<UInt64>>& chunkOffsets) {
  Out o;
  {
    Atom a(o, FOUR_CHAR_CODE("moov"));
    mvhd(o, movie);
    for (size_t k = 0; k < movie.tracks.size(); ++k) trak(o, movie, *movie.tracks[k], chunkOffsets[k]);
    udta(o, movie);
  }
  return o.bytes;
}

std::vector<UInt8> buildAtomHeader(OSType type, UInt64 bodySize) {
  Out o;
  if (bodySize + 8 <= 0xFFFFFFFFULL) {
    o.u32(UInt32(bodySize + 8));
    o.u32(type);
  } else {
    o.u32(1);
    o.u32(type);
    o.u64(bodySize + 16);
  }
  return o.bytes;
}

}  // namespace movies
