// SPDX-License-Identifier: GPL-2.0-or-later
// The voice annotation a camera stores inside the JPEG as FlashPix pieces: the record's audio
// blocks, each at its offset in the WAVE file they make together. Checked whole before use.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "sources/PhotographReader.h"
#include "sources/RiffSize.h"
#include "sources/WorkingWave.h"
#include "sources/SoundSources.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Movies.h"
#include "toolbox/Files/TemporaryItems.h"

namespace sources {
namespace {

// A piece ending this far past the bytes all pieces hold together cannot belong to the
// recording (a crafted offset would otherwise make a file of gigabytes).
constexpr std::uint64_t kHeaderSlack = 4096;

struct Piece {
  const UInt8* data;  // where the record points: in the photograph's held bytes, or a copy
  std::uint64_t start;
  std::uint64_t end;
};

// The pieces' bytes: those inside the photograph's held bytes are read through its file, since a
// long annotation's pieces are left there unread; copies the record made are read as they are.
class PieceBytes {
 public:
  explicit PieceBytes(const Photograph& photo) : held_(photo.bytes), file_(photo.bytes, photo.file) {}
  bool read(const Piece& p, std::uint64_t from, UInt8* out, std::size_t n) {
    const auto at = reinterpret_cast<std::uintptr_t>(p.data), first = reinterpret_cast<std::uintptr_t>(held_.data());
    if (at < first || at - first >= held_.size()) {
      std::memcpy(out, p.data + from, n);
      return true;
    }
    return file_.reader().read(at - first + from, out, n);
  }

 private:
  std::span<const std::uint8_t> held_;
  WholeFile file_;
};

// Where each block lands: at its offset, or straight after the one before when that is 0.
std::vector<Piece> placePieces(const ExImageInfo& record) {
  std::vector<Piece> pieces;
  std::uint64_t position = 0;
  for (UInt32 k = 0; k < record.numAudioBlocks(); ++k) {
    const UInt8* data = nullptr;
    UInt32 length = 0, offset = 0;
    record.getNthAudioBlock(SInt32(k), &data, &length, &offset);
    const std::uint64_t start = offset != 0 ? offset : position;
    pieces.push_back(Piece{data, start, start + length});
    position = start + length;
  }
  return pieces;
}

// The pieces read as the one file they make: a later piece over an earlier one, as written.
class PiecesReader : public media::ByteReader {
 public:
  PiecesReader(const Photograph& photo, std::vector<Piece> pieces) : bytes_(photo), pieces_(std::move(pieces)) {
    for (const Piece& p : pieces_) size_ = std::max(size_, p.end);
  }
  std::uint64_t size() const override { return size_; }
  bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    std::vector<bool> filled(n, false);
    for (const Piece& p : pieces_) {
      const std::uint64_t from = std::max(p.start, offset), to = std::min(p.end, offset + n);
      if (p.data == nullptr || from >= to) continue;
      if (!bytes_.read(p, from - p.start, out + (from - offset), std::size_t(to - from))) return false;
      std::fill(filled.begin() + std::ptrdiff_t(from - offset), filled.begin() + std::ptrdiff_t(to - offset), true);
    }
    return std::all_of(filled.begin(), filled.end(), [](bool b) { return b; });
  }

 private:
  PieceBytes bytes_;
  std::vector<Piece> pieces_;
  std::uint64_t size_ = 0;
};

// The RIFF size field (bytes 4 to 7) as the file ends up holding it: later pieces overwrite.
UInt32 riffSize(const Photograph& photo, const std::vector<Piece>& pieces) {
  UInt8 field[4] = {};
  PieceBytes bytes(photo);
  for (const Piece& p : pieces)
    for (std::uint64_t at = 4; at < 8; ++at)
      if (p.data != nullptr && at >= p.start && at < p.end && !bytes.read(p, at - p.start, field + (at - 4), 1))
        field[at - 4] = 0;
  return UInt32(field[0]) | (UInt32(field[1]) << 8) | (UInt32(field[2]) << 16) | (UInt32(field[3]) << 24);
}

std::string count(std::uint64_t n) { return std::to_string(n); }

// Each block at its WAVE offset; a block at offset 0 follows the one before it. Copied in steps,
// so a long recording is never held.
OSErr writeRecording(std::FILE* file, const Photograph& photo) {
  PieceBytes bytes(photo);
  UInt8 step[32768];
  std::uint64_t position = 0;
  for (const Piece& p : placePieces(*photo.record)) {
    // Pieces in order need no seek, so the recording can go to a pipe.
    if (p.start != position && std::fseek(file, long(p.start), SEEK_SET) != 0) return posErr;
    position = p.end;
    if (p.end > p.start && p.data == nullptr) return ioErr;
    for (std::uint64_t at = 0; at < p.end - p.start;) {
      const std::size_t n = std::size_t(std::min<std::uint64_t>(sizeof step, p.end - p.start - at));
      if (!bytes.read(p, at, step, n)) return ioErr;
      if (std::fwrite(step, 1, n, file) != n) return ioErr;
      at += n;
    }
  }
  return std::fflush(file) == 0 ? noErr : ioErr;
}

void removeFile(const std::string& path) {
  FSSpec spec;
  if (FSpFromPath(path, &spec) == noErr) FSpDelete(&spec);
}

std::optional<Found> find(const Photograph& photo) {
  // The blocks decide, not the length: a recording of unknown length is still one.
  if (photo.record == nullptr || photo.record->numAudioBlocks() == 0) return std::nullopt;
  return Found{};
}

OSErr check(const Photograph& photo, Found* found, std::string* problem) {
  std::vector<Piece> pieces = placePieces(*photo.record);
  std::uint64_t carried = 0;
  for (const Piece& p : pieces) carried += p.end - p.start;
  const std::uint64_t declared = RiffDeclaredBytes(riffSize(photo, pieces));

  // Beyond both what the photograph carries and what the header declares, a piece belongs to
  // no recording: refused before a byte is written, so no file grows to its offset.
  for (const Piece& p : pieces) {
    if (p.end > carried + kHeaderSlack && p.end > declared) {
      *problem = "the voice annotation is damaged: one of its pieces claims bytes " + count(p.start) + " to " +
                 count(p.end) + " of the recording, but the photograph carries only " + count(carried) +
                 " bytes of it";
      return badFileFormat;
    }
  }

  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.start < b.start; });
  std::uint64_t covered = 0;
  for (const Piece& p : pieces) {
    if (p.start > covered) {
      *problem = "the voice annotation is incomplete: bytes " + count(covered) + " to " + count(p.start) +
                 " of its recording are missing";
      return badFileFormat;
    }
    covered = std::max(covered, p.end);
  }

  if (declared > covered) {
    *problem = "the voice annotation is cut short: the photograph carries " + count(covered) + " of the " +
               count(declared) + " bytes its recording declares";
    return badFileFormat;
  }
  found->bytes = covered;
  return noErr;
}

// A new WAVE file in the user's private temporary-items folder, created exclusively and never
// through a link; gone however the run is stopped.
OSErr waveFile(const Photograph& photo, const Found&, WaveFile* wave, std::string* problem) {
  std::string folder, wavePath;
  std::FILE* file = nullptr;
  OSErr err = NewWorkingWave(&folder, &wavePath, &file, problem);
  if (err != noErr) return err;

  err = writeRecording(file, photo);
  int writeErrno = errno;
  if (std::fclose(file) != 0 && err == noErr) {
    err = ioErr;
    writeErrno = errno;
  }
  if (err != noErr) {
    // A truncated recording must not become a movie.
    removeFile(wavePath);
    *problem = "the recording could not be written to " + folder + " (" + std::strerror(writeErrno) + ")";
    return err;
  }
  *wave = WaveFile{wavePath, true};
  return noErr;
}

OSErr open(const Photograph& photo, const Found&, Recording* recording, std::string*) {
  recording->wave = std::make_unique<PiecesReader>(photo, placePieces(*photo.record));
  return noErr;
}

OSErr extract(const Photograph& photo, const Found&, std::FILE* out, std::uint64_t*, std::string* problem) {
  const OSErr err = writeRecording(out, photo);
  if (err != noErr) *problem = std::string("the recording could not be written (") + std::strerror(errno) + ")";
  return err;
}

}  // namespace

SoundSource FlashPixSource() {
  return {"embedded", find, check, waveFile, open, ".wav", extract, nullptr, nullptr, nullptr, nullptr};
}

}  // namespace sources
