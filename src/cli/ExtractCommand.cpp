// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov extract [-y] PHOTO [OUT.wav]: writes the photograph's voice annotation, byte for byte
// the WAVE file the camera stored, through the conversion's own extraction.
#include <cstdio>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "cli/CliFiles.h"
#include "cli/Commands.h"
#include "cli/DisplayText.h"
#include "cli/OptionParser.h"
#include "cli/OutputTarget.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/Terminals.h"
#include "toolbox/Files/SafeSave.h"

namespace {

struct ExtractOptions {
  bool overwrite = false;
};

cli::CommandSyntax extractSyntax(ExtractOptions* o) {
  cli::CommandSyntax s = subcommandSyntax("extract");
  s.summary =
      "Write the voice annotation that PHOTO carries to OUT.wav (by default PHOTO's\n"
      "name with \".wav\"): the WAVE file exactly as the camera stored it. A recording\n"
      "the camera wrote beside PHOTO (the file RelatedSoundFile names, else PHOTO's\n"
      "name with \".wav\", letter case aside) is copied byte for byte. OUT.wav\n"
      "appears whole or not at all; an existing one is replaced only with -y, and only\n"
      "when it is a regular file of yours. OUT.wav \"-\" is standard output.\n";
  s.options = {
      {'y', "overwrite", cli::OptionValue::none, nullptr, "replace an existing OUT.wav", cli::setFlag(&o->overwrite)},
  };
  s.operandCount = {1, 2};
  return s;
}

int fail(const std::string& path, const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", cli::displayText(path).c_str(), cli::displayText(what).c_str());
  return 1;
}

// The recording as the pipe's contents, and nothing else there: what is said goes to standard error.
int extractToStandardOutput(const std::string& photo) {
  if (IsTerminalStream(stdout)) return fail("-", "is a terminal; a recording is not written to one");
  Convert2Mov converter;
  const SInt32 status = converter.extractRecording(photo, stdout);
  const ConversionReport& r = converter.lastReport();
  if (r.outcome == ConversionOutcome::failed) return fail(photo, r.problem);
  if (status == noErr && r.outcome == ConversionOutcome::noVoice) return fail(photo, "no voice annotation");
  if (status != noErr || std::fflush(stdout) != 0) return fail(photo, "the recording could not be written");
  return 0;
}

}  // namespace

int runExtractCommand(const std::vector<std::string>& args) {
  ExtractOptions options;
  std::vector<std::string> operands;
  if (std::optional<int> done = cli::parseCommandLine(extractSyntax(&options), args, &operands)) return *done;
  const bool overwrite = options.overwrite;
  const std::string& photo = operands[0];
  // Named by default after the photograph, with the extension its recording's source gives.
  const std::string out =
      operands.size() == 2 ? operands[1] : Convert2Mov::extractedRecordingPathFor(photo);

  if (cli::isStandardOutput(out)) return extractToStandardOutput(photo);
  if (out == photo || cli::sameFile(out, photo)) return fail(out, "is the photograph itself; choose another file");
  cli::OutputTarget target;
  std::string reason;
  if (!cli::chooseOutputTarget(out, overwrite, &target, &reason)) return fail(out, reason);

  // The recording goes straight into the working file; a photograph that has none to give
  // leaves nothing behind.
  Convert2Mov converter;
  std::string refusal;
  const OSErr err = FSpSaveStreamByRule(&target.spec, target.rule, &target.stamp, [&](std::FILE* f) -> OSErr {
    const SInt32 status = converter.extractRecording(photo, f);
    const ConversionReport& r = converter.lastReport();
    if (r.outcome == ConversionOutcome::failed) refusal = r.problem;
    // -y must not put a copy of the recording in its own place.
    else if (!r.soundFile.empty() && cli::sameFile(out, r.soundFile))
      refusal = "its recording is " + r.soundFile + " already; choose another file";
    else if (status != noErr) refusal = "the recording could not be written";
    else if (r.outcome == ConversionOutcome::noVoice) refusal = "no voice annotation";
    return refusal.empty() ? noErr : eofErr;  // anything but noErr discards the working file
  });
  if (!refusal.empty()) return fail(photo, refusal);
  if (err == dupFNErr)
    return fail(out, target.rule == FSPublishRule::noReplace ? "already exists (-y replaces it)"
                                                             : "changed while it was written; left as it is");
  if (err != noErr) return fail(out, "cannot be written (" + cli::saveFailure(err) + ")");
  const ConversionReport& r = converter.lastReport();
  std::string from;
  if (!r.soundFile.empty()) from = " from " + r.soundFile;
  if (!r.passedOverSoundFile.empty()) from += "; " + r.passedOverSoundFile + " " + r.passedOverSoundProblem;
  std::printf("%s -> %s (%llu bytes%s)\n", cli::displayText(photo).c_str(), cli::displayText(out).c_str(),
              static_cast<unsigned long long>(r.recordingBytes), cli::displayText(from).c_str());
  return 0;
}
