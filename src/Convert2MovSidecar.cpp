// SPDX-License-Identifier: GPL-2.0-or-later
// A voice memo that the camera wrote as a WAVE file beside the photograph: found by the name its
// EXIF RelatedSoundFile gives, else by the photograph's own name with ".wav", letter case aside;
// used only when it is the folder's own regular file (never a link) holding a whole RIFF WAVE.
// Conversion, --info and extract all ask findRecordingBeside. It is read, never changed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "media/WaveFormats.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/FolderNames.h"
#include "toolbox/Files/RegularFiles.h"
#include "toolbox/Movies/Movies.h"

namespace {

// The photograph's folder as a prefix for names in it: "" for a bare name (the current folder).
std::string folderPrefix(const std::string& image) {
  const size_t slash = image.rfind('/');
  return slash == std::string::npos ? std::string() : image.substr(0, slash + 1);
}

// The tag's text without the padding some cameras leave, and only when it names an item of the
// photograph's own folder: the tag never leads elsewhere.
std::string relatedName(const ExImageInfo& record) {
  if (!record.getRelatedSoundFilePresent()) return {};
  std::string name = record.getRelatedSoundFile();
  while (!name.empty() && (name.back() == ' ' || name.back() == '\0')) name.pop_back();
  if (name == "." || name == ".." || name.find('/') != std::string::npos) return {};
  return name;
}

// The folder's name for wanted, letter case aside: the first of preferred that is there, else
// the first in byte order; never the photograph itself. "" when the folder has none.
std::string nameInFolder(const std::string& prefix, const std::string& wanted, const std::vector<std::string>& preferred,
                         const std::string& photoName) {
  std::vector<std::string> names = FSNamesIgnoringCase(prefix, wanted);
  std::erase(names, photoName);
  for (const std::string& p : preferred)
    for (const std::string& name : names)
      if (name == p) return name;
  return names.empty() ? std::string() : names.front();
}

}  // namespace

std::optional<RecordingBeside> Convert2Mov::findRecordingBeside(const std::string& image, const ExImageInfo& record,
                                                                std::FILE** stream) {
  if (stream) *stream = nullptr;
  const std::string prefix = folderPrefix(image);
  const std::string photoName = NSStringLastPathComponent(image);
  const std::string stem = NSStringLastPathComponent(NSStringByDeletingPathExtension(image));
  // Each rule: the name it asks for, and the folder's name for it ("" when none).
  std::vector<std::pair<std::string, std::string>> rules;
  if (std::string related = relatedName(record); !related.empty())
    rules.emplace_back(related, nameInFolder(prefix, related, {related}, photoName));
  if (!stem.empty())
    rules.emplace_back(stem + ".wav", nameInFolder(prefix, stem + ".wav", {stem + ".WAV", stem + ".wav"}, photoName));

  // The first usable one serves; when none is, the first that is there is the one refused.
  std::optional<RecordingBeside> found;
  std::string missing;  // a name the tag gave that the folder does not hold
  for (const auto& [wanted, name] : rules) {
    if (name.empty()) {
      if (!found && missing.empty()) missing = prefix + wanted;
      continue;
    }
    if (found && found->path == prefix + name) continue;
    RecordingBeside candidate = examineRecording(prefix, name, stream);
    if (candidate.problem.empty()) {
      if (found) {
        candidate.passedOver = found->path;
        candidate.passedOverProblem = found->problem;
      } else if (!missing.empty()) {
        candidate.passedOver = missing;
        candidate.passedOverProblem = "is not there";
      }
      return candidate;
    }
    if (!found) found = std::move(candidate);
  }
  return found;
}

RecordingBeside Convert2Mov::examineRecording(const std::string& prefix, const std::string& name, std::FILE** keep) {
  RecordingBeside r;
  r.path = prefix + name;
  std::FILE* file = nullptr;
  std::string reason;
  r.status = FSOpenRegularFileInFolder(prefix, name, &file, &reason);
  if (r.status != noErr) {
    r.problem = "cannot be read (" + reason + ")";
    return r;
  }
  UInt8 header[12] = {};
  const size_t got = std::fread(header, 1, sizeof header, file);
  const bool sized = std::fseek(file, 0, SEEK_END) == 0;
  const long size = sized ? std::ftell(file) : -1;
  const UInt64 declared = riffDeclaredBytes(ReadLittleEndian32(header + 4));
  if (size < 0) {
    r.status = ioErr;
    r.problem = "cannot be read (read error)";
  } else if (!media::wave::IsRiffWaveHeader(header, got)) {
    r.status = badFileFormat;
    r.problem = "is not a RIFF WAVE file";
  } else if (declared > UInt64(size)) {
    r.status = badFileFormat;
    r.problem = "is cut short: it holds " + std::to_string(size) + " of the " + std::to_string(declared) +
                " bytes its header declares";
  }
  r.bytes = size < 0 ? 0 : UInt64(size);
  if (keep && r.problem.empty() && std::fseek(file, 0, SEEK_SET) == 0) {
    *keep = file;
    return r;
  }
  std::fclose(file);
  return r;
}

SoundSource Convert2Mov::soundSourceOf(const ExImageInfo& record, std::string* file) {
  if (file) file->clear();
  if (record.numAudioBlocks() > 0) return SoundSource::embedded;
  if (!record.hasFileName()) return SoundSource::none;
  // What a conversion would refuse is no recording.
  std::optional<RecordingBeside> beside = findRecordingBeside(record.getFileName(), record);
  if (!beside || !beside->problem.empty()) return SoundSource::none;
  if (file) *file = beside->path;
  return SoundSource::sidecar;
}

void Convert2Mov::noteRecordingBeside(const RecordingBeside& found) {
  mReport.soundSource = SoundSource::sidecar;
  mReport.soundFile = found.path;
  mReport.passedOverSoundFile = found.passedOver;
  mReport.passedOverSoundProblem = found.passedOverProblem;
}

ExtractedAudio Convert2Mov::audioBesidePhotograph(const std::string& image, const ExImageInfo& record) {
  // A photograph that cannot be read is reported as such, whatever lies beside it.
  if (!mReport.imageReadable) return {};
  std::optional<RecordingBeside> found = findRecordingBeside(image, record);
  if (!found) return {};
  noteRecordingBeside(*found);
  if (!found->problem.empty()) return {refuse(found->status, "its recording " + found->path + " " + found->problem), std::nullopt};
  mReport.recordingBytes = found->bytes;
  if (OSErr err = checkPicture(*mPhotograph.contents()); err != noErr) return {err, std::nullopt};
  return {noErr, found->path, false};
}

OSErr Convert2Mov::copyRecordingBeside(const std::string& image, const ExImageInfo& record, std::FILE* out) {
  std::FILE* in = nullptr;
  std::optional<RecordingBeside> found = findRecordingBeside(image, record, &in);
  if (!found) return noErr;
  noteRecordingBeside(*found);
  if (!found->problem.empty()) return refuse(found->status, "its recording " + found->path + " " + found->problem);
  // Copied from the very file that was checked, as it is.
  std::vector<char> buffer(1 << 16);
  UInt64 copied = 0;
  OSErr err = noErr;
  while (err == noErr) {
    const size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
    if (n > 0 && std::fwrite(buffer.data(), 1, n, out) != n)
      err = refuse(ioErr, std::string("the recording could not be written (") + std::strerror(errno) + ")");
    copied += n;
    if (n < buffer.size()) {
      if (std::ferror(in)) err = refuse(ioErr, "its recording " + found->path + " cannot be read (read error)");
      break;
    }
  }
  std::fclose(in);
  if (err != noErr) return err;
  mReport.recordingBytes = copied;
  mReport.waveWritten = true;
  return noErr;
}
