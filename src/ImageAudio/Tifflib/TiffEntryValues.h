// SPDX-License-Identifier: GPL-2.0-or-later
// One directory entry's values: how wide each stored type is, and the stored values turned
// into the form the library's set-field call takes them in.
#pragma once
#include <tiffio.h>

#include <cstdint>

#include "ImageAudio/Tifflib/TiffByteOrder.h"

namespace tiffentry {

// Bytes one stored value of the type takes; 0 for a type a classic TIFF stream cannot hold.
int typeWidth(uint16_t type);
bool isInteger(uint16_t type);

// The form values are handed over in: the stored type's own, except that an integer row of the
// library's (libraryRow, TIFF_NOTYPE for none) takes its own width and rationals go as
// floats. ASCII and UNDEFINED values go as the bytes they are, with a terminator, as the
// library's own reader hands them.
struct Form {
  TIFFDataType elemType;
  int elemWidth;
  bool rational;
  bool bytesLike;
};
Form handedForm(uint16_t storedType, TIFFDataType libraryRow);

// Values in the handed form, and the last of them as a number: for a single value, the value.
struct Values {
  unsigned char* elements;  // room for count * elemWidth bytes, and one more
  double scalar = 0;
};

// Converts count values stored at `stored` (count * typeWidth bytes). Returns count, or the
// index of the first rational with a zero denominator, which is converted as 1.
uint32_t convert(uint16_t storedType, uint32_t count, const unsigned char* stored, TiffByteOrder order,
                 const Form& form, Values* out);

// The i-th of the values stored at `stored`, read by the stored type: an integer type's value
// (signed types keep their sign), or any number type's value; numberAt is false for a rational
// whose denominator is zero, which has no value.
int64_t integerAt(uint16_t storedType, const unsigned char* stored, uint32_t i, TiffByteOrder order);
bool numberAt(uint16_t storedType, const unsigned char* stored, uint32_t i, TiffByteOrder order, double* value);
bool isNumber(uint16_t type);
// Whether every one of count stored integers fits the integer type `row`.
bool fits(uint16_t storedType, uint32_t count, const unsigned char* stored, TiffByteOrder order, TIFFDataType row);

}  // namespace tiffentry
