// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: a whole photograph through the tag reader (marker walk, EXIF, FlashPix segments,
// audio pieces), then through the --info renderers, which touch every field of the record.
// The bytes go through a file because the reader opens photographs by path. The renderers run
// verbose, so every directory offset and audio block is printed too.
#include <vector>

#include "FuzzScratch.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "cli/InfoPrinter.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  static const std::string path = fuzzscratch::folder().file("photo.jpg");
  fuzzscratch::Folder::write(path, data, size);
  ExImageInfo record;
  JpegTagReader reader;
  reader.readTags(path, &record);
  // Read every byte of every block, as the driver does, so a bad block pointer shows here.
  unsigned long sum = 0;
  for (UInt32 k = 0; k < record.numAudioBlocks(); ++k) {
    const UInt8* block = nullptr;
    UInt32 length = 0, offset = 0;
    record.getNthAudioBlock(SInt32(k), &block, &length, &offset);
    for (UInt32 i = 0; i < length; ++i) sum += block[i];
  }
  const std::vector<cli::InfoItem> items = cli::infoItems(record, {path, size, "", "", {}}, true);
  sum += cli::formatInfoText(items).size() + cli::formatInfoJson(path, items).size();
  return sum == 0xFFFFFFFFul ? 1 : 0;
}
