// SPDX-License-Identifier: GPL-2.0-or-later
// IMA and Microsoft ADPCM block decoders, to 16-bit little-endian PCM.
// A short last block yields the whole samples it holds.
#include <algorithm>

#include "media/ByteOrder.h"
#include "media/WaveFormats.h"

namespace media::wave {

namespace {

constexpr std::int16_t kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
    31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
    130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
    544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
    2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
    9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kImaIndexShift[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

constexpr int kMsAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614, 768, 614, 512, 409, 307, 230, 230, 230};

std::int16_t sample16(const std::uint8_t* p) { return std::int16_t(ReadLittleEndian16(p)); }
void putSample16(std::uint8_t* out, int v) { WriteLittleEndian16(out, std::uint16_t(v)); }
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

const std::pair<std::int16_t, std::int16_t> kMSStandardCoefficients[7] = {{256, 0},  {512, -256}, {0, 0},     {192, 64},
                                                              {240, 0}, {460, -208}, {392, -232}};

// A block: per channel a 4-byte header (first sample, step index), then groups of four bytes per
// channel in turn, eight samples each, low nibble first.
std::uint32_t ImaFramesIn(const Format& f, std::uint32_t bytes) {
  const std::uint32_t header = 4u * f.channels;
  if (bytes < header) return 0;
  return 1 + (bytes - header) / header * 8;
}

void ImaDecode(const Format& f, const std::uint8_t* in, std::uint32_t bytes, std::uint8_t* out) {
  const std::uint32_t ch = f.channels;
  const std::uint32_t frameBytes = 2 * ch;
  ImaChannel state[2];
  for (std::uint32_t c = 0; c < ch; ++c) {
    state[c].predictor = sample16(in + 4 * c);
    state[c].index = std::min<int>(in[4 * c + 2], 88);
    putSample16(out + 2 * c, state[c].predictor);
  }
  const std::uint32_t groups = (ImaFramesIn(f, bytes) - 1) / 8;
  const std::uint8_t* p = in + 4 * ch;
  for (std::uint32_t g = 0; g < groups; ++g) {
    for (std::uint32_t c = 0; c < ch; ++c, p += 4) {
      std::uint8_t* frame = out + (1 + g * 8) * frameBytes + 2 * c;
      for (int k = 0; k < 4; ++k) {
        putSample16(frame + (2 * k) * frameBytes, state[c].next(p[k] & 0x0F));
        putSample16(frame + (2 * k + 1) * frameBytes, state[c].next(p[k] >> 4));
      }
    }
  }
}

// A block: per channel a predictor index, then per channel the delta, the newer and the older
// sample; then nibbles high first, alternating between the channels.
std::uint32_t MsFramesIn(const Format& f, std::uint32_t bytes) {
  const std::uint32_t header = 7u * f.channels;
  if (bytes < header) return 0;
  return 2 + (bytes - header) * 2 / f.channels;
}

void MsDecode(const Format& f, const std::uint8_t* in, std::uint32_t bytes, std::uint8_t* out) {
  const std::uint32_t ch = f.channels;
  const std::uint32_t frameBytes = 2 * ch;
  MsChannel state[2];
  for (std::uint32_t c = 0; c < ch; ++c) {
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
  const std::uint32_t nibbles = (MsFramesIn(f, bytes) - 2) * ch;
  const std::uint8_t* p = in + 7 * ch;
  for (std::uint32_t k = 0; k < nibbles; ++k) {
    int nibble = (k & 1) ? (p[k / 2] & 0x0F) : (p[k / 2] >> 4);
    std::uint32_t c = k % ch;
    putSample16(out + (2 + k / ch) * frameBytes + 2 * c, state[c].next(nibble));
  }
}

}  // namespace media::wave
