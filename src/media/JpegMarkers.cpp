// SPDX-License-Identifier: GPL-2.0-or-later
// The marker walk shared by the structure check, the annotation embedder and the driver: the
// rules of where a marker starts, which markers stand alone and where scan data ends.
#include "media/JpegMarkers.h"

#include <cstring>

#include "media/ByteOrder.h"

namespace media {

namespace {
constexpr std::uint8_t kTEM = 0x01;

bool isStandalone(std::uint8_t m) { return m == kTEM || (m >= 0xD0 && m <= 0xD7); }
}  // namespace

JpegMarker JpegMarkerWalker::next() {
  JpegMarker m;
  m.offset = pos_;
  if (pos_ >= size_) return m;
  if (data_[pos_] != 0xFF) {
    m.kind = JpegMarker::Kind::strayByte;
    return m;
  }
  std::size_t at = pos_ + 1;
  while (at < size_ && data_[at] == 0xFF) ++at;  // fill bytes
  if (at >= size_) return m;
  m.code = data_[at];
  m.offset = at - 1;
  const std::size_t afterCode = at + 1;
  if (m.code == jpeg::kEOI || isStandalone(m.code)) {
    m.kind = m.code == jpeg::kEOI ? JpegMarker::Kind::endOfImage : JpegMarker::Kind::standalone;
    m.size = 2;
    pos_ = afterCode;
    return m;
  }
  if (m.code == jpeg::kSOI || m.code == 0x00) {
    m.kind = JpegMarker::Kind::invalid;
    return m;
  }
  if (size_ - afterCode < 2) {
    m.kind = JpegMarker::Kind::truncated;
    return m;
  }
  const std::size_t length = ReadBigEndian16(data_ + afterCode);
  m.size = 2 + length;
  if (length < 2) {
    m.kind = JpegMarker::Kind::invalid;
    return m;
  }
  if (size_ - afterCode < length) {
    m.kind = JpegMarker::Kind::truncated;
    return m;
  }
  m.kind = JpegMarker::Kind::segment;
  pos_ = afterCode + length;
  return m;
}

void JpegMarkerWalker::skipScanData() {
  std::size_t pos = pos_;
  while (pos < size_) {
    // Most of a photograph is scan data: let memchr find the next 0xFF.
    const void* ff = std::memchr(data_ + pos, 0xFF, size_ - pos);
    if (ff == nullptr) break;
    pos = std::size_t(static_cast<const std::uint8_t*>(ff) - data_);
    std::size_t next = pos + 1;
    while (next < size_ && data_[next] == 0xFF) ++next;
    if (next >= size_) break;
    const std::uint8_t m = data_[next];
    if (m == 0x00 || (m >= 0xD0 && m <= 0xD7)) {
      pos = next + 1;
      continue;
    }
    pos_ = next - 1;
    return;
  }
  pos_ = size_;
}

bool StartsWithSOI(const std::uint8_t* data, std::size_t size) {
  return data != nullptr && size >= 2 && data[0] == 0xFF && data[1] == jpeg::kSOI;
}

Status JpegHeaderMarkers(const std::uint8_t* data, std::size_t size, std::vector<JpegMarker>* markers) {
  if (markers == nullptr) return Status::badArgument;
  markers->clear();
  if (!StartsWithSOI(data, size)) return Status::damaged;
  JpegMarkerWalker walk(data, size);
  for (;;) {
    const JpegMarker m = walk.next();
    if (m.kind != JpegMarker::Kind::segment && m.kind != JpegMarker::Kind::standalone) {
      markers->clear();
      return Status::damaged;
    }
    markers->push_back(m);
    if (m.code == jpeg::kSOS) return Status::ok;
  }
}

}  // namespace media
