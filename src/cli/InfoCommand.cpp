// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov --info [--json] [--verbose] PHOTO...: reads each photograph's header, metadata and
// voice annotation into a record and prints it, as aligned text or as a JSON array.
#include <cstdio>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/Tifflib/XTiffMessages.h"
#include "cli/Commands.h"
#include "cli/DisplayText.h"
#include "cli/InfoPrinter.h"
#include "cli/JsonText.h"
#include "cli/OptionParser.h"
#include "sources/SoundSources.h"
#include "toolbox/Files/FolderNames.h"

namespace {

struct InfoOptions {
  bool json = false;
  bool verbose = false;
};

cli::CommandSyntax infoSyntax(InfoOptions* o) {
  cli::CommandSyntax s;
  s.name = "--info";
  s.usage = {"--info [--json] [--verbose] PHOTO..."};
  s.summary =
      "Show what each photograph carries: its size, its voice annotation and its EXIF,\n"
      "TIFF and GPS metadata, under exiftool's tag names and in exiftool's units.\n";
  s.options = {
      {0, "info", cli::OptionValue::optional, "FORMAT", "show the photographs' metadata; FORMAT is text or json",
       [o](const char* format) {
         const std::string f = format ? format : "text";
         if (f != "text" && f != "json") return "--info takes text or json, not \"" + f + "\"";
         if (f == "json") o->json = true;
         return std::string();
       }},
      {0, "json", cli::OptionValue::none, nullptr, "print a JSON array with one object per photograph",
       cli::setFlag(&o->json)},
      {'v', "verbose", cli::OptionValue::none, nullptr,
       "also show offsets, each audio block and TIFF warnings", cli::setFlag(&o->verbose)},
  };
  s.notes =
      "A photograph that cannot be read is said on standard error and, in JSON, is an\n"
      "object with SourceFile and Error. Exit status: 0 when every photograph was read,\n"
      "1 otherwise, 2 for bad usage.\n";
  s.operandCount.fewest = 1;
  return s;
}

// Reads one photograph as a conversion reads it, into look (which holds what was read while the
// record is printed); false with the reason in words when it is no readable photograph.
bool readPhotograph(const std::string& photo, Convert2Mov* look, cli::PhotoFacts* facts, std::string* reason) {
  // Only a regular file is a photograph; the read never waits on anything else under the name.
  if (!look->readForLook(photo) || !look->lastReport().imageReadable) {
    *reason = look->lastReport().unreadable;
    return false;
  }
  const sources::Photograph seen = look->lookedAtPhotograph(photo);
  facts->path = photo;
  facts->fileBytes = seen.file ? seen.file->size() : seen.bytes.size();
  const sources::SoundSource* source = Convert2Mov::soundSourceOf(seen, &facts->soundFile);
  facts->soundSource = source != nullptr ? source->name : "";
  // Every note the photograph has, not only the one taken: the table says which and in what
  // order. What cannot serve (a link, no WAVE) is no note, as for SoundSource.
  for (const sources::Located& found : sources::FindRecordings(seen))
    if (found.found.problem.empty()) facts->notes.push_back({found.source->name, found.found.file, found.source == source});
  return true;
}

}  // namespace

int runInfoCommand(const std::vector<std::string>& args) {
  InfoOptions options;
  std::vector<std::string> photos;
  if (std::optional<int> done = cli::parseCommandLine(infoSyntax(&options), args, &photos)) return *done;

  if (options.verbose) XTIFFShowMessages(true);
  // Each photograph's folder is read once, however many photographs it holds.
  FSListingRun listings;
  bool anyFailed = false;
  std::string out = options.json ? "[" : "";
  for (std::size_t i = 0; i < photos.size(); ++i) {
    const std::string& photo = photos[i];
    Convert2Mov look;
    cli::PhotoFacts facts;
    std::string reason;
    const bool read = readPhotograph(photo, &look, &facts, &reason);
    if (!read) {
      anyFailed = true;
      std::fprintf(stderr, "still2mov: %s: cannot be read (%s)\n", cli::displayText(photo).c_str(), reason.c_str());
    }
    if (options.json) {
      if (i > 0) out += ",\n";
      out += read ? cli::formatInfoJson(photo, cli::infoItems(*look.lookedAtRecord(), facts, options.verbose))
                  : cli::formatInfoErrorJson(photo, "cannot be read (" + reason + ")");
    } else if (read) {
      if (photos.size() > 1) out += "======== " + cli::displayText(photo) + "\n";
      out += cli::formatInfoText(cli::infoItems(*look.lookedAtRecord(), facts, options.verbose));
    }
    // Each photograph's lines go out as soon as they are known.
    if (!options.json) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  if (options.json) out += "]\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  if (std::fflush(stdout) != 0) return 1;
  return anyFailed ? 1 : 0;
}
