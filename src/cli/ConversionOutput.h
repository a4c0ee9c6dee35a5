// SPDX-License-Identifier: GPL-2.0-or-later
// What a conversion run prints: one line (or JSON object) per photograph from the driver's
// report, a progress line on a terminal and a summary at the end.
#pragma once
#include <chrono>
#include <cstddef>
#include <map>
#include <string>

#include "Convert2Mov.h"

namespace cli {

// What the command line keeps of one photograph's conversion: the report's verdict as it came,
// in a form that can travel from a worker process.
struct PhotoResult {
  ConversionOutcome outcome = ConversionOutcome::failed;
  std::string movie;          // where the movie was (or would have been) written
  double seconds = 0;         // the movie's sound, when converted
  std::string code;           // when failed: a stable word for it ("ENOSPC", "damaged-recording")
  std::string problem;        // when failed: the driver's words
  bool refusedExisting = false;
  std::string soundSource;    // "embedded" or "sidecar" when there was a recording
  std::string soundFile;      // the recording beside the photograph, for "sidecar"
  UInt32 audioBlocks = 0;
  UInt64 recordingBytes = 0;
};

PhotoResult resultOf(const ConversionReport& report);

struct OutputStyle {
  bool json = false;      // one JSON object per photograph and line
  bool quiet = false;     // failures only
  bool verbose = false;   // codes, details, and what a folder walk passes over
  bool progress = false;  // a progress line on standard error (a terminal)
  bool summary = false;   // counts at the end
  bool update = false;    // only what changed is converted: the summary counts what was current
};

class ConversionPrinter {
 public:
  ConversionPrinter(const OutputStyle& style, std::size_t total);
  ConversionPrinter(const ConversionPrinter&) = delete;
  ConversionPrinter& operator=(const ConversionPrinter&) = delete;

  // A photograph is being converted (for the progress line).
  void started(const std::string& photo);
  // Its result. foundInFolder: it came from a folder walk, where photographs without a voice
  // annotation are passed over quietly unless verbose.
  void finished(const std::string& photo, const PhotoResult& result, bool foundInFolder);
  // The same for the index-th photograph of a run whose results come back in any order: each is
  // held until those before it are printed, so they come out in the order given, while the
  // progress line counts every one as it comes.
  void finishedAt(std::size_t index, const std::string& photo, const PhotoResult& result, bool foundInFolder);
  // Ends a run of finishedAt: what is still held (behind a photograph never converted) is
  // printed in order, and the next run's indexes start again at 0.
  void endOrderedRun();
  // The index-th photograph of such a run says nothing (its caller has it in hand).
  void silentAt(std::size_t index);
  // Something on the command line or in a folder that is no photograph to convert: a failure.
  void failedPath(const std::string& path, const std::string& problem);
  // Something a folder walk leaves alone, said only when verbose.
  void passedOver(const std::string& path, const std::string& why);
  // Clears the progress line and prints the summary when wanted.
  void finish();

  bool anyFailed() const { return failed_ > 0; }

 private:
  void printHeld();
  void report(const std::string& photo, const PhotoResult& result, bool foundInFolder);
  void emit(std::FILE* stream, const std::string& line);
  void drawProgress();

  OutputStyle style_;
  std::size_t total_;
  std::size_t done_ = 0;
  std::size_t converted_ = 0, noVoice_ = 0, skipped_ = 0, failed_ = 0, upToDate_ = 0;
  struct Held {
    std::string photo;
    PhotoResult result;
    bool foundInFolder;
    bool silent = false;
  };
  std::map<std::size_t, Held> held_;  // results that came before an earlier one
  std::size_t nextIndex_ = 0;
  std::string current_;
  bool progressShown_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace cli
