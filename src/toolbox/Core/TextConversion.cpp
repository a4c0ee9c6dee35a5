// SPDX-License-Identifier: GPL-2.0-or-later
// Pascal strings cut where a character ends, and four-character codes through GLib's Mac OS
// Roman conversion, so that every caller reads and writes these forms alike.
#include "toolbox/Core/TextConversion.h"

#include <glib.h>

#include <cstring>

std::size_t UTF8PrefixLength(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  // Step back over at most three continuation bytes to the character that the limit cuts.
  std::size_t start = maxBytes;
  while (start > 0 && maxBytes - start < 3 && (UInt8(text[start]) & 0xC0) == 0x80) --start;
  const UInt8 lead = UInt8(text[start]);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  // Only a real lead byte whose character runs past the limit moves the cut.
  return start < maxBytes && start + length > maxBytes ? start : maxBytes;
}

void CopyTextToPascal(std::string_view text, StringPtr dst, std::size_t maxLength) {
  if (dst == nullptr) return;
  const std::size_t n = UTF8PrefixLength(text, maxLength < 255 ? maxLength : 255);
  if (n) std::memmove(dst + 1, text.data(), n);
  dst[0] = UInt8(n);
}

std::string PascalText(ConstStr255Param p) {
  return p ? std::string(reinterpret_cast<const char*>(p + 1), p[0]) : std::string();
}

OSType FourCharCodeFromText(std::string_view text) {
  if (text.empty()) return 0;
  gsize written = 0;
  gchar* roman = g_convert(text.data(), gssize(text.size()), "MACINTOSH", "UTF-8", nullptr, &written, nullptr);
  if (roman == nullptr) return 0;
  OSType code = 0;
  if (written == 4) {
    for (int k = 0; k < 4; ++k) code = (code << 8) | UInt8(roman[k]);
  }
  g_free(roman);
  return code;
}

std::string TextFromFourCharCode(OSType code) {
  if (code == 0) return {};
  char bytes[4];
  for (int k = 0; k < 4; ++k) bytes[k] = char(UInt8(code >> (24 - 8 * k)));
  gsize written = 0;
  gchar* utf8 = g_convert(bytes, 4, "UTF-8", "MACINTOSH", nullptr, &written, nullptr);
  if (utf8 == nullptr) return {};
  std::string out(utf8, written);
  g_free(utf8);
  return out;
}
