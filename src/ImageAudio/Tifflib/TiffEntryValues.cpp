// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding stored TIFF values in the stream's byte order and encoding them in the machine's,
// in the element type the set-field call takes.
#include "ImageAudio/Tifflib/TiffEntryValues.h"

#include <cstring>

namespace tiffentry {
namespace {
// Signed values keep their stored bits; the set-field call takes them as it takes unsigned.
uint32_t storedInteger(const unsigned char* p, uint16_t type, TiffByteOrder order) {
  switch (type) {
    case TIFF_SHORT: case TIFF_SSHORT: return order.get16(p);
    case TIFF_LONG: case TIFF_SLONG: return order.get32(p);
    default: return p[0];
  }
}

double storedReal(const unsigned char* p, uint16_t type, TiffByteOrder order) {
  if (type == TIFF_FLOAT) {
    const uint32_t bits = order.get32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  const uint64_t bits = order.get64(p);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

void putInteger(unsigned char* out, TIFFDataType type, uint32_t u) {
  switch (type) {
    case TIFF_BYTE: case TIFF_SBYTE: *out = uint8_t(u); break;
    case TIFF_SHORT: case TIFF_SSHORT: { const uint16_t v = uint16_t(u); std::memcpy(out, &v, 2); break; }
    case TIFF_LONG: case TIFF_SLONG: std::memcpy(out, &u, 4); break;
    default: break;
  }
}

void putReal(unsigned char* out, TIFFDataType type, double d) {
  if (type == TIFF_FLOAT) {
    const float f = float(d);
    std::memcpy(out, &f, 4);
  } else if (type == TIFF_DOUBLE) {
    std::memcpy(out, &d, 8);
  }
}
}  // namespace

int typeWidth(uint16_t type) {
  switch (type) {
    case TIFF_BYTE: case TIFF_ASCII: case TIFF_SBYTE: case TIFF_UNDEFINED: return 1;
    case TIFF_SHORT: case TIFF_SSHORT: return 2;
    case TIFF_LONG: case TIFF_SLONG: case TIFF_FLOAT: return 4;
    case TIFF_RATIONAL: case TIFF_SRATIONAL: case TIFF_DOUBLE: return 8;
    default: return 0;
  }
}

bool isInteger(uint16_t type) {
  return type == TIFF_BYTE || type == TIFF_SBYTE || type == TIFF_SHORT || type == TIFF_SSHORT ||
         type == TIFF_LONG || type == TIFF_SLONG;
}

Form handedForm(uint16_t storedType, TIFFDataType libraryRow) {
  TIFFDataType elemType = static_cast<TIFFDataType>(storedType);
  if (isInteger(storedType) && isInteger(libraryRow)) elemType = libraryRow;
  const bool rational = storedType == TIFF_RATIONAL || storedType == TIFF_SRATIONAL;
  return Form{elemType, rational ? 4 : typeWidth(elemType), rational,
              storedType == TIFF_ASCII || storedType == TIFF_UNDEFINED};
}

uint32_t convert(uint16_t storedType, uint32_t count, const unsigned char* stored, TiffByteOrder order,
                 const Form& form, Values* out) {
  if (form.bytesLike) {
    std::memcpy(out->elements, stored, count);
    out->elements[count] = '\0';
    return count;
  }
  const int width = typeWidth(storedType);
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned char* p = stored + uint64_t(i) * width;
    unsigned char* element = out->elements + uint64_t(i) * form.elemWidth;
    if (form.rational) {
      const uint32_t num = order.get32(p), den = order.get32(p + 4);
      float f = 1.0f;
      if (den != 0) f = storedType == TIFF_RATIONAL ? float(num) / float(den) : float(int32_t(num)) / float(int32_t(den));
      std::memcpy(element, &f, 4);
      out->scalar = f;
      if (den == 0) return i;
    } else if (isInteger(storedType)) {
      const uint32_t u = storedInteger(p, storedType, order);
      putInteger(element, form.elemType, u);
      out->scalar = u;
    } else {
      const double d = storedReal(p, storedType, order);
      putReal(element, form.elemType, d);
      out->scalar = d;
    }
  }
  return count;
}

int64_t integerAt(uint16_t storedType, const unsigned char* stored, uint32_t i, TiffByteOrder order) {
  const unsigned char* p = stored + uint64_t(i) * typeWidth(storedType);
  switch (storedType) {
    case TIFF_SBYTE: return int8_t(p[0]);
    case TIFF_SHORT: return order.get16(p);
    case TIFF_SSHORT: return int16_t(order.get16(p));
    case TIFF_LONG: return order.get32(p);
    case TIFF_SLONG: return int32_t(order.get32(p));
    default: return p[0];
  }
}

bool fits(uint16_t storedType, uint32_t count, const unsigned char* stored, TiffByteOrder order, TIFFDataType row) {
  int64_t low = 0, high = 0;
  switch (row) {
    case TIFF_BYTE: high = 0xFF; break;
    case TIFF_SBYTE: low = -0x80; high = 0x7F; break;
    case TIFF_SHORT: high = 0xFFFF; break;
    case TIFF_SSHORT: low = -0x8000; high = 0x7FFF; break;
    case TIFF_LONG: high = 0xFFFFFFFF; break;
    case TIFF_SLONG: low = -0x80000000LL; high = 0x7FFFFFFF; break;
    default: return true;
  }
  for (uint32_t i = 0; i < count; ++i) {
    const int64_t v = integerAt(storedType, stored, i, order);
    if (v < low || v > high) return false;
  }
  return true;
}

bool isNumber(uint16_t type) {
  return isInteger(type) || type == TIFF_RATIONAL || type == TIFF_SRATIONAL || type == TIFF_FLOAT ||
         type == TIFF_DOUBLE;
}

bool numberAt(uint16_t storedType, const unsigned char* stored, uint32_t i, TiffByteOrder order, double* value) {
  const unsigned char* p = stored + uint64_t(i) * typeWidth(storedType);
  if (storedType == TIFF_RATIONAL || storedType == TIFF_SRATIONAL) {
    const uint32_t num = order.get32(p), den = order.get32(p + 4);
    if (den == 0) return false;
    *value = storedType == TIFF_RATIONAL ? double(num) / double(den) : double(int32_t(num)) / double(int32_t(den));
    return true;
  }
  if (storedType == TIFF_FLOAT || storedType == TIFF_DOUBLE) {
    *value = storedReal(p, storedType, order);
    return true;
  }
  *value = double(integerAt(storedType, stored, i, order));
  return true;
}

}  // namespace tiffentry
