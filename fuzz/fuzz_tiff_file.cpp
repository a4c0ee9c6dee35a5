// Fuzz target: a TIFF stream opened through the extension's open wrapper, so that the library's
// own directory reader meets the extension's rows; each directory is then copied into a record
// and printed, as the tag reader and the print method do.
#include <cstdio>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "ImageAudio/Tifflib/MemoryStream.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"
#include "cli/InfoPrinter.h"

namespace {
constexpr int kMaxDirectories = 4;  // enough to follow a chain; a loop is the library's to refuse
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size > (1u << 20)) return 0;
  static std::FILE* sink = std::fopen("/dev/null", "w");
  std::vector<unsigned char> bytes(data, data + size);
  const int32_t fd = mfs_open(bytes.data(), int32_t(bytes.size()), "r");
  if (fd < 0) return 0;
  TIFF* tif = XTIFFClientOpen("fuzz", "r", mfs_handle(fd), mfs_read, mfs_write, mfs_lseek, mfs_close, mfs_size,
                              mfs_map, mfs_unmap);
  if (tif == nullptr) return 0;
  size_t printed = 0;
  for (int k = 0; k < kMaxDirectories; ++k) {
    if (sink) TIFFPrintDirectory(tif, sink, 0);
    ExImageInfo record;
    JpegTagReader reader;
    reader.setDataStore(&record);
    reader.readIFDs(tif, FOUR_CHAR_CODE("TIFF"));
    printed += cli::formatInfoText(cli::infoItems(record, {}, true)).size();
    if (TIFFLastDirectory(tif)) break;
  }
  XTIFFClose(tif);
  return printed == 1 ? 1 : 0;
}
