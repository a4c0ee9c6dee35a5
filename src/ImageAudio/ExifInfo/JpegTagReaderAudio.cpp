// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the voice annotation among the FlashPix segment copies: the audio stream's pieces
// become audio blocks, and the WAVE headers of the first piece give the length in seconds.
#include <bit>
#include <cstring>

#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "media/WaveFormats.h"

namespace {

// The class identifier an audio stream's header carries, in stored order.
constexpr UInt8 s_aClassID[16] = {0x01, 0x01, 0x00, 0x10, 0xC0, 0x6F, 0xD0, 0x11,
                                  0xBD, 0x01, 0x00, 0x60, 0x97, 0x19, 0xA1, 0x80};

constexpr UInt32 kSegmentHeader = 13;     // "FPXR", 0, version, type, index, offset
constexpr UInt32 kFirstPieceTest = 53;    // through "WAVE" of the first piece
constexpr UInt32 kStreamHeader = 28;      // stream bytes before the WAVE file
constexpr UInt32 kFirstPieceAudio = kSegmentHeader + kStreamHeader;

UInt16 be16(const UInt8* p) { return UInt16((p[0] << 8) | p[1]); }
UInt32 be32(const UInt8* p) { return (UInt32(p[0]) << 24) | (UInt32(p[1]) << 16) | (UInt32(p[2]) << 8) | p[3]; }

// A WAVE field: stored little-endian, read in stored order.
UInt32 le32(const UInt8* p) {
  UInt32 v = 0;
  JpegTagReader::getInt(&v, p, 4);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

// A stream data segment long enough for its header.
bool isStreamSegment(const UInt8* s, UInt32 n) {
  return s != nullptr && n >= kSegmentHeader && std::memcmp(s, "FPXR", 4) == 0 && s[4] == 0x00 && s[5] == 0x00 &&
         s[6] == 0x02;
}

bool isFirstAudioPiece(const UInt8* s, UInt32 n) {
  if (n < kFirstPieceTest || !isStreamSegment(s, n)) return false;
  if (be32(s + 9) != 0) return false;
  if (!(s[13] == 0xFE && s[14] == 0xFF && s[15] == 0x00 && s[16] == 0x00)) return false;
  if (le32(s + 37) == 0) return false;
  if (std::memcmp(s + 21, s_aClassID, sizeof s_aClassID) != 0) return false;
  return media::wave::IsRiffWaveHeader(s + 41, n - 41);
}

}  // namespace

UInt32 JpegTagReader::flashPixPieceHeader(const UInt8* body, UInt32 n) {
  return isStreamSegment(body, n) && be32(body + 9) != 0 ? kSegmentHeader : 0;
}

void JpegTagReader::parseAudioData() {
  if (mDataStore == nullptr) return;
  const auto& segments = mDataStore->getFPDataArray();
  const auto& lengths = mDataStore->getFPLengthArray();

  const UInt8* first = nullptr;
  UInt32 firstLength = 0;
  for (size_t i = 0; i < segments.size() && i < lengths.size(); ++i) {
    if (isFirstAudioPiece(segments[i], lengths[i])) {
      first = segments[i];
      firstLength = lengths[i];
      break;
    }
  }

  if (first != nullptr) {
    mDataStore->addAudioSample(first + kFirstPieceAudio, firstLength - kFirstPieceAudio, 0);
    UInt16 stream = be16(first + 7);
    // Index 0 ties no pieces together.
    for (size_t j = 0; stream != 0 && j < segments.size() && j < lengths.size(); ++j) {
      const UInt8* t = segments[j];
      UInt32 m = lengths[j];
      if (!isStreamSegment(t, m) || be16(t + 7) != stream) continue;
      UInt32 offset = be32(t + 9);
      // Offset 0 is a first piece; below the stream header there is no place in the WAVE file.
      if (offset < kStreamHeader) continue;
      mDataStore->addAudioSample(t + kSegmentHeader, m - kSegmentHeader, offset - kStreamHeader);
    }
  }
  parseWaveHeaders();
}

void JpegTagReader::parseWaveHeaders() {
  if (mDataStore == nullptr) return;
  const auto& blocks = mDataStore->getAudioDataArray();
  const auto& lengths = mDataStore->getAudioLenArray();
  if (blocks.empty() || lengths.empty() || blocks[0] == nullptr) return;
  const UInt8* b = blocks[0];
  const UInt64 l = lengths[0];

  const UInt64 f = findCharSequence("WAVEfmt ", b, UInt32(l));
  if (f == 0 || f + 24 > l) return;
  const UInt32 samplesPerSecond = le32(b + f + 16);
  const UInt32 bytesPerSecond = le32(b + f + 20);

  const UInt8* q = b + f + 24;
  const UInt64 k = l - (f + 24);

  UInt32 dividend = 0;
  UInt32 divisor = 0;
  UInt64 c = findCharSequence("fact", q, UInt32(k));
  if (c != 0 && c + 12 <= k) {
    dividend = le32(q + c + 8);
    divisor = samplesPerSecond;
  } else {
    UInt64 d = findCharSequence("data", q, UInt32(k));
    if (d == 0 || d + 8 > k) return;
    dividend = le32(q + d + 4);
    divisor = bytesPerSecond;
  }
  if (divisor == 0) return;

  // Single-precision quotient; a fraction of 0.01 or more makes a whole second more.
  float quotient = float(dividend) / float(divisor);
  SInt64 seconds = SInt64(double(quotient) + 0.99);
  mDataStore->setAudioSeconds(UInt32(seconds));
}

UInt32 JpegTagReader::findCharSequence(const char* pattern, const UInt8* data, UInt32 length) {
  if (pattern == nullptr || data == nullptr) return 0;
  const size_t patternLength = std::strlen(pattern);
  if (length <= patternLength) return 0;
  const UInt32 positions = UInt32(length - patternLength);
  for (UInt32 pos = 0; pos < positions; ++pos) {
    if (data[pos] != UInt8(pattern[0])) continue;
    if (std::memcmp(data + pos, pattern, patternLength) == 0) return pos;
  }
  return 0;
}

void JpegTagReader::getInt(void* destination, const void* source, SInt32 count) {
  if (count <= 0 || destination == nullptr || source == nullptr) return;
  std::memcpy(destination, source, size_t(count));
}
