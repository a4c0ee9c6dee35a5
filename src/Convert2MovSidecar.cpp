// A voice memo that the camera wrote as a WAVE file beside the photograph: found by the name its
// EXIF RelatedSoundFile gives, else by the photograph's own name, letter case aside; used only
// when it is a regular file holding a whole RIFF WAVE. It is read, never changed or removed.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/FolderNames.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/RegularFiles.h"
#include "toolbox/Movies/Movies.h"

namespace {

bool sameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    const char x = a[k] >= 'A' && a[k] <= 'Z' ? char(a[k] - 'A' + 'a') : a[k];
    const char y = b[k] >= 'A' && b[k] <= 'Z' ? char(b[k] - 'A' + 'a') : b[k];
    if (x != y) return false;
  }
  return true;
}

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

// One way of naming the recording: the exact names to try first (one look-up each, no listing)
// and whether a name of the folder matches otherwise.
struct NameRule {
  std::vector<std::string> exact;
  bool (*matches)(const std::string& name, const std::string& wanted);
  std::string wanted;
};

bool anyCase(const std::string& name, const std::string& wanted) { return sameIgnoringCase(name, wanted); }
// The photograph's name as it is, then ".wav" in any letter case.
bool stemThenWav(const std::string& name, const std::string& stem) {
  return name.size() == stem.size() + 4 && name.compare(0, stem.size(), stem) == 0 &&
         sameIgnoringCase(name.substr(stem.size()), ".wav");
}

}  // namespace

std::optional<std::string> Convert2Mov::recordingBeside(const std::string& image, const ExImageInfo& record) {
  const std::string prefix = folderPrefix(image);
  const std::string photoName = NSStringLastPathComponent(image);
  const std::string stem = NSStringLastPathComponent(NSStringByDeletingPathExtension(image));
  std::vector<NameRule> rules;
  if (std::string related = relatedName(record); !related.empty())
    rules.push_back({{related}, anyCase, related});
  if (!stem.empty()) rules.push_back({{stem + ".WAV", stem + ".wav"}, stemThenWav, stem});

  std::vector<std::string> names;
  bool listed = false;
  for (const NameRule& rule : rules) {
    for (const std::string& name : rule.exact)
      if (name != photoName && FSFileExistsAtPath(prefix + name)) return prefix + name;
    // Read once, only when an exact name is missing: most photographs have no recording beside
    // them, and a folder may hold thousands of names.
    if (!listed) {
      FSListFolderNames(prefix, &names);
      listed = true;
    }
    // Of several names that differ only in case, the same one every time.
    const std::string* best = nullptr;
    for (const std::string& name : names)
      if (name != photoName && rule.matches(name, rule.wanted) && (best == nullptr || name < *best)) best = &name;
    if (best != nullptr) return prefix + *best;
  }
  return std::nullopt;
}

SoundSource Convert2Mov::soundSourceOf(const ExImageInfo& record, std::string* file) {
  if (file) file->clear();
  if (record.numAudioBlocks() > 0) return SoundSource::embedded;
  if (!record.hasFileName()) return SoundSource::none;
  std::optional<std::string> beside = recordingBeside(record.getFileName(), record);
  if (!beside) return SoundSource::none;
  if (file) *file = *beside;
  return SoundSource::sidecar;
}

ExtractedAudio Convert2Mov::audioBesidePhotograph(const std::string& image, const ExImageInfo& record) {
  // A photograph that cannot be read is reported as such, whatever lies beside it.
  if (!mReport.imageReadable) return {};
  std::optional<std::string> path = recordingBeside(image, record);
  if (!path) return {};
  mReport.soundSource = SoundSource::sidecar;
  mReport.soundFile = *path;
  OSErr err = checkRecordingBeside(*path);
  if (err == noErr) err = checkPicture(*mPhotograph.contents());
  if (err != noErr) return {err, std::nullopt};
  return {noErr, *path, false};
}

OSErr Convert2Mov::checkRecordingBeside(const std::string& path) {
  const std::string its = "its recording " + path;
  std::FILE* file = nullptr;
  std::string reason;
  OSErr err = FSOpenRegularFile(path, &file, &reason);
  if (err != noErr) return refuse(err, its + " cannot be read (" + reason + ")");
  UInt8 header[12] = {};
  const size_t got = std::fread(header, 1, sizeof header, file);
  const bool sized = std::fseek(file, 0, SEEK_END) == 0;
  const long size = sized ? std::ftell(file) : -1;
  std::fclose(file);
  if (size < 0) return refuse(ioErr, its + " cannot be read (read error)");
  if (got < sizeof header || std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0)
    return refuse(badFileFormat, its + " is not a RIFF WAVE file");
  const UInt64 declared = riffDeclaredBytes(ReadLittleEndian32(header + 4));
  if (declared > UInt64(size))
    return refuse(badFileFormat, its + " is cut short: it holds " + std::to_string(size) + " of the " +
                                     std::to_string(declared) + " bytes its header declares");
  mReport.recordingBytes = UInt64(size);
  return noErr;
}
