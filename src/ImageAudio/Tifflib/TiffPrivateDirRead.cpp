// SPDX-License-Identifier: GPL-2.0-or-later
// Reading one directory at any offset into the handle's current directory: each entry is
// checked against the field list, fetched through the client procedures and handed to the
// library's set-field call. Nothing outside the stream is ever touched.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "ImageAudio/Tifflib/TiffByteOrder.h"
#include "ImageAudio/Tifflib/TiffEntryValues.h"
#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"
#include "ImageAudio/Tifflib/XTiffEntryTaking.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"

namespace {
using tiffentry::Form;
using tiffentry::isInteger;
using tiffentry::typeWidth;
using tiffentry::Values;

struct Entry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  unsigned char value[4];  // as stored: left-justified, in the stream's byte order
};

// Where an entry's value goes and in which form.
struct Target {
  const char* name;
  TIFFDataType rowType;
  int readCount;  // >= 0 fixed, TIFF_SPP per sample, other negatives variable
  bool passCount;
  int xrow;  // row of the extension, -1 for the library's own fields
};

// Room for one entry's bytes: in place for the few bytes most values take, on the heap for
// larger ones.
class Room {
 public:
  Room() = default;
  Room(const Room&) = delete;
  Room& operator=(const Room&) = delete;
  ~Room() { release(); }
  // False when size bytes cannot be had.
  bool reserve(uint64_t size) {
    release();
    if (size <= sizeof inPlace_) return true;
    void* p = size <= uint64_t(INT32_MAX) ? std::malloc(size) : nullptr;
    if (p == nullptr) return false;
    data_ = static_cast<unsigned char*>(p);
    return true;
  }
  unsigned char* data() { return data_; }

 private:
  void release() {
    if (data_ != inPlace_) std::free(data_);
    data_ = inPlace_;
  }
  alignas(8) unsigned char inPlace_[32];
  unsigned char* data_ = inPlace_;
};

class DirectoryReader {
 public:
  DirectoryReader(TIFF* tif, TIFFPrivateTransferRule transferRule)
      : tif_(tif),
        h_(TIFFClientdata(tif)),
        read_(TIFFGetReadProc(tif)),
        seek_(TIFFGetSeekProc(tif)),
        order_(TiffByteOrder::of(tif)),
        module_(TIFFFileName(tif)),
        transferRule_(transferRule) {
    const toff_t size = TIFFGetSizeProc(tif)(h_);
    streamSize_ = size == static_cast<toff_t>(-1) ? 0 : size;
  }

  int read(uint32_t offset);

 private:
  bool reserve(Room& room, uint64_t size, const char* what) {
    if (room.reserve(size)) return true;
    TIFFErrorExt(h_, module_, "No space %s", what);
    return false;
  }
  void warnIncorrectCount(const Target& t, uint64_t count, uint64_t expected) {
    TIFFWarningExt(h_, module_, "incorrect count for field \"%s\" (%lu, expecting %lu); tag ignored", t.name,
                   static_cast<unsigned long>(count), static_cast<unsigned long>(expected));
  }
  bool readAt(uint64_t offset, void* destination, uint64_t size) {
    if (offset + size > streamSize_ || offset + size < offset) return false;
    if (seek_(h_, offset, SEEK_SET) != offset) return false;
    return read_(h_, destination, static_cast<tmsize_t>(size)) == static_cast<tmsize_t>(size);
  }
  bool findTarget(const Entry& e, Target* t);
  void takeExtended(const Entry& e, const Target& t);
  bool typeAccepted(const Target& t, uint16_t type) const;
  void handEntry(const Entry& e, const Target& t, uint32_t count);
  const unsigned char* fetch(const Entry& e, const Target& t, const Form& form, Room& room);
  void handOver(const Entry& e, const Target& t, uint32_t count, const Form& form, const Values& v);
  int setLibraryArray(const Entry& e, const Target& t, uint32_t count, const Values& v, TIFFDataType elemType);
  int setTransferTables(const Entry& e, const Target& t, const uint16_t* values);
  // The library sizes the transfer tables by the depth and counts them by the colour channels
  // as they are when the tables are set, but delivers them by those of the moment.
  struct Shape {
    uint16_t depth;
    bool threeTables;
    bool operator==(const Shape&) const = default;
  };
  Shape transferShape();
  void dropReshapedTransfer();

  TIFF* tif_;
  thandle_t h_;
  TIFFReadWriteProc read_;
  TIFFSeekProc seek_;
  TiffByteOrder order_;
  const char* module_;
  TIFFPrivateTransferRule transferRule_;
  uint64_t streamSize_ = 0;
  std::optional<Shape> transferSetFor_;  // while this directory's tables are set
};

DirectoryReader::Shape DirectoryReader::transferShape() {
  uint16_t bps = 1, spp = 1, extras = 0;
  uint16_t* extraKinds = nullptr;
  TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(tif_, TIFFTAG_EXTRASAMPLES, &extras, &extraKinds);
  return Shape{bps, int(spp) - int(extras) > 1};
}

// An entry after the tables that changes the depth or the channels leaves tables the
// directory no longer describes, and a reader would index them past their end.
void DirectoryReader::dropReshapedTransfer() {
  if (!transferSetFor_ || transferShape() == *transferSetFor_) return;
  TIFFWarningExt(h_, module_, "\"TransferFunction\" does not fit the depth or samples that follow it; tag ignored");
  TIFFUnsetField(tif_, TIFFTAG_TRANSFERFUNCTION);
  transferSetFor_.reset();
}

bool DirectoryReader::findTarget(const Entry& e, Target* t) {
  const int xrow = XTIFFRowOfTag(e.tag);
  if (xrow >= 0 && XTIFFDirectoryOf(tif_) != nullptr) {
    const XTiffTagInfo& r = xtiffFieldInfo[xrow];
    *t = Target{r.name, r.type, r.count, r.passCount, xrow};
    return true;
  }
  const TIFFField* fip = TIFFFindField(tif_, e.tag, TIFF_ANY);
  if (fip == nullptr || xrow >= 0) return false;
  const TIFFField* exact = TIFFFindField(tif_, e.tag, static_cast<TIFFDataType>(e.type));
  if (exact != nullptr) fip = exact;
  *t = Target{TIFFFieldName(fip), TIFFFieldDataType(fip), TIFFFieldReadCount(fip),
              TIFFFieldPassCount(fip) != 0, -1};
  return true;
}

bool DirectoryReader::typeAccepted(const Target& t, uint16_t type) const {
  if (t.rowType == type || t.rowType == TIFF_NOTYPE) return true;
  // As the library reads its own tags: an integer row takes any integer type whose values fit
  // (checked as they are converted), a rational row either kind of rational.
  if (isInteger(t.rowType)) return isInteger(type);
  const auto rational = [](uint16_t k) { return k == TIFF_RATIONAL || k == TIFF_SRATIONAL; };
  return rational(t.rowType) && rational(type);
}

// Hands one checked entry of the library's own fields to the set-field call: fetch, convert,
// hand over `count` of its values. An entry that cannot be taken is reported and skipped; the
// directory reads on.
void DirectoryReader::handEntry(const Entry& e, const Target& t, uint32_t count) {
  const Form form = tiffentry::handedForm(e.type, t.rowType);
  Room stored, handed;
  const unsigned char* bytes = fetch(e, t, form, stored);
  if (bytes == nullptr) return;
  if (!reserve(handed, uint64_t(count) * form.elemWidth + 1, "to fetch tag value")) return;
  Values v{handed.data()};
  if (const uint32_t at = tiffentry::convert(e.type, count, bytes, order_, form, &v); at < count) {
    // A rational with a zero denominator has no value, and an array holding one is no position.
    TIFFWarningExt(h_, module_, "%s: Rational with zero denominator (num = %lu); tag ignored", t.name,
                 static_cast<unsigned long>(order_.get32(bytes + uint64_t(at) * 8)));
    return;
  }
  if (isInteger(e.type) && isInteger(t.rowType) && !tiffentry::fits(e.type, count, bytes, order_, t.rowType)) {
    TIFFWarningExt(h_, module_, "value out of range for \"%s\"; tag ignored", t.name);
    return;
  }
  handOver(e, t, count, form, v);
}

// An entry for one of the extension's rows, taken as the library takes its own tags.
void DirectoryReader::takeExtended(const Entry& e, const Target& t) {
  const XTiffTagInfo& row = xtiffFieldInfo[t.xrow];
  const Form form = tiffentry::handedForm(e.type, TIFF_NOTYPE);
  Room stored, handed;
  const unsigned char* bytes = fetch(e, t, form, stored);
  if (bytes == nullptr) return;
  if (!reserve(handed, uint64_t(e.count) * 8 + 4, "to fetch tag value")) return;
  const XTiffTaken taken = XTIFFTakeEntry(row, e.type, e.count, bytes, order_, handed.data());
  if (!taken.note.empty()) TIFFWarningExt(h_, module_, "%s", taken.note.c_str());
  if (!taken.taken) return;
  switch (row.slot) {
    case XTiffSlot::U32: TIFFSetField(tif_, e.tag, taken.integer); break;
    case XTiffSlot::Offset: TIFFSetField(tif_, e.tag, static_cast<uint64_t>(taken.integer)); break;
    case XTiffSlot::U16:
    case XTiffSlot::U8:
    case XTiffSlot::OneByte: TIFFSetField(tif_, e.tag, int(taken.integer)); break;
    case XTiffSlot::F32: TIFFSetField(tif_, e.tag, taken.real); break;
    case XTiffSlot::CountedShorts:
    case XTiffSlot::CountedBytes: TIFFSetField(tif_, e.tag, int(taken.count), handed.data()); break;
    default: TIFFSetField(tif_, e.tag, handed.data()); break;
  }
}

// The entry's stored bytes: its own value field when they fit there, else read from the
// stream into room. Null when they cannot be had (reported).
const unsigned char* DirectoryReader::fetch(const Entry& e, const Target& t, const Form& form, Room& room) {
  const uint64_t size = uint64_t(e.count) * typeWidth(e.type);
  if (size <= 4) return e.value;
  // A count the stream cannot hold is refused before any room is made for it.
  if (size <= streamSize_) {
    if (!reserve(room, size, form.rational && e.count > 1 ? "to fetch array of rationals" : "to fetch tag value"))
      return nullptr;
    if (readAt(order_.get32(e.value), room.data(), size)) return room.data();
  }
  TIFFErrorExt(h_, module_, "Error fetching data for field \"%s\"", t.name);
  return nullptr;
}

// The set-field call in the form the library's field documents for `count` values.
void DirectoryReader::handOver(const Entry& e, const Target& t, uint32_t count, const Form& form, const Values& v) {
  // The library refuses values it thinks bad (and says so); the directory reads on.
  if (t.passCount) TIFFSetField(tif_, e.tag, count, v.elements);
  else if (form.bytesLike) TIFFSetField(tif_, e.tag, v.elements);
  // A field takes a plain value only when it holds one value; the others (the transfer
  // tables, the colour map) take pointers even for a one-element entry.
  else if (count == 1 && (t.readCount == 1 || t.readCount == TIFF_SPP)) {
    if (isInteger(e.type) && isInteger(t.rowType)) TIFFSetField(tif_, e.tag, static_cast<uint32_t>(v.scalar));
    else TIFFSetField(tif_, e.tag, v.scalar);
  } else {
    setLibraryArray(e, t, count, v, form.elemType);
  }
}

// Arrays of the library's own fields, in the forms its set-field call documents.
int DirectoryReader::setLibraryArray(const Entry& e, const Target& t, uint32_t count, const Values& v,
                                     TIFFDataType elemType) {
  uint16_t first = 0, second = 0;
  if (elemType == TIFF_SHORT) {
    std::memcpy(&first, v.elements, 2);
    if (count > 1) std::memcpy(&second, v.elements + 2, 2);
  }
  switch (e.tag) {
    case TIFFTAG_PAGENUMBER:
    case TIFFTAG_HALFTONEHINTS:
    case TIFFTAG_DOTRANGE:
    case TIFFTAG_YCBCRSUBSAMPLING:  // two values, not a pointer
      if (elemType == TIFF_SHORT) TIFFSetField(tif_, e.tag, uint32_t(first), uint32_t(second));
      return 1;
    case TIFFTAG_BITSPERSAMPLE:
    case TIFFTAG_SAMPLEFORMAT:
    case TIFFTAG_MINSAMPLEVALUE:
    case TIFFTAG_MAXSAMPLEVALUE:  // one value per sample, kept once
      if (elemType == TIFF_SHORT) TIFFSetField(tif_, e.tag, uint32_t(first));
      return 1;
    case TIFFTAG_TRANSFERFUNCTION:
      if (elemType == TIFF_SHORT) return setTransferTables(e, t, reinterpret_cast<const uint16_t*>(v.elements));
      return 1;
    default:
      // Fixed-count arrays go by pointer; other variable ones have no set-field form here.
      if (t.readCount > 1) TIFFSetField(tif_, e.tag, v.elements);
      return 1;
  }
}

// One table of 2^depth entries per colour channel (one, or three), by the depth and channels
// named so far; when the count fits neither, the format's rule may name them from the count.
int DirectoryReader::setTransferTables(const Entry& e, const Target& t, const uint16_t* values) {
  const Shape shape = transferShape();
  const uint32_t channels = shape.threeTables ? 3 : 1;
  uint64_t size = shape.depth <= 16 ? uint64_t(1) << shape.depth : 0;
  uint32_t tables = 0;
  if (size != 0 && e.count == size * channels) tables = channels;
  else if (size != 0 && e.count == size) tables = 1;
  TIFFPrivateTransferLayout layout{};
  if (tables == 0 && transferRule_ != nullptr && transferRule_(tif_, e.count, &layout) &&
      (layout.tables == 1 || layout.tables == 3) && layout.bitsPerSample >= 1 && layout.bitsPerSample <= 16 &&
      uint64_t(e.count) == uint64_t(layout.tables) << layout.bitsPerSample) {
    TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, uint32_t(layout.bitsPerSample));
    if (layout.tables == 3) TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, uint32_t(3));
    tables = layout.tables;
    size = uint64_t(1) << layout.bitsPerSample;
  } else if (tables == 0) {
    warnIncorrectCount(t, e.count, size * channels);
    return 1;
  }
  const uint16_t* t0 = values;
  const uint16_t* t1 = tables == 3 ? values + size : values;
  const uint16_t* t2 = tables == 3 ? values + 2 * size : values;
  if (TIFFSetField(tif_, e.tag, t0, t1, t2) == 1) transferSetFor_ = transferShape();
  return 1;
}

int DirectoryReader::read(uint32_t offset) {
  if (seek_(h_, offset, SEEK_SET) != offset) {
    TIFFErrorExt(h_, module_, "Seek error accessing TIFF private subdirectory");
    return 0;
  }
  unsigned char countBytes[2];
  if (read_(h_, countBytes, 2) != 2) {
    TIFFErrorExt(h_, module_, "Can not read TIFF private subdirectory count");
    return 0;
  }
  const uint16_t n = order_.get16(countBytes);
  Room entries;
  if (!reserve(entries, uint64_t(n) * 12, "to read TIFF private subdirectory")) return 0;
  if (n > 0 && read_(h_, entries.data(), tmsize_t(n) * 12) != tmsize_t(n) * 12) {
    TIFFErrorExt(h_, module_, "Can not read TIFF private subdirectory");
    return 0;
  }

  TIFFPrivateResetDirectory(tif_);

  bool warnedOrder = false;
  bool havePosition = false;  // the search restarts from the beginning when false
  uint32_t positionTag = 0;
  for (uint16_t i = 0; i < n; ++i) {
    const unsigned char* raw = entries.data() + size_t(i) * 12;
    Entry e{order_.get16(raw), order_.get16(raw + 2), order_.get32(raw + 4), {raw[8], raw[9], raw[10], raw[11]}};
    if (havePosition && e.tag < positionTag && !warnedOrder) {
      TIFFWarningExt(h_, module_, "invalid TIFF private subdirectory; tags are not sorted in ascending order");
      warnedOrder = true;
    }
    Target t;
    if (typeWidth(e.type) == 0) {
      TIFFWarningExt(h_, module_, "unknown data type %d for tag %d in private subdirectory ignored", e.type, e.tag);
      continue;
    }
    if (!findTarget(e, &t)) {
      TIFFWarningExt(h_, module_, "unknown field with tag %d (0x%x) in private subdirectory ignored",
                     e.tag, e.tag);
      havePosition = false;
      continue;
    }
    havePosition = true;
    positionTag = e.tag;
    if (e.count == 0) {
      // An empty value is refused like any wrong count; the entries after it still count.
      warnIncorrectCount(t, 0, 1);
      continue;
    }
    if (t.xrow >= 0) {
      takeExtended(e, t);
      continue;
    }
    if (!typeAccepted(t, e.type)) {
      TIFFWarningExt(h_, module_, "wrong data type %d for \"%s\"; tag ignored", e.type, t.name);
      continue;
    }
    uint32_t used = e.count;
    if (t.readCount >= 0 || t.readCount == TIFF_SPP) {
      uint32_t expected = static_cast<uint32_t>(t.readCount);
      if (t.readCount == TIFF_SPP) {
        uint16_t spp = 1;
        TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &spp);
        expected = spp;
      }
      // Of several values where one is wanted, the first is taken, as the library does.
      if (e.count > expected && expected == 1) {
        TIFFWarningExt(h_, module_, "incorrect count for field \"%s\" (%lu, expecting 1); the first taken", t.name,
                       static_cast<unsigned long>(e.count));
      } else if (e.count != expected) {
        warnIncorrectCount(t, e.count, expected);
        continue;
      }
      used = std::min(e.count, expected);
    }
    handEntry(e, t, used);
    dropReshapedTransfer();
  }
  return 1;
}
}  // namespace

void TIFFPrivateResetDirectory(TIFF* tif) {
  // The library lets a codec free its state only when Compression changes (or at close): a
  // directory freed under it would leave that state behind. Naming the scheme that keeps no
  // state lets the codec clean up first.
  uint16_t scheme = COMPRESSION_NONE;
  if (TIFFGetField(tif, TIFFTAG_COMPRESSION, &scheme) == 1 && scheme != COMPRESSION_NONE)
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFFreeDirectory(tif);
  TIFFCreateDirectory(tif);
}

int TIFFReadPrivateDataSubDirectory(TIFF* tif, uint32_t offset, TIFFPrivateTransferRule transferRule) {
  if (tif == nullptr || offset == 0) return 0;
  return DirectoryReader(tif, transferRule).read(offset);
}
