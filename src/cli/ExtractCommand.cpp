// still2mov extract [-y] PHOTO [OUT.wav]: writes the photograph's voice annotation, byte for byte
// the WAVE file the camera stored, through the conversion's own extraction.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "cli/CliFiles.h"
#include "cli/Commands.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/SafeSave.h"

namespace {
namespace fs = std::filesystem;

void printExtractHelp(std::FILE* out) {
  std::fputs(
      "Usage: still2mov extract [-y | --overwrite] PHOTO [OUT.wav]\n"
      "Writes the voice annotation that PHOTO carries to OUT.wav (by default PHOTO's name with\n"
      "\".wav\"): the WAVE file exactly as the camera stored it. An existing OUT.wav is only\n"
      "replaced with -y; OUT.wav appears whole or not at all.\n",
      out);
}

int fail(const std::string& path, const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", path.c_str(), what.c_str());
  return 1;
}

}  // namespace

int runExtractCommand(const std::vector<std::string>& args) {
  bool overwrite = false, optionsEnded = false;
  std::vector<std::string> operands;
  for (const std::string& a : args) {
    if (!optionsEnded && (a == "--help" || a == "-h")) {
      printExtractHelp(stdout);
      return 0;
    }
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (a == "-y" || a == "--overwrite")) {
      overwrite = true;
    } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "still2mov: extract: unknown option %s\n", a.c_str());
      printExtractHelp(stderr);
      return 2;
    } else {
      operands.push_back(a);
    }
  }
  if (operands.empty() || operands.size() > 2) {
    printExtractHelp(stderr);
    return 2;
  }
  const std::string& photo = operands[0];
  const std::string out = operands.size() == 2 ? operands[1] : Convert2Mov::recordingPathFor(photo);

  std::error_code ec;
  const fs::file_status existing = fs::symlink_status(out, ec);
  if (out == photo || cli::sameFile(out, photo)) return fail(out, "is the photograph itself; choose another file");
  if (fs::is_directory(existing)) return fail(out, "is a directory");
  if (fs::exists(existing) && !overwrite) return fail(out, "already exists (-y replaces it)");

  const std::string absolute = fs::absolute(out, ec).lexically_normal().string();
  FSSpec target{};
  if (ec || FSpFromPath(absolute, &target) != noErr) return fail(out, "cannot be written (its folder does not exist)");

  // The recording goes straight into the working file; a photograph that has none to give
  // leaves nothing behind.
  Convert2Mov converter;
  std::string refusal;
  const OSErr err = FSpSaveFile(&target, overwrite, [&](int fd) -> OSErr {
    const int own = dup(fd);  // the stream closes a descriptor of its own
    std::FILE* f = own >= 0 ? fdopen(own, "wb") : nullptr;
    if (f == nullptr) {
      const OSErr err = OSErrFromErrno(errno);
      if (own >= 0) close(own);
      return err;
    }
    SInt32 status = converter.extractRecording(photo, f);
    if (std::fclose(f) != 0 && status == noErr) status = ioErr;
    const ConversionReport& r = converter.lastReport();
    if (r.outcome == ConversionOutcome::failed) refusal = r.problem;
    else if (status != noErr) refusal = "the recording could not be written";
    else if (r.outcome == ConversionOutcome::noVoice) refusal = "no voice annotation";
    return refusal.empty() ? noErr : eofErr;  // anything but noErr discards the working file
  });
  if (!refusal.empty()) return fail(photo, refusal);
  if (err == dupFNErr) return fail(out, "already exists (-y replaces it)");
  if (err != noErr) return fail(out, std::string("cannot be written (") + std::strerror(ErrnoFromOSErr(err)) + ")");
  std::printf("%s -> %s (%llu bytes)\n", photo.c_str(), out.c_str(),
              static_cast<unsigned long long>(converter.lastReport().recordingBytes));
  return 0;
}
