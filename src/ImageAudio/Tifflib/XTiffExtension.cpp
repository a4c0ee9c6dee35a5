// SPDX-License-Identifier: GPL-2.0-or-later
// The tag extender and the set/get methods that keep the 74 extended values in the
// handle's own record, passing every other tag on to the library's methods.
#include "ImageAudio/Tifflib/XTiffExtension.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ImageAudio/Tifflib/XTiffMessages.h"

namespace {
constexpr const char* kRecordName = "XTIFFDirectory";

TIFFExtendProc _ParentExtender = nullptr;
bool first_time = true;

// Records made while an open wrapper runs: the library frees a handle whose open fails without
// telling the extension, so the wrapper frees these itself then.
thread_local std::vector<XTIFFDirectory*>* gOpening = nullptr;

// The library's form of the table; names must outlive every handle, so it is static.
TIFFFieldInfo* libraryFieldInfo() {
  static TIFFFieldInfo rows[kXTiffTagCount];
  static bool built = false;
  if (!built) {
    for (int i = 0; i < kXTiffTagCount; ++i) {
      const XTiffTagInfo& r = xtiffFieldInfo[i];
      // The library's own directory reader picks from type and count the form in which it
      // hands a value to the set method, and has none for a text of fixed length (it
      // asserts). Described as variable, every text comes as a terminated string, which a
      // fixed-length slot takes up to its length.
      const short count = r.type == TIFF_ASCII ? short(TIFF_VARIABLE) : r.count;
      // libtiff 4 marks every merged field with its one shared custom bit.
      rows[i] = TIFFFieldInfo{r.tag, count, count, r.type, FIELD_CUSTOM, 1,
                              static_cast<unsigned char>(r.passCount ? 1 : 0),
                              const_cast<char*>(r.name)};
    }
    built = true;
  }
  return rows;
}

void markSet(XTIFFDirectory* xd, int row) { xd->xd_set[row / 32] |= 1u << (row % 32); }

int callParentSet(XTIFFDirectory* xd, TIFF* tif, uint32_t tag, ...) {
  va_list ap;
  va_start(ap, tag);
  const int r = xd->xd_parentSet ? xd->xd_parentSet(tif, tag, ap) : 0;
  va_end(ap);
  return r;
}

// libtiff 4 calls a custom field's get method only while the directory's shared custom bit is
// set, and only its own set method sets that bit. Found by experiment: setting a custom tag
// through the parent method and unsetting it again leaves the bit set and no copy behind.
// Copyright serves as that tag because it is ours, so the library never keeps its value.
void markLibraryCustomBit(XTIFFDirectory* xd, TIFF* tif) {
  if (callParentSet(xd, tif, TIFFTAG_COPYRIGHT, "") == 1) TIFFUnsetField(tif, TIFFTAG_COPYRIGHT);
}

void* copyOf(const void* source, size_t bytes) {
  if (source == nullptr || bytes == 0) return nullptr;
  void* copy = _TIFFmalloc(static_cast<tmsize_t>(bytes));
  if (copy != nullptr) std::memcpy(copy, source, bytes);
  return copy;
}

void freeValue(XTiffValue& v, XTiffSlot slot) {
  if (slot == XTiffSlot::Text) {
    if (v.text != nullptr) _TIFFfree(v.text);
    v.text = nullptr;
  } else if (slot == XTiffSlot::CountedShorts || slot == XTiffSlot::CountedBytes) {
    if (v.counted.data != nullptr) _TIFFfree(v.counted.data);
    v.counted.data = nullptr;
  }
}
}  // namespace

int XTIFFRowOfTag(uint32_t tag) {
  for (int i = 0; i < kXTiffTagCount; ++i)
    if (xtiffFieldInfo[i].tag == tag) return i;
  return -1;
}

XTIFFDirectory* XTIFFDirectoryOf(TIFF* tif) {
  return tif ? static_cast<XTIFFDirectory*>(TIFFGetClientInfo(tif, kRecordName)) : nullptr;
}

bool XTIFFFieldIsSet(const XTIFFDirectory* xd, int row) {
  return xd != nullptr && row >= 0 && row < kXTiffTagCount &&
         (xd->xd_set[row / 32] >> (row % 32) & 1u) != 0;
}

void _XTIFFFreeDirectory(XTIFFDirectory* xd) {
  if (xd == nullptr) return;
  for (int i = 0; i < kXTiffTagCount; ++i) freeValue(xd->xd_values[i], xtiffFieldInfo[i].slot);
}

void _XTIFFDefaultDirectory(TIFF* tif) {
  XTIFFDirectory* xd = XTIFFDirectoryOf(tif);
  if (xd == nullptr) {
    xd = static_cast<XTIFFDirectory*>(std::calloc(1, sizeof(XTIFFDirectory)));
    if (xd == nullptr) return;
    TIFFSetClientInfo(tif, xd, kRecordName);
    if (gOpening != nullptr) gOpening->push_back(xd);
  }
  TIFFMergeFieldInfo(tif, libraryFieldInfo(), kXTiffTagCount);
  _XTIFFFreeDirectory(xd);
  std::memset(xd, 0, sizeof *xd);
  TIFFTagMethods* methods = TIFFAccessTagMethods(tif);
  xd->xd_parentSet = methods->vsetfield;
  methods->vsetfield = _XTIFFVSetField;
  xd->xd_parentGet = methods->vgetfield;
  methods->vgetfield = _XTIFFVGetField;
  if (_ParentExtender != nullptr) _ParentExtender(tif);
}

XTIFFOpening::XTIFFOpening() : outer_(gOpening) { gOpening = &made_; }

XTIFFOpening::~XTIFFOpening() { gOpening = outer_; }

TIFF* XTIFFOpening::result(TIFF* tif) {
  if (tif == nullptr) {
    for (XTIFFDirectory* xd : made_) {
      _XTIFFFreeDirectory(xd);
      std::free(xd);
    }
  }
  made_.clear();
  return tif;
}

void XTIFFInitialize() {
  XTIFFEnsureMessagePolicy();
  if (first_time) {
    first_time = false;
    _ParentExtender = TIFFSetTagExtender(_XTIFFDefaultDirectory);
  }
}

int _XTIFFVSetField(TIFF* tif, uint32_t tag, va_list ap) {
  XTIFFDirectory* xd = XTIFFDirectoryOf(tif);
  const int row = XTIFFRowOfTag(tag);
  if (xd == nullptr) return 0;
  if (row < 0) return xd->xd_parentSet ? xd->xd_parentSet(tif, tag, ap) : 0;
  const XTiffTagInfo& info = xtiffFieldInfo[row];
  XTiffValue& v = xd->xd_values[row];
  switch (info.slot) {
    case XTiffSlot::U32:
      v.u32 = va_arg(ap, uint32_t);
      break;
    case XTiffSlot::Offset:
      v.u32 = static_cast<uint32_t>(va_arg(ap, uint64_t));
      break;
    case XTiffSlot::F32:
      v.f32 = static_cast<float>(va_arg(ap, double));
      break;
    case XTiffSlot::U16:
      v.u16 = static_cast<uint16_t>(va_arg(ap, int));
      break;
    case XTiffSlot::U8:
      v.u8 = static_cast<uint8_t>(va_arg(ap, int));
      break;
    case XTiffSlot::Text: {
      const char* text = va_arg(ap, const char*);
      freeValue(v, info.slot);
      if (text != nullptr) v.text = static_cast<char*>(copyOf(text, std::strlen(text) + 1));
      break;
    }
    case XTiffSlot::Bytes: {
      const char* p = va_arg(ap, const char*);
      if (p == nullptr) break;
      // A text may be shorter than its field (the library's reader checks no count), so
      // nothing past its terminator is read.
      const void* end = info.type == TIFF_ASCII ? std::memchr(p, '\0', info.slotCount) : nullptr;
      const size_t n = end ? size_t(static_cast<const char*>(end) - p) : info.slotCount;
      std::memset(v.bytes, 0, info.slotCount);
      std::memcpy(v.bytes, p, n);
      break;
    }
    case XTiffSlot::OneByte:
      v.bytes[0] = static_cast<uint8_t>(va_arg(ap, int));
      break;
    case XTiffSlot::Shorts: {
      const uint16_t* p = va_arg(ap, const uint16_t*);
      if (p != nullptr) std::memcpy(v.shorts, p, info.slotCount * sizeof(uint16_t));
      break;
    }
    case XTiffSlot::Floats: {
      const float* p = va_arg(ap, const float*);
      if (p != nullptr) std::memcpy(v.floats, p, info.slotCount * sizeof(float));
      break;
    }
    case XTiffSlot::CountedShorts:
    case XTiffSlot::CountedBytes: {
      const uint16_t count = static_cast<uint16_t>(va_arg(ap, int));
      const void* p = va_arg(ap, const void*);
      const size_t width = info.slot == XTiffSlot::CountedShorts ? sizeof(uint16_t) : 1;
      freeValue(v, info.slot);
      v.counted.data = copyOf(p, size_t(count) * width);
      v.counted.count = v.counted.data ? count : 0;
      break;
    }
  }
  TIFFTagMethods* methods = TIFFAccessTagMethods(tif);
  if ((xd->xd_flags & kXTiffPrintHooked) == 0) {
    xd->xd_parentPrint = methods->printdir;
    methods->printdir = _XTIFFPrintDirectory;
    xd->xd_flags |= kXTiffPrintHooked;
  }
  markSet(xd, row);
  markLibraryCustomBit(xd, tif);
  return 1;
}

int _XTIFFVGetField(TIFF* tif, uint32_t tag, va_list ap) {
  XTIFFDirectory* xd = XTIFFDirectoryOf(tif);
  const int row = XTIFFRowOfTag(tag);
  if (xd == nullptr) return 0;
  if (row < 0) return xd->xd_parentGet ? xd->xd_parentGet(tif, tag, ap) : 0;
  // The library's shared custom bit says only that some custom field is set.
  if (!XTIFFFieldIsSet(xd, row)) return 0;
  XTiffValue& v = xd->xd_values[row];
  switch (xtiffFieldInfo[row].slot) {
    case XTiffSlot::U32:
    case XTiffSlot::Offset:
      *va_arg(ap, uint32_t*) = v.u32;
      break;
    case XTiffSlot::F32:
      *va_arg(ap, float*) = v.f32;
      break;
    case XTiffSlot::U16:
      *va_arg(ap, uint16_t*) = v.u16;
      break;
    case XTiffSlot::U8:
      *va_arg(ap, uint8_t*) = v.u8;
      break;
    case XTiffSlot::Text:
      *va_arg(ap, char**) = v.text;
      break;
    case XTiffSlot::Bytes:
    case XTiffSlot::OneByte:
      *va_arg(ap, uint8_t**) = v.bytes;
      break;
    case XTiffSlot::Shorts:
      *va_arg(ap, uint16_t**) = v.shorts;
      break;
    case XTiffSlot::Floats:
      *va_arg(ap, float**) = v.floats;
      break;
    case XTiffSlot::CountedShorts:
    case XTiffSlot::CountedBytes:
      *va_arg(ap, uint16_t*) = v.counted.count;
      *va_arg(ap, void**) = v.counted.data;
      break;
  }
  return 1;
}
