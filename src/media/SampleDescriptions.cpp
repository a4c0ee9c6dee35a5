// SPDX-License-Identifier: GPL-2.0-or-later
// One writer per description kind, shared by the samples a media adds and by the placeholder
// of a media without any, so both always have the same layout; and the rule that picks the
// sound description's version.
#include "media/SampleDescriptions.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "media/ByteOrder.h"

namespace media {

namespace {

constexpr std::uint32_t kImageDescriptionSize = 86;
constexpr std::uint32_t kSoundDescriptionSize = 36;
constexpr std::uint32_t kSoundDescriptionV2Size = 72;

// The common start of every entry; the data reference is always the movie file itself (index 1).
void putDescriptionStart(BigEndianBytes& b, std::uint32_t size, FourCC format) {
  b.u32(size);
  b.u32(format);
  b.zeros(6);
  b.u16(1);
}

}  // namespace

std::vector<std::uint8_t> SerializeImageDescription(const ImageDescriptionFields& d) {
  BigEndianBytes b;
  putDescriptionStart(b, kImageDescriptionSize, d.codec);
  b.u16(d.version);
  b.u16(d.revisionLevel);
  b.u32(d.vendor);
  b.u32(d.temporalQuality);
  b.u32(d.spatialQuality);
  b.u16(d.width);
  b.u16(d.height);
  b.u32(std::uint32_t(d.hRes));
  b.u32(std::uint32_t(d.vRes));
  b.u32(0);  // the stored data size is always 0; each sample's size is in the sample table
  b.u16(d.frameCount ? d.frameCount : 1);
  std::uint8_t name[32] = {};
  const std::size_t length = std::min<std::size_t>(d.name.size(), 31);
  name[0] = std::uint8_t(length);
  std::copy_n(d.name.data(), length, name + 1);
  b.raw(name, sizeof name);
  b.u16(d.depth);
  b.u16(std::uint16_t(d.clutID));
  return b.bytes;
}

std::vector<std::uint8_t> SerializeSoundDescription(const SoundDescriptionV0Fields& d) {
  BigEndianBytes b;
  putDescriptionStart(b, kSoundDescriptionSize, d.format);
  b.u16(d.version);
  b.u16(d.revisionLevel);
  b.u32(d.vendor);
  b.u16(d.channels);
  b.u16(d.sampleSize);
  b.u16(d.compressionID);
  b.u16(d.packetSize);
  b.u32(d.sampleRate);
  return b.bytes;
}

std::vector<std::uint8_t> SerializeSoundDescription(const SoundDescriptionV2Fields& d,
                                                    std::span<const std::uint8_t> extensions) {
  BigEndianBytes b;
  putDescriptionStart(b, std::uint32_t(kSoundDescriptionV2Size + extensions.size()), d.format);
  b.u16(2);
  b.u16(d.revisionLevel);
  b.u32(d.vendor);
  b.u16(3);
  b.u16(16);
  b.u16(0xFFFE);  // -2
  b.u16(0);
  b.u32(65536);
  b.u32(kSoundDescriptionV2Size);
  b.u64(std::bit_cast<std::uint64_t>(d.sampleRate));
  b.u32(d.channels);
  b.u32(0x7F000000);
  b.u32(d.bitsPerChannel);
  b.u32(d.formatFlags);
  b.u32(d.bytesPerPacket);
  b.u32(d.framesPerPacket);
  b.raw(extensions.data(), extensions.size());
  return b.bytes;
}

std::vector<std::uint8_t> PlaceholderDescription(FourCC mediaType, std::int32_t timeScale) {
  if (mediaType == kVideoMedia) return SerializeImageDescription(ImageDescriptionFields{});
  SoundDescriptionV0Fields d;
  d.sampleRate = std::uint32_t(timeScale) << 16;
  return SerializeSoundDescription(d);
}

FourCC SoundVersionZeroFormat(double sampleRate, std::uint32_t channels, std::uint32_t bits, bool isFloat,
                              bool isSigned, bool bigEndian) {
  if (isFloat || channels > 2) return 0;
  if (sampleRate < 1 || sampleRate > 65535 || sampleRate != std::floor(sampleRate)) return 0;
  if (bits == 8) return isSigned ? kSoundTwos : kSoundOffsetBinary;
  if (bits == 16 && isSigned) return bigEndian ? kSoundTwos : kSoundTwosLittleEndian;
  return 0;
}

std::vector<std::uint8_t> ChannelLayoutAtom(std::uint32_t layoutTag, std::uint32_t bitmap) {
  BigEndianBytes b;
  b.u32(24);
  b.u32(MakeFourCC("chan"));
  b.u32(0);
  b.u32(layoutTag);
  b.u32(bitmap);
  b.u32(0);
  return b.bytes;
}

}  // namespace media
