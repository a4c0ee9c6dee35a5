// SPDX-License-Identifier: GPL-2.0-or-later
// The table of WAVE formats and their codecs: linear PCM and IEEE float kept as they are, G.711
// (A-law, mu-law) expanded to 16 bits, and the limits every codec shares.
// Integer PCM whose valid bits (WAVE_FORMAT_EXTENSIBLE) fit in fewer bytes than its container,
// say 24 valid bits in 32, is stored in the fewest whole bytes that hold them: the top bytes of
// each container, which readers take for what they are. Only bits below the valid ones go, zero
// in a well-formed file; samples kept in one byte become unsigned, as 8-bit sound is.
#include "media/WaveFormats.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "media/ByteOrder.h"

namespace media::wave {

namespace {

constexpr std::uint32_t kFramesPerRead = 4096;
// The most any recorder writes; a header that claims more is not taken for sound.
constexpr std::uint16_t kMaxChannels = 8;
constexpr std::uint32_t kMaxRate = 384000;
// The ADPCM decoders keep the state of at most two channels, as cameras and their readers do.
constexpr std::uint16_t kMaxAdpcmChannels = 2;

std::string count(std::uint32_t n, const char* unit) { return std::to_string(n) + " " + unit + (n == 1 ? "" : "s"); }

// Limits shared by every codec, damage first: a header that contradicts itself is no kind at all.
Fit limitsFit(const Format& f, std::uint16_t maxChannels, bool bitsAllowed, std::string* why) {
  if (f.channels == 0 || f.rate == 0 || f.bits == 0) return Fit::damaged;
  if (!bitsAllowed)
    *why = count(f.bits, "bit") + " per sample";
  else if (f.channels > maxChannels)
    *why = count(f.channels, "channel");
  else if (f.rate > kMaxRate)
    *why = std::to_string(f.rate) + " Hz";
  return why->empty() ? Fit::fits : Fit::unsupported;
}

// Linear PCM and float: the WAVE bytes are what the movie stores, but for the dropped padding.
std::uint32_t containerBytes(const Format& f) { return (std::uint32_t(f.bits) + 7) / 8; }
std::uint32_t keptBytes(const Format& f) {
  const std::uint32_t valid = f.validBits != 0 && f.validBits < f.bits ? f.validBits : f.bits;
  return (valid + 7) / 8;
}
std::uint32_t frameBytes(const Format& f) { return std::uint32_t(f.channels) * containerBytes(f); }
std::uint32_t copyUnit(const Format& f) { return frameBytes(f) * kFramesPerRead; }
std::uint32_t copyFrames(const Format& f, std::uint32_t bytes) { return bytes / frameBytes(f); }
void copyDecode(const Format& f, const std::uint8_t* in, std::uint32_t bytes, std::uint8_t* out) {
  const size_t samples = size_t(copyFrames(f, bytes)) * f.channels;
  const std::uint32_t container = containerBytes(f);
  const std::uint32_t kept = keptBytes(f);
  if (kept == container) {
    std::memcpy(out, in, samples * container);
    return;
  }
  // Little-endian: the top bytes are the last ones of each container.
  for (size_t k = 0; k < samples; ++k, in += container, out += kept) {
    std::memcpy(out, in + container - kept, kept);
    if (kept == 1) out[0] ^= 0x80;
  }
}

Fit pcmFit(const Format& f, std::string* why) {
  return limitsFit(f, kMaxChannels, f.bits <= 32, why);
}
// 8-bit samples are unsigned, wider ones signed.
SampleLayout pcmOutput(const Format& f) { return {std::uint16_t(keptBytes(f) * 8), false, keptBytes(f) > 1}; }

Fit floatFit(const Format& f, std::string* why) {
  return limitsFit(f, kMaxChannels, f.bits == 32 || f.bits == 64, why);
}
SampleLayout floatOutput(const Format& f) { return {f.bits, true, true}; }
// Float samples are kept whole whatever valid bits the header claims.
void floatDecode(const Format& f, const std::uint8_t* in, std::uint32_t bytes, std::uint8_t* out) {
  std::memcpy(out, in, size_t(copyFrames(f, bytes)) * frameBytes(f));
}

SampleLayout linear16(const Format&) { return {16, false, true}; }

// G.711 expansion, as the ITU recommendation defines it.
constexpr std::int16_t expandMuLaw(std::uint8_t code) {
  std::uint8_t u = std::uint8_t(~code);
  int t = ((u & 0x0F) << 3) + 0x84;
  t <<= (u & 0x70) >> 4;
  return std::int16_t((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

constexpr std::int16_t expandALaw(std::uint8_t code) {
  std::uint8_t a = code ^ 0x55;
  int t = a & 0x0F;
  int seg = (a & 0x70) >> 4;
  if (seg)
    t = (t + t + 1 + 32) << (seg + 2);
  else
    t = (t + t + 1) << 3;
  return std::int16_t((a & 0x80) ? t : -t);
}

template <std::int16_t (*Expand)(std::uint8_t)>
constexpr std::array<std::int16_t, 256> makeTable() {
  std::array<std::int16_t, 256> t{};
  for (int k = 0; k < 256; ++k) t[size_t(k)] = Expand(std::uint8_t(k));
  return t;
}
constexpr auto kMuLawTable = makeTable<expandMuLaw>();
constexpr auto kALawTable = makeTable<expandALaw>();

Fit g711Fit(const Format& f, std::string* why) {
  return limitsFit(f, kMaxChannels, f.bits == 8, why);
}
std::uint32_t g711Unit(const Format& f) { return std::uint32_t(f.channels) * kFramesPerRead; }
std::uint32_t g711Frames(const Format& f, std::uint32_t bytes) { return bytes / f.channels; }
template <const std::array<std::int16_t, 256>& Table>
void g711Decode(const Format& f, const std::uint8_t* in, std::uint32_t bytes, std::uint8_t* out) {
  std::uint32_t samples = g711Frames(f, bytes) * f.channels;
  for (std::uint32_t k = 0; k < samples; ++k) WriteLittleEndian16(out + 2 * k, std::uint16_t(Table[in[k]]));
}

// ADPCM: one block at a time; a block must hold at least its channel headers.
Fit adpcmFit(const Format& f, std::uint32_t headerBytes, std::string* why) {
  Fit fit = limitsFit(f, kMaxAdpcmChannels, f.bits == 4, why);
  if (fit == Fit::fits && f.blockAlign < headerBytes * f.channels) return Fit::damaged;
  return fit;
}
Fit imaFit(const Format& f, std::string* why) { return adpcmFit(f, 8, why); }
Fit msFit(const Format& f, std::string* why) { return adpcmFit(f, 7, why); }
std::uint32_t blockUnit(const Format& f) { return f.blockAlign; }

constexpr Codec kLinearPcmCodec{pcmFit, copyUnit, copyFrames, copyDecode, pcmOutput};
constexpr Codec kIeeeFloatCodec{floatFit, copyUnit, copyFrames, floatDecode, floatOutput};
constexpr Codec kALawCodec{g711Fit, g711Unit, g711Frames, g711Decode<kALawTable>, linear16};
constexpr Codec kMuLawCodec{g711Fit, g711Unit, g711Frames, g711Decode<kMuLawTable>, linear16};
constexpr Codec kImaAdpcmCodec{imaFit, blockUnit, ImaFramesIn, ImaDecode, linear16};
constexpr Codec kMsAdpcmCodec{msFit, blockUnit, MsFramesIn, MsDecode, linear16};
constexpr const Codec* kLinearPcm = &kLinearPcmCodec;
constexpr const Codec* kIeeeFloat = &kIeeeFloatCodec;
constexpr const Codec* kALaw = &kALawCodec;
constexpr const Codec* kMuLaw = &kMuLawCodec;
constexpr const Codec* kImaAdpcm = &kImaAdpcmCodec;
constexpr const Codec* kMsAdpcm = &kMsAdpcmCodec;

struct FormatRow {
  std::uint16_t tag;
  const char* name;
  const Codec* codec;  // nullptr: no movie here carries the format
};

constexpr FormatRow kFormats[] = {
#define WAVE_FORMAT(constant, tag, name, codec) {tag, name, codec},
#include "media/WaveFormats.def"
};

}  // namespace

Verdict Judge(const Format& format) {
  for (const FormatRow& row : kFormats) {
    if (row.tag != format.tag) continue;
    if (row.codec == nullptr) return {Fit::unsupported, nullptr, row.name};
    std::string why;
    Fit fit = row.codec->fit(format, &why);
    return {fit, fit == Fit::fits ? row.codec : nullptr, why.empty() ? row.name : std::string(row.name) + ", " + why};
  }
  char words[32];
  std::snprintf(words, sizeof words, "format tag 0x%04X", unsigned(format.tag));
  return {Fit::unsupported, nullptr, words};
}

bool ParseFormat(const std::uint8_t* b, std::uint32_t n, Format* f) {
  if (n < 16) return false;
  f->tag = ReadLittleEndian16(b);
  f->channels = ReadLittleEndian16(b + 2);
  f->rate = ReadLittleEndian32(b + 4);
  f->blockAlign = ReadLittleEndian16(b + 12);
  f->bits = ReadLittleEndian16(b + 14);
  std::uint16_t extra = n >= 18 ? ReadLittleEndian16(b + 16) : 0;
  if (f->tag == kFormatExtensible) {
    if (extra < 22 || n < 40) return false;
    f->validBits = ReadLittleEndian16(b + 18);
    f->channelMask = ReadLittleEndian32(b + 20);
    // A standard subformat GUID is a format tag followed by a fixed base; any other GUID leaves
    // the tag extensible, a kind this program does not know.
    static const std::uint8_t kBase[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    if (std::memcmp(b + 26, kBase, sizeof kBase) == 0) f->tag = ReadLittleEndian16(b + 24);
  } else if (f->tag == kFormatMSADPCM && extra >= 4 && n >= 22) {
    std::uint32_t count = ReadLittleEndian16(b + 20);
    std::uint32_t fit = (std::min<std::uint32_t>(n, 18u + extra) - 22) / 4;
    count = std::min(count, fit);
    for (std::uint32_t k = 0; k < count; ++k)
      f->coefficients.emplace_back(std::int16_t(ReadLittleEndian16(b + 22 + 4 * k)), std::int16_t(ReadLittleEndian16(b + 24 + 4 * k)));
  }
  return true;
}

bool IsRiffWaveHeader(const std::uint8_t* bytes, std::size_t size) {
  return bytes != nullptr && size >= 12 && std::memcmp(bytes, "RIFF", 4) == 0 && std::memcmp(bytes + 8, "WAVE", 4) == 0;
}

std::uint64_t PlayedFrames(const Format& format, std::uint64_t decodedFrames, std::uint64_t factFrames) {
  const bool exact = format.tag == kFormatPCM || format.tag == kFormatIEEEFloat;
  return exact || factFrames == 0 ? decodedFrames : std::min(decodedFrames, factFrames);
}

double HeaderSeconds(const std::uint8_t* bytes, std::size_t size, std::uint64_t wholeSize) {
  // The file may follow a few bytes of something else (a stream header).
  const std::uint8_t* riff = nullptr;
  for (std::size_t at = 0; at + 12 <= size && at <= 64; ++at)
    if (IsRiffWaveHeader(bytes + at, size - at)) {
      riff = bytes + at;
      break;
    }
  if (riff == nullptr) return 0;
  const std::size_t n = size - std::size_t(riff - bytes);
  Format format;
  bool haveFormat = false;
  std::uint64_t fact = 0;
  for (std::size_t at = 12; at + 8 <= n;) {
    const std::uint32_t length = ReadLittleEndian32(riff + at + 4);
    if (std::memcmp(riff + at, "fact", 4) == 0 && length >= 4 && n - at - 8 >= 4) {
      fact = ReadLittleEndian32(riff + at + 8);
    } else if (std::memcmp(riff + at, "fmt ", 4) == 0) {
      if (length > n - at - 8 || !ParseFormat(riff + at + 8, length, &format)) return 0;
      haveFormat = true;
    } else if (std::memcmp(riff + at, "data", 4) == 0) {
      if (!haveFormat || format.rate == 0) return 0;
      const Verdict verdict = Judge(format);
      if (verdict.fit != Fit::fits) return 0;
      // A size past the file's end counts only what is there, as the movie's import reads it.
      const std::uint64_t start = std::uint64_t(riff - bytes) + at + 8;
      const std::uint64_t there = wholeSize > start ? wholeSize - start : 0;
      const std::uint32_t data = std::uint32_t(std::min<std::uint64_t>(length, there));
      // Decoded unit by unit (an ADPCM block), the last one as far as it goes.
      const Codec& codec = *verdict.codec;
      const std::uint32_t unit = std::max<std::uint32_t>(1, codec.unitBytes(format));
      const std::uint64_t frames =
          std::uint64_t(data / unit) * codec.framesIn(format, unit) + codec.framesIn(format, data % unit);
      return double(PlayedFrames(format, frames, fact)) / format.rate;
    }
    at += 8 + std::size_t(length) + (length & 1);  // chunks are padded to even sizes
  }
  return 0;
}

}  // namespace media::wave
