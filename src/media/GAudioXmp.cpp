// SPDX-License-Identifier: GPL-2.0-or-later
// Google's GAudio: the recording as base64 text in the photograph's XMP, in the main packet or, as
// it mostly is, in the Extended XMP packet cut into APP1 chunks named by the packet's digest.
#include <glib.h>

#include <algorithm>
#include <cstring>

#include "media/ByteOrder.h"
#include "media/EmbeddedNote.h"
#include "media/GAudio.h"
#include "media/XmpPacket.h"

namespace media {

namespace {

constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";  // with its NUL
constexpr char kExtensionSignature[] = "http://ns.adobe.com/xmp/extension/";
constexpr char kAudioNamespace[] = "http://ns.google.com/photos/1.0/audio/";
constexpr char kNoteNamespace[] = "http://ns.adobe.com/xmp/note/";
constexpr std::size_t kGuidBytes = 32, kChunkHead = kGuidBytes + 8;
// Base64 is decoded a piece at a time, so the text is never copied whole.
constexpr std::size_t kBase64Piece = 64 * 1024;

Status refuse(std::string* why, const std::string& words, Status status = Status::damaged) {
  if (why != nullptr) *why = "the GAudio note " + words;
  return status;
}

}  // namespace

Status DecodeBase64Bounded(const char* text, std::size_t size, std::uint64_t limit, std::vector<std::uint8_t>* out,
                           std::string* why) {
  out->clear();
  // Four characters make three bytes; line breaks and spaces only make the text longer.
  if (size / 4 * 3 > limit + limit / 2 + 3)
    return refuse(why, "is larger than any voice note (" + std::to_string(size) + " characters of base64)", Status::noMemory);
  out->reserve(std::min<std::size_t>(size / 4 * 3 + 3, std::size_t(limit) + 3));
  gint state = 0;
  guint save = 0;
  std::vector<std::uint8_t> piece(kBase64Piece / 4 * 3 + 3);
  for (std::size_t at = 0; at < size; at += kBase64Piece) {
    const std::size_t n = std::min(kBase64Piece, size - at);
    const gsize made = g_base64_decode_step(text + at, n, piece.data(), &state, &save);
    if (out->size() + made > limit) {
      out->clear();
      out->shrink_to_fit();
      return refuse(why, "is larger than any voice note", Status::noMemory);
    }
    out->insert(out->end(), piece.begin(), piece.begin() + std::ptrdiff_t(made));
  }
  return Status::ok;
}

Status AssembleExtendedXmp(const std::uint8_t* file, std::size_t size, const std::string& guid, std::uint64_t limit,
                           std::vector<std::uint8_t>* packet, std::string* why) {
  packet->clear();
  if (guid.size() != kGuidBytes) return Status::ok;
  std::vector<SegmentBody> chunks;
  for (const SegmentBody& c : AppSegmentsWith(file, size, 0xE1, kExtensionSignature, sizeof kExtensionSignature))
    if (c.size >= kChunkHead && std::memcmp(c.data, guid.data(), kGuidBytes) == 0) chunks.push_back(c);
  if (chunks.empty()) return Status::ok;  // no chunk of that name: an empty packet
  // Checked before anything is allocated: the memory taken is never more than the chunks hold.
  const std::uint64_t fullLength = ReadBigEndian32(chunks[0].data + kGuidBytes);
  std::uint64_t carried = 0;
  for (const SegmentBody& c : chunks) {
    const std::uint64_t offset = ReadBigEndian32(c.data + kGuidBytes + 4), n = c.size - kChunkHead;
    if (ReadBigEndian32(c.data + kGuidBytes) != fullLength)
      return refuse(why, "has Extended XMP chunks that disagree on the packet's length");
    if (offset > fullLength || n > fullLength - offset) return refuse(why, "has an Extended XMP chunk outside its packet");
    carried += n;
  }
  if (fullLength == 0) return refuse(why, "has an empty Extended XMP packet");
  if (fullLength > limit)
    return refuse(why, "has an Extended XMP packet larger than any voice note (" + std::to_string(fullLength) + " bytes)",
                  Status::noMemory);
  if (carried < fullLength) return refuse(why, "has an Extended XMP packet with chunks missing");
  std::vector<std::uint8_t> assembled(std::size_t(fullLength), 0);
  std::vector<bool> covered(std::size_t(fullLength), false);
  std::uint64_t coveredBytes = 0;
  for (const SegmentBody& c : chunks) {
    const std::size_t offset = ReadBigEndian32(c.data + kGuidBytes + 4), n = c.size - kChunkHead;
    std::memcpy(assembled.data() + offset, c.data + kChunkHead, n);
    for (std::size_t i = offset; i < offset + n; ++i)
      if (!covered[i]) covered[i] = true, ++coveredBytes;
  }
  // Chunks that overlap can carry enough bytes and still leave a gap.
  if (coveredBytes != fullLength) return refuse(why, "has an Extended XMP packet with chunks missing");
  *packet = std::move(assembled);
  return Status::ok;
}

namespace {
// The packet read as XML; nothing when it is not.
std::optional<XmpPacket> packetOf(const std::uint8_t* text, std::size_t size) {
  return XmpPacket::Parse(std::string_view(reinterpret_cast<const char*>(text), size));
}
}  // namespace

Status FindGAudioNote(const std::uint8_t* file, std::size_t size, EmbeddedNote* note, std::string* why) {
  *note = EmbeddedNote{};
  const auto main = AppSegmentsWith(file, size, 0xE1, kXmpSignature, sizeof kXmpSignature);
  if (main.empty()) return Status::ok;
  const auto packet = packetOf(main[0].data, main[0].size);
  if (!packet) return Status::ok;
  auto data = packet->Value(kAudioNamespace, "Data");
  std::vector<std::uint8_t> extended;
  if (!data) {
    const auto guid = packet->Value(kNoteNamespace, "HasExtendedXMP");
    if (!guid) return Status::ok;
    // Base64 grows by a third; the packet's own markup is small beside the recording.
    const Status s = AssembleExtendedXmp(file, size, *guid, kMaxEmbeddedNoteBytes / 3 * 4 + (1u << 20), &extended, why);
    // Editors often drop the extended packet and keep its name: then there is no note to take.
    if (s != Status::ok || extended.empty()) return s;
    const auto extendedPacket = packetOf(extended.data(), extended.size());
    if (!extendedPacket) return refuse(why, "is in an Extended XMP packet that is not XML");
    extended = {};  // the packet's own copy is all that is needed now
    data = extendedPacket->Value(kAudioNamespace, "Data");
    if (!data) return Status::ok;
  }
  const Status s = DecodeBase64Bounded(data->data(), data->size(), kMaxEmbeddedNoteBytes, &note->assembled, why);
  if (s != Status::ok) return s;
  if (note->assembled.empty()) return refuse(why, "holds no recording");
  note->kind = RecordingKindOf(note->assembled.data(), note->assembled.size());
  note->found = true;
  return Status::ok;
}

}  // namespace media
