// One writer per description kind, shared by the samples a media adds and by the placeholder
// of a media without any, so both always have the same layout; and the rule that picks the
// sound description's version.
#include "toolbox/Movies/SampleDescriptions.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Core/TextConversion.h"

namespace movies {

namespace {

constexpr UInt32 kImageDescriptionSize = 86;
constexpr UInt32 kSoundDescriptionSize = 36;
constexpr UInt32 kSoundDescriptionV2Size = 72;
static_assert(sizeof(SoundDescription) == kSoundDescriptionSize, "a handle holds the fields as the file does");
static_assert(sizeof(SoundDescriptionV2) == kSoundDescriptionV2Size, "a handle holds the fields as the file does");

// The common start of every entry; the data reference is always the movie file itself (index 1).
void putDescriptionStart(BigEndianBytes& b, UInt32 size, OSType format) {
  b.u32(size);
  b.u32(format);
  b.zeros(6);
  b.u16(1);
}

std::vector<UInt8> serializeSoundV0(const SoundDescription& d) {
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

// The fixed fields are written as the format defines them, whatever the handle holds.
std::vector<UInt8> serializeSoundV2(const SoundDescriptionV2& d, const UInt8* extensions, size_t extensionBytes) {
  BigEndianBytes b;
  putDescriptionStart(b, UInt32(kSoundDescriptionV2Size + extensionBytes), d.dataFormat);
  b.u16(2);
  b.u16(UInt16(d.revlevel));
  b.u32(UInt32(d.vendor));
  b.u16(3);
  b.u16(16);
  b.u16(0xFFFE);  // -2
  b.u16(0);
  b.u32(65536);
  b.u32(kSoundDescriptionV2Size);
  b.u64(std::bit_cast<UInt64>(d.audioSampleRate));
  b.u32(d.numAudioChannels);
  b.u32(0x7F000000);
  b.u32(d.constBitsPerChannel);
  b.u32(d.formatSpecificFlags);
  b.u32(d.constBytesPerAudioPacket);
  b.u32(d.constLPCMFramesPerAudioPacket);
  b.raw(extensions, extensionBytes);
  return b.bytes;
}

// The version-0 data format for the layout, or 0 when version 0 cannot hold it. Version 0 knows
// one or two channels of 8- or 16-bit integers at a whole rate that fits its 16.16 field.
OSType versionZeroFormat(const AudioStreamBasicDescription& a) {
  const UInt32 flags = a.mFormatFlags;
  if ((flags & kAudioFormatFlagIsFloat) || a.mChannelsPerFrame > 2) return 0;
  if (a.mSampleRate < 1 || a.mSampleRate > 65535 || a.mSampleRate != std::floor(a.mSampleRate)) return 0;
  const bool isSigned = flags & kAudioFormatFlagIsSignedInteger;
  const bool bigEndian = flags & kAudioFormatFlagIsBigEndian;
  if (a.mBitsPerChannel == 8) return isSigned ? kSoundFormatTwos : kSoundFormat8BitOffsetBinary;
  if (a.mBitsPerChannel == 16 && isSigned) return bigEndian ? kSoundFormatTwos : kSoundFormatTwosLittleEndian;
  return 0;
}

bool isPackedLinearPcm(const AudioStreamBasicDescription& a) {
  const UInt32 bytes = (a.mBitsPerChannel + 7) / 8;
  const bool isFloat = a.mFormatFlags & kAudioFormatFlagIsFloat;
  return a.mFormatID == kAudioFormatLinearPCM && (a.mFormatFlags & kAudioFormatFlagIsPacked) &&
         a.mFramesPerPacket == 1 && a.mChannelsPerFrame >= 1 && a.mBitsPerChannel >= 1 && a.mBitsPerChannel <= 64 &&
         (!isFloat || a.mBitsPerChannel == 32 || a.mBitsPerChannel == 64) && a.mBytesPerFrame == a.mBytesPerPacket &&
         UInt64(a.mBytesPerFrame) == UInt64(bytes) * a.mChannelsPerFrame && a.mSampleRate > 0 &&
         std::isfinite(a.mSampleRate);
}

// The 'chan' extension: version and flags, the layout tag, the bitmap, no channel descriptions.
std::vector<UInt8> channelLayoutAtom(const AudioChannelLayout& layout) {
  BigEndianBytes b;
  b.u32(24);
  b.u32(FOUR_CHAR_CODE("chan"));
  b.u32(0);
  b.u32(layout.mChannelLayoutTag);
  b.u32(layout.mChannelBitmap);
  b.u32(0);
  return b.bytes;
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

std::vector<UInt8> serializeSoundDescription(SoundDescriptionHandle d) {
  const Size held = GetHandleSize(reinterpret_cast<Handle>(d));
  if (held < Size(kSoundDescriptionSize)) return {};
  if ((**d).version != 2) return serializeSoundV0(**d);
  if (held < Size(kSoundDescriptionV2Size)) return {};
  const auto& v2 = *reinterpret_cast<const SoundDescriptionV2*>(*d);
  // Extensions run to the size the description declares, never past its handle.
  Size end = std::min<Size>(held, std::max<Size>(v2.descSize, kSoundDescriptionV2Size));
  const auto* extensions = reinterpret_cast<const UInt8*>(*d) + kSoundDescriptionV2Size;
  return serializeSoundV2(v2, extensions, size_t(end - Size(kSoundDescriptionV2Size)));
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
  return serializeSoundV0(d);
}

}  // namespace movies

OSStatus QTSoundDescriptionCreate(const AudioStreamBasicDescription* inASBD, const AudioChannelLayout* inLayout,
                                  UInt32 inLayoutSize, const void* inMagicCookie, UInt32 inMagicCookieSize,
                                  QTSoundDescriptionKind inRequestedKind, SoundDescriptionHandle* outSndDesc) {
  if (outSndDesc == nullptr) return paramErr;
  *outSndDesc = nullptr;
  if (inASBD == nullptr || inRequestedKind != kQTSoundDescriptionKind_Movie_LowestPossibleVersion ||
      inMagicCookie != nullptr || inMagicCookieSize != 0 || !movies::isPackedLinearPcm(*inASBD))
    return paramErr;
  const AudioStreamBasicDescription& a = *inASBD;
  const bool bitmapLayout = inLayout != nullptr && inLayoutSize >= sizeof(AudioChannelLayout) &&
                            inLayout->mChannelLayoutTag == kAudioChannelLayoutTag_UseChannelBitmap;
  if (inLayout != nullptr && !bitmapLayout) return paramErr;

  if (OSType format = movies::versionZeroFormat(a)) {
    // One or two channels need no layout: version 0 has no room for one.
    auto h = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(sizeof(SoundDescription)));
    if (h == nullptr) return MemError() != noErr ? MemError() : memFullErr;
    SoundDescription& d = **h;
    d.descSize = sizeof(SoundDescription);
    d.dataFormat = format;
    d.dataRefIndex = 1;
    d.numChannels = SInt16(a.mChannelsPerFrame);
    d.sampleSize = SInt16(a.mBitsPerChannel);
    d.sampleRate = UInt32(a.mSampleRate) << 16;
    *outSndDesc = h;
    return noErr;
  }

  std::vector<UInt8> extensions;
  if (inLayout != nullptr) extensions = movies::channelLayoutAtom(*inLayout);
  Handle raw = NewHandleClear(Size(sizeof(SoundDescriptionV2) + extensions.size()));
  if (raw == nullptr) return MemError() != noErr ? MemError() : memFullErr;
  auto& d = *reinterpret_cast<SoundDescriptionV2*>(*raw);
  d.descSize = SInt32(sizeof(SoundDescriptionV2) + extensions.size());
  d.dataFormat = kAudioFormatLinearPCM;
  d.dataRefIndex = 1;
  d.version = 2;
  d.always3 = 3;
  d.always16 = 16;
  d.alwaysMinus2 = -2;
  d.always65536 = 65536;
  d.sizeOfStructOnly = sizeof(SoundDescriptionV2);
  d.audioSampleRate = a.mSampleRate;
  d.numAudioChannels = a.mChannelsPerFrame;
  d.always7F000000 = 0x7F000000;
  d.constBitsPerChannel = a.mBitsPerChannel;
  d.formatSpecificFlags = a.mFormatFlags;
  d.constBytesPerAudioPacket = a.mBytesPerPacket;
  d.constLPCMFramesPerAudioPacket = 1;
  if (!extensions.empty()) std::memcpy(*raw + sizeof(SoundDescriptionV2), extensions.data(), extensions.size());
  *outSndDesc = reinterpret_cast<SoundDescriptionHandle>(raw);
  return noErr;
}
