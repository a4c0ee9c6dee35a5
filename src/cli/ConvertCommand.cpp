// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov [OPTION...] PHOTO... and still2mov -r FOLDER...: makes a movie beside each photograph
// that carries a voice annotation and says what came of each, from the driver's report.
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "cli/Commands.h"
#include "cli/ConversionOutput.h"
#include "cli/OptionParser.h"
#include "cli/ConversionRun.h"
#include "cli/PhotoWalk.h"
#include "photos/PhotoPairs.h"
#include "toolbox/AppKit/NSLog.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/Terminals.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/FolderNames.h"
#include "toolbox/Processes/WorkerProcesses.h"

namespace {

struct ConvertOptions : cli::ConversionOptions {
  bool recursive = false;
};

std::string formatList() {
  std::string out;
  for (const outputs::Output& row : outputs::Outputs()) out += std::string("  ") + row.name + ": " + row.words + "\n";
  return out;
}

cli::CommandSyntax convertSyntax(ConvertOptions* o) {
  cli::CommandSyntax s;
  s.usage = {"[OPTION...] PHOTO...", "-r [OPTION...] FOLDER..."};
  for (const std::string& synopsis : commandSynopses()) s.usage.push_back(synopsis);
  s.summary =
      "Make a QuickTime movie from each photograph's voice annotation: PHOTO.mov beside\n"
      "PHOTO, showing the photograph for as long as the recording plays.\n";
  s.options = {{'r', "recursive", cli::OptionValue::none, nullptr,
                "convert every .jpg/.jpeg photograph in the folders", cli::setFlag(&o->recursive)}};
  for (cli::OptionRow& row : cli::conversionOptionRows(o, true)) s.options.push_back(std::move(row));
  s.notes =
      "--resize makes the movie show the picture 600 pixels wide and stores it at most\n"
      "600 pixels on its longer side (a 960 x 1280 portrait: stored 450 x 600, shown\n"
      "600 x 800; a 320 x 240 picture: stored as it is, shown 600 x 450). Without\n"
      "--resize or --no-resize, the Resize_QT_Image preference decides (on when unset).\n"
      "A file already under the movie's name is replaced only when still2mov made it.\n"
      "With -r, photographs without a voice annotation are passed over quietly and\n"
      "symbolic links are not followed. With -u, a photograph is passed over when its\n"
      "movie was made from it as it is now, with its recording as it is now, and with\n"
      "the same choices.\n"
      "\n"
      "Kinds of file (--format; without it the Movie_Format preference, else mov):\n" +
      formatList() +
      "\n"
      "Commands (each takes --help):\n" +
      commandList() +
      "\n"
      "Exit status: 0 when nothing failed, 1 when a photograph failed, 2 for bad usage.\n";
  return s;
}

}  // namespace

int runConvertCommand(const std::vector<std::string>& args) {
  ConvertOptions options;
  const cli::CommandSyntax syntax = convertSyntax(&options);
  std::vector<std::string> operands;
  if (std::optional<int> done = cli::parseCommandLine(syntax, args, &operands)) return *done;
  if (std::optional<std::string> conflict = cli::conversionOptionConflict(options))
    return cli::usageError(syntax, *conflict);
  if (operands.empty())
    return cli::usageError(syntax, options.recursive ? "no folder or photograph given" : "no photograph given");

  Convert2Mov converter;
  const SInt32 target = cli::configureConverter(options, &converter);
  cli::OutputStyle style = cli::outputStyleFor(options);
  style.summary = options.recursive || operands.size() > 1;

  // Each folder is read once in the run: the walk's reading also finds recordings beside the
  // photographs.
  FSListingRun listings;
  // What the command line names: photographs, and with -r the photographs in folders. What is
  // no photograph is said before the conversions start.
  std::vector<std::pair<std::string, std::string>> refused;  // path, problem
  std::vector<std::pair<std::string, std::string>> passed;   // path, why
  std::vector<cli::Candidate> candidates;
  std::set<std::string> given, standIns;
  for (const std::string& operand : operands) {
    if (!cli::isFolder(operand)) {
      // A raw with its JPEG beside it is converted from the JPEG, once however it is named.
      const std::string photo = photos::PictureOf(operand);
      const bool first = given.insert(photo).second, standsIn = photo != operand;
      if (first || (!standsIn && !standIns.count(photo))) candidates.push_back({photo, false});
      if (standsIn) standIns.insert(photo);
    } else if (!options.recursive) {
      refused.emplace_back(operand, "is a folder (-r converts the photographs in it)");
    } else {
      std::vector<std::string> found;
      cli::WalkNotes notes;
      notes.unreadable = [&](const std::string& folder, const std::string& problem) {
        refused.emplace_back(folder, problem);
      };
      notes.passedOver = [&](const std::string& path, const std::string& why) { passed.emplace_back(path, why); };
      cli::findPhotographs(operand, &found, notes);
      for (std::string& photo : found) candidates.push_back({std::move(photo), true});
    }
  }

  cli::ConversionPrinter printer(style, candidates.size());
  for (const auto& [path, why] : passed) printer.passedOver(path, why);
  for (const auto& [path, problem] : refused) printer.failedPath(path, problem);
  cli::convertCandidates(converter, candidates, target, cli::jobCountFor(options), printer);
  printer.finish();
  if (std::fflush(stdout) != 0) return 1;
  return printer.anyFailed() ? 1 : 0;
}
