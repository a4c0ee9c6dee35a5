// Dispatches still2mov's command line to its subcommands and answers --help and --version.
// A first word that names no subcommand means a plain conversion of the photographs given; the
// commands of the application and the bus run in the application's binary.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Controller.h"
#include "cli/Commands.h"

void printUsage(bool toStderr) {
  std::FILE* out = toStderr ? stderr : stdout;
  std::fputs(
      "Usage:\n"
      "  still2mov [--resize | --no-resize] [-y | -n] [--metadata] PHOTO...\n"
      "                                                 make PHOTO.mov from each photograph's voice annotation\n"
      "  still2mov --info [--json] [--verbose] PHOTO   show what the photograph carries\n"
      "  still2mov embed VOICE.wav PHOTO.jpg OUT.jpg    write a copy of PHOTO carrying VOICE as its annotation\n"
      "                                                 (replacing any it already carries)\n"
      "  still2mov extract [-y] PHOTO [OUT.wav]         write the voice annotation as the camera stored it\n"
      "                                                 (OUT.wav: PHOTO's name with .wav; -y replaces it)\n"
      "  still2mov prefs get Resize_QT_Image            show the resize preference\n"
      "  still2mov prefs set Resize_QT_Image true|false change it\n"
      "  still2mov app [PHOTO...]                       run as the background application\n"
      "  still2mov open                                 choose a photograph in an open panel\n"
      "  still2mov send PHOTO...                        hand photographs to the running application\n"
      "  still2mov --help | --version\n"
      "\n",
      out);
  std::fprintf(out, "--resize scales the movie's picture to %d pixels wide; --no-resize keeps its natural size.\n",
               int(kResizeWidth));
  std::fputs(
      "Without either, the Resize_QT_Image preference decides (on when unset).\n"
      "A file already named PHOTO.mov is replaced only when still2mov made it; -y (--overwrite)\n"
      "replaces any file, -n (--skip-existing) leaves any existing file and skips the photograph.\n"
      "--metadata puts the capture time, the camera's make and model and the GPS position into the movie.\n"
      "Exit status: 0 when nothing failed, 1 when a photograph failed, 2 for bad usage.\n",
      out);
}

namespace {

// The application's binary: beside this one (a build), or where it is installed.
constexpr const char* kApplicationBinary = "still2mov-app";
constexpr const char* kInstalledApplicationBinary = "../libexec/still2mov/still2mov-app";

// Runs the command in the application's binary, in this same process; returns only on failure.
int handToApplication(char** argv) {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  int error = ENOENT;
  if (!ec) {
    for (const char* place : {kApplicationBinary, kInstalledApplicationBinary}) {
      const std::string binary = (self.parent_path() / place).string();
      execv(binary.c_str(), argv);
      if (errno != ENOENT) error = errno;
    }
  }
  std::fprintf(stderr, "still2mov: the application is not installed beside this program (%s): %s\n",
               kApplicationBinary, std::strerror(error));
  return 1;
}

}  // namespace

int still2movMain(int argc, char** argv, const BusCommands* bus) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    printUsage(true);
    return 2;
  }
  const std::string& first = args[0];
  if (first == "--help" || first == "-h") {
    printUsage(false);
    return 0;
  }
  if (first == "--version") {
    std::printf("still2mov %s\n", STILL2MOV_VERSION);
    return 0;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (first == "--info") return runInfoCommand(rest);
  if (first == "embed") return runEmbedCommand(rest);
  if (first == "extract") return runExtractCommand(rest);
  if (first == "prefs") return runPrefsCommand(rest);
  if (first == "app" || first == "open" || first == "send") {
    if (bus == nullptr) return handToApplication(argv);
    if (first == "app") return bus->app(rest);
    if (first == "open") return bus->open(rest);
    return bus->send(rest);
  }
  return runConvertCommand(args);
}
