// The EXIF, GPS and Copyright tag extension of the TIFF library: its tag table, the per-handle
// record that keeps the values, the set/get/print methods and the open wrappers.
#pragma once
#include <vector>
#include <tiffio.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>

struct FSSpec;

// How a row's value is kept, set and got (see XTiffTags.def).
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

inline constexpr XTiffTagInfo xtiffFieldInfo[] = {
#define XTIFF_TAG(tag, name, type, count, passCount, slot, slotCount, line) \
  {tag, name, type, count, passCount != 0, XTiffSlot::slot, slotCount, line},
#include "ImageAudio/Tifflib/XTiffTags.def"
};
inline constexpr int kXTiffTagCount = int(sizeof xtiffFieldInfo / sizeof xtiffFieldInfo[0]);
static_assert(kXTiffTagCount == 73);

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
