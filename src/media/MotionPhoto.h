// SPDX-License-Identifier: GPL-2.0-or-later
// A motion photo's still part: the photograph's own JPEG, every segment and the image data as they
// were, with the motion photo XMP added in one APP1 segment or merged into the photograph's own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace media {

// The bytes that go before an MP4 of videoLength bytes: the whole photograph (whatever follows
// its image data too) with the XMP in place. Nothing, and why in words, for a photograph that is
// no JPEG, whose header segments are damaged, or that already is a motion photo.
std::optional<std::string> MotionPhotoStill(const std::uint8_t* jpeg, std::size_t size, std::uint64_t videoLength,
                                            std::string* why);

// Whether a photograph's own XMP says it is a motion photo already.
bool IsMotionPhoto(const std::uint8_t* jpeg, std::size_t size);

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
