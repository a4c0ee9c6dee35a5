// still2mov [OPTION...] PHOTO... and still2mov -r FOLDER...: makes a movie beside each photograph
// that carries a voice annotation and says what came of each, from the driver's report.
#include <cstdio>
#include <string>
#include <vector>

#include "Controller.h"
#include "Convert2Mov.h"
#include "cli/Commands.h"
#include "cli/ConversionOutput.h"
#include "cli/OptionParser.h"
#include "cli/ParallelConversions.h"
#include "cli/PhotoWalk.h"
#include "toolbox/AppKit/NSLog.h"
#include "toolbox/Core/Terminals.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Processes/WorkerProcesses.h"

namespace {

struct ConvertOptions {
  bool resize = false, noResize = false;
  bool overwrite = false, skipExisting = false;
  bool recursive = false;
  int jobs = 0;  // 0: one per processor
  bool metadata = false;
  bool json = false, quiet = false, verbose = false;
};

// One photograph to convert, and whether a folder walk found it.
struct Candidate {
  std::string path;
  bool foundInFolder = false;
};

bool isFolder(const std::string& path) {
  FSRef ref;
  Boolean folder = false;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, &folder) == noErr && folder;
}

cli::CommandSyntax convertSyntax(ConvertOptions* o) {
  cli::CommandSyntax s;
  s.usage = {"[OPTION...] PHOTO...", "-r [OPTION...] FOLDER..."};
  for (const std::string& synopsis : commandSynopses()) s.usage.push_back(synopsis);
  s.summary =
      "Make a QuickTime movie from each photograph's voice annotation: PHOTO.mov beside\n"
      "PHOTO, showing the photograph for as long as the recording plays.\n";
  s.options = {
      {'r', "recursive", cli::OptionValue::none, nullptr, "convert every .jpg/.jpeg photograph in the folders",
       cli::setFlag(&o->recursive)},
      {'j', "jobs", cli::OptionValue::required, "N", "convert N photographs at once (default: one per core)",
       cli::setNumber(&o->jobs, 1, 1024, "-j takes a number of photographs from 1 to 1024")},
      {0, "resize", cli::OptionValue::none, nullptr, "show the picture 600 wide, stored at most 600 a side",
       cli::setFlag(&o->resize)},
      {0, "no-resize", cli::OptionValue::none, nullptr, "keep the picture's natural size", cli::setFlag(&o->noResize)},
      {'y', "overwrite", cli::OptionValue::none, nullptr, "replace any file that has the movie's name",
       cli::setFlag(&o->overwrite)},
      {'n', "skip-existing", cli::OptionValue::none, nullptr, "skip a photograph when a file has its movie's name",
       cli::setFlag(&o->skipExisting)},
      {0, "metadata", cli::OptionValue::none, nullptr, "put the capture time, camera and position in the movie",
       cli::setFlag(&o->metadata)},
      {0, "json", cli::OptionValue::none, nullptr, "print one JSON object per photograph and line",
       cli::setFlag(&o->json)},
      {'q', "quiet", cli::OptionValue::none, nullptr, "print failures only", cli::setFlag(&o->quiet)},
      {'v', "verbose", cli::OptionValue::none, nullptr, "say more: failure codes, what a folder walk passes over",
       cli::setFlag(&o->verbose)},
  };
  s.notes =
      "--resize makes the movie show the picture 600 pixels wide and stores it at most\n"
      "600 pixels on its longer side (a 960 x 1280 portrait: stored 450 x 600, shown\n"
      "600 x 800; a 320 x 240 picture: stored as it is, shown 600 x 450). Without\n"
      "--resize or --no-resize, the Resize_QT_Image preference decides (on when unset).\n"
      "A file already named PHOTO.mov is replaced only when still2mov made it. With -r,\n"
      "photographs without a voice annotation are passed over quietly and symbolic\n"
      "links are not followed.\n"
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
  if (options.resize && options.noResize) return cli::usageError(syntax, "--resize and --no-resize exclude each other");
  if (options.overwrite && options.skipExisting) return cli::usageError(syntax, "-y and -n exclude each other");
  if (options.quiet && options.verbose) return cli::usageError(syntax, "-q and -v exclude each other");
  if (operands.empty())
    return cli::usageError(syntax, options.recursive ? "no folder or photograph given" : "no photograph given");

  Convert2Mov converter;
  converter.setCaptureMetadata(options.metadata);
  if (options.overwrite) converter.setExistingMovieRule(ExistingMovie::replaceAny);
  if (options.skipExisting) converter.setExistingMovieRule(ExistingMovie::keep);
  const SInt32 target = resizeTargetFor(options.resize || (!options.noResize && readResizePreference()));

  cli::OutputStyle style;
  style.json = options.json;
  style.quiet = options.quiet;
  style.verbose = options.verbose;
  if (options.verbose) ShowDebugLog();  // the developers' diagnostics too
  style.progress = !options.quiet && IsTerminalStream(stderr);
  style.summary = options.recursive || operands.size() > 1;

  // What the command line names: photographs, and with -r the photographs in folders. What is
  // no photograph is said before the conversions start.
  std::vector<std::pair<std::string, std::string>> refused;  // path, problem
  std::vector<std::pair<std::string, std::string>> passed;   // path, why
  std::vector<Candidate> candidates;
  for (const std::string& operand : operands) {
    if (!isFolder(operand)) {
      candidates.push_back({operand, false});
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
  const int jobs = options.jobs > 0 ? options.jobs : AvailableProcessorCount();
  cli::convertInWorkers(
      candidates.size(), jobs,
      [&](std::size_t i) {
        const std::string& photo = candidates[i].path;
        converter.createMovie(Convert2Mov::moviePathFor(photo), photo, target);
        return cli::resultOf(converter.lastReport());
      },
      [&](std::size_t i) { printer.started(candidates[i].path); },
      [&](std::size_t i, const cli::PhotoResult& result) {
        printer.finished(candidates[i].path, result, candidates[i].foundInFolder);
      });
  printer.finish();
  if (std::fflush(stdout) != 0) return 1;
  return printer.anyFailed() ? 1 : 0;
}
