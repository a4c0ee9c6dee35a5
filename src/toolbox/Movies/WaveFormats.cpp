// The table of importable WAVE formats, with the linear PCM and G.711 (A-law, µ-law) decoders.
// Limits shared by all rows: one or two channels, a rate that a version-0 description can hold.
#include "toolbox/Movies/WaveFormats.h"

#include <array>
#include <cstring>

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Movies/Movies.h"

namespace wave {

namespace {

constexpr UInt32 kFramesPerRead = 4096;

bool commonLimits(const Format& f) { return f.channels >= 1 && f.channels <= 2 && f.rate >= 1 && f.rate <= 65535; }

// Linear PCM: the WAVE bytes are already what the movie stores.
bool acceptsPcm8(const Format& f) { return commonLimits(f) && f.bits == 8; }
bool acceptsPcm16(const Format& f) { return commonLimits(f) && f.bits == 16; }
UInt32 pcmFrameBytes(const Format& f) { return UInt32(f.channels) * (f.bits / 8); }
UInt32 pcmUnit(const Format& f) { return pcmFrameBytes(f) * kFramesPerRead; }
UInt32 pcmFrames(const Format& f, UInt32 bytes) { return bytes / pcmFrameBytes(f); }
void pcmCopy(const Format& f, const UInt8* in, UInt32 bytes, UInt8* out) {
  std::memcpy(out, in, size_t(pcmFrames(f, bytes)) * pcmFrameBytes(f));
}

// G.711 expansion, as the ITU recommendation defines it.
constexpr SInt16 expandMuLaw(UInt8 code) {
  UInt8 u = UInt8(~code);
  int t = ((u & 0x0F) << 3) + 0x84;
  t <<= (u & 0x70) >> 4;
  return SInt16((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

constexpr SInt16 expandALaw(UInt8 code) {
  UInt8 a = code ^ 0x55;
  int t = a & 0x0F;
  int seg = (a & 0x70) >> 4;
  if (seg)
    t = (t + t + 1 + 32) << (seg + 2);
  else
    t = (t + t + 1) << 3;
  return SInt16((a & 0x80) ? t : -t);
}

template <SInt16 (*Expand)(UInt8)>
constexpr std::array<SInt16, 256> makeTable() {
  std::array<SInt16, 256> t{};
  for (int k = 0; k < 256; ++k) t[size_t(k)] = Expand(UInt8(k));
  return t;
}
constexpr auto kMuLaw = makeTable<expandMuLaw>();
constexpr auto kALaw = makeTable<expandALaw>();

bool acceptsG711(const Format& f) { return commonLimits(f) && f.bits == 8; }
UInt32 g711Unit(const Format& f) { return UInt32(f.channels) * kFramesPerRead; }
UInt32 g711Frames(const Format& f, UInt32 bytes) { return bytes / f.channels; }
template <const std::array<SInt16, 256>& Table>
void g711Decode(const Format& f, const UInt8* in, UInt32 bytes, UInt8* out) {
  UInt32 samples = g711Frames(f, bytes) * f.channels;
  for (UInt32 k = 0; k < samples; ++k) WriteLittleEndian16(out + 2 * k, UInt16(Table[in[k]]));
}

// ADPCM: one block at a time; a block must hold at least its channel headers.
bool acceptsIma(const Format& f) { return commonLimits(f) && f.bits == 4 && f.blockAlign >= 8u * f.channels; }
bool acceptsMs(const Format& f) { return commonLimits(f) && f.bits == 4 && f.blockAlign >= 7u * f.channels; }
UInt32 blockUnit(const Format& f) { return f.blockAlign; }

const Codec kCodecs[] = {
    {kFormatPCM, "8-bit PCM", acceptsPcm8, pcmUnit, pcmFrames, pcmCopy, kSoundFormat8BitOffsetBinary, 8},
    {kFormatPCM, "16-bit PCM", acceptsPcm16, pcmUnit, pcmFrames, pcmCopy, kSoundFormatTwosLittleEndian, 16},
    {kFormatALaw, "A-law", acceptsG711, g711Unit, g711Frames, g711Decode<kALaw>, kSoundFormatTwosLittleEndian, 16},
    {kFormatMuLaw, "mu-law", acceptsG711, g711Unit, g711Frames, g711Decode<kMuLaw>, kSoundFormatTwosLittleEndian,
     16},
    {kFormatIMAADPCM, "IMA ADPCM", acceptsIma, blockUnit, imaFramesIn, imaDecode, kSoundFormatTwosLittleEndian, 16},
    {kFormatMSADPCM, "MS ADPCM", acceptsMs, blockUnit, msFramesIn, msDecode, kSoundFormatTwosLittleEndian, 16},
};

}  // namespace

const Codec* findCodec(const Format& format) {
  for (const Codec& c : kCodecs)
    if (c.tag == format.tag && c.accepts(format)) return &c;
  return nullptr;
}

}  // namespace wave
