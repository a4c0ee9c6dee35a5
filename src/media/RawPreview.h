// SPDX-License-Identifier: GPL-2.0-or-later
// A raw photograph's largest embedded preview, as LibRaw finds it. LibRaw stays inside: callers
// see bytes, rows, numbers and words.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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
  lost,       // the reading ended without an answer (it crashed, ran out of bounds or time)
  unavailable,  // LibRaw's module cannot be loaded
};
const char* RawPreviewWords(RawPreviewOutcome outcome);

// Largest preview taken: each side at most what a movie's image description holds, and a
// pixel count well past any camera's while a decoded copy still fits in memory.
constexpr int kMaxRawPreviewSide = 32767;
constexpr std::uint64_t kMaxRawPreviewPixels = std::uint64_t(1) << 28;
inline bool RawPreviewSizeTaken(std::uint64_t width, std::uint64_t height) {
  return width <= std::uint64_t(kMaxRawPreviewSide) && height <= std::uint64_t(kMaxRawPreviewSide) &&
         width * height <= kMaxRawPreviewPixels;
}

struct RawPreview {
  bool isJpeg = false;
  std::vector<std::uint8_t> jpeg;  // isJpeg: the preview's JPEG stream, as LibRaw extracts it
  PixelImage bitmap;               // otherwise: 8-bit rows, grey or RGB
  int width = 0;                   // as stored, before orientation
  int height = 0;
  int orientation = 1;  // EXIF 1 to 8
  // Whether the JPEG came with an EXIF segment of its own; where it did not, LibRaw put one in
  // of what it read, which a caller may replace with the raw's own metadata.
  bool ownExif = false;
  // When the shot was taken as LibRaw read it, in seconds since 1970 as this machine's local time
  // zone counts them (LibRaw reads the camera's clock as local time); 0 when it read none.
  std::int64_t captureTime = 0;
};

// Loads LibRaw's module, once per process (the first reading does it too): a caller that reads
// raws in child processes loads it before the first, so that every child has it. false, with why
// in words, when it cannot be loaded.
bool LoadRawPreviewModule(std::string* why = nullptr);
// Reads the preview of the raw photograph in data; nothing is kept of data after the call.
RawPreviewOutcome ReadRawPreview(const std::uint8_t* data, std::size_t size, RawPreview* out);
// Whether LibRaw takes data for a raw it reads (ok or notRaw), without unpacking anything.
RawPreviewOutcome IdentifyRaw(const std::uint8_t* data, std::size_t size);

// The checks bytes pass before LibRaw is given them (a CR3's boxes each inside its parent):
// LibRaw's walk of what fails them never ends.
bool RawLayoutSound(const std::uint8_t* data, std::size_t size);

// An outcome and its preview as bytes that cross a process boundary, and back. The reading
// trusts nothing it is handed: false for bytes that are no such answer, or whose sizes disagree.
std::string RawPreviewAnswer(RawPreviewOutcome outcome, const RawPreview& preview);
bool ReadRawPreviewAnswer(std::string_view bytes, RawPreviewOutcome* outcome, RawPreview* preview);
// The answer without its payload, for a sender that writes the payload from where it lies
// (preview.jpeg, or the bitmap's pixels; nothing unless outcome is ok) right after it.
std::string RawPreviewAnswerHead(RawPreviewOutcome outcome, const RawPreview& preview);
// As ReadRawPreviewAnswer, taking the answer's block: its payload becomes the preview's bytes
// where it lies, with the block's spare capacity. bytes is left empty either way.
bool ReadRawPreviewAnswer(std::vector<std::uint8_t>&& bytes, RawPreviewOutcome* outcome, RawPreview* preview);

// EXIF orientation (1 to 8) of LibRaw's flip code (bit 2 swaps the axes, bit 1 turns rows
// upside down, bit 0 mirrors columns); 1 for anything else.
inline int RawFlipOrientation(int flip) {
  // Indexed by flip: 4 is a transpose (EXIF 5), 5 a quarter turn left (8), 6 one right (6).
  static constexpr int kOrientation[8] = {1, 2, 4, 3, 5, 8, 6, 7};
  return flip >= 0 && flip < 8 ? kOrientation[flip] : 1;
}

}  // namespace media
