// SPDX-License-Identifier: GPL-2.0-or-later
// The two steps of reading a GAudio note that stand on their own: base64 decoded in bounded
// pieces, and an Extended XMP packet put together from its chunks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "media/Status.h"

namespace media {

// The bytes of base64 text (spaces and line breaks skipped); noMemory, with nothing kept, when
// they would pass limit bytes.
Status DecodeBase64Bounded(const char* text, std::size_t size, std::uint64_t limit, std::vector<std::uint8_t>* out,
                           std::string* why);

// The Extended XMP packet whose chunks (APP1 "http://ns.adobe.com/xmp/extension/") carry this
// 32-character GUID, each chunk at the offset it gives; damaged when chunks disagree, overlap past
// the packet or leave a gap; noMemory when the packet's length passes limit; ok and empty when
// the photograph holds no chunk of that GUID.
Status AssembleExtendedXmp(const std::uint8_t* file, std::size_t size, const std::string& guid, std::uint64_t limit,
                           std::vector<std::uint8_t>* packet, std::string* why);

}  // namespace media
