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
#include "cli/DisplayText.h"
#include "cli/OptionParser.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/SafeSave.h"

namespace {
namespace fs = std::filesystem;

struct ExtractOptions {
  bool overwrite = false;
};

cli::CommandSyntax extractSyntax(ExtractOptions* o) {
  cli::CommandSyntax s;
  s.name = "extract";
  s.usage = {commandSynopsis("extract")};
  s.summary =
      "Write the voice annotation that PHOTO carries to OUT.wav (by default PHOTO's\n"
      "name with \".wav\"): the WAVE file exactly as the camera stored it. OUT.wav\n"
      "appears whole or not at all.\n";
  s.options = {
      {'y', "overwrite", cli::OptionValue::none, nullptr, "replace an existing OUT.wav", cli::setFlag(&o->overwrite)},
  };
  return s;
}

// Why no file can be named at path: its name, or why its folder cannot be reached.
std::string unreachableReason(const std::string& path, OSErr err) {
  if (err != dirNFErr) return ErrnoWords(ErrnoFromOSErr(err));
  std::error_code ec;
  const bool exists = fs::exists(fs::path(path).parent_path(), ec);
  if (ec) return ErrnoWords(ec.value());
  return exists ? "its folder cannot be used" : "its folder does not exist";
}

int fail(const std::string& path, const std::string& what) {
  std::fprintf(stderr, "%s: %s\n", cli::displayText(path).c_str(), cli::displayText(what).c_str());
  return 1;
}

}  // namespace

int runExtractCommand(const std::vector<std::string>& args) {
  ExtractOptions options;
  const cli::CommandSyntax syntax = extractSyntax(&options);
  std::vector<std::string> operands;
  if (std::optional<int> done = cli::parseCommandLine(syntax, args, &operands)) return *done;
  if (operands.empty()) return cli::usageError(syntax, "no photograph given");
  if (operands.size() > 2) return cli::usageError(syntax, "too many files given");
  const bool overwrite = options.overwrite;
  const std::string& photo = operands[0];
  const std::string out = operands.size() == 2 ? operands[1] : Convert2Mov::recordingPathFor(photo);

  std::error_code ec;
  const fs::file_status existing = fs::symlink_status(out, ec);
  if (out == photo || cli::sameFile(out, photo)) return fail(out, "is the photograph itself; choose another file");
  if (fs::is_directory(existing)) return fail(out, "is a directory");
  if (fs::exists(existing) && !overwrite) return fail(out, "already exists (-y replaces it)");

  const std::string absolute = fs::absolute(out, ec).lexically_normal().string();
  FSSpec target{};
  if (ec) return fail(out, "cannot be written (" + ErrnoWords(ec.value()) + ")");
  if (const OSErr err = FSpFromPath(absolute, &target); err != noErr)
    return fail(out, "cannot be written (" + unreachableReason(absolute, err) + ")");

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
  if (err != noErr) return fail(out, "cannot be written (" + ErrnoWords(ErrnoFromOSErr(err)) + ")");
  std::printf("%s -> %s (%llu bytes)\n", cli::displayText(photo).c_str(), cli::displayText(out).c_str(),
              static_cast<unsigned long long>(converter.lastReport().recordingBytes));
  return 0;
}
