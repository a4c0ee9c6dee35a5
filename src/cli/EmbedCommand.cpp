// still2mov embed VOICE.wav PHOTO.jpg OUT.jpg: writes a copy of the photograph that carries the
// recording as its voice annotation, the way voice-annotating cameras store it.
#include <cstdio>
#include <string>
#include <vector>

#include "ImageAudio/Embed/FlashPixAudioWriter.h"
#include "ImageAudio/Embed/RecordingCheck.h"
#include "cli/CliFiles.h"
#include "cli/Commands.h"

namespace {

void printEmbedHelp(std::FILE* out) {
  std::fputs(
      "Usage: still2mov embed VOICE.wav PHOTO.jpg OUT.jpg\n"
      "Writes OUT.jpg: a copy of PHOTO.jpg carrying VOICE.wav as a FlashPix voice annotation\n"
      "(APP2 \"FPXR\" segments after the APP0/APP1 segments). FlashPix segments that PHOTO.jpg\n"
      "already carries are replaced, so the copy holds exactly one annotation. The inputs are\n"
      "never modified; OUT.jpg must be another file, and it is written in one step.\n",
      out);
}

int fail(const std::string& path, const std::string& what) {
  std::fprintf(stderr, "still2mov: %s: %s\n", path.c_str(), what.c_str());
  return 1;
}

}  // namespace

int runEmbedCommand(const std::vector<std::string>& args) {
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (const std::string& a : args) {
    if (!optionsEnded && (a == "--help" || a == "-h")) {
      printEmbedHelp(stdout);
      return 0;
    }
    if (!optionsEnded && a == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "still2mov: embed: unknown option %s\n", a.c_str());
      printEmbedHelp(stderr);
      return 2;
    }
    operands.push_back(a);
  }
  if (operands.size() != 3) {
    printEmbedHelp(stderr);
    return 2;
  }
  const std::string& voicePath = operands[0];
  const std::string& photoPath = operands[1];
  const std::string& outPath = operands[2];

  std::string voice, photo, reason;
  if (!cli::readWholeFile(voicePath, &voice, &reason)) return fail(voicePath, "cannot be read (" + reason + ")");
  if (!flashpix::isRiffWave(voice)) return fail(voicePath, "not a RIFF WAVE file");
  if (std::string why = flashpix::movieProblem(voice); !why.empty())
    std::fprintf(stderr, "still2mov: %s: warning: %s; no movie can be made from it\n", voicePath.c_str(), why.c_str());
  if (!cli::readWholeFile(photoPath, &photo, &reason)) return fail(photoPath, "cannot be read (" + reason + ")");
  if (cli::sameFile(outPath, photoPath) || cli::sameFile(outPath, voicePath))
    return fail(outPath, "is one of the input files; choose another output file");

  std::string result;
  std::size_t replaced = 0;
  flashpix::EmbedStatus st = flashpix::embedAudio(photo, voice, flashpix::EmbedOptions{}, &result, &replaced);
  if (st == flashpix::EmbedStatus::notJpeg) return fail(photoPath, flashpix::describe(st));
  if (st != flashpix::EmbedStatus::ok) return fail(voicePath, flashpix::describe(st));

  if (!cli::replaceFileWith(outPath, result, &reason)) return fail(outPath, "cannot be written (" + reason + ")");
  std::size_t pieces = flashpix::pieceCount(voice.size(), flashpix::kMaxPieceBytes);
  std::printf("%s: voice annotation embedded (%zu bytes in %zu piece%s)", outPath.c_str(), voice.size(), pieces,
              pieces == 1 ? "" : "s");
  if (replaced > 0) std::printf("; replaced %zu FlashPix segment%s", replaced, replaced == 1 ? "" : "s");
  std::printf("\n");
  return 0;
}
