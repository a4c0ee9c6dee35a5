// SPDX-License-Identifier: GPL-2.0-or-later
// Image and sound descriptions in handles, as QuickTime's calls make them, read into the fields
// the entry writer takes; and QTSoundDescriptionCreate, which picks the lowest version that
// holds the sound.
#include "toolbox/Movies/SampleDescriptionHandles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <string_view>

#include "media/SampleDescriptions.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Core/TextConversion.h"

static_assert(sizeof(SoundDescription) == 36, "a handle holds the fields as the file does");
static_assert(sizeof(SoundDescriptionV2) == 72, "a handle holds the fields as the file does");

namespace movies {

namespace {

bool isPackedLinearPcm(const AudioStreamBasicDescription& a) {
  const UInt32 bytes = (a.mBitsPerChannel + 7) / 8;
  const bool isFloat = a.mFormatFlags & kAudioFormatFlagIsFloat;
  return a.mFormatID == kAudioFormatLinearPCM && (a.mFormatFlags & kAudioFormatFlagIsPacked) &&
         a.mFramesPerPacket == 1 && a.mChannelsPerFrame >= 1 && a.mBitsPerChannel >= 1 && a.mBitsPerChannel <= 64 &&
         (!isFloat || a.mBitsPerChannel == 32 || a.mBitsPerChannel == 64) && a.mBytesPerFrame == a.mBytesPerPacket &&
         UInt64(a.mBytesPerFrame) == UInt64(bytes) * a.mChannelsPerFrame && a.mSampleRate > 0 &&
         std::isfinite(a.mSampleRate);
}

}  // namespace

std::vector<UInt8> SerializeImageDescription(const ImageDescription& d) {
  media::ImageDescriptionFields f;
  f.codec = d.cType;
  f.version = UInt16(d.version);
  f.revisionLevel = UInt16(d.revisionLevel);
  f.vendor = UInt32(d.vendor);
  f.temporalQuality = UInt32(d.temporalQuality);
  f.spatialQuality = UInt32(d.spatialQuality);
  f.width = UInt16(d.width);
  f.height = UInt16(d.height);
  f.hRes = d.hRes;
  f.vRes = d.vRes;
  f.frameCount = UInt16(d.frameCount);
  // The name's own bytes only, cut at a character boundary.
  const std::string_view name(reinterpret_cast<const char*>(d.name + 1), std::min<size_t>(d.name[0], 31));
  f.name = name.substr(0, UTF8PrefixLength(name, 31));
  f.depth = UInt16(d.depth);
  f.clutID = d.clutID;
  return media::SerializeImageDescription(f);
}

std::vector<UInt8> SerializeSoundDescription(SoundDescriptionHandle d) {
  const Size held = GetHandleSize(reinterpret_cast<Handle>(d));
  if (held < Size(sizeof(SoundDescription))) return {};
  if ((**d).version != 2) {
    const SoundDescription& s = **d;
    media::SoundDescriptionV0Fields f;
    f.format = s.dataFormat;
    f.version = UInt16(s.version);
    f.revisionLevel = UInt16(s.revlevel);
    f.vendor = UInt32(s.vendor);
    f.channels = UInt16(s.numChannels);
    f.sampleSize = UInt16(s.sampleSize);
    f.compressionID = UInt16(s.compressionID);
    f.packetSize = UInt16(s.packetSize);
    f.sampleRate = s.sampleRate;
    return media::SerializeSoundDescription(f);
  }
  if (held < Size(sizeof(SoundDescriptionV2))) return {};
  const auto& v2 = *reinterpret_cast<const SoundDescriptionV2*>(*d);
  media::SoundDescriptionV2Fields f;
  f.format = v2.dataFormat;
  f.revisionLevel = UInt16(v2.revlevel);
  f.vendor = UInt32(v2.vendor);
  f.sampleRate = v2.audioSampleRate;
  f.channels = v2.numAudioChannels;
  f.bitsPerChannel = v2.constBitsPerChannel;
  f.formatFlags = v2.formatSpecificFlags;
  f.bytesPerPacket = v2.constBytesPerAudioPacket;
  f.framesPerPacket = v2.constLPCMFramesPerAudioPacket;
  // Extensions run to the size the description declares, never past its handle.
  const Size v2Size = Size(sizeof(SoundDescriptionV2));
  const Size end = std::min<Size>(held, std::max<Size>(v2.descSize, v2Size));
  const auto* extensions = reinterpret_cast<const UInt8*>(*d) + v2Size;
  return media::SerializeSoundDescription(f, std::span<const UInt8>(extensions, size_t(end - v2Size)));
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

  const UInt32 flags = a.mFormatFlags;
  if (OSType format = media::SoundVersionZeroFormat(a.mSampleRate, a.mChannelsPerFrame, a.mBitsPerChannel,
                                                    flags & kAudioFormatFlagIsFloat,
                                                    flags & kAudioFormatFlagIsSignedInteger,
                                                    flags & kAudioFormatFlagIsBigEndian)) {
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
  if (inLayout != nullptr) extensions = media::ChannelLayoutAtom(inLayout->mChannelLayoutTag, inLayout->mChannelBitmap);
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
