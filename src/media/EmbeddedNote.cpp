// SPDX-License-Identifier: GPL-2.0-or-later
// Telling a stored recording's kind from its first bytes, and the kind's extension and words.
#include "media/EmbeddedNote.h"

#include <cstring>

#include "media/JpegMarkers.h"

namespace media {

namespace {

bool startsWith(const std::uint8_t* data, std::size_t size, std::size_t at, const char* text) {
  const std::size_t n = std::strlen(text);
  return size >= at + n && std::memcmp(data + at, text, n) == 0;
}

// An MPEG audio frame header: sync, a layer, a bitrate index and a rate index that exist.
bool mpegAudioFrame(const std::uint8_t* p, std::size_t size) {
  if (size < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int version = (p[1] >> 3) & 3, layer = (p[1] >> 1) & 3;
  const int bitrate = p[2] >> 4, rate = (p[2] >> 2) & 3;
  return version != 1 && layer == 1 && bitrate != 0 && bitrate != 15 && rate != 3;  // layer III
}

// An ADTS header: 12-bit sync, layer 0, a rate index that exists, a frame length past the header.
bool adtsFrame(const std::uint8_t* p, std::size_t size) {
  if (size < 7 || p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return false;
  const int rate = (p[2] >> 2) & 0xF;
  const unsigned length = ((p[3] & 3u) << 11) | (unsigned(p[4]) << 3) | (p[5] >> 5);
  return rate < 13 && length >= 7;
}

}  // namespace

RecordingKind RecordingKindOf(const std::uint8_t* data, std::size_t size) {
  if (startsWith(data, size, 0, "RIFF") && startsWith(data, size, 8, "WAVE")) return RecordingKind::wave;
  if (startsWith(data, size, 4, "ftyp")) return RecordingKind::mp4Audio;
  if (startsWith(data, size, 0, "#!AMR-WB\n")) return RecordingKind::amrWb;
  if (startsWith(data, size, 0, "#!AMR\n")) return RecordingKind::amr;
  if (startsWith(data, size, 0, "OggS")) return RecordingKind::ogg;
  if (startsWith(data, size, 0, "fLaC")) return RecordingKind::flac;
  if (startsWith(data, size, 0, "ID3")) return RecordingKind::mp3;
  if (adtsFrame(data, size)) return RecordingKind::adts;
  if (mpegAudioFrame(data, size)) return RecordingKind::mp3;
  return RecordingKind::unknown;
}

std::vector<SegmentBody> AppSegmentsWith(const std::uint8_t* file, std::size_t size, std::uint8_t code,
                                         const char* signature, std::size_t signatureSize) {
  std::vector<SegmentBody> found;
  std::vector<JpegMarker> markers;
  if (JpegHeaderMarkers(file, size, &markers) != Status::ok) return found;
  for (const JpegMarker& m : markers) {
    if (m.kind != JpegMarker::Kind::segment || m.code != code || m.bodySize() < signatureSize) continue;
    const std::uint8_t* body = file + m.bodyOffset();
    if (std::memcmp(body, signature, signatureSize) != 0) continue;
    found.push_back({body + signatureSize, m.bodySize() - signatureSize});
  }
  return found;
}

const char* RecordingExtension(RecordingKind kind) {
  switch (kind) {
#define RECORDING_KIND_EXTENSION(name, extension, words) \
  case RecordingKind::name:                              \
    return extension;
    RECORDING_KINDS(RECORDING_KIND_EXTENSION)
#undef RECORDING_KIND_EXTENSION
  }
  return "bin";
}

const char* RecordingKindWords(RecordingKind kind) {
  switch (kind) {
#define RECORDING_KIND_WORDS(name, extension, words) \
  case RecordingKind::name:                          \
    return words;
    RECORDING_KINDS(RECORDING_KIND_WORDS)
#undef RECORDING_KIND_WORDS
  }
  return "unknown";
}

}  // namespace media
