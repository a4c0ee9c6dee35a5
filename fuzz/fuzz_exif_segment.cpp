// Fuzz target: one APP1 payload through the memory stream, the TIFF extension and the
// directory readers, without the JPEG around it.
#include <cstring>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > 65533) return 0;
  // A payload starts "Exif\0\0"; prepend it so the fuzzer spends its effort on the TIFF stream.
  std::vector<UInt8> payload(size + 6);
  std::memcpy(payload.data(), "Exif\0\0", 6);
  if (size) std::memcpy(payload.data() + 6, data, size);
  ExImageInfo record;
  JpegTagReader reader;
  reader.setDataStore(&record);
  reader.readExifSegment(payload.data(), UInt32(payload.size()));
  return 0;
}
