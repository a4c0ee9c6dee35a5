// Builds FlashPix contents-list and stream segments for a WAVE recording and splices them into
// a JPEG's header, dropping any FlashPix segments the photograph carried before.
#include "ImageAudio/Embed/FlashPixAudioWriter.h"

#include <algorithm>
#include <cstring>

#include "media/JpegMarkers.h"

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

std::string streamPieceSegment(const std::string& stream, UInt32 offset, UInt32 length) {
  std::string p;
  putFpxrHeader(&p, kStreamDataType);
  putBE16(&p, kAudioStreamIndex);
  putBE32(&p, offset);
  p.append(stream, offset, length);
  return app2Segment(p);
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
  }
  return "unknown failure";
}

bool isRiffWave(const std::string& bytes) {
  return bytes.size() >= 12 && bytes.compare(0, 4, "RIFF") == 0 && bytes.compare(8, 4, "WAVE") == 0;
}

std::string audioStream(const std::string& wave) {
  std::string s;
  s.reserve(kStreamHeaderBytes + wave.size());
  s.append("\xFE\xFF\x00\x00", 4);  // byte-order mark of the property set
  s.append("\x00\x04\x02\x00", 4);  // originating system version, as cameras write it
  s.append(reinterpret_cast<const char*>(kAudioStreamClassID), sizeof kAudioStreamClassID);
  s.append("\x01\x00\x00\x00", 4);  // one section follows; readers require it non-zero
  s += wave;
  return s;
}

std::size_t pieceCount(std::size_t waveBytes, UInt32 maxPieceBytes) {
  if (maxPieceBytes == 0) return 0;
  std::size_t streamBytes = waveBytes + kStreamHeaderBytes;
  return (streamBytes + maxPieceBytes - 1) / maxPieceBytes;
}

EmbedStatus buildSegments(const std::string& wave, const EmbedOptions& options, std::vector<std::string>* segments) {
  if (!isRiffWave(wave)) return EmbedStatus::notWave;
  // Stream offsets and the contents list's stream size are 32-bit; keep clear of the storage mark.
  if (wave.size() > std::size_t(0xFFFFFFFE) - kStreamHeaderBytes) return EmbedStatus::waveTooLarge;
  if (options.maxPieceBytes == 0 || options.maxPieceBytes > kMaxPieceBytes) return EmbedStatus::badOptions;
  std::size_t n = pieceCount(wave.size(), options.maxPieceBytes);
  std::vector<std::size_t> order = options.pieceOrder;
  if (order.empty()) {
    for (std::size_t k = 0; k < n; ++k) order.push_back(k);
  } else if (!isPermutation(order, n)) {
    return EmbedStatus::badOptions;
  }
  std::string stream = audioStream(wave);
  std::vector<std::string> result;
  result.reserve(n + 1);
  if (options.contentsList) result.push_back(contentsListSegment(UInt32(stream.size())));
  for (std::size_t k : order) {
    std::size_t offset = k * std::size_t(options.maxPieceBytes);
    std::size_t length = std::min<std::size_t>(options.maxPieceBytes, stream.size() - offset);
    result.push_back(streamPieceSegment(stream, UInt32(offset), UInt32(length)));
  }
  *segments = std::move(result);
  return EmbedStatus::ok;
}

EmbedStatus embedAudio(const std::string& jpeg, const std::string& wave, const EmbedOptions& options,
                       std::string* out, std::size_t* replacedSegments) {
  std::vector<std::string> ours;
  EmbedStatus st = buildSegments(wave, options, &ours);
  if (st != EmbedStatus::ok) return st;

  // The header segments up to the first scan; the scan and what follows are copied whole.
  std::vector<media::JpegMarker> header;
  if (media::JpegHeaderMarkers(reinterpret_cast<const UInt8*>(jpeg.data()), jpeg.size(), &header) != media::Status::ok)
    return EmbedStatus::notJpeg;
  const std::size_t scanStart = header.back().offset;
  header.pop_back();

  std::string result;
  std::size_t oursBytes = 0;
  for (const std::string& s : ours) oursBytes += s.size();
  result.reserve(jpeg.size() + oursBytes);
  result.append("\xFF\xD8", 2);
  std::size_t replaced = 0;
  bool inserted = false;
  for (const media::JpegMarker& seg : header) {
    if (isFlashPixSegment(jpeg, seg)) {
      ++replaced;
      continue;
    }
    if (!inserted && seg.code != media::jpeg::kAPP0 && seg.code != media::jpeg::kAPP1) {
      for (const std::string& s : ours) result += s;
      inserted = true;
    }
    result.append(jpeg, seg.offset, seg.size);
  }
  if (!inserted) {
    for (const std::string& s : ours) result += s;
  }
  result.append(jpeg, scanStart, std::string::npos);
  *out = std::move(result);
  if (replacedSegments) *replacedSegments = replaced;
  return EmbedStatus::ok;
}

}  // namespace flashpix
