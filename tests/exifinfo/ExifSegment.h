// SPDX-License-Identifier: GPL-2.0-or-later
// An APP1 EXIF payload for the reader tests: the identifier before a TIFF stream, and reading
// one such payload into a record the way the JPEG reader hands it on.
#pragma once
#include <string>

#include "ImageAudio/ExifInfo/JpegTagReader.h"

namespace exifsegment {
inline const std::string kExifId("Exif\0\0", 6);

inline void read(const std::string& payload, ExImageInfo* record) {
  JpegTagReader reader;
  reader.setDataStore(record);
  reader.readExifSegment(reinterpret_cast<const UInt8*>(payload.data()), UInt32(payload.size()));
}
}  // namespace exifsegment
