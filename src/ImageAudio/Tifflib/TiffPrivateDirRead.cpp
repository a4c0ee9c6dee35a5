// Reading one directory at any offset into the handle's current directory: each entry is
// checked against the field list, fetched through the client procedures and handed to the
// library's set-field call. Nothing outside the stream is ever touched.
#include <cstdlib>
#include <cstring>
#include <optional>

#include "ImageAudio/Tifflib/TiffByteOrder.h"
#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"

namespace {
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

// Owns a malloc'd block for the length of one entry.
struct Block {
  void* p = nullptr;
  ~Block() { std::free(p); }
};

class DirectoryReader {
 public:
  explicit DirectoryReader(TIFF* tif)
      : tif_(tif),
        h_(TIFFClientdata(tif)),
        read_(TIFFGetReadProc(tif)),
        seek_(TIFFGetSeekProc(tif)),
        order_(TiffByteOrder::of(tif)),
        module_(TIFFFileName(tif)) {
    const toff_t size = TIFFGetSizeProc(tif)(h_);
    streamSize_ = size == static_cast<toff_t>(-1) ? 0 : size;
  }

  int read(uint32_t offset);

 private:
  void* checkMalloc(uint64_t size, const char* what) {
    void* p = size <= uint64_t(INT32_MAX) ? std::malloc(size ? size : 1) : nullptr;
    if (p == nullptr) TIFFErrorExt(h_, module_, "No space %s", what);
    return p;
  }
  bool readAt(uint64_t offset, void* destination, uint64_t size) {
    if (offset + size > streamSize_ || offset + size < offset) return false;
    if (seek_(h_, offset, SEEK_SET) != offset) return false;
    return read_(h_, destination, static_cast<tmsize_t>(size)) == static_cast<tmsize_t>(size);
  }
  // The entry's bytes, from its value field or from its offset.
  bool entryBytes(const Entry& e, const Target& t, unsigned char* destination) {
    const uint64_t size = uint64_t(e.count) * typeWidth(e.type);
    if (size <= 4) {
      std::memcpy(destination, e.value, size);
      return true;
    }
    if (readAt(order_.get32(e.value), destination, size)) return true;
    TIFFErrorExt(h_, module_, "Error fetching data for field \"%s\"", t.name);
    return false;
  }
  bool findTarget(const Entry& e, Target* t);
  bool typeAccepted(const Target& t, uint16_t type) const;
  int handEntry(const Entry& e, const Target& t);
  int setLibraryArray(const Entry& e, const Target& t, void* values, TIFFDataType elemType);
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
  if (t.rowType == type) return true;
  if (t.xrow >= 0) {
    // The EXIF standard allows SHORT as well as LONG for the pixel dimensions.
    const uint32_t tag = xtiffFieldInfo[t.xrow].tag;
    return (tag == 40962 || tag == 40963) && type == TIFF_SHORT;
  }
  // The library keeps one row per tag; its integer rows take the narrower integer types.
  switch (t.rowType) {
    case TIFF_NOTYPE: return true;
    case TIFF_LONG: return type == TIFF_SHORT || type == TIFF_BYTE;
    case TIFF_SHORT: return type == TIFF_BYTE;
    case TIFF_SLONG: return type == TIFF_SSHORT || type == TIFF_SBYTE;
    case TIFF_SSHORT: return type == TIFF_SBYTE;
    default: return false;
  }
}

// Hands one checked entry to the set-field call. 1: go on; 0: stop the read.
int DirectoryReader::handEntry(const Entry& e, const Target& t) {
  const int width = typeWidth(e.type);
  if (width == 0) return 0;
  const XTiffSlot slot = t.xrow >= 0 ? xtiffFieldInfo[t.xrow].slot : XTiffSlot::U32;
  if (e.count == 0) {
    // An empty value is refused like any wrong count; the entries after it still count.
    TIFFWarningExt(h_, module_, "incorrect count for field \"%s\" (%lu, expecting %lu); tag ignored",
                   t.name, 0ul, 1ul);
    return 1;
  }
  const bool single = e.count == 1;

  // Element form handed over: the entry's own, except that the library's integer rows take
  // their own width. BYTE arrays go as bytes, as the library's own reader hands them.
  TIFFDataType elemType = static_cast<TIFFDataType>(e.type);
  if (t.xrow < 0 && isInteger(e.type) && isInteger(t.rowType)) elemType = t.rowType;
  const bool rational = e.type == TIFF_RATIONAL || e.type == TIFF_SRATIONAL;
  const bool bytesLike = e.type == TIFF_ASCII || e.type == TIFF_UNDEFINED;
  const int elemWidth = rational ? 4 : typeWidth(elemType);
  const uint64_t rawSize = uint64_t(e.count) * width;
  if (rawSize > streamSize_ && rawSize > 4) {
    TIFFErrorExt(h_, module_, "Error fetching data for field \"%s\"", t.name);
    return 0;
  }

  Block raw;
  raw.p = checkMalloc(rawSize, rational && !single ? "to fetch array of rationals" : "to fetch tag value");
  if (raw.p == nullptr) return 0;
  unsigned char* bytes = static_cast<unsigned char*>(raw.p);
  double scalar = 0;
  Block values;
  values.p = checkMalloc(uint64_t(e.count) * elemWidth + 1, "to fetch tag value");
  if (values.p == nullptr) return 0;

  if (!entryBytes(e, t, bytes)) {
    if (!(single && rational)) return 0;
    scalar = 1.0;  // already reported; a single rational reads as 1 and the read goes on
    *static_cast<float*>(values.p) = 1.0f;
  } else if (bytesLike) {
    std::memcpy(values.p, bytes, e.count);
    static_cast<char*>(values.p)[e.count] = '\0';
  } else {
    for (uint32_t i = 0; i < e.count; ++i) {
      const unsigned char* p = bytes + uint64_t(i) * width;
      if (rational) {
        const uint32_t num = order_.get32(p), den = order_.get32(p + 4);
        float f;
        if (den == 0) {
          TIFFErrorExt(h_, module_, "%s: Rational with zero denominator (num = %lu)", t.name,
                       static_cast<unsigned long>(num));
          if (!single) return 0;
          f = 1.0f;
        } else if (e.type == TIFF_RATIONAL) {
          f = float(num) / float(den);
        } else {
          f = float(int32_t(num)) / float(int32_t(den));
        }
        static_cast<float*>(values.p)[i] = f;
        scalar = f;
        continue;
      }
      uint64_t u = 0;
      double d = 0;
      switch (e.type) {
        case TIFF_BYTE: case TIFF_SBYTE: u = p[0]; break;
        case TIFF_SHORT: case TIFF_SSHORT: u = order_.get16(p); break;
        case TIFF_LONG: case TIFF_SLONG: u = order_.get32(p); break;
        case TIFF_FLOAT: {
          const uint32_t b = order_.get32(p);
          float f;
          std::memcpy(&f, &b, 4);
          d = f;
          break;
        }
        case TIFF_DOUBLE: {
          const uint64_t b = order_.get64(p);
          std::memcpy(&d, &b, 8);
          break;
        }
        default: break;
      }
      unsigned char* out = static_cast<unsigned char*>(values.p) + uint64_t(i) * elemWidth;
      switch (elemType) {
        case TIFF_BYTE: case TIFF_SBYTE: *out = uint8_t(u); break;
        case TIFF_SHORT: case TIFF_SSHORT: { const uint16_t v = uint16_t(u); std::memcpy(out, &v, 2); break; }
        case TIFF_LONG: case TIFF_SLONG: { const uint32_t v = uint32_t(u); std::memcpy(out, &v, 4); break; }
        case TIFF_FLOAT: { const float v = float(d); std::memcpy(out, &v, 4); break; }
        case TIFF_DOUBLE: std::memcpy(out, &d, 8); break;
        default: break;
      }
      scalar = isInteger(e.type) ? double(u) : d;
    }
  }

  // One byte goes by value, the form the library's own reader uses for it.
  if (slot == XTiffSlot::OneByte) return TIFFSetField(tif_, e.tag, int(*static_cast<uint8_t*>(values.p)));
  if (t.passCount) return TIFFSetField(tif_, e.tag, e.count, values.p) == 1 || t.xrow < 0;
  if (bytesLike) return TIFFSetField(tif_, e.tag, values.p) == 1 || t.xrow < 0;
  // A library field takes a plain value only when it holds one value; the others (the
  // transfer tables, the colour map) take pointers even for a one-element entry.
  const bool libraryScalar = t.xrow < 0 && (t.readCount == 1 || t.readCount == TIFF_SPP);
  const bool extensionScalar = t.xrow >= 0 && slot != XTiffSlot::Shorts && slot != XTiffSlot::Floats &&
                               slot != XTiffSlot::Bytes;
  if (single && (libraryScalar || extensionScalar)) {
    int ok;
    if (slot == XTiffSlot::Offset && t.xrow >= 0)
      ok = TIFFSetField(tif_, e.tag, static_cast<uint64_t>(scalar));
    else if (isInteger(e.type) && (t.xrow >= 0 || isInteger(t.rowType)))
      ok = TIFFSetField(tif_, e.tag, static_cast<uint32_t>(scalar));
    else
      ok = TIFFSetField(tif_, e.tag, scalar);
    // The library refuses values it thinks bad (and says so); the directory reads on.
    return ok == 1 || t.xrow < 0;
  }
  if (t.xrow >= 0) return TIFFSetField(tif_, e.tag, values.p);
  return setLibraryArray(e, t, values.p, elemType);
}

// Arrays of the library's own fields, in the forms its set-field call documents.
int DirectoryReader::setLibraryArray(const Entry& e, const Target& t, void* values,
                                     TIFFDataType elemType) {
  const uint16_t* shorts = static_cast<const uint16_t*>(values);
  switch (e.tag) {
    case TIFFTAG_PAGENUMBER:
    case TIFFTAG_HALFTONEHINTS:
    case TIFFTAG_DOTRANGE:
    case TIFFTAG_YCBCRSUBSAMPLING:  // two values, not a pointer
      if (elemType == TIFF_SHORT) TIFFSetField(tif_, e.tag, uint32_t(shorts[0]), uint32_t(shorts[1]));
      return 1;
    case TIFFTAG_BITSPERSAMPLE:
    case TIFFTAG_SAMPLEFORMAT:
    case TIFFTAG_MINSAMPLEVALUE:
    case TIFFTAG_MAXSAMPLEVALUE:  // one value per sample, kept once
      if (elemType == TIFF_SHORT) TIFFSetField(tif_, e.tag, uint32_t(shorts[0]));
      return 1;
    case TIFFTAG_TRANSFERFUNCTION: {
      if (elemType != TIFF_SHORT) return 1;
      uint16_t spp = 1, bps = 1, extras = 0;
      uint16_t* extraKinds = nullptr;
      TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &spp);
      TIFFGetFieldDefaulted(tif_, TIFFTAG_EXTRASAMPLES, &extras, &extraKinds);
      TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bps);
      int channels = spp > extras && spp - extras > 1 ? 3 : 1;
      uint64_t size = bps <= 16 ? uint64_t(1) << bps : 0;
      uint32_t tables = 0;
      if (size != 0 && e.count == size * channels) tables = channels;
      else if (size != 0 && e.count == size) tables = 1;
      if (tables == 0) {
        uint16_t given = 0;
        // A JPEG's primary directory names neither depth nor samples: take them from the
        // tables, as EXIF writes them (three of 2^depth entries, or one).
        const bool implicit = TIFFGetField(tif_, TIFFTAG_BITSPERSAMPLE, &given) == 0 &&
                              TIFFGetField(tif_, TIFFTAG_SAMPLESPERPIXEL, &given) == 0;
        const uint32_t n = e.count % 3 == 0 ? e.count / 3 : e.count;
        if (implicit && n >= 2 && n <= 65536 && (n & (n - 1)) == 0) {
          tables = e.count == n ? 1 : 3;
          int depth = 0;
          while ((uint32_t(1) << depth) < n) ++depth;
          TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, uint32_t(depth));
          if (tables == 3) TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, uint32_t(3));
          size = n;
          channels = tables;
        } else {
          TIFFWarningExt(h_, module_,
                         "incorrect count for field \"%s\" (%lu, expecting %lu); tag ignored",
                         t.name, static_cast<unsigned long>(e.count),
                         static_cast<unsigned long>(size * channels));
          return 1;
        }
      }
      const uint16_t* t0 = shorts;
      const uint16_t* t1 = tables == 3 ? shorts + size : shorts;
      const uint16_t* t2 = tables == 3 ? shorts + 2 * size : shorts;
      if (TIFFSetField(tif_, e.tag, t0, t1, t2) == 1) transferSetFor_ = transferShape();
      return 1;
    }
    default:
      // Fixed-count arrays go by pointer; other variable ones have no set-field form here.
      if (t.readCount > 1) TIFFSetField(tif_, e.tag, values);
      return 1;
  }
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
  Block entries;
  entries.p = checkMalloc(uint64_t(n) * 12, "to read TIFF private subdirectory");
  if (entries.p == nullptr) return 0;
  if (n > 0 && read_(h_, entries.p, tmsize_t(n) * 12) != tmsize_t(n) * 12) {
    TIFFErrorExt(h_, module_, "Can not read TIFF private subdirectory");
    return 0;
  }

  TIFFPrivateResetDirectory(tif_);

  bool warnedOrder = false;
  bool havePosition = false;  // the search restarts from the beginning when false
  uint32_t positionTag = 0;
  for (uint16_t i = 0; i < n; ++i) {
    const unsigned char* raw = static_cast<unsigned char*>(entries.p) + size_t(i) * 12;
    Entry e{order_.get16(raw), order_.get16(raw + 2), order_.get32(raw + 4), {raw[8], raw[9], raw[10], raw[11]}};
    if (havePosition && e.tag < positionTag && !warnedOrder) {
      TIFFWarningExt(h_, module_, "invalid TIFF private subdirectory; tags are not sorted in ascending order");
      warnedOrder = true;
    }
    Target t;
    if (!findTarget(e, &t)) {
      TIFFWarningExt(h_, module_, "unknown field with tag %d (0x%x) in private subdirectory ignored",
                     e.tag, e.tag);
      havePosition = false;
      continue;
    }
    havePosition = true;
    positionTag = e.tag;
    if (!typeAccepted(t, e.type)) {
      TIFFWarningExt(h_, module_, "wrong data type %d for \"%s\"; tag ignored", e.type, t.name);
      continue;
    }
    if (t.readCount >= 0 || t.readCount == TIFF_SPP) {
      uint32_t expected = static_cast<uint32_t>(t.readCount);
      if (t.readCount == TIFF_SPP) {
        uint16_t spp = 1;
        TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &spp);
        expected = spp;
      }
      if (e.count != expected) {
        TIFFWarningExt(h_, module_, "incorrect count for field \"%s\" (%lu, expecting %lu); tag ignored",
                       t.name, static_cast<unsigned long>(e.count), static_cast<unsigned long>(expected));
        continue;
      }
    }
    if (handEntry(e, t) == 0) return 0;
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

int TIFFReadPrivateDataSubDirectory(TIFF* tif, uint32_t offset) {
  if (tif == nullptr || offset == 0) return 0;
  return DirectoryReader(tif).read(offset);
}
