// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: an Extended XMP packet put together from a photograph's chunks; the GUID is the
// first chunk's own, so that matching chunks are the rule rather than the exception.
#include <cstring>

#include "media/EmbeddedNote.h"
#include "media/GAudio.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  static const char kSignature[] = "http://ns.adobe.com/xmp/extension/";
  const auto chunks = media::AppSegmentsWith(data, size, 0xE1, kSignature, sizeof kSignature);
  std::string guid = chunks.empty() || chunks[0].size < 32 ? std::string(32, '0')
                                                            : std::string(reinterpret_cast<const char*>(chunks[0].data), 32);
  std::vector<std::uint8_t> packet;
  std::string why;
  const std::uint64_t limit = 1u << 20;
  if (media::AssembleExtendedXmp(data, size, guid, limit, &packet, &why) == media::Status::ok && packet.size() > limit)
    __builtin_trap();
  return 0;
}
