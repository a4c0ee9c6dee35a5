// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov embed [-y] VOICE.wav PHOTO.jpg OUT.jpg: writes a copy of the photograph that carries the
// recording as its voice annotation, the way voice-annotating cameras store it.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ImageAudio/Embed/FlashPixAudioWriter.h"
#include "ImageAudio/Embed/RecordingCheck.h"
#include "cli/CliFiles.h"
#include "cli/Commands.h"
#include "cli/DisplayText.h"
#include "cli/OptionParser.h"
#include "cli/OutputTarget.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/Terminals.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/RegularFiles.h"

namespace {

cli::CommandSyntax embedSyntax(bool* overwrite) {
  cli::CommandSyntax s = subcommandSyntax("embed");
  s.summary =
      "Write OUT.jpg: a copy of PHOTO.jpg carrying VOICE.wav as a FlashPix voice\n"
      "annotation (APP2 \"FPXR\" segments after the APP0/APP1 segments). FlashPix\n"
      "segments that PHOTO.jpg already carries are replaced, so the copy holds exactly\n"
      "one annotation. The inputs are never modified; OUT.jpg must be another file, and\n"
      "it is written in one step. An existing OUT.jpg is replaced only with -y, and\n"
      "only when it is a regular file of yours. OUT.jpg \"-\" is standard output.\n";
  s.options = {
      {'y', "overwrite", cli::OptionValue::none, nullptr, "replace an existing OUT.jpg", cli::setFlag(overwrite)},
  };
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
  bool overwrite = false;
  if (std::optional<int> done = cli::parseCommandLine(embedSyntax(&overwrite), args, &operands)) return *done;
  const std::string& voicePath = operands[0];
  const std::string& photoPath = operands[1];
  const std::string& outPath = operands[2];

  // The recording is read a piece at a time as the copy is written, so its size costs no memory.
  std::string photo, reason;
  std::FILE* voiceFile = nullptr;
  if (FSOpenRegularFile(voicePath, &voiceFile, &reason) != noErr)
    return fail(voicePath, "cannot be read (" + reason + ")");
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> voiceOwner(voiceFile, std::fclose);
  flashpix::RecordingReader voice;
  if (fseeko(voiceFile, 0, SEEK_END) != 0 || (voice.size = UInt64(ftello(voiceFile))) == UInt64(-1))
    return fail(voicePath, "cannot be read (" + ErrnoWords(errno) + ")");
  int readErrno = 0;
  voice.read = [&](UInt64 offset, char* bytes, std::size_t count) {
    if (fseeko(voiceFile, off_t(offset), SEEK_SET) == 0 && std::fread(bytes, 1, count, voiceFile) == count) return true;
    readErrno = std::ferror(voiceFile) ? errno : 0;
    return false;
  };
  char head[12];
  if (!voice.read(0, head, sizeof head) || !flashpix::isRiffWave(std::string(head, sizeof head)))
    return fail(voicePath, "not a RIFF WAVE file");
  FSSpec voiceSpec{};
  if (FSpFromUserPath(voicePath, &voiceSpec) == noErr)
    if (std::string why = flashpix::movieProblem(voiceSpec); !why.empty())
      std::fprintf(stderr, "still2mov: %s: warning: %s; no movie can be made from it\n", voicePath.c_str(), why.c_str());
  if (!cli::readWholeFile(photoPath, &photo, &reason)) return fail(photoPath, "cannot be read (" + reason + ")");
  const bool toStandardOutput = cli::isStandardOutput(outPath);
  if (toStandardOutput && IsTerminalStream(stdout)) return fail(outPath, "is a terminal; a photograph is not written to one");
  if (!toStandardOutput && (cli::sameFile(outPath, photoPath) || cli::sameFile(outPath, voicePath)))
    return fail(outPath, "is one of the input files; choose another output file");
  cli::OutputTarget target;
  if (!toStandardOutput && !cli::chooseOutputTarget(outPath, overwrite, &target, &reason)) return fail(outPath, reason);

  // A copy no conversion would read is not made: the limit is the one photographs are read under.
  const std::string tooLarge = "the copy would be larger than " + std::to_string(kFSMaxWholeFileBytes >> 20) +
                               " MB, which no conversion reads; nothing written";
  if (UInt64(photo.size()) + voice.size > kFSMaxWholeFileBytes) return fail(outPath, tooLarge);

  std::size_t replaced = 0;
  UInt64 written = 0;
  flashpix::EmbedStatus st = flashpix::EmbedStatus::ok;
  const auto produce = [&](const cli::OutputAppend& append) {
    // The segments' headers come on top of the two files: the count decides at the last byte.
    const cli::OutputAppend counted = [&](const char* bytes, std::size_t count) {
      written += count;
      return written <= kFSMaxWholeFileBytes && append(bytes, count);
    };
    st = flashpix::embedAudio(photo, voice, flashpix::EmbedOptions{}, counted, &replaced);
    return st == flashpix::EmbedStatus::ok;
  };
  bool saved = false;
  if (toStandardOutput) {
    saved = produce([](const char* bytes, std::size_t count) { return std::fwrite(bytes, 1, count, stdout) == count; }) &&
            std::fflush(stdout) == 0;
    if (!saved) reason = "cannot be written (" + ErrnoWords(errno) + ")";
  } else {
    saved = cli::saveOutput(target, produce, &reason);
  }
  if (written > kFSMaxWholeFileBytes) return fail(outPath, tooLarge);
  if (st == flashpix::EmbedStatus::notJpeg) return fail(photoPath, flashpix::describe(st));
  if (st == flashpix::EmbedStatus::unreadable)
    return fail(voicePath, "cannot be read (" + (readErrno ? ErrnoWords(readErrno) : "it ended early") + ")");
  if (st != flashpix::EmbedStatus::ok && st != flashpix::EmbedStatus::outputFailed)
    return fail(voicePath, flashpix::describe(st));
  if (!saved) return fail(outPath, reason);
  // Standard output holds the copy alone.
  if (toStandardOutput) return 0;
  std::size_t pieces = flashpix::pieceCount(std::size_t(voice.size), flashpix::kMaxPieceBytes);
  std::printf("%s: voice annotation embedded (%llu bytes in %zu piece%s)", cli::displayText(outPath).c_str(),
              static_cast<unsigned long long>(voice.size), pieces,
              pieces == 1 ? "" : "s");
  if (replaced > 0) std::printf("; replaced %zu FlashPix segment%s", replaced, replaced == 1 ? "" : "s");
  std::printf("\n");
  return 0;
}
