// Where an APP1 segment of the photograph is handed on to the EXIF reading.
// Only segments that can hold the "Exif" identifier and its two padding bytes qualify.
#include <cstring>

#include "ImageAudio/ExifInfo/JpegTagReader.h"

void JpegTagReader::readExifSegment(const UInt8* payload, UInt32 length) {
  if (payload == nullptr || length < 6) return;
  if (std::memcmp(payload, "Exif", 4) != 0) return;
}
