// SPDX-License-Identifier: GPL-2.0-or-later
// A voice memo that the camera wrote as a WAVE file beside the photograph: found by the name its
// EXIF RelatedSoundFile gives, else by the photograph's own name with ".wav", letter case aside;
// used only when it is the folder's own regular file (never a link) holding a whole RIFF WAVE.
// It is read, never changed.
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "media/WaveFormats.h"
#include "sources/RiffSize.h"
#include "sources/SoundSources.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Files/FolderNames.h"
#include "toolbox/Files/RegularFiles.h"
#include "toolbox/Movies/Movies.h"

namespace sources {
namespace {

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
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

// The item name of the folder prefix must be a regular file (not a link) holding a whole RIFF
// WAVE. With keep, a usable one is left open there at its start (the very file checked).
Found examine(const std::string& prefix, const std::string& name, std::FILE** keep) {
  Found r;
  r.file = prefix + name;
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
  const std::uint64_t declared = RiffDeclaredBytes(ReadLittleEndian32(header + 4));
  if (size < 0) {
    r.status = ioErr;
    r.problem = "cannot be read (read error)";
  } else if (!media::wave::IsRiffWaveHeader(header, got)) {
    r.status = badFileFormat;
    r.problem = "is not a RIFF WAVE file";
  } else if (declared > std::uint64_t(size)) {
    r.status = badFileFormat;
    r.problem = "is cut short: it holds " + std::to_string(size) + " of the " + std::to_string(declared) +
                " bytes its header declares";
  }
  r.bytes = size < 0 ? 0 : std::uint64_t(size);
  if (keep && r.problem.empty() && std::fseek(file, 0, SEEK_SET) == 0) {
    *keep = file;
    return r;
  }
  std::fclose(file);
  return r;
}

std::string stemOf(const std::string& image) {
  return NSStringLastPathComponent(NSStringByDeletingPathExtension(image));
}

// The names asked for: the one RelatedSoundFile gives, then the photograph's own with ".wav".
std::vector<std::string> askedBeside(const std::string& image, const ExImageInfo& record) {
  std::vector<std::string> asked;
  if (std::string related = relatedName(record); !related.empty()) asked.push_back(std::move(related));
  if (const std::string stem = stemOf(image); !stem.empty()) asked.push_back(stem + ".wav");
  return asked;
}

// The folder's name for each name asked. The photograph's own name, asked last, prefers the
// camera's spelling (IMG_1.WAV) to the lower-case one; a tag's name prefers itself.
std::vector<std::string> namesFor(const std::string& image, std::span<const std::string> asked) {
  const std::string prefix = folderPrefix(image);
  const std::string photoName = NSStringLastPathComponent(image);
  const std::string own = stemOf(image) + ".wav";
  std::vector<std::string> names;
  for (std::size_t i = 0; i < asked.size(); ++i) {
    const bool isOwn = i + 1 == asked.size() && asked[i] == own;
    const std::vector<std::string> preferred =
        isOwn ? std::vector<std::string>{stemOf(image) + ".WAV", own} : std::vector<std::string>{asked[i]};
    names.push_back(nameInFolder(prefix, asked[i], preferred, photoName));
  }
  return names;
}

// The one rule for conversion, --info and extract: a name that is no usable recording gives way
// to the next; when none is usable, the first found is returned with its problem.
std::optional<Found> findBeside(const std::string& image, const ExImageInfo& record, std::FILE** stream) {
  if (stream) *stream = nullptr;
  const std::string prefix = folderPrefix(image);
  // Each rule: the name it asks for, and the folder's name for it ("" when none).
  const std::vector<std::string> asked = askedBeside(image, record);
  const std::vector<std::string> inFolder = namesFor(image, asked);
  std::vector<std::pair<std::string, std::string>> rules;
  for (std::size_t i = 0; i < asked.size(); ++i) rules.emplace_back(asked[i], inFolder[i]);

  // The first usable one serves; when none is, the first that is there is the one refused.
  std::optional<Found> found;
  std::string missing;  // a name the tag gave that the folder does not hold
  for (const auto& [wanted, name] : rules) {
    if (name.empty()) {
      if (!found && missing.empty()) missing = prefix + wanted;
      continue;
    }
    if (found && found->file == prefix + name) continue;
    Found candidate = examine(prefix, name, stream);
    if (candidate.problem.empty()) {
      if (found) {
        candidate.passedOver = found->file;
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

// The file read where it lies, through the stream that was checked.
class FileReader : public media::ByteReader {
 public:
  FileReader(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
  ~FileReader() override { std::fclose(file_); }
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    return std::fseek(file_, long(offset), SEEK_SET) == 0 && std::fread(out, 1, n, file_) == n;
  }

 private:
  std::FILE* file_;
  std::uint64_t size_;
};

std::optional<Found> find(const Photograph& photo) {
  // A photograph that cannot be read is reported as such, whatever lies beside it.
  if (!photo.readable || photo.record == nullptr) return std::nullopt;
  return findBeside(photo.path, *photo.record, nullptr);
}

OSErr check(const Photograph&, Found* found, std::string* problem) {
  if (found->problem.empty()) return noErr;
  *problem = "its recording " + found->file + " " + found->problem;
  return found->status;
}

OSErr waveFile(const Photograph&, const Found& found, WaveFile* wave, std::string*) {
  *wave = WaveFile{found.file, false};
  return noErr;
}

// The file found again and checked again as it is opened: what is read is what was checked.
OSErr reopen(const Photograph& photo, const Found& found, std::FILE** in, Found* now, std::string* problem) {
  std::optional<Found> again = findBeside(photo.path, *photo.record, in);
  if (!again || !again->problem.empty() || again->file != found.file) {
    if (*in) std::fclose(*in);
    *in = nullptr;
    *problem = "its recording " + found.file + " " + (again && !again->problem.empty() ? again->problem : "changed while it was read");
    return again && again->status != noErr ? again->status : ioErr;
  }
  *now = *again;
  return noErr;
}

OSErr open(const Photograph& photo, const Found& found, Recording* recording, std::string* problem) {
  std::FILE* in = nullptr;
  Found now;
  if (const OSErr err = reopen(photo, found, &in, &now, problem); err != noErr) return err;
  recording->wave = std::make_unique<FileReader>(in, now.bytes);
  return noErr;
}

// Copied from the very file that was checked, as it is.
OSErr extract(const Photograph& photo, const Found& found, std::FILE* out, std::uint64_t* written,
              std::string* problem) {
  std::FILE* in = nullptr;
  Found now;
  if (const OSErr err = reopen(photo, found, &in, &now, problem); err != noErr) return err;
  std::vector<char> buffer(1 << 16);
  std::uint64_t copied = 0;
  OSErr err = noErr;
  while (err == noErr) {
    const size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
    if (n > 0 && std::fwrite(buffer.data(), 1, n, out) != n) {
      *problem = std::string("the recording could not be written (") + std::strerror(errno) + ")";
      err = ioErr;
    }
    copied += n;
    if (n < buffer.size()) {
      if (std::ferror(in)) {
        *problem = "its recording " + found.file + " cannot be read (read error)";
        err = ioErr;
      }
      break;
    }
  }
  std::fclose(in);
  if (err == noErr) *written = copied;
  return err;
}

bool recordingName(const std::string& name) {
  const std::string n = lower(NSStringLastPathComponent(name));
  return n.size() > 4 && n.compare(n.size() - 4, 4, ".wav") == 0;
}

// Same names but for their extensions and letter case (IMG_1.JPG and img_1.wav).
bool recordingOf(const std::string& recording, const std::string& photo) {
  auto stem = [](const std::string& path) {
    const std::string name = NSStringLastPathComponent(path);
    return lower(name.substr(0, name.rfind('.')));
  };
  return stem(recording) == stem(photo);
}

std::vector<std::string> namesAsked(const Photograph& photo) {
  if (!photo.readable || photo.record == nullptr) return {};
  return askedBeside(photo.path, *photo.record);
}

}  // namespace

SoundSource WaveBesideSource() {
  return {"sidecar", find, check, waveFile, open, ".wav", extract, recordingName, recordingOf, namesAsked, namesFor};
}

}  // namespace sources
