// SPDX-License-Identifier: GPL-2.0-or-later
// The WAVE formats the importer knows, one table row per format tag (WaveFormats.def), each with
// the codec that decodes it to linear PCM, or none when no movie here can carry it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace media::wave {

#define WAVE_FORMAT(constant, tag, name, codec) constexpr std::uint16_t constant = tag;
#include "media/WaveFormats.def"

// What the 'fmt ' chunk says, with an extensible format already resolved to its subformat's tag
// (kFormatExtensible stays when the subformat is not a standard one).
struct Format {
  std::uint16_t tag = 0;
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::uint16_t blockAlign = 0;
  std::uint16_t bits = 0;          // per sample; for linear PCM, the container is this rounded up to bytes
  std::uint16_t validBits = 0;     // extensible: the bits at the top of each container that count; 0 all
  std::uint32_t channelMask = 0;   // extensible: the speaker of each channel, in channel order; 0 unknown
  std::vector<std::pair<std::int16_t, std::int16_t>> coefficients;  // MS ADPCM predictor pairs
};

// What decoded samples are: little-endian, channels interleaved, no padding.
struct SampleLayout {
  std::uint16_t bits;
  bool isFloat;
  bool isSigned;
};

// Whether a codec takes a format: it does, it cannot carry it (a kind the importer does not
// decode), or the header contradicts itself.
enum class Fit { fits, unsupported, damaged };

struct Codec {
  // why receives, for an unsupported format, what is beyond the codec in words ("4 channels", "16 bits per sample").
  Fit (*fit)(const Format&, std::string* why);
  std::uint32_t (*unitBytes)(const Format&);               // input bytes decoded together
  std::uint32_t (*framesIn)(const Format&, std::uint32_t bytes);  // whole frames that many input bytes hold
  // Writes framesIn(bytes) frames to out.
  void (*decode)(const Format&, const std::uint8_t* in, std::uint32_t bytes, std::uint8_t* out);
  SampleLayout (*output)(const Format&);
};

// The importer's judgement of a format: its codec when it fits, and the format in words
// ("IMA ADPCM", "GSM 6.10", "IMA ADPCM, 4 channels", "format tag 0x1234").
struct Verdict {
  Fit fit;
  const Codec* codec;  // set when the format fits
  std::string words;
};
Verdict Judge(const Format& format);

// The frames a recording plays: a compressed format's last block is padded out, and its 'fact'
// chunk (factFrames, 0 when there is none) says how many of the decoded frames are sound. Linear
// PCM and float give their length exactly, and a fact that promises more than the data is not
// believed.
std::uint64_t PlayedFrames(const Format& format, std::uint64_t decodedFrames, std::uint64_t factFrames);

// Reads a 'fmt ' chunk's body of n bytes; false when it is too short for its kind.
bool ParseFormat(const std::uint8_t* b, std::uint32_t n, Format* f);

// The recording's length in seconds from a WAVE file's header: the whole frames of its data
// chunk, decoded as the movie's sound is, over the rate. bytes hold the file's start (a few bytes
// before "RIFF" are skipped), wholeSize counts everything from there to the end, which bounds a
// data size that claims more. 0 when the header does not say, or no movie here can carry the
// format.
double HeaderSeconds(const std::uint8_t* bytes, std::size_t size, std::uint64_t wholeSize);

// The ADPCM decoders (WaveAdpcm.cpp).
std::uint32_t ImaFramesIn(const Format& f, std::uint32_t bytes);
void ImaDecode(const Format& f, const std::uint8_t* in, std::uint32_t bytes, std::uint8_t* out);
std::uint32_t MsFramesIn(const Format& f, std::uint32_t bytes);
void MsDecode(const Format& f, const std::uint8_t* in, std::uint32_t bytes, std::uint8_t* out);
extern const std::pair<std::int16_t, std::int16_t> kMSStandardCoefficients[7];

// True for bytes that begin as a RIFF WAVE file does: "RIFF", a size, "WAVE". The one test of
// that signature, wherever a recording is taken in.
bool IsRiffWaveHeader(const std::uint8_t* bytes, std::size_t size);

}  // namespace media::wave
