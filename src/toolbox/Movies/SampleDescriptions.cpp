// One writer per description kind, shared by the samples a media adds and by the placeholder
// of a media without any, so both always have the same layout.
#include "toolbox/Movies/SampleDescriptions.h"

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/TextConversion.h"

namespace movies {

namespace {

constexpr UInt32 kImageDescriptionSize = 86;
constexpr UInt32 kSoundDescriptionSize = 36;

// The common start of every entry; the data reference is always the movie file itself (index 1).
void putDescriptionStart(BigEndianBytes& b, UInt32 size, OSType format) {
  b.u32(size);
  b.u32(format);
  b.zeros(6);
  b.u16(1);
}

}  // namespace

std::vector<UInt8> serializeImageDescription(const ImageDescription& d) {
  BigEndianBytes b;
  putDescriptionStart(b, kImageDescriptionSize, d.cType);
  b.u16(UInt16(d.version));
  b.u16(UInt16(d.revisionLevel));
  b.u32(UInt32(d.vendor));
  b.u32(UInt32(d.temporalQuality));
  b.u32(UInt32(d.spatialQuality));
  b.u16(UInt16(d.width));
  b.u16(UInt16(d.height));
  b.u32(UInt32(d.hRes));
  b.u32(UInt32(d.vRes));
  b.u32(0);  // the stored data size is always 0; each sample's size is in the sample table
  b.u16(UInt16(d.frameCount ? d.frameCount : 1));
  UInt8 name[32] = {};
  CopyTextToPascal(PascalText(d.name), name, 31);
  b.raw(name, sizeof name);
  b.u16(UInt16(d.depth));
  b.u16(UInt16(d.clutID));
  return b.bytes;
}

std::vector<UInt8> serializeSoundDescription(const SoundDescription& d) {
  BigEndianBytes b;
  putDescriptionStart(b, kSoundDescriptionSize, d.dataFormat);
  b.u16(UInt16(d.version));
  b.u16(UInt16(d.revlevel));
  b.u32(UInt32(d.vendor));
  b.u16(UInt16(d.numChannels));
  b.u16(UInt16(d.sampleSize));
  b.u16(UInt16(d.compressionID));
  b.u16(UInt16(d.packetSize));
  b.u32(d.sampleRate);
  return b.bytes;
}

std::vector<UInt8> placeholderDescription(OSType mediaType, TimeScale timeScale) {
  if (mediaType == VideoMediaType) {
    ImageDescription d{};
    d.cType = kJPEGCodecType;
    d.hRes = d.vRes = IntToFixed(72);
    d.frameCount = 1;
    d.depth = 24;
    d.clutID = -1;
    return serializeImageDescription(d);
  }
  SoundDescription d{};
  d.dataFormat = kSoundFormatTwosLittleEndian;
  d.numChannels = 1;
  d.sampleSize = 16;
  d.sampleRate = UInt32(timeScale) << 16;
  return serializeSoundDescription(d);
}

}  // namespace movies
