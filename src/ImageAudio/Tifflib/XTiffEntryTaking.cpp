// SPDX-License-Identifier: GPL-2.0-or-later
// The extension's rows take what cameras write, as the TIFF library takes its own tags: any
// integer type whose value fits, either kind of rational, text or bytes where undefined bytes
// are expected, the first value of a longer entry; a rational with a zero denominator has no
// value, so its row is left unset. Each refusal and each left-out value comes with its words.
#include "ImageAudio/Tifflib/XTiffEntryTaking.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ImageAudio/Tifflib/TiffEntryValues.h"

namespace {
using tiffentry::integerAt;
using tiffentry::isInteger;
using tiffentry::isNumber;
using tiffentry::numberAt;
using tiffentry::typeWidth;

std::string words(const char* format, ...) {
  char text[160];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  return text;
}

bool bytesLike(uint16_t type) {
  return type == TIFF_BYTE || type == TIFF_SBYTE || type == TIFF_ASCII || type == TIFF_UNDEFINED;
}

XTiffTaken refused(std::string why) {
  XTiffTaken t;
  t.note = std::move(why);
  return t;
}

XTiffTaken wrongType(const XTiffTagInfo& row, uint16_t type) {
  return refused(words("wrong data type %d for \"%s\"; tag ignored", type, row.name));
}

XTiffTaken tooFew(const XTiffTagInfo& row, uint32_t count, uint32_t expected) {
  return refused(words("incorrect count for field \"%s\" (%lu, expecting %lu); tag ignored", row.name,
                       static_cast<unsigned long>(count), static_cast<unsigned long>(expected)));
}

// Taken, noting when values past the first `used` were left out.
XTiffTaken takenOf(const XTiffTagInfo& row, uint32_t count, uint32_t used) {
  XTiffTaken t;
  t.taken = true;
  if (count > used)
    t.note = words("incorrect count for field \"%s\" (%lu, expecting %lu); the first taken", row.name,
                   static_cast<unsigned long>(count), static_cast<unsigned long>(used));
  return t;
}

XTiffTaken undefinedValue(const XTiffTagInfo& row, uint32_t numerator) {
  return refused(words("%s: Rational with zero denominator (num = %lu); tag ignored", row.name,
                       static_cast<unsigned long>(numerator)));
}

// An EXIF date: "YYYY:MM:DD HH:MM:SS", blanks standing for unknown digits.
bool isExifDate(const unsigned char* p) {
  for (int i = 0; i < 19; ++i) {
    const unsigned char c = p[i];
    const unsigned char separator = i == 10 ? ' ' : (i == 4 || i == 7 || i == 13 || i == 16) ? ':' : 0;
    if (separator != 0 ? c != separator : !(c == ' ' || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// A text of fixed size: the characters up to the first NUL, trailing blanks dropped, which must
// leave room for the terminator in the row's slot. The dates (the texts of 20) take any count
// of 19 or more whose first 19 characters are a date, and those 19 only.
XTiffTaken takeFixedText(const XTiffTagInfo& row, uint16_t type, uint32_t count, const unsigned char* stored,
                         unsigned char* out) {
  if (!bytesLike(type)) return wrongType(row, type);
  const bool date = row.slotCount == 20;
  uint32_t n = count;
  if (const void* nul = std::memchr(stored, '\0', count)) n = uint32_t(static_cast<const unsigned char*>(nul) - stored);
  if (date && count != uint32_t(row.count)) {
    if (count < 19 || n < 19 || !isExifDate(stored)) return tooFew(row, count, uint32_t(row.count));
    n = 19;
  }
  // A date keeps its 19 characters, blanks for unknown digits included.
  if (!date)
    while (n > 0 && stored[n - 1] == ' ') --n;
  if (n >= row.slotCount)
    return refused(words("text of %lu characters for \"%s\" is longer than its field; tag ignored",
                         static_cast<unsigned long>(n), row.name));
  std::memcpy(out, stored, n);
  out[n] = '\0';
  XTiffTaken t;
  t.taken = true;
  return t;
}

// A fixed run of bytes (versions, components, the GPS version); text or bytes are taken alike.
XTiffTaken takeFixedBytes(const XTiffTagInfo& row, uint16_t type, uint32_t count, const unsigned char* stored,
                          unsigned char* out) {
  if (!bytesLike(type)) return wrongType(row, type);
  if (count < row.slotCount) return tooFew(row, count, row.slotCount);
  std::memcpy(out, stored, row.slotCount);
  out[row.slotCount] = '\0';
  return takenOf(row, count, row.slotCount);
}

// One integer that must fit the slot: `limit` is the largest value it holds.
XTiffTaken takeInteger(const XTiffTagInfo& row, uint16_t type, uint32_t count, const unsigned char* stored,
                       TiffByteOrder order, uint32_t limit) {
  if (!isInteger(type)) return wrongType(row, type);
  const int64_t v = integerAt(type, stored, 0, order);
  if (v < 0 || v > int64_t(limit))
    return refused(words("value %lld out of range for \"%s\"; tag ignored", static_cast<long long>(v), row.name));
  XTiffTaken t = takenOf(row, count, 1);
  t.integer = uint32_t(v);
  return t;
}

// `n` unsigned 16-bit values.
XTiffTaken takeShorts(const XTiffTagInfo& row, uint16_t type, uint32_t count, const unsigned char* stored,
                      TiffByteOrder order, uint32_t n, unsigned char* out) {
  if (!isInteger(type)) return wrongType(row, type);
  if (count < n) return tooFew(row, count, n);
  for (uint32_t i = 0; i < n; ++i) {
    const int64_t v = integerAt(type, stored, i, order);
    if (v < 0 || v > 0xFFFF)
      return refused(words("value %lld out of range for \"%s\"; tag ignored", static_cast<long long>(v), row.name));
    const uint16_t s = uint16_t(v);
    std::memcpy(out + 2 * i, &s, 2);
  }
  return takenOf(row, count, n);
}

// A rational row's entry whose type holds whole rationals in its bytes (a trail camera's four
// SHORTs, two LONGs): the bytes are the rationals, as exiftool reads a tag of fixed format. A
// single smaller integer (a focal length as one SHORT) stays that integer.
bool rationalsInOtherType(const XTiffTagInfo& row, uint16_t type, uint32_t count, uint32_t n) {
  const uint64_t bytes = uint64_t(count) * typeWidth(type);
  return (row.type == TIFF_RATIONAL || row.type == TIFF_SRATIONAL) && (isInteger(type) || type == TIFF_UNDEFINED) &&
         bytes >= 8ull * n && bytes % 8 == 0;
}

// `n` numbers as floats; one without a value leaves the whole row without one.
XTiffTaken takeFloats(const XTiffTagInfo& row, uint16_t type, uint32_t count, const unsigned char* stored,
                      TiffByteOrder order, uint32_t n, unsigned char* out, double* last) {
  if (rationalsInOtherType(row, type, count, n)) {
    count = uint32_t(uint64_t(count) * typeWidth(type) / 8);
    type = row.type;
  }
  if (!isNumber(type)) return wrongType(row, type);
  if (count < n) return tooFew(row, count, n);
  for (uint32_t i = 0; i < n; ++i) {
    double v = 0;
    if (!numberAt(type, stored, i, order, &v)) return undefinedValue(row, order.get32(stored + uint64_t(i) * 8));
    const float f = float(v);
    std::memcpy(out + 4 * i, &f, 4);
    *last = v;
  }
  return takenOf(row, count, n);
}
}  // namespace

XTiffTaken XTIFFTakeEntry(const XTiffTagInfo& row, uint16_t type, uint32_t count, const unsigned char* stored,
                          TiffByteOrder order, unsigned char* out) {
  switch (row.slot) {
    case XTiffSlot::U32:
    case XTiffSlot::Offset: return takeInteger(row, type, count, stored, order, 0xFFFFFFFFu);
    case XTiffSlot::U16: return takeInteger(row, type, count, stored, order, 0xFFFF);
    case XTiffSlot::U8: return takeInteger(row, type, count, stored, order, 0xFF);
    case XTiffSlot::F32: {
      double v = 0;
      XTiffTaken t = takeFloats(row, type, count, stored, order, 1, out, &v);
      t.real = v;
      return t;
    }
    case XTiffSlot::Floats: {
      double v = 0;
      return takeFloats(row, type, count, stored, order, row.slotCount, out, &v);
    }
    case XTiffSlot::Shorts: return takeShorts(row, type, count, stored, order, row.slotCount, out);
    case XTiffSlot::Bytes:
      return row.type == TIFF_ASCII ? takeFixedText(row, type, count, stored, out)
                                    : takeFixedBytes(row, type, count, stored, out);
    case XTiffSlot::OneByte: {
      if (!bytesLike(type)) return wrongType(row, type);
      XTiffTaken t = takenOf(row, count, 1);
      t.integer = stored[0];
      return t;
    }
    case XTiffSlot::Text: {
      if (!bytesLike(type)) return wrongType(row, type);
      std::memcpy(out, stored, count);
      out[count] = '\0';
      XTiffTaken t;
      t.taken = true;
      return t;
    }
    case XTiffSlot::CountedShorts: {
      if (count > 0xFFFF) return tooFew(row, count, 0xFFFF);
      XTiffTaken t = takeShorts(row, type, count, stored, order, count, out);
      t.count = count;
      return t;
    }
    case XTiffSlot::CountedBytes: {
      // Undefined bytes are whatever the camera stored: another type is taken as its bytes.
      const uint64_t bytes = uint64_t(count) * typeWidth(type);
      if (bytes > 0xFFFF)
        return refused(words("%lu bytes for \"%s\" are more than its field holds; tag ignored",
                             static_cast<unsigned long>(bytes), row.name));
      std::memcpy(out, stored, bytes);
      XTiffTaken t;
      t.taken = true;
      t.count = uint32_t(bytes);
      return t;
    }
  }
  return wrongType(row, type);
}
