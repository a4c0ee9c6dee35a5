// SPDX-License-Identifier: GPL-2.0-or-later
// User-data item types and MP4 metadata keys, one row each.
#include "toolbox/Movies/Mp4MetadataKeys.h"

namespace {
struct Row {
  OSType type;
  const char* key;
};
constexpr Row kKeys[] = {
    {FOUR_CHAR_CODE("\xA9swr"), "encoder"},
    {FOUR_CHAR_CODE("\xA9mak"), "com.apple.quicktime.make"},
    {FOUR_CHAR_CODE("\xA9mod"), "com.apple.quicktime.model"},
    {FOUR_CHAR_CODE("\xA9xyz"), "com.apple.quicktime.location.ISO6709"},
};
}  // namespace

std::string Mp4KeyForUserDataType(OSType type) {
  for (const Row& r : kKeys)
    if (r.type == type) return r.key;
  std::string key;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<unsigned char>(type >> shift);
    key += c == 0xA9 ? std::string("\xC2\xA9") : std::string(1, char(c));
  }
  return key;
}
