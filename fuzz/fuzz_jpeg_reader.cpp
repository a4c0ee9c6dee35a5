// Fuzz target: a whole photograph through the tag reader (markers, EXIF, FlashPix audio).
// The bytes go through a file because the reader opens photographs by path.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  static const std::string path = [] {
    char name[] = "/tmp/still2mov-fuzz-XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    return std::string(name);
  }();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  ExImageInfo record;
  JpegTagReader reader;
  reader.readTags(path, &record);
  // Walk what was found, as the driver does, so a bad block pointer shows up here.
  unsigned long sum = 0;
  for (UInt32 k = 0; k < record.numAudioBlocks(); ++k) {
    const UInt8* block = nullptr;
    UInt32 length = 0, offset = 0;
    record.getNthAudioBlock(SInt32(k), &block, &length, &offset);
    for (UInt32 i = 0; i < length; ++i) sum += block[i];
  }
  return sum == 0xFFFFFFFFul ? 1 : 0;
}
