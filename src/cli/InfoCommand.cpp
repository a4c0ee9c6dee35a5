// still2mov --info [--json] [--verbose] PHOTO: reads the photograph's header, metadata and
// voice annotation into a record and prints it, as text lines or as one JSON object.
#include <cstdio>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "ImageAudio/Tifflib/XTiffMessages.h"
#include "cli/Commands.h"
#include "cli/InfoPrinter.h"
#include "toolbox/Files/RegularFiles.h"

namespace {

void printInfoUsage() {
  std::fputs("Usage: still2mov --info [--json] [--verbose] PHOTO\n", stderr);
}

int cannotRead(const std::string& photo, const std::string& reason) {
  std::fprintf(stderr, "still2mov: %s: cannot be read (%s)\n", photo.c_str(), reason.c_str());
  return 1;
}

}  // namespace

int runInfoCommand(const std::vector<std::string>& args) {
  bool asJson = false, verbose = false, optionsEnded = false;
  std::vector<std::string> photos;
  for (const std::string& a : args) {
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && a == "--json") {
      asJson = true;
    } else if (!optionsEnded && a == "--verbose") {
      verbose = true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "still2mov: --info: unknown option %s\n", a.c_str());
      printInfoUsage();
      return 2;
    } else {
      photos.push_back(a);
    }
  }
  if (photos.size() != 1) {
    std::fprintf(stderr, "still2mov: --info takes exactly one photograph\n");
    printInfoUsage();
    return 2;
  }
  const std::string& photo = photos[0];
  // Only a regular file is a photograph; the read never waits on anything else under the name.
  std::vector<UInt8> bytes;
  std::string reason;
  if (FSReadRegularFile(photo, &bytes, &reason) != 0) return cannotRead(photo, reason);

  if (verbose) XTIFFShowMessages(true);
  ExImageInfo record;
  {
    JpegTagReader reader;
    reader.readTags(photo, bytes.data(), bytes.size(), &record);
  }
  if (record.getPixelWidth() == 0 || record.getPixelHeight() == 0)
    return cannotRead(photo, Convert2Mov::unreadableJpegReason(bytes));

  std::string text = asJson ? cli::formatInfoJson(record) : cli::formatInfoText(record);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
