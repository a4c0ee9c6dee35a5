// SPDX-License-Identifier: GPL-2.0-or-later
// The marker walk shared by the structure check, the annotation embedder and the driver: the
// rules of where a marker starts, which markers stand alone and where scan data ends.
#include "media/JpegMarkers.h"

#include <algorithm>
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

void VisitJpegHeaderSegments(
    ByteReader& file,
    const std::function<bool(std::uint8_t, std::uint64_t, std::uint32_t, std::span<const std::uint8_t>)>& visit) {
  // One read of a window at each marker: a walk over long segments costs a read per segment, one
  // over many short ones a read per window.
  constexpr std::size_t kWindow = 4096, kHead = 32;
  std::uint8_t window[kWindow];
  std::uint64_t windowAt = 0;
  std::size_t windowSize = 0;
  const std::uint64_t size = file.size();
  // The bytes at [at, at + n) from the window, moved there when they are not in it; null past the end.
  auto bytesAt = [&](std::uint64_t at, std::size_t n) -> const std::uint8_t* {
    if (at < windowAt || at + n > windowAt + windowSize) {
      if (at >= size) return nullptr;
      windowAt = at;
      windowSize = std::size_t(std::min<std::uint64_t>(kWindow, size - at));
      if (!file.read(windowAt, window, windowSize)) windowSize = 0;
    }
    return at + n <= windowAt + windowSize ? window + (at - windowAt) : nullptr;
  };
  const std::uint8_t* p = bytesAt(0, 2);
  if (p == nullptr || !StartsWithSOI(p, 2)) return;
  std::uint64_t pos = 2;
  for (std::size_t segments = 0; segments < kMaxHeaderSegments; ++segments) {
    p = bytesAt(pos, 2);
    if (p == nullptr || p[0] != 0xFF) return;
    std::size_t fill = 0;
    while (p[1] == 0xFF && fill < kHead) {
      ++pos, ++fill;
      if ((p = bytesAt(pos, 2)) == nullptr) return;
    }
    const std::uint8_t code = p[1];
    if (isStandalone(code)) {
      pos += 2;
      continue;
    }
    if (code == 0x00 || code == 0xFF || code == jpeg::kSOI || code == jpeg::kEOI || code == jpeg::kSOS) return;
    if ((p = bytesAt(pos, 4)) == nullptr) return;
    const std::uint32_t length = ReadBigEndian16(p + 2);
    if (length < 2 || pos + 2 + length > size) return;
    const std::size_t head = std::min<std::size_t>(kHead, length - 2);
    const std::uint8_t* h = bytesAt(pos + 4, head);
    if (h == nullptr || !visit(code, pos + 4, length - 2, {h, head})) return;
    pos += 2 + length;
  }
}

}  // namespace media
