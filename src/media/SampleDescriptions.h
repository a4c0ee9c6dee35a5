// SPDX-License-Identifier: GPL-2.0-or-later
// Sample description entries as a movie file stores them: the 86-byte image description and the
// sound descriptions (36-byte version 0, 72-byte version 2 with its extensions), big-endian,
// data reference 1 (this file).
#pragma once
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "media/MovieAtoms.h"

namespace media {

constexpr FourCC kJpegFormat = MakeFourCC("jpeg");
constexpr FourCC kSoundTwos = MakeFourCC("twos");             // signed, big-endian
constexpr FourCC kSoundTwosLittleEndian = MakeFourCC("sowt");
constexpr FourCC kSoundOffsetBinary = MakeFourCC("raw ");      // unsigned 8-bit
constexpr FourCC kLinearPcmFormat = MakeFourCC("lpcm");

struct ImageDescriptionFields {
  FourCC codec = kJpegFormat;
  std::uint16_t version = 0;
  std::uint16_t revisionLevel = 0;
  std::uint32_t vendor = 0;
  std::uint32_t temporalQuality = 0;
  std::uint32_t spatialQuality = 0;
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::int32_t hRes = 72 << 16;  // 16.16 dots per inch
  std::int32_t vRes = 72 << 16;
  std::uint16_t frameCount = 1;  // 0 is written as 1
  std::string_view name;         // the compressor's name, at most 31 bytes of it kept
  std::uint16_t depth = 24;      // 24 for colour, 40 for 8-bit grey
  std::int16_t clutID = -1;      // no colour table
};

struct SoundDescriptionV0Fields {
  FourCC format = kSoundTwosLittleEndian;
  std::uint16_t version = 0;  // 0, or 1 as some writers leave it
  std::uint16_t revisionLevel = 0;
  std::uint32_t vendor = 0;
  std::uint16_t channels = 1;
  std::uint16_t sampleSize = 16;  // bits
  std::uint16_t compressionID = 0;
  std::uint16_t packetSize = 0;
  std::uint32_t sampleRate = 0;  // 16.16
};

struct SoundDescriptionV2Fields {
  FourCC format = kLinearPcmFormat;
  std::uint16_t revisionLevel = 0;
  std::uint32_t vendor = 0;
  double sampleRate = 0;
  std::uint32_t channels = 0;
  std::uint32_t bitsPerChannel = 0;
  std::uint32_t formatFlags = 0;  // the linear PCM flags: float, big-endian, signed, packed ...
  std::uint32_t bytesPerPacket = 0;
  std::uint32_t framesPerPacket = 1;
};

std::vector<std::uint8_t> SerializeImageDescription(const ImageDescriptionFields& d);
std::vector<std::uint8_t> SerializeSoundDescription(const SoundDescriptionV0Fields& d);
// The fixed fields are written as the format defines them; extensions follow as they are.
std::vector<std::uint8_t> SerializeSoundDescription(const SoundDescriptionV2Fields& d,
                                                    std::span<const std::uint8_t> extensions);

// The entry for a media of that type that has no samples: readers refuse an empty table.
// Video: 'jpeg', 0 by 0 at 72 dpi, 24 bits; sound: 'sowt', one 16-bit channel at timeScale.
std::vector<std::uint8_t> PlaceholderDescription(FourCC mediaType, std::int32_t timeScale);

// The version-0 format for linear PCM of that kind, or 0 when version 0 cannot hold it (version 2
// is needed). Version 0 knows one or two channels of 8- or 16-bit integers at a whole rate that
// fits its 16.16 field.
FourCC SoundVersionZeroFormat(double sampleRate, std::uint32_t channels, std::uint32_t bits, bool isFloat,
                              bool isSigned, bool bigEndian);

// The 'chan' extension of a version-2 description: a layout tag and a channel bitmap, no
// channel descriptions.
std::vector<std::uint8_t> ChannelLayoutAtom(std::uint32_t layoutTag, std::uint32_t bitmap);

}  // namespace media
