// still2mov extract [-y] PHOTO [OUT.wav]: writes the photograph's voice annotation, byte for byte
// the WAVE file the camera stored, through the conversion's own extraction.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "cli/CliFiles.h"
#include "cli/Commands.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/FilePlacing.h"
#include "toolbox/Files/Files.h"

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

// The permissions the new file gets: those of the file it replaces (never through a link, and
// never more than the permission bits), else the usual ones.
fs::perms permissionsFor(const fs::file_status& existing) {
  if (fs::is_regular_file(existing)) return existing.permissions() & fs::perms::all;
  mode_t mask = ::umask(0);
  ::umask(mask);
  return fs::perms(0666 & ~mask);
}

// A new, private file with a hidden, unused name beside path, where the recording is written
// before it takes its real name.
OSErr openWorkingFile(const std::string& path, std::string* workingPath, std::FILE** stream) {
  static std::mt19937_64 rng{std::random_device{}()};
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const std::size_t slash = path.find_last_of('/');
  const std::string folder = path.substr(0, slash + 1), leaf = path.substr(slash + 1, 200);
  OSErr err = dupFNErr;
  for (int attempt = 0; attempt < 100 && err == dupFNErr; ++attempt) {
    *workingPath = folder + "." + leaf + ".";
    for (int k = 0; k < 8; ++k) *workingPath += kAlphabet[rng() % (sizeof kAlphabet - 1)];
    err = FSOpenNewFile(workingPath->c_str(), 0600, stream);
  }
  return err;
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
  FSSpec target{}, working{};
  if (ec || FSpFromPath(absolute, &target) != noErr) return fail(out, "cannot be written (its folder does not exist)");
  std::string workingPath;
  std::FILE* f = nullptr;
  if (openWorkingFile(absolute, &workingPath, &f) != noErr)
    return fail(out, std::string("cannot be written (no new file can be made in its folder: ") + std::strerror(errno) +
                         ")");
  FSpFromPath(workingPath, &working);

  Convert2Mov converter;
  converter.extractRecording(photo, f);
  const bool closed = std::fclose(f) == 0;
  const ConversionReport& r = converter.lastReport();
  auto discard = [&](const std::string& path, const std::string& what) {
    FSpDelete(&working);
    return fail(path, what);
  };
  if (r.outcome == ConversionOutcome::failed) return discard(photo, r.problem);
  if (!closed) return discard(photo, "the recording could not be written");
  if (r.outcome == ConversionOutcome::noVoice) return discard(photo, "no voice annotation");

  fs::permissions(workingPath, permissionsFor(existing), ec);
  OSErr err = overwrite ? FSpReplaceObject(&working, &target) : FSpRenameUnlessTaken(&working, &target);
  if (err == dupFNErr) return discard(out, "already exists (-y replaces it)");
  if (err != noErr) return discard(out, std::string("cannot be written (") + std::strerror(errno) + ")");
  std::printf("%s -> %s (%llu bytes)\n", photo.c_str(), out.c_str(), static_cast<unsigned long long>(r.recordingBytes));
  return 0;
}
