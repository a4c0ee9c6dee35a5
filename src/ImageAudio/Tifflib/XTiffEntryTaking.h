// SPDX-License-Identifier: GPL-2.0-or-later
// What one of the extension's rows takes from a directory entry, read as the TIFF library reads
// its own tags: compatible types, the first of several values where one is wanted, no value
// for a rational with a zero denominator.
#pragma once
#include <cstdint>
#include <string>

#include "ImageAudio/Tifflib/TiffByteOrder.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"

struct XTiffTaken {
  bool taken = false;
  // Why the entry was refused ("...; tag ignored"), or what was left out of a taken one.
  std::string note;
  uint32_t integer = 0;  // U32, Offset, U16, U8 and OneByte slots
  double real = 0;       // F32 slots
  uint32_t count = 0;    // counted slots: elements placed in `out`
};

// Takes `count` values of `type` stored at `stored` (count * the type's width bytes) for the
// row. Values that go by pointer are placed in `out`, which has room for count * 8 + 4 bytes:
// a terminated text, bytes, or the row's shorts or floats.
XTiffTaken XTIFFTakeEntry(const XTiffTagInfo& row, uint16_t type, uint32_t count, const unsigned char* stored,
                          TiffByteOrder order, unsigned char* out);
