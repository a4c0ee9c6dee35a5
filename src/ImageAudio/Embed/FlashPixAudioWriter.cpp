// SPDX-License-Identifier: GPL-2.0-or-later
// Builds FlashPix contents-list and stream segments for a WAVE recording and splices them into
// a JPEG's header, dropping any FlashPix segments the photograph carried before.
#include "ImageAudio/Embed/FlashPixAudioWriter.h"

#include <algorithm>
#include <cstring>

#include "media/JpegMarkers.h"
#include "media/WaveFormats.h"

namespace flashpix {
namespace {

// Class of the audio stream's property header: what readers check to know it is audio.
constexpr UInt8 kAudioStreamClassID[16] = {0x01, 0x01, 0x00, 0x10, 0xC0, 0x6F, 0xD0, 0x11,
                                           0xBD, 0x01, 0x00, 0x60, 0x97, 0x19, 0xA1, 0x80};
// Class of the storage that holds the audio stream, as cameras record it.
constexpr UInt8 kAudioStorageClassID[16] = {0xFF, 0x01, 0x00, 0x10, 0xC0, 0x6F, 0xD0, 0x11,
                                            0xBD, 0x01, 0x00, 0x60, 0x97, 0x19, 0xA1, 0x80};
constexpr char kAudioStorageName[] = "/Audio_bd0100609719a180";
constexpr char kAudioStreamName[] = "/Audio_bd0100609719a180/Audio Stream 000000";
constexpr UInt32 kStorageSize = 0xFFFFFFFF;  // a storage has no size of its own

constexpr UInt8 kContentsListType = 1;
constexpr UInt8 kStreamDataType = 2;

void putBE16(std::string* s, UInt32 v) {
  s->push_back(char((v >> 8) & 0xFF));
  s->push_back(char(v & 0xFF));
}

void putBE32(std::string* s, UInt32 v) {
  putBE16(s, v >> 16);
  putBE16(s, v & 0xFFFF);
}

// Entry names are NUL-terminated little-endian UTF-16; ours are plain ASCII.
void putName(std::string* s, const char* name) {
  for (const char* c = name; *c; ++c) {
    s->push_back(*c);
    s->push_back('\0');
  }
  s->append(2, '\0');
}

void putFpxrHeader(std::string* s, UInt8 type) {
  s->append("FPXR", 4);
  s->push_back('\0');  // identifier terminator
  s->push_back('\0');  // version
  s->push_back(char(type));
}

// APP2 marker, the length field (which counts itself) and the payload.
std::string app2Segment(const std::string& payload) {
  std::string seg;
  seg.reserve(payload.size() + 4);
  seg.push_back('\xFF');
  seg.push_back('\xE2');
  putBE16(&seg, UInt32(payload.size() + 2));
  seg += payload;
  return seg;
}

std::string contentsListSegment(UInt32 streamSize) {
  std::string p;
  putFpxrHeader(&p, kContentsListType);
  putBE16(&p, 2);  // entries: the storage, then the stream inside it
  putBE32(&p, kStorageSize);
  p.push_back('\0');  // default value
  putName(&p, kAudioStorageName);
  p.append(reinterpret_cast<const char*>(kAudioStorageClassID), sizeof kAudioStorageClassID);
  putBE32(&p, streamSize);
  p.push_back('\0');
  putName(&p, kAudioStreamName);
  return app2Segment(p);
}

// The 28-byte property header in front of the WAVE file in the audio stream.
std::string streamHeader() {
  std::string s;
  s.append("\xFE\xFF\x00\x00", 4);  // byte-order mark of the property set
  s.append("\x00\x04\x02\x00", 4);  // originating system version, as cameras write it
  s.append(reinterpret_cast<const char*>(kAudioStreamClassID), sizeof kAudioStreamClassID);
  s.append("\x01\x00\x00\x00", 4);  // one section follows; readers require it non-zero
  return s;
}

// The stream's bytes from offset: the header's, then the recording's.
bool readStream(const RecordingReader& wave, UInt64 offset, char* out, std::size_t count) {
  static const std::string head = streamHeader();
  while (count > 0 && offset < kStreamHeaderBytes) {
    *out++ = head[std::size_t(offset++)];
    --count;
  }
  return count == 0 || wave.read(offset - kStreamHeaderBytes, out, count);
}

// One stream piece into segment (reused from piece to piece, so no piece is allocated anew).
bool streamPieceSegment(const RecordingReader& wave, UInt32 offset, UInt32 length, std::string* segment) {
  std::string p;
  putFpxrHeader(&p, kStreamDataType);
  putBE16(&p, kAudioStreamIndex);
  putBE32(&p, offset);
  segment->clear();
  segment->push_back('\xFF');
  segment->push_back('\xE2');
  putBE16(segment, UInt32(p.size() + length + 2));
  *segment += p;
  const std::size_t at = segment->size();
  segment->resize(at + length);
  return readStream(wave, offset, segment->data() + at, length);
}

bool isPermutation(const std::vector<std::size_t>& order, std::size_t n) {
  if (order.size() != n) return false;
  std::vector<bool> seen(n, false);
  for (std::size_t k : order) {
    if (k >= n || seen[k]) return false;
    seen[k] = true;
  }
  return true;
}

bool isFlashPixSegment(const std::string& jpeg, const media::JpegMarker& seg) {
  static constexpr char kId[5] = {'F', 'P', 'X', 'R', '\0'};
  return seg.code == media::jpeg::kAPP2 && seg.bodySize() >= sizeof kId &&
         std::memcmp(jpeg.data() + seg.bodyOffset(), kId, sizeof kId) == 0;
}

}  // namespace

const char* describe(EmbedStatus status) {
  switch (status) {
    case EmbedStatus::ok: return "done";
    case EmbedStatus::notWave: return "not a RIFF WAVE file";
    case EmbedStatus::waveTooLarge: return "recording too large to embed";
    case EmbedStatus::notJpeg: return "not a readable JPEG file";
    case EmbedStatus::badOptions: return "invalid piece size or piece order";
    case EmbedStatus::unreadable: return "the recording could not be read";
    case EmbedStatus::outputFailed: return "the copy could not be written";
  }
  return "unknown failure";
}

bool isRiffWave(const std::string& bytes) {
  return media::wave::IsRiffWaveHeader(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

RecordingReader readerOf(const std::string& wave) {
  return {wave.size(), [&wave](UInt64 offset, char* bytes, std::size_t count) {
            if (offset > wave.size() || count > wave.size() - offset) return false;
            std::memcpy(bytes, wave.data() + offset, count);
            return true;
          }};
}

std::string audioStream(const std::string& wave) { return streamHeader() + wave; }

std::size_t pieceCount(std::size_t waveBytes, UInt32 maxPieceBytes) {
  if (maxPieceBytes == 0) return 0;
  std::size_t streamBytes = waveBytes + kStreamHeaderBytes;
  return (streamBytes + maxPieceBytes - 1) / maxPieceBytes;
}

namespace {

// The recording and the options checked, and the order the pieces go in.
EmbedStatus planPieces(const RecordingReader& wave, const EmbedOptions& options, std::vector<std::size_t>* order) {
  char head[12];
  if (wave.size < sizeof head || !wave.read(0, head, sizeof head) || !isRiffWave(std::string(head, sizeof head)))
    return EmbedStatus::notWave;
  // Stream offsets and the contents list's stream size are 32-bit; keep clear of the storage mark.
  if (wave.size > UInt64(0xFFFFFFFE) - kStreamHeaderBytes) return EmbedStatus::waveTooLarge;
  if (options.maxPieceBytes == 0 || options.maxPieceBytes > kMaxPieceBytes) return EmbedStatus::badOptions;
  const std::size_t n = pieceCount(std::size_t(wave.size), options.maxPieceBytes);
  *order = options.pieceOrder;
  if (order->empty()) {
    for (std::size_t k = 0; k < n; ++k) order->push_back(k);
  } else if (!isPermutation(*order, n)) {
    return EmbedStatus::badOptions;
  }
  return EmbedStatus::ok;
}

// Each segment in file order, made one at a time; emit's false stops with outputFailed.
EmbedStatus emitSegments(const RecordingReader& wave, const EmbedOptions& options,
                         const std::vector<std::size_t>& order, const std::function<bool(const std::string&)>& emit) {
  const UInt64 streamSize = wave.size + kStreamHeaderBytes;
  if (options.contentsList && !emit(contentsListSegment(UInt32(streamSize)))) return EmbedStatus::outputFailed;
  std::string segment;
  for (std::size_t k : order) {
    const UInt64 offset = UInt64(k) * options.maxPieceBytes;
    const UInt64 length = std::min<UInt64>(options.maxPieceBytes, streamSize - offset);
    if (!streamPieceSegment(wave, UInt32(offset), UInt32(length), &segment)) return EmbedStatus::unreadable;
    if (!emit(segment)) return EmbedStatus::outputFailed;
  }
  return EmbedStatus::ok;
}

}  // namespace

EmbedStatus buildSegments(const std::string& wave, const EmbedOptions& options, std::vector<std::string>* segments) {
  const RecordingReader reader = readerOf(wave);
  std::vector<std::size_t> order;
  EmbedStatus st = planPieces(reader, options, &order);
  if (st != EmbedStatus::ok) return st;
  std::vector<std::string> result;
  result.reserve(order.size() + 1);
  st = emitSegments(reader, options, order, [&](const std::string& s) {
    result.push_back(s);
    return true;
  });
  if (st == EmbedStatus::ok) *segments = std::move(result);
  return st;
}

EmbedStatus embedAudio(const std::string& jpeg, const std::string& wave, const EmbedOptions& options,
                       std::string* out, std::size_t* replacedSegments) {
  std::string result;
  EmbedStatus st = embedAudio(jpeg, readerOf(wave), options, [&](const char* bytes, std::size_t count) {
    result.append(bytes, count);
    return true;
  }, replacedSegments);
  if (st == EmbedStatus::ok) *out = std::move(result);
  return st;
}

EmbedStatus embedAudio(const std::string& jpeg, const RecordingReader& wave, const EmbedOptions& options,
                       const EmbedOutput& out, std::size_t* replacedSegments) {
  std::vector<std::size_t> order;
  EmbedStatus st = planPieces(wave, options, &order);
  if (st != EmbedStatus::ok) return st;

  // The header segments up to the first scan; the scan and what follows are copied whole.
  std::vector<media::JpegMarker> header;
  if (media::JpegHeaderMarkers(reinterpret_cast<const UInt8*>(jpeg.data()), jpeg.size(), &header) != media::Status::ok)
    return EmbedStatus::notJpeg;
  const std::size_t scanStart = header.back().offset;
  header.pop_back();

  auto put = [&](const std::string& bytes, std::size_t from, std::size_t count) {
    return out(bytes.data() + from, count);
  };
  auto ours = [&]() {
    return emitSegments(wave, options, order, [&](const std::string& s) { return put(s, 0, s.size()); });
  };
  if (!put(jpeg, 0, 2)) return EmbedStatus::outputFailed;
  std::size_t replaced = 0;
  bool inserted = false;
  for (const media::JpegMarker& seg : header) {
    if (isFlashPixSegment(jpeg, seg)) {
      ++replaced;
      continue;
    }
    if (!inserted && seg.code != media::jpeg::kAPP0 && seg.code != media::jpeg::kAPP1) {
      if ((st = ours()) != EmbedStatus::ok) return st;
      inserted = true;
    }
    if (!put(jpeg, seg.offset, seg.size)) return EmbedStatus::outputFailed;
  }
  if (!inserted && (st = ours()) != EmbedStatus::ok) return st;
  if (!put(jpeg, scanStart, jpeg.size() - scanStart)) return EmbedStatus::outputFailed;
  if (replacedSegments) *replacedSegments = replaced;
  return EmbedStatus::ok;
}

}  // namespace flashpix
