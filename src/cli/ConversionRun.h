// SPDX-License-Identifier: GPL-2.0-or-later
// What the conversion and watch commands share: the conversion options, the driver set up from
// them, and a run over a list of photographs in worker processes with results in the given order.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "cli/ConversionOutput.h"
#include "cli/OptionParser.h"

namespace cli {

struct ConversionOptions {
  bool resize = false, noResize = false;
  bool overwrite = false, skipExisting = false;
  bool update = false;
  int jobs = 0;  // 0: one per processor
  bool metadata = false;
  bool json = false, quiet = false, verbose = false;
  const outputs::Output* format = nullptr;  // unset: the Movie_Format preference
};

// The option rows, in --help order; the update row is left out where updating is the rule.
std::vector<OptionRow> conversionOptionRows(ConversionOptions* o, bool withUpdate);
// What contradicts itself among the options, in words; nothing when they go together.
std::optional<std::string> conversionOptionConflict(const ConversionOptions& o);
// The driver's rules and the resize target from the options (and the preference).
SInt32 configureConverter(const ConversionOptions& o, Convert2Mov* converter);
OutputStyle outputStyleFor(const ConversionOptions& o);
int jobCountFor(const ConversionOptions& o);

// One photograph to convert, and whether a folder walk found it.
struct Candidate {
  std::string path;
  bool foundInFolder = false;
};

// Converts every candidate in at most jobs processes and has printer say what came of each, in
// the candidates' order. Photographs that would make the same movie (a.jpg, a.JPEG) never run at
// once: each waits for the one before it, which the movie then names. stop, when it returns
// true, ends the run after the conversions under way: the rest are left for later and their
// indexes returned. holdBack, when it returns true for a result, keeps it from printer: the
// caller deals with it.
std::vector<std::size_t> convertCandidates(Convert2Mov& converter, const std::vector<Candidate>& candidates,
                                           SInt32 target, int jobs, ConversionPrinter& printer,
                                           const std::function<bool()>& stop = {},
                                           const std::function<bool(std::size_t, const PhotoResult&)>& holdBack = {});

}  // namespace cli
