// SPDX-License-Identifier: GPL-2.0-or-later
// Pascal-string helpers, pixel component swapping, four-character codes and version tests.
// Everything here is pure: no file system, no process state.
#include <cstring>
#include <utility>

#include "platform/UtilsCIP.h"
#include "toolbox/Core/System.h"
#include "toolbox/Core/TextConversion.h"

namespace {
int lastDot(ConstStr255Param name) {
  for (int k = name[0]; k >= 1; --k)
    if (name[k] == '.') return k;
  return 0;
}

SInt32 systemVersion() {
  SInt32 v = 0;
  return Gestalt(gestaltSystemVersion, &v) == 0 ? v : 0;
}
}  // namespace

void UtilsCIP::PStrCpy(StringPtr dst, ConstStr255Param src) {
  if (dst == nullptr || src == nullptr) return;
  std::memmove(dst, src, size_t(src[0]) + 1);
}

StringPtr UtilsCIP::PStrCat(StringPtr dst, ConstStr255Param src, short capacity) {
  if (dst == nullptr || src == nullptr) return dst;
  int limit = capacity - 1;
  if (limit > 255) limit = 255;
  int room = limit - dst[0];
  if (room <= 0) return dst;
  const size_t n = UTF8PrefixLength(PascalText(src), size_t(room));
  std::memmove(dst + 1 + dst[0], src + 1, n);
  dst[0] = UInt8(dst[0] + n);
  return dst;
}

void UtilsCIP::C2Pstr(char* s) {
  if (s == nullptr) return;
  CopyTextToPascal(s, reinterpret_cast<StringPtr>(s));
}

void UtilsCIP::P2Cstr(StringPtr s) {
  if (s == nullptr) return;
  size_t n = s[0];
  std::memmove(s, s + 1, n);
  s[n] = '\0';
}

bool UtilsCIP::GetSuffix(ConstStr255Param name, char* suffix) {
  if (name == nullptr || suffix == nullptr) return false;
  int dot = lastDot(name);
  if (dot == 0) return false;
  size_t n = size_t(name[0] - dot + 1);
  std::memcpy(suffix, name + dot, n);
  suffix[n] = '\0';
  return true;
}

StringPtr UtilsCIP::StripNameAfterDot(StringPtr name) {
  if (name == nullptr) return name;
  if (int dot = lastDot(name)) name[0] = UInt8(dot - 1);
  return name;
}

void UtilsCIP::RemoveDotApp(StringPtr name) {
  if (name == nullptr) return;
  int dot = lastDot(name);
  if (dot != 0 && dot + 3 <= name[0] && std::memcmp(name + dot + 1, "app", 3) == 0) name[0] = UInt8(dot - 1);
}

void UtilsCIP::SwapRGB(void* pixels, long length, short bitsPerPixel) {
  if (pixels == nullptr || length <= 0) return;
  auto* p = static_cast<UInt8*>(pixels);
  if (bitsPerPixel == 24) {
    for (long k = 0; k + 3 <= length; k += 3) std::swap(p[k], p[k + 2]);
  } else if (bitsPerPixel == 48) {
    // Two-byte components move whole, so their byte order is kept.
    for (long k = 0; k + 6 <= length; k += 6) {
      std::swap(p[k], p[k + 4]);
      std::swap(p[k + 1], p[k + 5]);
    }
  }
}

OSType UtilsCIP::FourCharCodeToOSType(const std::string& text) { return FourCharCodeFromText(text); }

std::string UtilsCIP::OsTypeToFourCharCode(OSType code) { return TextFromFourCharCode(code); }

bool UtilsCIP::IsOSX() { return systemVersion() > 0x999; }
bool UtilsCIP::JaguarOrGreater() { return systemVersion() > 0x101F; }
bool UtilsCIP::PantherOrGreater() { return systemVersion() > 0x102F; }
bool UtilsCIP::NotPanther() {
  SInt32 v = systemVersion();
  return v < 0x1030 || v > 0x103F;
}
