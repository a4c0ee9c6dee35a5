// SPDX-License-Identifier: GPL-2.0-or-later
// The extension's open wrappers and its close: each installs the extender once per process.
// Files named by a file specification are opened by their path.
#include <cstdlib>
#include <string>

#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"
#include "toolbox/Files/Files.h"

TIFF* XTIFFOpen(const char* name, const char* mode) {
  XTIFFInitialize();
  XTIFFOpening opening;
  return opening.result(TIFFOpen(name, mode));
}

TIFF* XTIFFFdOpen(int fd, const char* name, const char* mode) {
  XTIFFInitialize();
  XTIFFOpening opening;
  return opening.result(TIFFFdOpen(fd, name, mode));
}

TIFF* XTIFFAppleOpen(const FSSpec* spec, const char* mode) {
  XTIFFInitialize();
  std::string path;
  if (spec == nullptr || FSpGetPath(spec, &path) != 0) return nullptr;
  XTIFFOpening opening;
  return opening.result(TIFFOpen(path.c_str(), mode));
}

TIFF* XTIFFClientOpen(const char* name, const char* mode, thandle_t clientdata,
                      TIFFReadWriteProc readProc, TIFFReadWriteProc writeProc,
                      TIFFSeekProc seekProc, TIFFCloseProc closeProc, TIFFSizeProc sizeProc,
                      TIFFMapFileProc mapProc, TIFFUnmapFileProc unmapProc) {
  XTIFFInitialize();
  XTIFFOpening opening;
  return opening.result(TIFFClientOpen(name, mode, clientdata, readProc, writeProc, seekProc,
                                       closeProc, sizeProc, mapProc, unmapProc));
}

TIFF* XTIFFClientOpenNoRead(const char* name, const char* mode, thandle_t clientdata,
                            TIFFReadWriteProc readProc, TIFFReadWriteProc writeProc,
                            TIFFSeekProc seekProc, TIFFCloseProc closeProc,
                            TIFFSizeProc sizeProc, TIFFMapFileProc mapProc,
                            TIFFUnmapFileProc unmapProc) {
  XTIFFInitialize();
  XTIFFOpening opening;
  return opening.result(TIFFClientOpenNoRead(name, mode, clientdata, readProc, writeProc,
                                             seekProc, closeProc, sizeProc, mapProc, unmapProc));
}

void XTIFFClose(TIFF* tif) {
  if (tif == nullptr) return;
  XTIFFDirectory* xd = XTIFFDirectoryOf(tif);
  TIFFClose(tif);
  if (xd != nullptr) {
    _XTIFFFreeDirectory(xd);
    std::free(xd);
  }
}
