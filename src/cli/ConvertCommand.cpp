// still2mov [--resize | --no-resize] [-y | -n] PHOTO...: makes a movie beside each photograph that
// carries a voice annotation and says, one line per photograph, what came of it.
#include <cstdio>
#include <string>
#include <vector>

#include "Controller.h"
#include "Convert2Mov.h"
#include "cli/Commands.h"

namespace {

// Prints the photograph's line; returns false when it counts as a failure.
bool reportOutcome(const std::string& photo, const ConversionReport& r) {
  switch (r.outcome) {
    case ConversionOutcome::converted:
      std::printf("%s -> %s (%.1f s of sound%s)\n", photo.c_str(), r.moviePath.c_str(), r.soundSeconds,
                  r.soundSource == SoundSource::sidecar ? (" from " + r.soundFile).c_str() : "");
      return true;
    case ConversionOutcome::noVoice:
      std::printf("%s: no voice annotation\n", photo.c_str());
      return true;
    case ConversionOutcome::skipped:
      std::printf("%s: %s exists; skipped\n", photo.c_str(), r.moviePath.c_str());
      return true;
    case ConversionOutcome::failed:
      break;
  }
  std::fprintf(stderr, "%s: %s%s\n", photo.c_str(), r.problem.c_str(), r.refusedExisting ? " (-y replaces it)" : "");
  return false;
}

}  // namespace

int runConvertCommand(const std::vector<std::string>& args) {
  bool wantResize = false, wantNoResize = false, optionsEnded = false;
  bool overwrite = false, skipExisting = false, metadata = false;
  std::vector<std::string> photos;
  for (const std::string& a : args) {
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && a == "--resize") {
      wantResize = true;
    } else if (!optionsEnded && a == "--no-resize") {
      wantNoResize = true;
    } else if (!optionsEnded && (a == "-y" || a == "--overwrite")) {
      overwrite = true;
    } else if (!optionsEnded && (a == "-n" || a == "--skip-existing")) {
      skipExisting = true;
    } else if (!optionsEnded && a == "--metadata") {
      metadata = true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "still2mov: unknown option %s\n", a.c_str());
      printUsage(true);
      return 2;
    } else {
      photos.push_back(a);
    }
  }
  if (wantResize && wantNoResize) {
    std::fprintf(stderr, "still2mov: --resize and --no-resize exclude each other\n");
    printUsage(true);
    return 2;
  }
  if (overwrite && skipExisting) {
    std::fprintf(stderr, "still2mov: -y and -n exclude each other\n");
    printUsage(true);
    return 2;
  }
  if (photos.empty()) {
    std::fprintf(stderr, "still2mov: no photograph given\n");
    printUsage(true);
    return 2;
  }
  const SInt32 target = resizeTargetFor(wantResize || (!wantNoResize && readResizePreference()));

  Convert2Mov converter;
  if (overwrite) converter.setExistingMovieRule(ExistingMovie::replaceAny);
  if (skipExisting) converter.setExistingMovieRule(ExistingMovie::keep);
  converter.setCaptureMetadata(metadata);
  bool anyFailed = false;
  for (const std::string& photo : photos) {
    converter.createMovie(Convert2Mov::moviePathFor(photo), photo, target);
    if (!reportOutcome(photo, converter.lastReport())) anyFailed = true;
    std::fflush(stdout);
  }
  return anyFailed ? 1 : 0;
}
