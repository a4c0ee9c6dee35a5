// SPDX-License-Identifier: GPL-2.0-or-later
// A motion photo's still part: the photograph's own JPEG, every segment and the image data as they
// were, with the motion photo XMP added in one APP1 segment or merged into the photograph's own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media/Recording.h"

namespace media {

// The bytes that go before an MP4 of videoLength bytes: the photograph's own bytes with the XMP in
// place, the properties of a motion photo merged into its own packet or in one of their own.
// What follows its picture's end (a maker's trailer) is kept: with tail given, it goes into *tail,
// to be written after the MP4 inside a box MP4 readers skip, so that the movie starts right at the
// picture's end and ends the file; without, it stays before the MP4 as the primary item's padding.
// Nothing, and why in words, for a photograph that is no JPEG, whose header segments are damaged,
// whose XMP cannot take the properties, or that already is a motion photo.
std::optional<std::string> MotionPhotoStill(const std::uint8_t* jpeg, std::size_t size, std::uint64_t videoLength,
                                            std::string* why, std::string* tail = nullptr);

// The same as parts of the photograph's file, for a writer that copies them from the file in
// steps rather than holding them: the still is the file's [0, replaceFrom), then segment (the
// XMP), then the file's [replaceTo, keepTo); after the MP4 come tailHeader and the file's
// [tailFrom, tailTo) (nothing when tailTo is tailFrom). start is the file's held start: through
// its picture's end, with the header segments.
struct MotionPhotoParts {
  std::uint64_t replaceFrom = 0, replaceTo = 0, keepTo = 0;
  std::string segment;
  std::string tailHeader;
  std::uint64_t tailFrom = 0, tailTo = 0;
  std::uint64_t stillSize() const { return replaceFrom + segment.size() + (keepTo - replaceTo); }
  std::uint64_t tailSize() const { return tailTo > tailFrom ? tailHeader.size() + (tailTo - tailFrom) : 0; }
};
std::optional<MotionPhotoParts> MotionPhotoPartsOf(const std::uint8_t* start, std::size_t startSize,
                                                   std::uint64_t fileSize, std::uint64_t videoLength, std::string* why);

// Why the photograph cannot become a motion photo, in words; "" when it can.
std::string MotionPhotoRefusal(const std::uint8_t* jpeg, std::size_t size);

// Whether a photograph already is a motion photo of any maker: its own XMP says so (Motion Photo
// or MicroVideo set to 1), or a Samsung trailer ends it holding a MotionPhoto_Data entry.
// With file, the whole file jpeg is the start of (a trailer is read from its end by range).
bool IsMotionPhoto(const std::uint8_t* jpeg, std::size_t size, ByteReader* file = nullptr);

// The byte length of the video a motion photo's XMP says is appended (its MicroVideoOffset, else
// the last directory item's length); nothing for a JPEG that says none.
std::optional<std::uint64_t> MotionPhotoVideoLength(const std::uint8_t* jpeg, std::size_t size);
// How much of a motion photo's head is read to find that XMP: the header segments before it
// (Exif with its thumbnail) take at most a few segments of 64 KB.
constexpr std::size_t kMotionPhotoXmpReach = 256 * 1024;

// The motion photo's name beside the photograph's: IMG_0001.JPG gives IMG_0001.MP.JPG (the last
// extension kept as it is written; a name without one gets ".MP.jpg").
std::string MotionPhotoName(const std::string& photographName);

}  // namespace media
