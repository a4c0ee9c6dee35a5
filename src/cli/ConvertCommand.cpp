// still2mov [--resize | --no-resize] [-y | -n] PHOTO...: makes a movie beside each photograph that
// carries a voice annotation and says, one line per photograph, what came of it.
#include <cstdio>
#include <string>
#include <vector>

#include "Controller.h"
#include "Convert2Mov.h"
#include "cli/Commands.h"
#include "cli/PhotoPaths.h"

namespace {

// Prints the photograph's line; returns false when it counts as a failure.
bool reportOutcome(const std::string& photo, const std::string& movie, SInt32 status, const ConversionReport& r) {
  if (status != 0) {
    if (r.refusedExisting)
      std::fprintf(stderr, "%s: %s (-y replaces it)\n", photo.c_str(), r.problem.c_str());
    else if (!r.problem.empty())
      std::fprintf(stderr, "%s: %s\n", photo.c_str(), r.problem.c_str());
    else
      std::fprintf(stderr, "%s: conversion failed (error %d)\n", photo.c_str(), int(status));
    return false;
  }
  if (r.skippedExisting) {
    std::printf("%s: %s exists; skipped\n", photo.c_str(), r.moviePath.c_str());
    return true;
  }
  if (r.assembled) {
    const std::string& written = r.moviePath.empty() ? movie : r.moviePath;
    std::printf("%s -> %s (%.1f s of sound)\n", photo.c_str(), written.c_str(), r.soundSeconds);
    return true;
  }
  if (r.waveWritten) {
    std::printf("%s: voice annotation written to %s\n", photo.c_str(), r.wavePath.c_str());
    return true;
  }
  if (!r.imageFound || !r.imageReadable) {
    std::fprintf(stderr, "%s: cannot be read (%s)\n", photo.c_str(), cli::unreadableReason(photo).c_str());
    return false;
  }
  if (r.audioBlocks > 0) {
    std::fprintf(stderr, "%s: voice annotation found but no sound file could be written\n", photo.c_str());
    return false;
  }
  std::printf("%s: no voice annotation\n", photo.c_str());
  return true;
}

}  // namespace

int runConvertCommand(const std::vector<std::string>& args) {
  bool wantResize = false, wantNoResize = false, optionsEnded = false;
  bool overwrite = false, skipExisting = false;
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
  bool anyFailed = false;
  for (const std::string& photo : photos) {
    std::string movie = Convert2Mov::moviePathFor(photo);
    if (movie == photo) {
      // A photograph named *.mov would be overwritten by its own movie.
      std::fprintf(stderr, "%s: cannot be converted (its movie would replace it; rename it first)\n", photo.c_str());
      anyFailed = true;
      continue;
    }
    SInt32 status = converter.createMovie(movie, photo, target);
    if (!reportOutcome(photo, movie, status, converter.lastReport())) anyFailed = true;
    std::fflush(stdout);
  }
  return anyFailed ? 1 : 0;
}
