// SPDX-License-Identifier: GPL-2.0-or-later
// The XMP that makes a JPEG with an MP4 appended a motion photo: the Motion Photo 1.0 properties
// and the older MicroVideo ones, as a packet of its own or merged into the photograph's packet.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace media {

// The signature that opens a standard XMP packet's APP1 payload, NUL included.
constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";  // + '\0'
// The most packet bytes one APP1 segment holds after the signature and its NUL.
constexpr std::size_t kMaxXmpPacket = 65533 - sizeof kXmpSignature;

// A whole packet describing a primary JPEG, then bytesAfterPicture bytes that are no item of
// their own (a maker's trailer), then an MP4 of videoLength bytes.
std::string MotionPhotoXmp(std::uint64_t videoLength, std::uint64_t bytesAfterPicture = 0);

// The photograph's packet with the same properties on its top-level rdf:Description and the video
// as the last item of its container directory (one made when it has none). bytesAfterPicture
// counts what follows the primary picture's end in the photograph: what the directory does not
// describe already becomes padding. Nothing, and why in words, when the packet is not XML, has no
// description, already says it is a motion photo, or would not fit in one segment.
std::optional<std::string> MergeMotionPhotoXmp(const std::string& packet, std::uint64_t videoLength,
                                               std::uint64_t bytesAfterPicture, std::string* why);

// Whether a packet says its file is a motion photo: Motion Photo 1.0's MotionPhoto="1" or the
// older MicroVideo="1" (any other value, as the format says, is not one).
bool XmpSaysMotionPhoto(std::string_view packet);

// Whether a packet has a container directory (an Ultra HDR gain map's, say) of its own.
bool XmpHasContainerDirectory(std::string_view packet);

// The byte length of the video appended after the still that a packet says: its MicroVideoOffset,
// else the length of the container directory's last item; nothing for a packet that says none.
std::optional<std::uint64_t> XmpMotionPhotoVideoLength(std::string_view packet);

}  // namespace media
