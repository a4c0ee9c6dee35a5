// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a client stream for reading without taking in its first directory. The header is
// checked here, in the stream's own terms (42 only: a BigTIFF header is no EXIF stream),
// then the library opens header-only and an empty directory is set up.
#include <cstdio>
#include <cstring>
#include <string>

#include "ImageAudio/Tifflib/TiffByteOrder.h"
#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"
#include "ImageAudio/Tifflib/XTiffMessages.h"

TIFF* TIFFClientOpenNoRead(const char* name, const char* mode, thandle_t clientdata,
                           TIFFReadWriteProc readProc, TIFFReadWriteProc writeProc,
                           TIFFSeekProc seekProc, TIFFCloseProc closeProc,
                           TIFFSizeProc sizeProc, TIFFMapFileProc mapProc,
                           TIFFUnmapFileProc unmapProc) {
  XTIFFEnsureMessagePolicy();
  const char* module = "TIFFClientOpen";
  if (mode == nullptr || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) {
    TIFFErrorExt(clientdata, module, "\"%s\": Bad mode", mode ? mode : "");
    if (closeProc) closeProc(clientdata);
    return nullptr;
  }
  if (!TIFFPrivateVersionSupported(TIFFGetVersion())) {
    TIFFErrorExt(clientdata, module, "%s: this TIFF library cannot open a stream without reading it", name);
    if (closeProc) closeProc(clientdata);
    return nullptr;
  }
  if (mode[0] != 'r') {
    // Writers and appenders open as the library opens them.
    TIFF* tif = TIFFClientOpen(name, mode, clientdata, readProc, writeProc, seekProc, closeProc,
                               sizeProc, mapProc, unmapProc);
    if (tif == nullptr && closeProc) closeProc(clientdata);
    return tif;
  }

  unsigned char header[8];
  if (readProc(clientdata, header, 8) != 8) {
    TIFFErrorExt(clientdata, name, "Cannot read TIFF header");
    closeProc(clientdata);
    return nullptr;
  }
  const std::optional<TiffByteOrder> order = TiffByteOrder::ofMark(header);
  if (!order) {
    const uint16_t mark = TiffByteOrder(false).get16(header);
    TIFFErrorExt(clientdata, name, "Not a TIFF file, bad magic number %d (0x%x)", mark, mark);
    closeProc(clientdata);
    return nullptr;
  }
  const uint16_t version = order->get16(header + 2);
  if (version != 42) {
    TIFFErrorExt(clientdata, name, "Not a TIFF file, bad version number %d (0x%x)", version,
                 version);
    closeProc(clientdata);
    return nullptr;
  }
  // The library reads the header again from the start.
  seekProc(clientdata, 0, SEEK_SET);
  std::string headerOnly = std::string(mode) + "h";
  TIFF* tif = TIFFClientOpen(name, headerOnly.c_str(), clientdata, readProc, writeProc,
                             seekProc, closeProc, sizeProc, mapProc, unmapProc);
  if (tif == nullptr) {
    closeProc(clientdata);
    return nullptr;
  }
  // A header-only open has no directory yet; this one runs the tag extenders.
  TIFFCreateDirectory(tif);
  return tif;
}

uint32_t TIFFPrivateFirstDirectoryOffset(TIFF* tif) {
  if (tif == nullptr) return 0;
  thandle_t h = TIFFClientdata(tif);
  unsigned char header[8];
  if (TIFFGetSeekProc(tif)(h, 0, SEEK_SET) != 0) return 0;
  if (TIFFGetReadProc(tif)(h, header, 8) != 8) return 0;
  return TiffByteOrder::of(tif).get32(header + 4);
}

bool TIFFPrivateVersionSupported(const char* versionText) {
  if (versionText == nullptr) return false;
  const char* v = std::strstr(versionText, "Version ");
  int major = 0, minor = 0;
  if (v == nullptr || std::sscanf(v + 8, "%d.%d", &major, &minor) != 2) return false;
  return major > 4 || (major == 4 && minor >= 1);
}
