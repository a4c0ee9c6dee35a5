// IMA and Microsoft ADPCM block decoders, to 16-bit little-endian PCM.
// A short last block yields the whole samples it holds.
#include <algorithm>

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Movies/WaveFormats.h"

namespace wave {

namespace {

constexpr SInt16 kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kImaIndexShift[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

constexpr int kMsAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

SInt16 sample16(const UInt8* p) { return SInt16(ReadLittleEndian16(p)); }
void putSample16(UInt8* out, int v) { WriteLittleEndian16(out, UInt16(v)); }
int clamp16(long long v) { return int(std::clamp<long long>(v, -32768, 32767)); }

struct ImaChannel {
  int predictor;
  int index;
  // The exact product form of the step, so the samples match other decoders bit for bit.
  int next(int nibble) {
    int step = kImaSteps[index];
    int diff = ((2 * (nibble & 7) + 1) * step) >> 3;
    predictor = clamp16((nibble & 8) ? predictor - diff : predictor + diff);
    index = std::clamp(index + kImaIndexShift[nibble & 7], 0, 88);
    return predictor;
  }
};

struct MsChannel {
  int sample1, sample2;
  long long delta;
  int coef1, coef2;
  int next(int nibble) {
    long long predicted = (static_cast<long long>(sample1) * coef1 + static_cast<long long>(sample2) * coef2) / 256;
    int signedNibble = nibble >= 8 ? nibble - 16 : nibble;
    int sample = clamp16(predicted + signedNibble * delta);
    sample2 = sample1;
    sample1 = sample;
    delta = (kMsAdaptation[nibble] * delta) >> 8;
    delta = std::clamp<long long>(delta, 16, 0x7FFFFFFF / 768);
    return sample;
  }
};

}  // namespace

const std::pair<SInt16, SInt16> kMSStandardCoefficients[7] = {{256, 0},  {512, -256}, {0, 0},     {192, 64},
                                                              {240, 0}, {460, -208}, {392, -232}};

// A block: per channel a 4-byte header (first sample, step index), then groups of four bytes per
// channel in turn, eight samples each, low nibble first.
UInt32 imaFramesIn(const Format& f, UInt32 bytes) {
  const UInt32 header = 4u * f.channels;
  if (bytes < header) return 0;
  return 1 + (bytes - header) / header * 8;
}

void imaDecode(const Format& f, const UInt8* in, UInt32 bytes, UInt8* out) {
  const UInt32 ch = f.channels;
  const UInt32 frameBytes = 2 * ch;
  ImaChannel state[2];
  for (UInt32 c = 0; c < ch; ++c) {
    state[c].predictor = sample16(in + 4 * c);
    state[c].index = std::min<int>(in[4 * c + 2], 88);
    putSample16(out + 2 * c, state[c].predictor);
  }
  const UInt32 groups = (imaFramesIn(f, bytes) - 1) / 8;
  const UInt8* p = in + 4 * ch;
  for (UInt32 g = 0; g < groups; ++g) {
    for (UInt32 c = 0; c < ch; ++c, p += 4) {
      UInt8* frame = out + (1 + g * 8) * frameBytes + 2 * c;
      for (int k = 0; k < 4; ++k) {
        putSample16(frame + (2 * k) * frameBytes, state[c].next(p[k] & 0x0F));
        putSample16(frame + (2 * k + 1) * frameBytes, state[c].next(p[k] >> 4));
      }
    }
  }
}

// A block: per channel a predictor index, then per channel the delta, the newer and the older
// sample; then nibbles high first, alternating between the channels.
UInt32 msFramesIn(const Format& f, UInt32 bytes) {
  const UInt32 header = 7u * f.channels;
  if (bytes < header) return 0;
  return 2 + (bytes - header) * 2 / f.channels;
}

void msDecode(const Format& f, const UInt8* in, UInt32 bytes, UInt8* out) {
  const UInt32 ch = f.channels;
  const UInt32 frameBytes = 2 * ch;
  MsChannel state[2];
  for (UInt32 c = 0; c < ch; ++c) {
    size_t predictor = in[c];
    if (!f.coefficients.empty()) {
      predictor = std::min(predictor, f.coefficients.size() - 1);
      state[c].coef1 = f.coefficients[predictor].first;
      state[c].coef2 = f.coefficients[predictor].second;
    } else {
      predictor = std::min<size_t>(predictor, 6);
      state[c].coef1 = kMSStandardCoefficients[predictor].first;
      state[c].coef2 = kMSStandardCoefficients[predictor].second;
    }
    state[c].delta = sample16(in + ch + 2 * c);
    state[c].sample1 = sample16(in + 3 * ch + 2 * c);
    state[c].sample2 = sample16(in + 5 * ch + 2 * c);
    putSample16(out + 2 * c, state[c].sample2);
    putSample16(out + frameBytes + 2 * c, state[c].sample1);
  }
  const UInt32 nibbles = (msFramesIn(f, bytes) - 2) * ch;
  const UInt8* p = in + 7 * ch;
  for (UInt32 k = 0; k < nibbles; ++k) {
    int nibble = (k & 1) ? (p[k / 2] & 0x0F) : (p[k / 2] >> 4);
    UInt32 c = k % ch;
    putSample16(out + (2 + k / ch) * frameBytes + 2 * c, state[c].next(nibble));
  }
}

}  // namespace wave
