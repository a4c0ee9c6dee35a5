// SPDX-License-Identifier: GPL-2.0-or-later
// Terminal-safe text: a strict UTF-8 decoder and the code points that must not reach a
// terminal as they are.
#include "toolbox/Core/DisplayText.h"

#include <cstdio>

namespace {

bool invisibleControl(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) ||      // C1: CSI and friends act as escapes on some terminals
         c == 0x2028 || c == 0x2029 ||    // line and paragraph separators
         (c >= 0x202A && c <= 0x202E) ||  // bidirectional embeddings and overrides
         (c >= 0x2066 && c <= 0x2069) ||  // bidirectional isolates
         c == 0x200E || c == 0x200F || c == 0x061C;  // direction marks
}

}  // namespace

std::size_t UTF8Sequence(const std::string& s, std::size_t i, char32_t* codePoint) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t n;
  char32_t cp;
  if (c < 0x80) {
    *codePoint = c;
    return 1;
  }
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (s.size() - i < n) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  *codePoint = cp;
  return n;
}

std::string DisplayText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  char buffer[16];
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t n = UTF8Sequence(text, i, &cp);
    if (n == 0 || (n == 1 && (cp < 0x20 || cp == 0x7F))) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == '\n') out += "\\n";
      else if (c == '\t') out += "\\t";
      else if (c == '\r') out += "\\r";
      else {
        std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
        out += buffer;
      }
      ++i;
    } else if (invisibleControl(cp)) {
      std::snprintf(buffer, sizeof buffer, "\\u{%04x}", unsigned(cp));
      out += buffer;
      i += n;
    } else {
      if (cp == '\\') out += '\\';
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

