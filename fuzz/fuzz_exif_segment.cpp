// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: one APP1 payload through the memory stream, the TIFF extension and the
// sub-directory readers into the record, without the JPEG around it; then the --info
// renderers read back every field the walk stored.
#include <cstring>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "cli/InfoPrinter.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > 65533) return 0;  // what one segment can carry
  // A payload starts "Exif\0\0"; prepending it spends the effort on the TIFF stream. The
  // payload is exactly its size so the sanitizer sees any read past it.
  std::vector<UInt8> payload(size + 6);
  std::memcpy(payload.data(), "Exif\0\0", 6);
  if (size) std::memcpy(payload.data() + 6, data, size);
  ExImageInfo record;
  JpegTagReader reader;
  reader.setDataStore(&record);
  reader.readExifSegment(payload.data(), UInt32(payload.size()));
  const std::vector<cli::InfoItem> items = cli::infoItems(record, {}, true);
  size_t n = cli::formatInfoText(items).size() + cli::formatInfoJson("photo.jpg", items).size();
  return n == 0 ? 1 : 0;
}
