// SPDX-License-Identifier: GPL-2.0-or-later
// A voice note inside the photograph's bytes: found again by its finder whenever it is asked for,
// a WAVE handed over as it is stored, any other kind decoded through libav; what extract writes
// is always the recording as the camera stored it.
#include "sources/EmbeddedNoteRow.h"

#include <cerrno>
#include <cstring>

#include "media/ByteOrder.h"
#include "media/RecordingDecoder.h"
#include "sources/RiffSize.h"
#include "sources/WorkingWave.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/TemporaryItems.h"
#include "toolbox/Movies/Movies.h"

namespace sources {
namespace {


OSErr codeFor(media::Status s) {
  switch (s) {
    case media::Status::ok: return noErr;
    case media::Status::noMemory: return memFullErr;
    case media::Status::failed: return ioErr;
    default: return badFileFormat;
  }
}

// The note found again in the photograph's bytes; its status as a code, with words.
OSErr noteOf(const Photograph& photo, NoteFinder finder, media::EmbeddedNote* note, std::string* problem) {
  std::string why;
  const media::Status s = finder(photo.bytes.data(), photo.bytes.size(), note, &why);
  if (s != media::Status::ok) {
    *problem = why;
    return codeFor(s);
  }
  if (!note->found) {
    *problem = "the voice note is no longer in the photograph";
    return fnfErr;
  }
  return noErr;
}

// The stored bytes, where they lie or as pieced together.
class NoteReader : public media::ByteReader {
 public:
  NoteReader(std::vector<std::uint8_t> assembled, const std::uint8_t* data, std::uint64_t size)
      : assembled_(std::move(assembled)), data_(assembled_.empty() ? data : assembled_.data()), size_(size) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    std::memcpy(out, data_ + offset, n);
    return true;
  }

 private:
  std::vector<std::uint8_t> assembled_;
  const std::uint8_t* data_;
  std::uint64_t size_;
};

std::vector<std::uint8_t> storedBytes(const Photograph& photo, const media::EmbeddedNote& note) {
  const std::uint8_t* b = note.bytes(photo.bytes.data());
  return std::vector<std::uint8_t>(b, b + note.size());
}

// Decoded sound as the WAVE file the movie importer reads: 16-bit PCM, its own rate and channels.
OSErr writeDecodedWave(std::FILE* file, media::PcmSource& pcm) {
  const media::PcmLayout& l = pcm.layout();
  const std::uint64_t data = pcm.frames() * std::uint64_t(l.channels) * 2;
  if (data > 0xFFFFFFFFu - 36) return memFullErr;
  std::uint8_t h[44];
  std::memcpy(h, "RIFF", 4), media::WriteLittleEndian32(h + 4, std::uint32_t(36 + data));
  std::memcpy(h + 8, "WAVEfmt ", 8), media::WriteLittleEndian32(h + 16, 16);
  media::WriteLittleEndian16(h + 20, 1), media::WriteLittleEndian16(h + 22, std::uint16_t(l.channels));
  media::WriteLittleEndian32(h + 24, std::uint32_t(l.rate));
  media::WriteLittleEndian32(h + 28, std::uint32_t(l.rate * l.channels * 2));
  media::WriteLittleEndian16(h + 32, std::uint16_t(l.channels * 2)), media::WriteLittleEndian16(h + 34, 16);
  std::memcpy(h + 36, "data", 4), media::WriteLittleEndian32(h + 40, std::uint32_t(data));
  if (std::fwrite(h, 1, sizeof h, file) != sizeof h) return ioErr;
  std::vector<std::uint8_t> buffer(4096 * std::size_t(l.channels) * 2);
  while (const std::size_t n = pcm.read(buffer.data(), 4096))
    if (std::fwrite(buffer.data(), 1, n * std::size_t(l.channels) * 2, file) != n * std::size_t(l.channels) * 2) return ioErr;
  return noErr;
}

}  // namespace

std::optional<Found> FindEmbeddedNote(const Photograph& photo, NoteFinder finder) {
  if (photo.bytes.empty()) return std::nullopt;
  media::EmbeddedNote note;
  std::string why;
  const media::Status s = finder(photo.bytes.data(), photo.bytes.size(), &note, &why);
  if (s == media::Status::ok && !note.found) return std::nullopt;
  Found found;
  if (s != media::Status::ok) {
    found.problem = why;
    found.status = codeFor(s);
    return found;
  }
  found.bytes = note.size();
  found.extension = std::string(".") + media::RecordingExtension(note.kind == media::RecordingKind::unknown ? media::RecordingKind::wave : note.kind);
  return found;
}

OSErr CheckEmbeddedNote(const Photograph& photo, NoteFinder finder, Found* found, std::string* problem) {
  media::EmbeddedNote note;
  if (const OSErr err = noteOf(photo, finder, &note, problem); err != noErr) return err;
  found->bytes = note.size();
  const std::uint8_t* b = note.bytes(photo.bytes.data());
  if (note.kind == media::RecordingKind::wave) {
    const std::uint64_t declared = RiffDeclaredBytes(media::ReadLittleEndian32(b + 4));
    if (declared > note.size()) {
      *problem = "the voice note is cut short: the photograph carries " + std::to_string(note.size()) + " of the " +
                 std::to_string(declared) + " bytes its recording declares";
      return badFileFormat;
    }
    return noErr;
  }
  // Any other kind must decode before anything is written.
  media::Status status;
  std::string why;
  if (!media::DecodeRecording(storedBytes(photo, note), &status, &why)) {
    *problem = "the voice note (" + std::string(media::RecordingKindWords(note.kind)) + ") cannot be used: " + why;
    return codeFor(status);
  }
  return noErr;
}

OSErr EmbeddedNoteWaveFile(const Photograph& photo, NoteFinder finder, WaveFile* wave, std::string* problem) {
  media::EmbeddedNote note;
  if (const OSErr err = noteOf(photo, finder, &note, problem); err != noErr) return err;
  std::unique_ptr<media::PcmSource> pcm;
  if (note.kind != media::RecordingKind::wave) {
    media::Status status;
    std::string why;
    pcm = media::DecodeRecording(storedBytes(photo, note), &status, &why);
    if (!pcm) {
      *problem = "the voice note cannot be decoded: " + why;
      return codeFor(status);
    }
  }
  std::string folder, path;
  std::FILE* file = nullptr;
  OSErr err = NewWorkingWave(&folder, &path, &file, problem);
  if (err != noErr) return err;
  if (pcm) err = writeDecodedWave(file, *pcm);
  else if (std::fwrite(note.bytes(photo.bytes.data()), 1, std::size_t(note.size()), file) != note.size()) err = ioErr;
  if (std::fclose(file) != 0 && err == noErr) err = ioErr;
  if (err != noErr) {
    // A truncated recording must not become a movie.
    FSSpec spec;
    if (FSpFromPath(path, &spec) == noErr) FSpDelete(&spec);
    *problem = "the recording could not be written to " + folder;
    return err;
  }
  *wave = WaveFile{path, true};
  return noErr;
}

OSErr OpenEmbeddedNote(const Photograph& photo, NoteFinder finder, Recording* recording, std::string* problem) {
  media::EmbeddedNote note;
  if (const OSErr err = noteOf(photo, finder, &note, problem); err != noErr) return err;
  if (note.kind == media::RecordingKind::wave) {
    const std::uint64_t size = note.size();
    const std::uint8_t* where = note.bytes(photo.bytes.data());
    recording->wave = std::make_unique<NoteReader>(std::move(note.assembled), where, size);
    return noErr;
  }
  media::Status status;
  std::string why;
  recording->pcm = media::DecodeRecording(storedBytes(photo, note), &status, &why);
  if (!recording->pcm) {
    *problem = "the voice note cannot be decoded: " + why;
    return codeFor(status);
  }
  return noErr;
}

OSErr ExtractEmbeddedNote(const Photograph& photo, NoteFinder finder, std::FILE* out, std::uint64_t* written,
                          std::string* problem) {
  media::EmbeddedNote note;
  if (const OSErr err = noteOf(photo, finder, &note, problem); err != noErr) return err;
  if (std::fwrite(note.bytes(photo.bytes.data()), 1, std::size_t(note.size()), out) != note.size()) {
    *problem = std::string("the recording could not be written (") + std::strerror(errno) + ")";
    return ioErr;
  }
  *written = note.size();
  return noErr;
}

}  // namespace sources
