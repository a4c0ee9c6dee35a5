// SPDX-License-Identifier: GPL-2.0-or-later
// Puts a WAVE recording into a JPEG photograph as voice-annotating cameras do: a FlashPix
// contents list and the audio stream cut into APP2 "FPXR" pieces right after APP0/APP1.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "toolbox/Core/MacTypes.h"

namespace flashpix {

// Largest piece of stream data one APP2 segment can carry (65535 - length field - 13-byte header).
inline constexpr UInt32 kMaxPieceBytes = 65520;
// Index of the audio stream in the contents list; every stream piece carries it.
inline constexpr UInt16 kAudioStreamIndex = 1;
// Bytes of stream header in front of the WAVE file.
inline constexpr UInt32 kStreamHeaderBytes = 28;

struct EmbedOptions {
  UInt32 maxPieceBytes = kMaxPieceBytes;  // 1 .. kMaxPieceBytes stream bytes per piece
  // The order in which the pieces are written, as a permutation of 0 .. pieces - 1 (piece k
  // holds stream bytes from k * maxPieceBytes on). Empty writes them in stream order.
  std::vector<std::size_t> pieceOrder;
  bool contentsList = true;  // write the contents-list segment in front of the pieces
};

enum class EmbedStatus {
  ok,
  notWave,        // the recording does not start with a RIFF WAVE header
  waveTooLarge,   // the stream would not fit the 32-bit stream offsets
  notJpeg,        // no SOI, a segment runs past the end, or no scan is found
  badOptions,     // piece size out of range, or pieceOrder is not a permutation of the pieces
  unreadable,     // the recording's reader failed part way
  outputFailed,   // the output refused bytes (its writer knows why)
};

// A recording read a piece at a time, so that none has to be held whole: its size, and a read
// of count bytes at offset (false when they cannot all be read).
struct RecordingReader {
  UInt64 size = 0;
  std::function<bool(UInt64 offset, char* bytes, std::size_t count)> read;
};
// A reader over bytes held in memory (which must outlive it).
RecordingReader readerOf(const std::string& wave);
// Takes the output in order, a segment or a run of the photograph at a time; false stops.
using EmbedOutput = std::function<bool(const char* bytes, std::size_t count)>;

const char* describe(EmbedStatus status);

// True for bytes that begin with "RIFF", a size and "WAVE".
bool isRiffWave(const std::string& bytes);

// The 28-byte stream header followed by the WAVE file.
std::string audioStream(const std::string& wave);

// Number of pieces the stream of a WAVE file of waveBytes bytes is cut into.
std::size_t pieceCount(std::size_t waveBytes, UInt32 maxPieceBytes);

// The complete APP2 segments (marker and length included) that carry wave, in file order.
EmbedStatus buildSegments(const std::string& wave, const EmbedOptions& options, std::vector<std::string>* segments);

// A copy of jpeg that carries wave as its only voice annotation: every FPXR segment already
// there is left out (replacedSegments counts them) and the new ones follow the leading APP0
// and APP1 segments. Everything else is copied unchanged.
EmbedStatus embedAudio(const std::string& jpeg, const std::string& wave, const EmbedOptions& options,
                       std::string* out, std::size_t* replacedSegments = nullptr);
// The same, reading the recording a piece at a time and handing the copy to out as it is made:
// memory stays small whatever the recording's size. Nothing goes to out unless the recording,
// the options and the photograph's header are all usable.
EmbedStatus embedAudio(const std::string& jpeg, const RecordingReader& wave, const EmbedOptions& options,
                       const EmbedOutput& out, std::size_t* replacedSegments = nullptr);

}  // namespace flashpix
