// SPDX-License-Identifier: GPL-2.0-or-later
// A raw photograph's largest embedded preview, as LibRaw finds it, and the facts LibRaw reads
// about the shot. LibRaw stays inside: callers see bytes, rows, numbers and words.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/PixelImage.h"

namespace media {

// What reading a raw's preview came to. Each but ok has its words (RawPreviewWords).
enum class RawPreviewOutcome {
  ok,
  notRaw,     // LibRaw does not take the bytes for any raw format it reads
  noPreview,  // a raw, but no embedded picture LibRaw can hand over
  tooLarge,   // a preview larger than a movie's frame can take
  damaged,    // the preview's bytes end early or contradict themselves
  noMemory,   // past LibRaw's memory bounds, or the allocator refused
};
const char* RawPreviewWords(RawPreviewOutcome outcome);

// Largest preview taken: each side at most what a movie's image description holds, and a
// pixel count well past any camera's while a decoded copy still fits in memory.
constexpr int kMaxRawPreviewSide = 32767;
constexpr std::uint64_t kMaxRawPreviewPixels = std::uint64_t(1) << 28;

// What LibRaw reads of the shot itself, for raws whose metadata our TIFF reader cannot walk.
// Empty strings and zeros are what the file does not say.
struct RawFacts {
  std::string make, model, software, artist, description;
  std::int64_t timestamp = 0;  // seconds since 1970, as LibRaw reads the camera's clock
  float isoSpeed = 0, shutter = 0, aperture = 0, focalLength = 0;
  bool hasGps = false;
  double latitude = 0, longitude = 0, altitude = 0;  // degrees (south, west negative), metres
  int rawWidth = 0, rawHeight = 0;                   // the sensor picture's size
};

struct RawPreview {
  bool isJpeg = false;
  std::vector<std::uint8_t> jpeg;  // isJpeg: the preview's JPEG stream, as LibRaw extracts it
  PixelImage bitmap;               // otherwise: 8-bit rows, grey or RGB
  int width = 0;                   // as stored, before orientation
  int height = 0;
  int orientation = 1;  // EXIF 1 to 8
  RawFacts facts;
};

// Reads the preview of the raw photograph in data (which must outlive nothing: LibRaw's copy of
// what it needs is made here). With facts only set, the preview itself is not unpacked.
RawPreviewOutcome ReadRawPreview(const std::uint8_t* data, std::size_t size, RawPreview* out);
RawPreviewOutcome ReadRawFacts(const std::uint8_t* data, std::size_t size, RawFacts* out, int* orientation);

// EXIF orientation (1 to 8) of LibRaw's flip code (bit 2 swaps the axes, bit 1 turns rows
// upside down, bit 0 mirrors columns); 1 for anything else.
int RawFlipOrientation(int flip);

}  // namespace media
