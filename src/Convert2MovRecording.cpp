// SPDX-License-Identifier: GPL-2.0-or-later
// The recording as the photograph's pieces lay it out: whether they make one whole WAVE file,
// and writing them, each at its offset, into a file.
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Movies/Movies.h"

namespace {

// A piece ending this far past the bytes all pieces hold together cannot belong to the
// recording (a crafted offset would otherwise make a file of gigabytes).
constexpr UInt64 kHeaderSlack = 4096;
// A RIFF size of all ones: a writer that could not go back to fill it in.
constexpr UInt32 kUnknownRiffSize = 0xFFFFFFFF;

struct Piece {
  const UInt8* data;
  UInt64 start;
  UInt64 end;
};

// Where each block lands: at its offset, or straight after the one before when that is 0.
std::vector<Piece> placePieces(const ExImageInfo& record) {
  std::vector<Piece> pieces;
  UInt64 position = 0;
  for (UInt32 k = 0; k < record.numAudioBlocks(); ++k) {
    const UInt8* data = nullptr;
    UInt32 length = 0, offset = 0;
    record.getNthAudioBlock(SInt32(k), &data, &length, &offset);
    const UInt64 start = offset != 0 ? offset : position;
    pieces.push_back(Piece{data, start, start + length});
    position = start + length;
  }
  return pieces;
}

// The RIFF size field (bytes 4 to 7) as the file ends up holding it: later pieces overwrite.
UInt32 riffSize(const std::vector<Piece>& pieces) {
  UInt8 field[4] = {};
  for (const Piece& p : pieces)
    for (UInt64 at = 4; at < 8; ++at)
      if (p.data != nullptr && at >= p.start && at < p.end) field[at - 4] = p.data[at - p.start];
  return UInt32(field[0]) | (UInt32(field[1]) << 8) | (UInt32(field[2]) << 16) | (UInt32(field[3]) << 24);
}

std::string count(UInt64 n) { return std::to_string(n); }

}  // namespace

UInt64 Convert2Mov::riffDeclaredBytes(UInt32 riffSize) {
  return riffSize == kUnknownRiffSize ? 0 : UInt64(riffSize) + 8;
}

OSErr Convert2Mov::checkRecording(const ExImageInfo& record) {
  std::vector<Piece> pieces = placePieces(record);
  UInt64 carried = 0;
  for (const Piece& p : pieces) carried += p.end - p.start;
  const UInt64 declared = riffDeclaredBytes(riffSize(pieces));

  // Beyond both what the photograph carries and what the header declares, a piece belongs to
  // no recording: refused before a byte is written, so no file grows to its offset.
  for (const Piece& p : pieces) {
    if (p.end > carried + kHeaderSlack && p.end > declared)
      return refuse(badFileFormat, "the voice annotation is damaged: one of its pieces claims bytes " + count(p.start) +
                                       " to " + count(p.end) + " of the recording, but the photograph carries only " +
                                       count(carried) + " bytes of it");
  }

  std::sort(pieces.begin(), pieces.end(), [](const Piece& a, const Piece& b) { return a.start < b.start; });
  UInt64 covered = 0;
  for (const Piece& p : pieces) {
    if (p.start > covered)
      return refuse(badFileFormat, "the voice annotation is incomplete: bytes " + count(covered) + " to " +
                                       count(p.start) + " of its recording are missing");
    covered = std::max(covered, p.end);
  }

  if (declared > covered)
    return refuse(badFileFormat, "the voice annotation is cut short: the photograph carries " + count(covered) +
                                     " of the " + count(declared) + " bytes its recording declares");
  mReport.recordingBytes = covered;
  return noErr;
}

OSErr Convert2Mov::writeRecording(std::FILE* file, const ExImageInfo& record) {
  const UInt32 n = record.numAudioBlocks();
  for (UInt32 k = 0; k < n; ++k) {
    const UInt8* data = nullptr;
    UInt32 length = 0;
    UInt32 offset = 0;
    record.getNthAudioBlock(SInt32(k), &data, &length, &offset);
    if (offset != 0 && std::fseek(file, long(offset), SEEK_SET) != 0) return posErr;
    if (length != 0 && (data == nullptr || std::fwrite(data, 1, length, file) != length)) return ioErr;
  }
  return std::fflush(file) == 0 ? noErr : ioErr;
}
