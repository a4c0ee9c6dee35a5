// SPDX-License-Identifier: GPL-2.0-or-later
// FLIR thermal cameras: the voice annotation is a record of the FFF file they cut into numbered
// APP1 "FLIR" segments; the segments are put back together and the record directory read.
#include <cstring>

#include "media/ByteOrder.h"
#include "media/EmbeddedNote.h"

namespace media {

namespace {

constexpr std::uint16_t kAudioRecord = 0x0024;
constexpr std::size_t kHeadBytes = 64, kIndexBytes = 32;
// After "FLIR\0": a constant 1, the segment's number and the last segment's number.
constexpr std::size_t kSegmentHead = 3;

Status refuse(std::string* why, const std::string& words) {
  if (why != nullptr) *why = "the FLIR data is damaged: " + words;
  return Status::damaged;
}

struct Reader {
  bool big;
  std::uint16_t u16(const std::uint8_t* p) const { return big ? ReadBigEndian16(p) : ReadLittleEndian16(p); }
  std::uint32_t u32(const std::uint8_t* p) const { return big ? ReadBigEndian32(p) : ReadLittleEndian32(p); }
};

}  // namespace

Status FindFlirNote(const std::uint8_t* file, std::size_t size, EmbeddedNote* note, std::string* why) {
  *note = EmbeddedNote{};
  const auto segments = AppSegmentsWith(file, size, 0xE1, "FLIR\0", 5);
  if (segments.empty()) return Status::ok;
  // Segments are numbered 0..last; each number once, all of them there.
  const std::size_t count = std::size_t(segments[0].size >= kSegmentHead ? segments[0].data[2] : 0) + 1;
  std::vector<const SegmentBody*> byNumber(count, nullptr);
  std::uint64_t total = 0;
  for (const SegmentBody& s : segments) {
    if (s.size < kSegmentHead || std::size_t(s.data[2]) + 1 != count || s.data[1] >= count)
      return refuse(why, "its segments are not numbered in one series");
    if (byNumber[s.data[1]] != nullptr) return refuse(why, "a segment comes twice");
    byNumber[s.data[1]] = &s;
    total += s.size - kSegmentHead;
  }
  for (const SegmentBody* s : byNumber)
    if (s == nullptr) return refuse(why, "a segment is missing");
  std::vector<std::uint8_t> fff;
  fff.reserve(std::size_t(total));
  for (const SegmentBody* s : byNumber) fff.insert(fff.end(), s->data + kSegmentHead, s->data + s->size);

  if (fff.size() < kHeadBytes || (std::memcmp(fff.data(), "FFF\0", 4) != 0 && std::memcmp(fff.data(), "AFF\0", 4) != 0))
    return refuse(why, "no FFF header");
  // The header's version is a small number; read the wrong way round it is not.
  Reader r{ReadBigEndian32(fff.data() + 20) < 0x10000};
  const std::uint64_t indexOffset = r.u32(fff.data() + 24), entries = r.u32(fff.data() + 28);
  if (indexOffset > fff.size() || entries > (fff.size() - indexOffset) / kIndexBytes)
    return refuse(why, "its record directory lies outside the data");
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::uint8_t* e = fff.data() + indexOffset + i * kIndexBytes;
    if (r.u16(e) != kAudioRecord) continue;
    const std::uint64_t at = r.u32(e + 12), length = r.u32(e + 16);
    if (at > fff.size() || length > fff.size() - at) return refuse(why, "its audio record lies outside the data");
    if (length == 0) return refuse(why, "its audio record is empty");
    note->assembled.assign(fff.begin() + std::ptrdiff_t(at), fff.begin() + std::ptrdiff_t(at + length));
    note->kind = RecordingKindOf(note->assembled.data(), note->assembled.size());
    note->found = true;
    return Status::ok;
  }
  return Status::ok;
}

}  // namespace media
