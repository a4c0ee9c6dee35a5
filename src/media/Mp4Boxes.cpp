// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 box writer: ftyp and the moov tree, one small function per box kind, each box a scope
// that patches its own size. The sound's table of sample sizes comes last, written by the caller.
#include "media/Mp4Boxes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "media/AtomScope.h"
#include "media/ByteOrder.h"
#include "media/MovieAtoms.h"

namespace media {

namespace {

using Out = AtomBytes;
using Box = AtomScope;

// A four-character code given as a string of four.
std::uint32_t code(const char* s) {
  return (std::uint32_t(std::uint8_t(s[0])) << 24) | (std::uint32_t(std::uint8_t(s[1])) << 16) |
         (std::uint32_t(std::uint8_t(s[2])) << 8) | std::uint32_t(std::uint8_t(s[3]));
}

constexpr std::uint32_t kVideoTrack = 1;
constexpr std::uint32_t kSoundTrack = 2;
constexpr std::int32_t kMovieTimeScale = 1000;
constexpr std::uint16_t kUndetermined = 0x55C4;  // ISO 639-2 "und", packed

void fullBox(Out& o, std::uint8_t version, std::uint32_t flags = 0) { o.u32((std::uint32_t(version) << 24) | (flags & 0xFFFFFF)); }

// A time or duration, in 64 bits in the version 1 headers.
void wide(Out& o, const Mp4Facts& f, std::uint64_t v) {
  if (f.wideTimes)
    o.u64(v);
  else
    o.u32(std::uint32_t(v));
}

void times(Out& o, const Mp4Facts& f) {
  wide(o, f, f.creationTime);
  wide(o, f, f.creationTime);
}

void matrix(Out& o) {
  for (const auto& row : kIdentityMatrix)
    for (std::int32_t v : row) o.u32(std::uint32_t(v));
}

void mvhd(Out& o, const Mp4Facts& f) {
  Box b(o, MakeFourCC("mvhd"));
  fullBox(o, f.wideTimes);
  times(o, f);
  o.u32(kMovieTimeScale);
  wide(o, f, std::uint64_t(f.durationMs));
  o.u32(0x00010000);  // rate 1.0
  o.u16(0x0100);      // volume 1.0
  o.zeros(10);
  matrix(o);
  o.zeros(24);
  o.u32(kSoundTrack + 1);
}

void tkhd(Out& o, const Mp4Facts& f, std::uint32_t id, bool sound) {
  Box b(o, MakeFourCC("tkhd"));
  fullBox(o, f.wideTimes, 0x3);  // enabled, in the movie
  times(o, f);
  o.u32(id);
  o.u32(0);
  wide(o, f, std::uint64_t(f.durationMs));
  o.zeros(8);
  o.u16(0);              // layer
  o.u16(sound ? 1 : 0);  // alternate group
  o.u16(sound ? 0x0100 : 0);
  o.u16(0);
  matrix(o);
  o.u32(sound ? 0 : std::uint32_t(f.video.width) << 16);
  o.u32(sound ? 0 : std::uint32_t(f.video.height) << 16);
}

// The whole track shown from mediaTime on: the sound's edit skips the encoder's delay.
void edts(Out& o, const Mp4Facts& f, std::int32_t mediaTime) {
  Box b(o, MakeFourCC("edts"));
  Box l(o, MakeFourCC("elst"));
  fullBox(o, f.wideTimes);
  o.u32(1);
  wide(o, f, std::uint64_t(f.durationMs));
  if (f.wideTimes)
    o.u64(std::uint64_t(std::int64_t(mediaTime)));
  else
    o.u32(std::uint32_t(mediaTime));
  o.u32(0x00010000);
}

void mdhd(Out& o, const Mp4Facts& f, std::int32_t timeScale, std::uint64_t duration) {
  Box b(o, MakeFourCC("mdhd"));
  fullBox(o, f.wideTimes);
  times(o, f);
  o.u32(std::uint32_t(timeScale));
  wide(o, f, duration);
  o.u16(kUndetermined);
  o.u16(0);
}

void hdlr(Out& o, const char* type, const char* name) {
  Box b(o, MakeFourCC("hdlr"));
  fullBox(o, 0);
  o.u32(0);
  o.u32(code(type));
  o.zeros(12);
  o.text(name);
  o.u8(0);
}

void vmhd(Out& o) {
  Box b(o, MakeFourCC("vmhd"));
  fullBox(o, 0, 1);
  o.zeros(8);
}

void smhd(Out& o) {
  Box b(o, MakeFourCC("smhd"));
  fullBox(o, 0);
  o.u32(0);
}

// The samples are in this file.
void dinf(Out& o) {
  Box b(o, MakeFourCC("dinf"));
  Box r(o, MakeFourCC("dref"));
  fullBox(o, 0);
  o.u32(1);
  Box u(o, MakeFourCC("url "));
  fullBox(o, 0, 1);
}

void btrt(Out& o, std::uint32_t maxRate, std::uint32_t averageRate) {
  Box b(o, MakeFourCC("btrt"));
  o.u32(0);  // decoding buffer size: not given
  o.u32(maxRate);
  o.u32(averageRate);
}

// Limited range BT.709, as the encoder was told.
void colr(Out& o) {
  Box b(o, MakeFourCC("colr"));
  o.u32(MakeFourCC("nclx"));
  o.u16(1);
  o.u16(1);
  o.u16(1);
  o.u8(0);
}

void pasp(Out& o) {
  Box b(o, MakeFourCC("pasp"));
  o.u32(1);
  o.u32(1);
}

void avc1(Out& o, const Mp4VideoFacts& v) {
  Box b(o, MakeFourCC("avc1"));
  o.zeros(6);
  o.u16(1);  // data reference
  o.zeros(16);
  o.u16(std::uint16_t(v.width));
  o.u16(std::uint16_t(v.height));
  o.u32(0x00480000);  // 72 dpi
  o.u32(0x00480000);
  o.u32(0);
  o.u16(1);  // frames per sample
  o.zeros(32);  // no compressor name
  o.u16(0x0018);
  o.u16(0xFFFF);
  {
    Box c(o, MakeFourCC("avcC"));
    o.raw(v.avcConfig);
  }
  colr(o);
  pasp(o);
  const std::uint64_t rate = v.sampleDuration ? std::uint64_t(v.sampleSize) * 8 * std::uint64_t(v.timeScale) / v.sampleDuration : 0;
  btrt(o, std::uint32_t(std::min<std::uint64_t>(rate, UINT32_MAX)), std::uint32_t(std::min<std::uint64_t>(rate, UINT32_MAX)));
}

// A descriptor of the elementary stream descriptor: its tag, its length in four bytes.
class Descriptor {
 public:
  Descriptor(Out& o, std::uint8_t tag) : o_(o) {
    o_.u8(tag);
    start_ = o_.bytes.size();
    o_.u32(0);
  }
  ~Descriptor() {
    const std::uint32_t n = std::uint32_t(o_.bytes.size() - start_ - 4);
    std::uint8_t* p = o_.bytes.data() + start_;
    p[0] = std::uint8_t(0x80 | ((n >> 21) & 0x7F));
    p[1] = std::uint8_t(0x80 | ((n >> 14) & 0x7F));
    p[2] = std::uint8_t(0x80 | ((n >> 7) & 0x7F));
    p[3] = std::uint8_t(n & 0x7F);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

 private:
  Out& o_;
  std::size_t start_ = 0;
};

void esds(Out& o, const Mp4SoundFacts& s) {
  Box b(o, MakeFourCC("esds"));
  fullBox(o, 0);
  Descriptor es(o, 0x03);
  o.u16(std::uint16_t(kSoundTrack));
  o.u8(0);
  {
    Descriptor config(o, 0x04);
    o.u8(0x40);  // MPEG-4 audio
    o.u8(0x15);  // an audio stream
    o.u8(0);
    o.u16(0);  // buffer size
    o.u32(s.maxBitRate);
    o.u32(s.averageBitRate);
    Descriptor specific(o, 0x05);
    o.raw(s.audioConfig);
  }
  Descriptor sl(o, 0x06);
  o.u8(0x02);
}

void mp4a(Out& o, const Mp4SoundFacts& s) {
  Box b(o, MakeFourCC("mp4a"));
  o.zeros(6);
  o.u16(1);  // data reference
  o.zeros(8);
  o.u16(std::uint16_t(s.channels));
  o.u16(16);
  o.u32(0);
  o.u32(std::uint32_t(s.rate) << 16);
  esds(o, s);
  btrt(o, s.maxBitRate, s.averageBitRate);
}

void stsd(Out& o, const Mp4Facts& f, bool sound) {
  Box b(o, MakeFourCC("stsd"));
  fullBox(o, 0);
  o.u32(1);
  if (sound)
    mp4a(o, f.sound);
  else
    avc1(o, f.video);
}

// Runs of equal durations; the sound's are two, its last packet being shorter or not.
void stts(Out& o, std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> runs) {
  Box b(o, MakeFourCC("stts"));
  fullBox(o, 0);
  o.u32(std::uint32_t(runs.size()));
  for (const auto& [count, duration] : runs) {
    o.u32(count);
    o.u32(duration);
  }
}

// All samples in one chunk.
void stsc(Out& o, std::uint32_t samples) {
  Box b(o, MakeFourCC("stsc"));
  fullBox(o, 0);
  o.u32(1);
  o.u32(1);
  o.u32(samples);
  o.u32(1);
}

void chunkOffset(Out& o, const Mp4Facts& f, std::uint64_t offset) {
  Box b(o, f.wideOffsets ? MakeFourCC("co64") : MakeFourCC("stco"));
  fullBox(o, 0);
  o.u32(1);
  if (f.wideOffsets)
    o.u64(offset);
  else
    o.u32(std::uint32_t(offset));
}

// Each AAC packet may be decoded only after the one before it: a roll distance of -1.
void roll(Out& o, std::uint32_t samples) {
  {
    Box b(o, MakeFourCC("sgpd"));
    fullBox(o, 1);
    o.u32(MakeFourCC("roll"));
    o.u32(2);  // entry length
    o.u32(1);
    o.u16(0xFFFF);
  }
  Box b(o, MakeFourCC("sbgp"));
  fullBox(o, 0);
  o.u32(MakeFourCC("roll"));
  o.u32(1);
  o.u32(samples);
  o.u32(1);
}

void videoStbl(Out& o, const Mp4Facts& f) {
  Box b(o, MakeFourCC("stbl"));
  stsd(o, f, false);
  stts(o, {{1, f.video.sampleDuration}});
  stsc(o, 1);
  {
    Box z(o, MakeFourCC("stsz"));
    fullBox(o, 0);
    o.u32(f.video.sampleSize);
    o.u32(1);
  }
  chunkOffset(o, f, f.video.sampleOffset);
}

// The sizes themselves follow, counted in elsewhere: this box closes every box still open.
void soundStsz(Out& o, const Mp4SoundFacts& s) {
  o.u32(0);
  o.u32(MakeFourCC("stsz"));
  fullBox(o, 0);
  o.u32(0);
  o.u32(s.packets);
}

void soundStbl(Out& o, const Mp4Facts& f) {
  const Mp4SoundFacts& s = f.sound;
  stsd(o, f, true);
  if (s.packets > 1)
    stts(o, {{s.packets - 1, s.frameSamples}, {1, s.lastDuration}});
  else
    stts(o, {{0, s.frameSamples}, {1, s.lastDuration}});
  stsc(o, s.packets);
  chunkOffset(o, f, s.offset);
  roll(o, s.packets);
}

void videoTrak(Out& o, const Mp4Facts& f) {
  Box t(o, MakeFourCC("trak"));
  tkhd(o, f, kVideoTrack, false);
  edts(o, f, 0);
  Box m(o, MakeFourCC("mdia"));
  mdhd(o, f, f.video.timeScale, f.video.sampleDuration);
  hdlr(o, "vide", "VideoHandler");
  Box i(o, MakeFourCC("minf"));
  vmhd(o);
  dinf(o);
  videoStbl(o, f);
}

std::uint64_t soundDuration(const Mp4SoundFacts& s) {
  return std::uint64_t(s.packets > 0 ? s.packets - 1 : 0) * s.frameSamples + s.lastDuration;
}

void meta(Out& o, const Mp4Facts& f);
void loci(Out& o, const std::string& place);

// Metadata items under their keys: meta (handler mdta), keys, and ilst with a UTF-8 text each,
// and the place also as 3GPP's location.
void udta(Out& o, const Mp4Facts& f) {
  if (f.items.empty() && f.place.empty()) return;
  Box u(o, MakeFourCC("udta"));
  meta(o, f);
  if (!f.place.empty()) loci(o, f.place);
}

void meta(Out& o, const Mp4Facts& f) {
  if (f.items.empty()) return;
  Box m(o, MakeFourCC("meta"));
  fullBox(o, 0);
  {
    Box h(o, MakeFourCC("hdlr"));
    fullBox(o, 0);
    o.u32(0);
    o.u32(MakeFourCC("mdta"));
    o.zeros(13);
  }
  {
    Box k(o, MakeFourCC("keys"));
    fullBox(o, 0);
    o.u32(std::uint32_t(f.items.size()));
    for (const auto& item : f.items) {
      Box key(o, MakeFourCC("mdta"));
      o.text(item.first);
    }
  }
  Box l(o, MakeFourCC("ilst"));
  for (std::size_t k = 0; k < f.items.size(); ++k) {
    Box item(o, std::uint32_t(k + 1));
    Box d(o, MakeFourCC("data"));
    o.u32(1);  // UTF-8
    o.u32(0);  // any locale
    o.text(f.items[k].second);
  }
}

// The place as 3GPP readers look for it: longitude, latitude and altitude in 16.16 fixed point,
// cut towards zero as other writers do.
void loci(Out& o, const std::string& place) {
  const char* text = place.c_str();
  char* end = nullptr;
  const double latitude = std::strtod(text, &end);
  if (end == text) return;
  text = end;
  const double longitude = std::strtod(text, &end);
  if (end == text) return;
  text = end;
  const double altitude = *text == '+' || *text == '-' ? std::strtod(text, &end) : 0;
  auto fixed = [](double v) { return std::uint32_t(std::int32_t(std::clamp(v, -32768.0, 32767.0) * 65536)); };
  Box b(o, MakeFourCC("loci"));
  fullBox(o, 0);
  o.u16(0);  // language
  o.u8(0);   // no name
  o.u8(0);   // role: where it was shot
  o.u32(fixed(longitude));
  o.u32(fixed(latitude));
  o.u32(fixed(altitude));
  o.text("earth");
  o.u8(0);
  o.u8(0);  // no notes
}

}  // namespace

std::vector<std::uint8_t> BuildMp4FileType() {
  Out o;
  {
    Box b(o, MakeFourCC("ftyp"));
    o.u32(MakeFourCC("isom"));
    o.u32(0x200);
    for (const char* brand : {"isom", "iso2", "avc1", "mp41"}) o.u32(code(brand));
  }
  return o.bytes;
}

// mvhd, the metadata, the picture's track, then the sound's, whose sample sizes end the box.
std::vector<std::uint8_t> BuildMp4MovieHead(const Mp4Facts& f) {
  Out o;
  {
    Box moov(o, MakeFourCC("moov"));
    mvhd(o, f);
    udta(o, f);
    videoTrak(o, f);
    Box t(o, MakeFourCC("trak"));
    tkhd(o, f, kSoundTrack, true);
    edts(o, f, f.sound.priming);
    Box m(o, MakeFourCC("mdia"));
    mdhd(o, f, f.sound.rate, soundDuration(f.sound));
    hdlr(o, "soun", "SoundHandler");
    Box i(o, MakeFourCC("minf"));
    smhd(o);
    dinf(o);
    Box s(o, MakeFourCC("stbl"));
    soundStbl(o, f);
    const std::size_t stszStart = o.bytes.size();
    soundStsz(o, f.sound);
    o.elsewhere = 4ULL * f.sound.packets;
    o.patch32(stszStart, std::uint32_t(o.bytes.size() + o.elsewhere - stszStart));
  }
  return o.bytes;
}

std::vector<std::uint8_t> Mp4LengthPrefixed(std::span<const std::uint8_t> in) {
  std::vector<std::uint8_t> out;
  out.reserve(in.size() + 16);
  // Each NAL unit runs from after a 00 00 01 to the next one, less the zero bytes before it.
  auto startAfter = [&](std::size_t from) {
    for (std::size_t i = from; i + 3 <= in.size(); ++i)
      if (in[i] == 0 && in[i + 1] == 0 && in[i + 2] == 1) return i;
    return in.size();
  };
  std::size_t at = startAfter(0);
  while (at < in.size()) {
    const std::size_t begin = at + 3;
    const std::size_t next = startAfter(begin);
    std::size_t end = next;
    while (end > begin && in[end - 1] == 0) --end;
    if (end > begin) {
      std::uint8_t n[4];
      WriteBigEndian32(n, std::uint32_t(end - begin));
      out.insert(out.end(), n, n + 4);
      out.insert(out.end(), in.begin() + std::ptrdiff_t(begin), in.begin() + std::ptrdiff_t(end));
    }
    at = next;
  }
  return out;
}

std::vector<std::uint8_t> Mp4AvcConfig(std::span<const std::uint8_t> annexB) {
  const std::vector<std::uint8_t> units = Mp4LengthPrefixed(annexB);
  std::span<const std::uint8_t> sps, pps;
  for (std::size_t at = 0; at + 4 <= units.size();) {
    const std::size_t n = ReadBigEndian32(units.data() + at);
    const std::span<const std::uint8_t> unit(units.data() + at + 4, n);
    if (n > 0 && (unit[0] & 0x1F) == 7 && sps.empty()) sps = unit;
    if (n > 0 && (unit[0] & 0x1F) == 8 && pps.empty()) pps = unit;
    at += 4 + n;
  }
  if (sps.size() < 4 || pps.empty() || sps.size() > 0xFFFF || pps.size() > 0xFFFF) return {};
  Out o;
  o.u8(1);  // version
  o.u8(sps[1]);  // profile
  o.u8(sps[2]);  // its constraints
  o.u8(sps[3]);  // level
  o.u8(0xFF);    // 4-byte lengths
  o.u8(0xE1);    // one SPS
  o.u16(std::uint16_t(sps.size()));
  o.raw(sps.data(), sps.size());
  o.u8(1);
  o.u16(std::uint16_t(pps.size()));
  o.raw(pps.data(), pps.size());
  // The High profiles add the chroma format and bit depths: 4:2:0, 8 bits.
  if (sps[1] == 100 || sps[1] == 110 || sps[1] == 122 || sps[1] == 144) {
    o.u8(0xFC | 1);
    o.u8(0xF8);
    o.u8(0xF8);
    o.u8(0);
  }
  return o.bytes;
}

}  // namespace media
