// still2mov embed VOICE.wav PHOTO.jpg OUT.jpg: writes a copy of the photograph that carries the
// recording as its voice annotation, the way voice-annotating cameras store it.
#include <cstdio>
#include <string>
#include <vector>

#include "ImageAudio/Embed/FlashPixAudioWriter.h"
#include "ImageAudio/Embed/RecordingCheck.h"
#include "cli/CliFiles.h"
#include "cli/Commands.h"
#include "cli/DisplayText.h"
#include "cli/OptionParser.h"

namespace {

cli::CommandSyntax embedSyntax() {
  cli::CommandSyntax s = subcommandSyntax("embed");
  s.summary =
      "Write OUT.jpg: a copy of PHOTO.jpg carrying VOICE.wav as a FlashPix voice\n"
      "annotation (APP2 \"FPXR\" segments after the APP0/APP1 segments). FlashPix\n"
      "segments that PHOTO.jpg already carries are replaced, so the copy holds exactly\n"
      "one annotation. The inputs are never modified; OUT.jpg must be another file, and\n"
      "it is written in one step.\n";
  s.operandCount = {3, 3, "a recording, a photograph and an output file are needed"};
  return s;
}

int fail(const std::string& path, const std::string& what) {
  std::fprintf(stderr, "still2mov: %s: %s\n", cli::displayText(path).c_str(), what.c_str());
  return 1;
}

}  // namespace

int runEmbedCommand(const std::vector<std::string>& args) {
  std::vector<std::string> operands;
  if (std::optional<int> done = cli::parseCommandLine(embedSyntax(), args, &operands)) return *done;
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
  std::printf("%s: voice annotation embedded (%zu bytes in %zu piece%s)", cli::displayText(outPath).c_str(), voice.size(), pieces,
              pieces == 1 ? "" : "s");
  if (replaced > 0) std::printf("; replaced %zu FlashPix segment%s", replaced, replaced == 1 ? "" : "s");
  std::printf("\n");
  return 0;
}
