// The WAVE formats the importer understands, one table row per format tag, each with its decoder.
// A decoder turns whole input units (frames or blocks) into 16-bit little-endian or 8-bit PCM.
#pragma once
#include <utility>
#include <vector>

#include "toolbox/Core/MacTypes.h"

namespace wave {

constexpr UInt16 kFormatPCM = 0x0001;
constexpr UInt16 kFormatMSADPCM = 0x0002;
constexpr UInt16 kFormatALaw = 0x0006;
constexpr UInt16 kFormatMuLaw = 0x0007;
constexpr UInt16 kFormatIMAADPCM = 0x0011;
constexpr UInt16 kFormatExtensible = 0xFFFE;

// What the 'fmt ' chunk says, with an extensible format already resolved to its subformat's tag.
struct Format {
  UInt16 tag = 0;
  UInt16 channels = 0;
  UInt32 rate = 0;
  UInt16 blockAlign = 0;
  UInt16 bits = 0;
  std::vector<std::pair<SInt16, SInt16>> coefficients;  // MS ADPCM predictor pairs
};

struct Codec {
  UInt16 tag;
  const char* name;
  bool (*accepts)(const Format&);
  UInt32 (*unitBytes)(const Format&);               // input bytes decoded together
  UInt32 (*framesIn)(const Format&, UInt32 bytes);  // whole frames that many input bytes hold
  // Writes framesIn(bytes) frames to out.
  void (*decode)(const Format&, const UInt8* in, UInt32 bytes, UInt8* out);
  OSType outFormat;  // 'sowt' or 'raw '
  UInt16 outBits;
};

// The row for the format, or nullptr when it is not one this program can import.
const Codec* findCodec(const Format& format);

// The ADPCM decoders (WaveAdpcm.cpp).
UInt32 imaFramesIn(const Format& f, UInt32 bytes);
void imaDecode(const Format& f, const UInt8* in, UInt32 bytes, UInt8* out);
UInt32 msFramesIn(const Format& f, UInt32 bytes);
void msDecode(const Format& f, const UInt8* in, UInt32 bytes, UInt8* out);
extern const std::pair<SInt16, SInt16> kMSStandardCoefficients[7];

}  // namespace wave
