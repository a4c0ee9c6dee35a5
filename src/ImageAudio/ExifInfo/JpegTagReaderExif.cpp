// SPDX-License-Identifier: GPL-2.0-or-later
// Where an APP1 segment of the photograph is handed on to the EXIF reading: the TIFF stream
// after the "Exif" identifier and its two padding bytes is read in place from memory.
#include <cstring>

#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "ImageAudio/Tifflib/MemoryStream.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"

void JpegTagReader::readExifSegment(const UInt8* payload, UInt32 length) {
  if (payload == nullptr || length < 6) return;
  if (std::memcmp(payload, "Exif", 4) != 0) return;
  readTiffStream(payload + 6, length - 6);
}

void JpegTagReader::readTiffStream(const UInt8* tiff, size_t length, FirstDirectory first) {
  if (tiff == nullptr || length > size_t(INT32_MAX)) return;
  const SInt32 fd = mfs_open(const_cast<UInt8*>(tiff), SInt32(length), "r");
  if (fd < 0) return;
  TIFF* tif = XTIFFClientOpenNoRead("APP1", "r", mfs_handle(fd), mfs_read, mfs_write, mfs_lseek,
                                    mfs_close, mfs_size, mfs_map, mfs_unmap);
  if (tif == nullptr) return;  // the stream has been closed with the failed open
  if (first == FirstDirectory::primary) readIFDs(tif, FOUR_CHAR_CODE("JPEG"));
  else readFirstDirectoryAs(tif, first);
  XTIFFClose(tif);
}
