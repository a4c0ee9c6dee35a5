// SPDX-License-Identifier: GPL-2.0-or-later
// The conversion options and a run over many photographs: options read into the driver, and
// photographs handed to worker processes in rounds so that no two make the same movie at once.
#include "cli/ConversionRun.h"

#include <map>

#include "PreferenceKeys.h"
#include "cli/ParallelConversions.h"
#include "toolbox/AppKit/NSLog.h"
#include "toolbox/Core/Terminals.h"
#include "toolbox/Processes/ThreadedJobs.h"
#include "toolbox/Processes/WorkerProcesses.h"

namespace cli {

namespace {

// --format's value: one of the names in the table of formats.
std::function<std::string(const char*)> setFormat(const outputs::Output** format) {
  return [format](const char* value) -> std::string {
    *format = outputs::OutputNamed(value ? value : "");
    if (*format) return "";
    return std::string("--format takes ") + outputs::OutputNamesInWords(", ") + ", not \"" + (value ? value : "") + "\"";
  };
}

const char* formatDescription() {
  static const std::string text = outputs::OutputNamesInWords() + ": the kind of file to write (see below)";
  return text.c_str();
}

}  // namespace

std::vector<OptionRow> conversionOptionRows(ConversionOptions* o, bool withUpdate) {
  std::vector<OptionRow> rows = {
      {'j', "jobs", OptionValue::required, "N", "convert N photographs at once (default: one per core)",
       setNumber(&o->jobs, 1, 1024, "-j takes a number of photographs from 1 to 1024")},
      {0, "resize", OptionValue::none, nullptr, "show the picture 600 wide, stored at most 600 a side",
       setFlag(&o->resize)},
      {0, "no-resize", OptionValue::none, nullptr, "keep the picture's natural size", setFlag(&o->noResize)},
      {'y', "overwrite", OptionValue::none, nullptr, "replace any file that has the movie's name",
       setFlag(&o->overwrite)},
      {'n', "skip-existing", OptionValue::none, nullptr, "skip a photograph when a file has its movie's name",
       setFlag(&o->skipExisting)},
      {0, "format", OptionValue::required, "KIND", formatDescription(), setFormat(&o->format)},
  };
  if (withUpdate)
    rows.push_back({'u', "update", OptionValue::none, nullptr,
                    "pass over photographs whose movie is current", setFlag(&o->update)});
  std::vector<OptionRow> more = {
      {0, "metadata", OptionValue::none, nullptr, "put the capture time, camera and position in the movie",
       setFlag(&o->metadata)},
      {0, "json", OptionValue::none, nullptr, "print one JSON object per photograph and line", setFlag(&o->json)},
      {'q', "quiet", OptionValue::none, nullptr, "print failures only", setFlag(&o->quiet)},
      {'v', "verbose", OptionValue::none, nullptr, "say more: failure codes, what a folder walk passes over",
       setFlag(&o->verbose)},
  };
  rows.insert(rows.end(), more.begin(), more.end());
  return rows;
}

std::optional<std::string> conversionOptionConflict(const ConversionOptions& o) {
  if (o.resize && o.noResize) return "--resize and --no-resize exclude each other";
  if (o.overwrite && o.skipExisting) return "-y and -n exclude each other";
  if (o.quiet && o.verbose) return "-q and -v exclude each other";
  return std::nullopt;
}

SInt32 configureConverter(const ConversionOptions& o, Convert2Mov* converter) {
  converter->setCaptureMetadata(o.metadata);
  converter->setUpdateOnly(o.update);
  converter->setOutput(o.format ? *o.format : readMovieFormatPreference());
  if (o.overwrite) converter->setExistingMovieRule(ExistingMovie::replaceAny);
  if (o.skipExisting) converter->setExistingMovieRule(ExistingMovie::keep);
  return resizeTargetFor(o.resize || (!o.noResize && readResizePreference()));
}

OutputStyle outputStyleFor(const ConversionOptions& o) {
  OutputStyle style;
  style.json = o.json;
  style.quiet = o.quiet;
  style.verbose = o.verbose;
  if (o.verbose) ShowDebugLog();  // the developers' diagnostics too
  style.update = o.update;
  style.progress = !o.quiet && IsTerminalStream(stderr);
  return style;
}

int jobCountFor(const ConversionOptions& o) { return o.jobs > 0 ? o.jobs : AvailableProcessorCount(); }

std::vector<std::size_t> convertCandidates(Convert2Mov& converter, const std::vector<Candidate>& candidates,
                                           SInt32 target, int jobs, ConversionPrinter& printer,
                                           const std::function<bool()>& stop,
                                           const std::function<bool(std::size_t, const PhotoResult&)>& holdBack) {
  // What is current is said here: a look at it costs less than handing it to a worker, and the
  // looks, mostly waits on the file system, run on as many threads as there are jobs.
  // What is to be converted from a folder or with -u is first asked whether it is one of ours (a
  // motion photo renamed): the walks knew ours by name, this reads the mark, and only of what is
  // not current.
  std::vector<char> current(candidates.size(), 0);
  std::vector<std::optional<std::string>> ours(candidates.size());
  bool anyFromFolder = false;
  for (const Candidate& c : candidates) anyFromFolder |= c.foundInFolder;
  if (converter.updateOnly() || anyFromFolder)
    RunJobsInThreads(
        candidates.size(), jobs,
        [&](std::size_t i) {
          const std::string& photo = candidates[i].path;
          current[i] = converter.updateOnly() &&
                       converter.isCurrent(Convert2Mov::moviePathFor(photo, converter.output()), photo, target);
          if (!current[i] && (converter.updateOnly() || candidates[i].foundInFolder))
            ours[i] = outputs::OurOutputByMark(photo);
        },
        stop);
  // Round k holds each movie's k-th photograph, in the order given.
  std::vector<std::vector<std::size_t>> rounds;
  std::map<std::string, std::size_t> seen;
  std::vector<bool> ran(candidates.size(), false);
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    if (stop && stop()) break;
    if (current[i]) {
      converter.passOver(Convert2Mov::moviePathFor(candidates[i].path, converter.output()));
      ran[i] = true;
      printer.finishedAt(i, candidates[i].path, resultOf(converter.lastReport()), candidates[i].foundInFolder);
      continue;
    }
    if (ours[i]) {
      ran[i] = true;
      printer.passedOver(candidates[i].path, *ours[i]);
      printer.silentAt(i);
      continue;
    }
    const std::size_t k = seen[Convert2Mov::moviePathFor(candidates[i].path, converter.output())]++;
    if (rounds.size() <= k) rounds.resize(k + 1);
    rounds[k].push_back(i);
  }
  for (const std::vector<std::size_t>& round : rounds) {
    if (stop && stop()) break;
    convertInWorkers(
        round.size(), jobs,
        [&](std::size_t k) {
          const std::string& photo = candidates[round[k]].path;
          converter.createMovie(Convert2Mov::moviePathFor(photo, converter.output()), photo, target);
          return resultOf(converter.lastReport());
        },
        [&](std::size_t k) {
          ran[round[k]] = true;
          printer.started(candidates[round[k]].path);
        },
        [&](std::size_t k, const PhotoResult& result) {
          if (holdBack && holdBack(round[k], result)) return printer.silentAt(round[k]);
          printer.finishedAt(round[k], candidates[round[k]].path, result, candidates[round[k]].foundInFolder);
        },
        stop);
  }
  printer.endOrderedRun();
  std::vector<std::size_t> left;
  for (std::size_t i = 0; i < candidates.size(); ++i)
    if (!ran[i]) left.push_back(i);
  return left;
}

}  // namespace cli
