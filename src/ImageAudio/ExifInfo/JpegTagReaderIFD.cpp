// SPDX-License-Identifier: GPL-2.0-or-later
// Copying the primary, EXIF and GPS directory values of an open TIFF handle into the record,
// one row of the tag table per tag: the form the library delivers it in and the record's setters.
#include <tiffio.h>

#include <bit>
#include <cstring>
#include <iterator>
#include <type_traits>
#include <variant>

#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"

namespace {
using R = ExImageInfo;

// A number the library delivers in the setter's own type (a signed offset comes as uint32):
// the setter and the presence flag it raises.
template <typename T>
struct Number {
  using Delivered = std::conditional_t<std::is_same_v<T, SInt32>, uint32_t, T>;
  void (R::*set)(T);
  void (R::*present)(bool);
};
// A string the record copies; its null pointer says absent, so it has no flag.
struct String {
  void (R::*set)(const char*);
};
// A fixed run of values (or a text of fixed size) at a pointer.
struct Pointer {
  void (*set)(R&, const void*);
  void (R::*present)(bool);
};
// A count and a pointer to that many values.
struct Counted {
  void (R::*setCount)(UInt16);
  void (*set)(R&, const void*);
};

// The directory a row's tag is copied from; PrimaryApart ones have their own code.
enum class Dir : UInt8 { Primary, PrimaryApart, Exif, Gps };

// One tag and the one form the library delivers it in.
struct TagRow {
  Dir dir;
  UInt32 tag;
  std::variant<Number<UInt32>, Number<SInt32>, Number<UInt16>, Number<UInt8>, Number<float>, String, Pointer,
               Counted>
      form;
};

template <typename T, void (R::*Setter)(const T*)>
void viaPointer(R& r, const void* p) {
  (r.*Setter)(static_cast<const T*>(p));
}

template <typename T>
TagRow num(Dir d, UInt32 tag, void (R::*set)(T), void (R::*present)(bool)) { return {d, tag, Number<T>{set, present}}; }
TagRow text(Dir d, UInt32 tag, void (R::*set)(const char*)) { return {d, tag, String{set}}; }
TagRow ptr(Dir d, UInt32 tag, void (*set)(R&, const void*), void (R::*present)(bool)) {
  return {d, tag, Pointer{set, present}};
}
TagRow counted(Dir d, UInt32 tag, void (R::*setCount)(UInt16), void (*set)(R&, const void*)) {
  return {d, tag, Counted{setCount, set}};
}

// The record's texts of fixed size take a terminated copy of the library's fixed field.
template <void (R::*Setter)(const char*), int N>
void viaFixedText(R& r, const void* p) {
  char copy[N + 1] = {};
  std::memcpy(copy, p, N);
  (r.*Setter)(copy);
}

// Each tag on its own: an unset tag or a null pointer leaves the record's fields alone.
template <typename T>
void copyTag(TIFF* tif, UInt32 tag, R& record, const Number<T>& to) {
  typename Number<T>::Delivered v = 0;
  if (TIFFGetField(tif, tag, &v) != 1) return;
  (record.*to.present)(true);
  (record.*to.set)(T(v));
}
void copyTag(TIFF* tif, UInt32 tag, R& record, const String& to) {
  char* v = nullptr;
  if (TIFFGetField(tif, tag, &v) == 1 && v != nullptr) (record.*to.set)(v);
}
void copyTag(TIFF* tif, UInt32 tag, R& record, const Pointer& to) {
  void* v = nullptr;
  if (TIFFGetField(tif, tag, &v) != 1 || v == nullptr) return;
  (record.*to.present)(true);
  to.set(record, v);
}
void copyTag(TIFF* tif, UInt32 tag, R& record, const Counted& to) {
  uint16_t count = 0;
  void* v = nullptr;
  if (TIFFGetField(tif, tag, &count, &v) != 1 || v == nullptr) return;
  (record.*to.setCount)(count);
  to.set(record, v);
}

void copyTags(TIFF* tif, R& record, const TagRow* rows, size_t n, Dir dir) {
  for (size_t i = 0; i < n; ++i)
    if (rows[i].dir == dir) std::visit([&](const auto& to) { copyTag(tif, rows[i].tag, record, to); }, rows[i].form);
}

// An EXIF stream's primary directory names neither depth nor samples, yet may carry transfer
// tables: EXIF writes them as three tables of 2^depth entries, or one, so their count gives
// the layout.
bool exifTransferLayout(TIFF* tif, uint32_t count, TIFFPrivateTransferLayout* layout) {
  uint16_t given = 0;
  if (TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &given) == 1 || TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &given) == 1)
    return false;
  const uint32_t n = count % 3 == 0 ? count / 3 : count;
  if (n < 2 || n > 65536 || !std::has_single_bit(n)) return false;
  layout->bitsPerSample = uint16_t(std::countr_zero(n));
  layout->tables = count == n ? 1 : 3;
  return true;
}

// Every directory of an EXIF stream is read by the EXIF rule for transfer tables.
void readExifDirectory(TIFF* tif, UInt32 offset) { TIFFReadPrivateDataSubDirectory(tif, offset, exifTransferLayout); }

// The library holds one table of 2^BitsPerSample entries per colour channel (one, or three);
// the record holds three of 256. Each table is resampled to 256 entries by nearest index, and
// a single table serves all three channels.
void copyTransferFunction(TIFF* tif, R& record) {
  uint16_t* tables[3] = {nullptr, nullptr, nullptr};
  if (TIFFGetField(tif, TIFFTAG_TRANSFERFUNCTION, &tables[0], &tables[1], &tables[2]) != 1 ||
      tables[0] == nullptr)
    return;
  uint16_t bps = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
  if (bps == 0 || bps > 16) return;
  const uint32_t size = uint32_t(1) << bps;
  UInt16 out[768];
  for (int c = 0; c < 3; ++c) {
    const uint16_t* table = tables[c] ? tables[c] : tables[0];
    for (uint32_t i = 0; i < 256; ++i) out[c * 256 + i] = table[i * (size - 1) / 255];
  }
  record.setTransferFunctionPresent(true);
  record.setTransferFunction(out);
}
}  // namespace

void JpegTagReader::readIFDs(TIFF* tif, UInt32 sourceKind) {
  if (tif == nullptr || mDataStore == nullptr) return;
  if (sourceKind == FOUR_CHAR_CODE("TIFF")) {
    // A handle that has read no directory starts at the header's first one.
    if (TIFFCurrentDirectory(tif) == tdir_t(-1))
      TIFFSetSubDirectory(tif, TIFFPrivateFirstDirectoryOffset(tif));
    else
      TIFFReadDirectory(tif);
  }
  else
    readExifDirectory(tif, TIFFPrivateFirstDirectoryOffset(tif));
  readMainTags(tif);
  // The record may still hold an earlier segment's offsets: follow only those this
  // directory names, as readMainTags stored them.
  uint32_t named = 0;
  const bool exifNamed = TIFFGetField(tif, TIFFTAG_EXIFIFD, &named) == 1;
  const bool gpsNamed = TIFFGetField(tif, TIFFTAG_GPSIFD, &named) == 1;
  if (exifNamed) {
    readExifDirectory(tif, UInt32(mDataStore->getExifIFD()));
    readExifTags(tif);
  }
  if (gpsNamed) {
    readExifDirectory(tif, UInt32(mDataStore->getGPSIFD()));
    readGPSTags(tif);
  }
}

// The copy table is made from the tag table here, where the record's GPS setters are open to
// the reader. Orientation values outside 1 to 8 are refused by the library, so they never reach
// the record; TransferFunction is read apart, as the library delivers up to three tables.
void JpegTagReader::copyDirectory(TIFF* tif, UInt8 directory) {
  static const TagRow kTags[] = {
#define EXIF_NUMBER(member, Type, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  num(Dir::dir, tag, &R::setter, &R::flagSetter),
#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  ptr(Dir::dir, tag, viaPointer<ElemType, &R::setter>, &R::flagSetter),
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, name, tag, dir, ext) \
  ptr(Dir::dir, tag, viaFixedText<&R::setter, size>, &R::flagSetter),
#define EXIF_STRING(member, setter, getter, name, tag, dir, ext) text(Dir::dir, tag, &R::setter),
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, \
                     bufferGetter, name, tag, dir, ext)                                                \
  counted(Dir::dir, tag, &R::countSetter, viaPointer<ElemType, &R::bufferSetter>),
#include "ImageAudio/ExifTags.def"
  };
  copyTags(tif, *mDataStore, kTags, std::size(kTags), Dir(directory));
}

void JpegTagReader::readMainTags(TIFF* tif) {
  if (tif == nullptr || mDataStore == nullptr) return;
  copyDirectory(tif, UInt8(Dir::Primary));
  copyTransferFunction(tif, *mDataStore);
}

void JpegTagReader::readExifTags(TIFF* tif) {
  if (tif == nullptr || mDataStore == nullptr) return;
  copyDirectory(tif, UInt8(Dir::Exif));
}

void JpegTagReader::readGPSTags(TIFF* tif) {
  if (tif == nullptr || mDataStore == nullptr) return;
  copyDirectory(tif, UInt8(Dir::Gps));
}

void JpegTagReader::readFirstDirectoryAs(TIFF* tif, FirstDirectory first) {
  if (tif == nullptr || mDataStore == nullptr || first == FirstDirectory::primary) return;
  readExifDirectory(tif, TIFFPrivateFirstDirectoryOffset(tif));
  copyDirectory(tif, UInt8(first == FirstDirectory::exif ? Dir::Exif : Dir::Gps));
}
