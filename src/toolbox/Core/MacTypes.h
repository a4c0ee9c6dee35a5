// SPDX-License-Identifier: GPL-2.0-or-later
// The platform's basic scalar, string and geometry types, spelled as the ported code expects.
// Pascal strings are a length byte followed by that many bytes.
#pragma once
#include <cstddef>
#include <cstdint>

using UInt8 = std::uint8_t;
using SInt8 = std::int8_t;
using UInt16 = std::uint16_t;
using SInt16 = std::int16_t;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using UInt64 = std::uint64_t;
using SInt64 = std::int64_t;

using Boolean = unsigned char;
using Byte = UInt8;
using OSErr = SInt16;
using OSStatus = SInt32;
using FourCharCode = UInt32;
using OSType = FourCharCode;
using ResType = FourCharCode;
using ScriptCode = SInt16;
using Fixed = SInt32;
using Ptr = char*;
using Handle = char**;
using Size = long;

using Str255 = unsigned char[256];
using Str63 = unsigned char[64];
using Str31 = unsigned char[32];
using StringPtr = unsigned char*;
using ConstStringPtr = const unsigned char*;
using ConstStr255Param = const unsigned char*;

// 'Itnt' as the 32-bit value 0x49746E74: first character in the most significant byte.
constexpr FourCharCode FOUR_CHAR_CODE(const char (&s)[5]) {
  return (FourCharCode(UInt8(s[0])) << 24) | (FourCharCode(UInt8(s[1])) << 16) |
         (FourCharCode(UInt8(s[2])) << 8) | FourCharCode(UInt8(s[3]));
}

constexpr Fixed IntToFixed(int v) { return Fixed(UInt32(v) << 16); }
constexpr Fixed fixed1 = 0x00010000;

struct Rect {
  SInt16 top, left, bottom, right;
};

struct Point {
  SInt16 v, h;
};

// Row by row, 16.16 except the third column (2.30).
struct MatrixRecord {
  Fixed matrix[3][3];
};
void SetIdentityMatrix(MatrixRecord* m);
