// SPDX-License-Identifier: GPL-2.0-or-later
// Writing the current directory's extended fields as one directory at the end of the stream,
// data after it, in the stream's byte order; the handle then starts an empty directory.
#include <fcntl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ImageAudio/Tifflib/TiffByteOrder.h"
#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"

namespace {
class DirectoryWriter {
 public:
  explicit DirectoryWriter(TIFF* tif)
      : tif_(tif),
        h_(TIFFClientdata(tif)),
        write_(TIFFGetWriteProc(tif)),
        seek_(TIFFGetSeekProc(tif)),
        order_(TiffByteOrder::of(tif)),
        module_(TIFFFileName(tif)) {}

  uint32_t write();

 private:
  bool writeAt(uint64_t offset, const void* data, size_t size) {
    if (seek_(h_, offset, SEEK_SET) != offset) return false;
    return write_(h_, const_cast<void*>(data), tmsize_t(size)) == tmsize_t(size);
  }
  // Small values stay in the entry; larger ones go to the data area, kept at even offsets.
  bool placeData(const XTiffTagInfo& info, unsigned char* entry, const std::vector<unsigned char>& data) {
    if (data.size() <= 4) {
      std::memcpy(entry + 8, data.data(), data.size());
      return true;
    }
    if (!writeAt(dataOffset_, data.data(), data.size())) {
      TIFFErrorExt(h_, module_, "Error writing data for field \"%s\"", info.name);
      return false;
    }
    order_.put32(entry + 8, uint32_t(dataOffset_));
    dataOffset_ += data.size() + (data.size() & 1);
    return true;
  }
  void appendRationals(const XTiffTagInfo& info, const float* values, int n, std::vector<unsigned char>* out);
  bool buildEntry(int row, unsigned char* entry);

  TIFF* tif_;
  thandle_t h_;
  TIFFReadWriteProc write_;
  TIFFSeekProc seek_;
  TiffByteOrder order_;
  const char* module_;
  uint64_t dataOffset_ = 0;
};

void DirectoryWriter::appendRationals(const XTiffTagInfo& info, const float* values, int n,
                                      std::vector<unsigned char>* out) {
  for (int i = 0; i < n; ++i) {
    float fv = values[i];
    int sign = 1;
    if (fv < 0) {
      if (info.type == TIFF_RATIONAL) {
        TIFFWarningExt(h_, module_, "\"%s\": Information lost writing value (%g) as (unsigned) RATIONAL",
                       info.name, double(fv));
        fv = 0;
      } else {
        fv = -fv;
        sign = -1;
      }
    }
    if (!std::isfinite(fv)) fv = 0;
    // Beyond the numerator's range the value is written as its largest fraction.
    const float limit = info.type == TIFF_RATIONAL ? 4294967040.0f : 2147483520.0f;
    if (fv > limit) fv = limit;
    uint32_t den = 1;
    if (fv > 0)
      for (int k = 0; k < 10 && fv < float(1u << 28); ++k) {
        fv *= 8;
        den *= 8;
      }
    const int64_t most = info.type == TIFF_RATIONAL ? 0xFFFFFFFFll : 0x7FFFFFFFll;
    const int64_t magnitude = std::min<int64_t>(int64_t(double(fv) + 0.5), most);
    const uint32_t num = uint32_t(sign * magnitude);
    unsigned char pair[8];
    order_.put32(pair, num);
    order_.put32(pair + 4, den);
    out->insert(out->end(), pair, pair + 8);
  }
}

bool DirectoryWriter::buildEntry(int row, unsigned char* entry) {
  const XTiffTagInfo& info = xtiffFieldInfo[row];
  std::vector<unsigned char> data;
  uint32_t count = info.slotCount;
  void* p = nullptr;
  uint16_t n = 0;
  switch (info.slot) {
    case XTiffSlot::U32:
    case XTiffSlot::Offset: {
      uint32_t v = 0;
      TIFFGetField(tif_, info.tag, &v);
      data.resize(4);
      order_.put32(data.data(), v);
      count = 1;
      break;
    }
    case XTiffSlot::U16: {
      uint16_t v = 0;
      TIFFGetField(tif_, info.tag, &v);
      data.resize(2);
      order_.put16(data.data(), v);
      count = 1;
      break;
    }
    case XTiffSlot::U8: {
      uint8_t v = 0;
      TIFFGetField(tif_, info.tag, &v);
      data.push_back(v);
      count = 1;
      break;
    }
    case XTiffSlot::F32: {
      float v = 0;
      TIFFGetField(tif_, info.tag, &v);
      appendRationals(info, &v, 1, &data);
      count = 1;
      break;
    }
    case XTiffSlot::Text: {
      char* text = nullptr;
      TIFFGetField(tif_, info.tag, &text);
      const char* s = text ? text : "";
      data.assign(s, s + std::strlen(s) + 1);  // with its terminator
      count = uint32_t(data.size());
      break;
    }
    case XTiffSlot::Bytes:
    case XTiffSlot::OneByte:
      TIFFGetField(tif_, info.tag, &p);
      if (p) data.assign(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + info.slotCount);
      break;
    case XTiffSlot::Shorts:
      TIFFGetField(tif_, info.tag, &p);
      data.resize(size_t(info.slotCount) * 2);
      for (int i = 0; p && i < info.slotCount; ++i) order_.put16(data.data() + 2 * i, static_cast<uint16_t*>(p)[i]);
      break;
    case XTiffSlot::Floats:
      TIFFGetField(tif_, info.tag, &p);
      if (p) appendRationals(info, static_cast<float*>(p), info.slotCount, &data);
      break;
    case XTiffSlot::CountedShorts:
      TIFFGetField(tif_, info.tag, &n, &p);
      data.resize(size_t(n) * 2);
      for (int i = 0; p && i < n; ++i) order_.put16(data.data() + 2 * i, static_cast<uint16_t*>(p)[i]);
      count = n;
      break;
    case XTiffSlot::CountedBytes:
      TIFFGetField(tif_, info.tag, &n, &p);
      if (p) data.assign(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + n);
      count = n;
      break;
  }
  order_.put16(entry, uint16_t(info.tag));
  order_.put16(entry + 2, uint16_t(info.type));
  order_.put32(entry + 4, count);
  return placeData(info, entry, data);
}

uint32_t DirectoryWriter::write() {
  XTIFFDirectory* xd = XTIFFDirectoryOf(tif_);
  std::vector<int> rows;
  for (int row = 0; row < kXTiffTagCount; ++row) {
    if (!XTIFFFieldIsSet(xd, row)) continue;
    const XTiffValue& v = xd->xd_values[row];
    const XTiffSlot slot = xtiffFieldInfo[row].slot;
    // An empty counted value has nothing to write and would read back as a broken entry.
    if ((slot == XTiffSlot::CountedBytes || slot == XTiffSlot::CountedShorts) && v.counted.count == 0) continue;
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end(),
            [](int a, int b) { return xtiffFieldInfo[a].tag < xtiffFieldInfo[b].tag; });
  unsigned char* entries = static_cast<unsigned char*>(std::calloc(rows.size() ? rows.size() : 1, 12));
  if (entries == nullptr) {
    TIFFErrorExt(h_, module_, "Cannot write private subdirectory, out of space");
    return 0;
  }
  const toff_t end = seek_(h_, 0, SEEK_END);
  if (end == static_cast<toff_t>(-1)) {
    std::free(entries);
    TIFFErrorExt(h_, module_, "Error writing private subdirectory count");
    return 0;
  }
  const uint64_t dirOffset = end + (end & 1);
  dataOffset_ = dirOffset + 2 + 12 * rows.size() + 4;
  for (size_t i = 0; i < rows.size(); ++i)
    if (!buildEntry(rows[i], entries + 12 * i)) {
      std::free(entries);
      return 0;
    }
  unsigned char word[4];
  order_.put16(word, uint16_t(rows.size()));
  bool ok = true;
  if (!writeAt(dirOffset, word, 2)) {
    TIFFErrorExt(h_, module_, "Error writing private subdirectory count");
    ok = false;
  } else if (!rows.empty() && write_(h_, entries, tmsize_t(12 * rows.size())) != tmsize_t(12 * rows.size())) {
    TIFFErrorExt(h_, module_, "Error writing private subdirectory contents");
    ok = false;
  } else {
    order_.put32(word, 0);
    if (write_(h_, word, 4) != 4) {
      TIFFErrorExt(h_, module_, "Error writing private subdirectory link");
      ok = false;
    }
  }
  std::free(entries);
  if (!ok) return 0;
  TIFFPrivateResetDirectory(tif_);
  return uint32_t(dirOffset);
}
}  // namespace

uint32_t TIFFWritePrivateDataSubDirectory(TIFF* tif) {
  if (tif == nullptr) return 0;
  if (TIFFGetMode(tif) == O_RDONLY) return 1;
  TIFFFlushData(tif);
  if (XTIFFDirectoryOf(tif) == nullptr) return 0;
  return DirectoryWriter(tif).write();
}
