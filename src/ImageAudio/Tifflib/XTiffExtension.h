// SPDX-License-Identifier: GPL-2.0-or-later
// The EXIF, GPS and Copyright tag extension of the TIFF library: its tag table, the per-handle
// record that keeps the values, the set/get/print methods and the open wrappers.
#pragma once
#include <tiffio.h>

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <vector>

struct FSSpec;

// How a row's value is kept, set and got (see ImageAudio/ExifTags.def).
enum class XTiffSlot : uint8_t {
  U32,            // set: uint32; get: uint32*
  Offset,         // set: uint64 (the library's own form for directory offsets); get: uint32*
  F32,            // set: double; get: float*
  U16,            // set: int (low 16 bits); get: uint16*
  U8,             // set: int (low 8 bits); get: uint8*
  Text,           // set: NUL-terminated text, copied; get: char** (null if never set)
  Bytes,          // set: pointer to slotCount bytes, copied (a text up to its terminator);
                  // get: address of the record's bytes
  OneByte,        // set: int (low 8 bits); get: address of the record's byte
  Shorts,         // set: pointer to slotCount uint16; get: address of the record's values
  Floats,         // set: pointer to slotCount floats; get: address of the record's floats
  CountedShorts,  // set: count (int), pointer to count uint16; get: uint16* count, uint16**
  CountedBytes,   // set: count (int), pointer to count bytes; get: uint16* count, uint8**
};

struct XTiffTagInfo {
  uint32_t tag;
  const char* name;
  TIFFDataType type;
  int16_t count;  // fixed count or TIFF_VARIABLE
  bool passCount;
  XTiffSlot slot;
  uint8_t slotCount;
  const char* printLine;
};

namespace xtiff_table {
// How a row of the tag table names the extension's part: X(type, slot, line), or Lib for a
// tag the library keeps itself.
struct Kept {
  bool extended = false;
  TIFFDataType type = TIFF_NOTYPE;
  XTiffSlot slot = XTiffSlot::U32;
  const char* printLine = nullptr;
};
struct Row {
  uint32_t tag;
  const char* name;
  int count;
  bool passCount;
  int slotCount;
  Kept kept;
};
inline constexpr Row kRows[] = {
#define X(type, slot, line) Kept{true, type, XTiffSlot::slot, line}
#define Lib Kept{}
#define EXIF_NUMBER(member, Type, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  {tag, name, 1, false, 0, ext},
#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  {tag, name, count, false, count, ext},
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  {tag, name, size, false, size, ext},
#define EXIF_STRING(member, setter, getter, name, tag, dir, ext) {tag, name, TIFF_VARIABLE, false, 0, ext},
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, \
                     bufferGetter, name, tag, dir, ext)                                                \
  {tag, name, TIFF_VARIABLE, true, 0, ext},
#include "ImageAudio/ExifTags.def"
#undef X
#undef Lib
};

constexpr int extendedCount() {
  int n = 0;
  for (const Row& r : kRows) n += r.kept.extended ? 1 : 0;
  return n;
}

template <int N>
constexpr std::array<XTiffTagInfo, N> extendedRows() {
  std::array<XTiffTagInfo, N> out{};
  int i = 0;
  for (const Row& r : kRows)
    if (r.kept.extended)
      out[i++] = XTiffTagInfo{r.tag, r.name, r.kept.type, int16_t(r.count), r.passCount, r.kept.slot,
                              uint8_t(r.slotCount), r.kept.printLine};
  return out;
}
}  // namespace xtiff_table

// The extension's rows, in the tag table's order.
inline constexpr auto xtiffFieldInfo = xtiff_table::extendedRows<xtiff_table::extendedCount()>();
inline constexpr int kXTiffTagCount = int(xtiffFieldInfo.size());
static_assert(kXTiffTagCount == 74);

// Row of an extended tag in xtiffFieldInfo, or -1.
int XTIFFRowOfTag(uint32_t tag);

union XTiffValue {
  uint32_t u32;
  float f32;
  uint16_t u16;
  uint8_t u8;
  char* text;
  uint8_t bytes[20];
  uint16_t shorts[2];
  float floats[3];
  struct {
    uint16_t count;
    void* data;
  } counted;
};

// One per handle, emptied at every directory reset.
struct XTIFFDirectory {
  uint32_t xd_flags;  // kXTiffPrintHooked once the print method is ours
  XTiffValue xd_values[kXTiffTagCount];
  uint32_t xd_set[(kXTiffTagCount + 31) / 32];  // one bit per row: set in this directory
  TIFFVSetMethod xd_parentSet;
  TIFFVGetMethod xd_parentGet;
  TIFFPrintMethod xd_parentPrint;
};
inline constexpr uint32_t kXTiffPrintHooked = 1;

// The handle's record, or null when the extension never ran on it.
XTIFFDirectory* XTIFFDirectoryOf(TIFF* tif);
bool XTIFFFieldIsSet(const XTIFFDirectory* xd, int row);

// Open wrappers: install the extension once per process, then open through the library.
TIFF* XTIFFOpen(const char* name, const char* mode);
TIFF* XTIFFFdOpen(int fd, const char* name, const char* mode);
TIFF* XTIFFAppleOpen(const FSSpec* spec, const char* mode);
TIFF* XTIFFClientOpen(const char* name, const char* mode, thandle_t clientdata,
                      TIFFReadWriteProc readProc, TIFFReadWriteProc writeProc,
                      TIFFSeekProc seekProc, TIFFCloseProc closeProc, TIFFSizeProc sizeProc,
                      TIFFMapFileProc mapProc, TIFFUnmapFileProc unmapProc);
TIFF* XTIFFClientOpenNoRead(const char* name, const char* mode, thandle_t clientdata,
                            TIFFReadWriteProc readProc, TIFFReadWriteProc writeProc,
                            TIFFSeekProc seekProc, TIFFCloseProc closeProc,
                            TIFFSizeProc sizeProc, TIFFMapFileProc mapProc,
                            TIFFUnmapFileProc unmapProc);
// Closes the handle (and its client stream) and frees its record; null does nothing.
void XTIFFClose(TIFF* tif);

// Installs the extender now if no open wrapper has yet.
void XTIFFInitialize();

// Held by an open wrapper around the library's open: when the open fails, the records the
// extender made for the handle the library freed are freed too.
class XTIFFOpening {
 public:
  XTIFFOpening();
  ~XTIFFOpening();
  XTIFFOpening(const XTIFFOpening&) = delete;
  XTIFFOpening& operator=(const XTIFFOpening&) = delete;
  TIFF* result(TIFF* tif);

 private:
  std::vector<XTIFFDirectory*> made_;
  std::vector<XTIFFDirectory*>* outer_;
};

// Methods installed on every handle's directory.
int _XTIFFVSetField(TIFF* tif, uint32_t tag, va_list ap);
int _XTIFFVGetField(TIFF* tif, uint32_t tag, va_list ap);
void _XTIFFPrintDirectory(TIFF* tif, FILE* fd, long flags);
void _XTIFFDefaultDirectory(TIFF* tif);
void _XTIFFFreeDirectory(XTIFFDirectory* xd);
