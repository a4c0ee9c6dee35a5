// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: a TIFF stream opened through the extension's open wrappers, then the directories
// the input's script names, at the offsets it gives, read by the library's directory reader, the
// extension's and the tag reader, and printed. See TiffFileScript.h for the input's layout.
#include <cstdio>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "ImageAudio/Tifflib/MemoryStream.h"
#include "ImageAudio/Tifflib/TiffPrivateDirectory.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"
#include "TiffFileScript.h"
#include "cli/InfoPrinter.h"

using tiffscript::Op;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > (1u << 20)) return 0;
  tiffscript::Script script;
  if (!tiffscript::parse(data, size, &script)) return 0;
  static std::FILE* sink = std::fopen("/dev/null", "w");
  // A copy of the exact size, so that a read past the stream's end is the sanitizer's to see.
  std::vector<unsigned char> bytes(script.stream, script.stream + script.streamSize);
  const int32_t fd = mfs_open(bytes.data(), int32_t(bytes.size()), "r");
  if (fd < 0) return 0;
  auto open = script.openWithoutReading ? XTIFFClientOpenNoRead : XTIFFClientOpen;
  TIFF* tif = open("fuzz", "r", mfs_handle(fd), mfs_read, mfs_write, mfs_lseek, mfs_close, mfs_size, mfs_map,
                   mfs_unmap);
  if (tif == nullptr) return 0;

  ExImageInfo record;
  JpegTagReader reader;
  reader.setDataStore(&record);
  for (const tiffscript::Step& step : script.steps) {
    const uint32_t offset = tiffscript::offsetIn(step.argument, bytes.size());
    switch (step.op) {
      case Op::next: TIFFReadDirectory(tif); break;
      case Op::number: TIFFSetDirectory(tif, tdir_t(step.argument % 8)); break;
      case Op::subDirectory: TIFFSetSubDirectory(tif, offset); break;
      case Op::privateAt: TIFFReadPrivateDataSubDirectory(tif, offset); break;
      case Op::recordTiff: reader.readIFDs(tif, FOUR_CHAR_CODE("TIFF")); break;
      case Op::recordExif: reader.readIFDs(tif, FOUR_CHAR_CODE("JPEG")); break;
      case Op::recordCurrent:
        if (step.argument % 3 == 0) reader.readMainTags(tif);
        else if (step.argument % 3 == 1) reader.readExifTags(tif);
        else reader.readGPSTags(tif);
        break;
      case Op::print:
        if (sink) TIFFPrintDirectory(tif, sink, long(step.argument & 0xFF));
        if (sink) std::fputs(cli::formatInfoText(cli::infoItems(record, {}, true)).c_str(), sink);
        break;
    }
  }
  XTIFFClose(tif);
  return 0;
}
