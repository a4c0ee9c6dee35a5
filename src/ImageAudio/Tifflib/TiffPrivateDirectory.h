// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a TIFF stream without reading a directory, and reading or writing one directory at
// any offset through the handle's field list and the library's set-field call.
#pragma once
#include <tiffio.h>

#include <cstdint>

// As TIFFClientOpen, but mode 'r' only checks the header and sets up an empty directory.
// On failure the client stream has been closed through closeProc.
TIFF* TIFFClientOpenNoRead(const char* name, const char* mode, thandle_t clientdata,
                           TIFFReadWriteProc readProc, TIFFReadWriteProc writeProc,
                           TIFFSeekProc seekProc, TIFFCloseProc closeProc,
                           TIFFSizeProc sizeProc, TIFFMapFileProc mapProc,
                           TIFFUnmapFileProc unmapProc);

// How transfer tables are laid out: one table of 2^bitsPerSample entries, or three (one per
// colour channel).
struct TIFFPrivateTransferLayout {
  uint16_t bitsPerSample;
  uint16_t tables;
};
// A stream format's rule for the layout of `count` transfer entries that fit neither the depth
// nor the channels the directory has named so far: true with the layout, false for none. The
// reader takes a layout only when its tables hold exactly `count` entries.
using TIFFPrivateTransferRule = bool (*)(TIFF* tif, uint32_t count, TIFFPrivateTransferLayout* layout);

// Replaces the current directory by the one at offset. 1 when read, 0 otherwise (offset 0
// reads nothing and leaves the directory alone); failures go to the library's handlers.
// Transfer tables that fit no named layout are refused unless transferRule gives one.
int TIFFReadPrivateDataSubDirectory(TIFF* tif, uint32_t offset, TIFFPrivateTransferRule transferRule = nullptr);

// Appends the current directory's extended fields as a directory at the end of the stream.
// Returns its offset, 1 for a read-only handle, 0 on failure; then starts an empty directory.
uint32_t TIFFWritePrivateDataSubDirectory(TIFF* tif);

// Whether a library version text ("LIBTIFF, Version 4.5.0" ...) offers what this layer builds
// on: header-only opens and one shared custom-field bit, libtiff 4.1 and later.
bool TIFFPrivateVersionSupported(const char* versionText);

// Empties the current directory for the next one read or written, freeing whatever state the
// codec its Compression named had set up.
void TIFFPrivateResetDirectory(TIFF* tif);

// The first-directory offset of the stream's header, read again through the client
// procedures; 0 when unreadable.
uint32_t TIFFPrivateFirstDirectoryOffset(TIFF* tif);
