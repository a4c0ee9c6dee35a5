// SPDX-License-Identifier: GPL-2.0-or-later
// The XMP that makes a JPEG with an MP4 appended a motion photo: the Motion Photo 1.0 properties
// and the older MicroVideo ones, as a packet of its own or merged into the photograph's packet.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace media {

// The signature that opens a standard XMP packet's APP1 payload, NUL included.
constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";  // + '\0'
// The most packet bytes one APP1 segment holds after the signature and its NUL.
constexpr std::size_t kMaxXmpPacket = 65533 - sizeof kXmpSignature;

// A whole packet describing a primary JPEG followed by an MP4 of videoLength bytes.
std::string MotionPhotoXmp(std::uint64_t videoLength);

// The photograph's packet with the same properties added to its first rdf:Description, or
// nothing (why says it in words) when it cannot take them: no rdf:Description, already a motion
// photo, or too large for one segment even without its padding.
std::optional<std::string> MergeMotionPhotoXmp(const std::string& packet, std::uint64_t videoLength, std::string* why);

// Whether a packet already says its file is a motion photo (either form).
bool XmpSaysMotionPhoto(const std::string& packet);

// The byte length of the video appended after the still that a packet says: its MicroVideoOffset,
// else the length of the container directory's last item; nothing for a packet that says none.
std::optional<std::uint64_t> XmpMotionPhotoVideoLength(std::string_view packet);

}  // namespace media
