// SPDX-License-Identifier: GPL-2.0-or-later
// A voice note inside the photograph's bytes: found again by its finder whenever it is asked for,
// a WAVE handed over as it is stored, any other kind decoded through libav; what extract writes
// is always the recording as the camera stored it.
#include "sources/EmbeddedNoteRow.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "media/ByteOrder.h"
#include "media/ByteReaders.h"
#include "media/RecordingDecoder.h"
#include "sources/PhotographReader.h"
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

media::Status findNote(const Photograph& photo, NoteFinder finder, media::EmbeddedNote* note, std::string* why) {
  WholeFile file(photo.bytes, photo.file);
  return finder(photo.bytes.data(), photo.bytes.size(), file.reader(), note, why);
}

// The note found again in the photograph; its status as a code, with words.
OSErr noteOf(const Photograph& photo, NoteFinder finder, media::EmbeddedNote* note, std::string* problem) {
  std::string why;
  const media::Status s = findNote(photo, finder, note, &why);
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

// The stored bytes: pieced together in memory, or where they lie in the photograph's file (read
// there as asked, never copied whole).
class NoteReader : public media::ByteReader {
 public:
  NoteReader(const Photograph& photo, media::EmbeddedNote& note)
      : assembled_(std::move(note.assembled)), memory_(assembled_), file_(photo.bytes, photo.file), start_(note.offset),
        size_(assembled_.empty() ? note.length : assembled_.size()) {}
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    return assembled_.empty() ? file_.reader().read(start_ + offset, out, n) : memory_.read(offset, out, n);
  }

 private:
  std::vector<std::uint8_t> assembled_;
  media::MemoryByteReader memory_;
  WholeFile file_;
  std::uint64_t start_;
  std::uint64_t size_;
};

// The stored bytes copied to out in steps.
bool copyNote(media::ByteReader& note, std::FILE* out) {
  std::vector<std::uint8_t> buffer(std::size_t(1) << 16);
  for (std::uint64_t at = 0; at < note.size();) {
    const std::size_t n = std::size_t(std::min<std::uint64_t>(buffer.size(), note.size() - at));
    if (!note.read(at, buffer.data(), n) || std::fwrite(buffer.data(), 1, n, out) != n) return false;
    at += n;
  }
  return true;
}

std::unique_ptr<media::PcmSource> decoded(const Photograph& photo, media::EmbeddedNote& note, media::Status* status,
                                          std::string* why) {
  return media::DecodeRecording(std::make_unique<NoteReader>(photo, note), status, why);
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
  const media::Status s = findNote(photo, finder, &note, &why);
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
  if (note.kind == media::RecordingKind::wave) {
    std::uint8_t head[8] = {};
    NoteReader stored(photo, note);
    if (!stored.read(0, head, sizeof head)) {
      *problem = "the voice note cannot be read from the photograph";
      return ioErr;
    }
    const std::uint64_t declared = RiffDeclaredBytes(media::ReadLittleEndian32(head + 4));
    if (declared > found->bytes) {
      *problem = "the voice note is cut short: the photograph carries " + std::to_string(found->bytes) + " of the " +
                 std::to_string(declared) + " bytes its recording declares";
      return badFileFormat;
    }
    return noErr;
  }
  // Any other kind must decode before anything is written.
  media::Status status;
  std::string why;
  if (!decoded(photo, note, &status, &why)) {
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
    pcm = decoded(photo, note, &status, &why);
    if (!pcm) {
      *problem = "the voice note cannot be decoded: " + why;
      return codeFor(status);
    }
  }
  std::string folder, path;
  std::FILE* file = nullptr;
  OSErr err = NewWorkingWave(&folder, &path, &file, problem);
  if (err != noErr) return err;
  if (pcm) {
    err = writeDecodedWave(file, *pcm);
  } else {
    NoteReader stored(photo, note);
    if (!copyNote(stored, file)) err = ioErr;
  }
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
    recording->wave = std::make_unique<NoteReader>(photo, note);
    return noErr;
  }
  media::Status status;
  std::string why;
  recording->pcm = decoded(photo, note, &status, &why);
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
  const std::uint64_t size = note.size();
  NoteReader stored(photo, note);
  if (!copyNote(stored, out)) {
    *problem = std::string("the recording could not be written (") + std::strerror(errno) + ")";
    return ioErr;
  }
  *written = size;
  return noErr;
}

}  // namespace sources
