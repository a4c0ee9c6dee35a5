// The WAVE formats the importer knows, one table row per format tag (WaveFormats.def), each with
// the codec that decodes it to linear PCM, or none when no movie here can carry it.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "toolbox/Core/MacTypes.h"

namespace wave {

#define WAVE_FORMAT(constant, tag, name, codec) constexpr UInt16 constant = tag;
#include "toolbox/Movies/WaveFormats.def"

// What the 'fmt ' chunk says, with an extensible format already resolved to its subformat's tag
// (kFormatExtensible stays when the subformat is not a standard one).
struct Format {
  UInt16 tag = 0;
  UInt16 channels = 0;
  UInt32 rate = 0;
  UInt16 blockAlign = 0;
  UInt16 bits = 0;          // per sample; for linear PCM, the container is this rounded up to bytes
  UInt16 validBits = 0;     // extensible: the bits at the top of each container that count; 0 all
  UInt32 channelMask = 0;   // extensible: the speaker of each channel, in channel order; 0 unknown
  std::vector<std::pair<SInt16, SInt16>> coefficients;  // MS ADPCM predictor pairs
};

// What decoded samples are: little-endian, channels interleaved, no padding.
struct SampleLayout {
  UInt16 bits;
  bool isFloat;
  bool isSigned;
};

// Whether a codec takes a format: it does, it cannot carry it (a kind the importer does not
// decode), or the header contradicts itself.
enum class Fit { fits, unsupported, damaged };

struct Codec {
  // why receives, for an unsupported format, what is beyond the codec in words ("4 channels", "16 bits per sample").
  Fit (*fit)(const Format&, std::string* why);
  UInt32 (*unitBytes)(const Format&);               // input bytes decoded together
  UInt32 (*framesIn)(const Format&, UInt32 bytes);  // whole frames that many input bytes hold
  // Writes framesIn(bytes) frames to out.
  void (*decode)(const Format&, const UInt8* in, UInt32 bytes, UInt8* out);
  SampleLayout (*output)(const Format&);
};

// The importer's judgement of a format: its codec when it fits, and the format in words
// ("IMA ADPCM", "GSM 6.10", "IMA ADPCM, 4 channels", "format tag 0x1234").
struct Verdict {
  Fit fit;
  const Codec* codec;  // set when the format fits
  std::string words;
};
Verdict judge(const Format& format);

// The ADPCM decoders (WaveAdpcm.cpp).
UInt32 imaFramesIn(const Format& f, UInt32 bytes);
void imaDecode(const Format& f, const UInt8* in, UInt32 bytes, UInt8* out);
UInt32 msFramesIn(const Format& f, UInt32 bytes);
void msDecode(const Format& f, const UInt8* in, UInt32 bytes, UInt8* out);
extern const std::pair<SInt16, SInt16> kMSStandardCoefficients[7];

}  // namespace wave
