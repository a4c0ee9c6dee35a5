// SPDX-License-Identifier: GPL-2.0-or-later
// The boxes of our MP4: one H.264 frame lasting the whole recording and its AAC sound, each box
// written by a small function of its own from plain facts; the sample data is the caller's.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace media {

struct Mp4VideoFacts {
  int width = 0;  // pixels, upright
  int height = 0;
  std::int32_t timeScale = 0;
  std::uint32_t sampleDuration = 0;  // the one frame's, in timeScale
  std::uint32_t sampleSize = 0;
  std::uint64_t sampleOffset = 0;
  std::vector<std::uint8_t> avcConfig;  // the whole AVC decoder configuration record
};

struct Mp4SoundFacts {
  int channels = 0;
  std::int32_t rate = 0;  // also the media's time scale
  std::vector<std::uint8_t> audioConfig;  // the AAC AudioSpecificConfig
  std::uint32_t maxBitRate = 0;
  std::uint32_t averageBitRate = 0;
  std::uint32_t frameSamples = 1024;  // every packet's duration but the last's
  std::uint32_t packets = 0;          // at least 1
  std::uint32_t lastDuration = 0;
  std::int32_t priming = 0;           // encoder delay: samples the edit skips
  std::uint64_t offset = 0;           // of the one chunk holding every packet
};

struct Mp4Facts {
  std::uint64_t creationTime = 0;  // seconds since 1904
  std::int64_t durationMs = 0;     // of the movie and each track's edit
  // Version 1 headers: 64-bit times and durations. The writer decides before the sizes are known.
  bool wideTimes = false;
  bool wideOffsets = false;  // co64 rather than stco
  Mp4VideoFacts video;
  Mp4SoundFacts sound;
  std::vector<std::pair<std::string, std::string>> items;  // metadata keys and texts, in order
  std::string place;  // ISO 6709 ("+48.8577+002.2950+035.000/"), also as a 3GPP location; "" none
};

std::vector<std::uint8_t> BuildMp4FileType();

// The moov box but for the sound's sample sizes: those are its last 4 × sound.packets bytes,
// which the caller writes (big-endian) straight after the returned bytes. Its size depends on no
// count, so the place of those sizes is known before the first packet is.
std::vector<std::uint8_t> BuildMp4MovieHead(const Mp4Facts& facts);

// Annex B H.264 (start codes) as MP4 samples hold it: each NAL unit after its 4-byte length.
std::vector<std::uint8_t> Mp4LengthPrefixed(std::span<const std::uint8_t> annexB);
// The AVC decoder configuration record of an Annex B SPS and PPS (4:2:0, 8-bit); empty when
// either is missing.
std::vector<std::uint8_t> Mp4AvcConfig(std::span<const std::uint8_t> annexB);

}  // namespace media
