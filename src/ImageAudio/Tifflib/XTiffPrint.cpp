// SPDX-License-Identifier: GPL-2.0-or-later
// The extension's lines in the library's directory print-out, one per set row in table order.
// SubSecTime prints its text; SpatialFrequencyResponse its byte count.
#include <cstring>

#include "ImageAudio/Tifflib/XTiffExtension.h"

#pragma GCC diagnostic ignored "-Wformat-nonliteral"

namespace {
// Fixed-length texts need not carry their terminator.
void printInlineText(FILE* fd, const char* line, const uint8_t* bytes, int n) {
  char text[21] = {};
  std::memcpy(text, bytes, static_cast<size_t>(n));
  std::fprintf(fd, line, text);
}
}  // namespace

void _XTIFFPrintDirectory(TIFF* tif, FILE* fd, long flags) {
  XTIFFDirectory* xd = XTIFFDirectoryOf(tif);
  if (xd == nullptr) return;
  if (xd->xd_parentPrint != nullptr) xd->xd_parentPrint(tif, fd, flags);
  for (int row = 0; row < kXTiffTagCount; ++row) {
    if (!XTIFFFieldIsSet(xd, row)) continue;
    const XTiffTagInfo& info = xtiffFieldInfo[row];
    const XTiffValue& v = xd->xd_values[row];
    switch (info.slot) {
      case XTiffSlot::U32:
      case XTiffSlot::Offset:
        std::fprintf(fd, info.printLine, static_cast<int>(v.u32));
        break;
      case XTiffSlot::F32:
        std::fprintf(fd, info.printLine, static_cast<double>(v.f32));
        break;
      case XTiffSlot::U16:
        std::fprintf(fd, info.printLine, static_cast<int>(v.u16));
        break;
      case XTiffSlot::U8:
        std::fprintf(fd, info.printLine, static_cast<int>(v.u8));
        break;
      case XTiffSlot::Text:
        std::fprintf(fd, info.printLine, v.text ? v.text : "");
        break;
      case XTiffSlot::Bytes:
      case XTiffSlot::OneByte:
        if (info.type == TIFF_ASCII)
          printInlineText(fd, info.printLine, v.bytes, info.slotCount);
        else if (info.slotCount == 4)
          std::fprintf(fd, info.printLine, v.bytes[0], v.bytes[1], v.bytes[2], v.bytes[3]);
        else
          std::fprintf(fd, info.printLine, v.bytes[0]);
        break;
      case XTiffSlot::Shorts:
        std::fprintf(fd, info.printLine, v.shorts[0], v.shorts[1]);
        break;
      case XTiffSlot::Floats:
        std::fprintf(fd, info.printLine, double(v.floats[0]), double(v.floats[1]),
                     double(v.floats[2]));
        break;
      case XTiffSlot::CountedShorts: {
        std::fprintf(fd, info.printLine, v.counted.count);
        const uint16_t* values = static_cast<const uint16_t*>(v.counted.data);
        for (int i = 0; values != nullptr && i < v.counted.count; ++i)
          std::fprintf(fd, "\t  ISO Speed Rating %d:\t%d\n", i, values[i]);
        break;
      }
      case XTiffSlot::CountedBytes:
        std::fprintf(fd, info.printLine, v.counted.count);
        break;
    }
  }
}
