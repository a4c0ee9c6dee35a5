// SPDX-License-Identifier: GPL-2.0-or-later
// Sound & Shot: the recording Samsung phones and cameras keep in the directory of blocks they
// append after the picture ("SEFH" directory, its length and "SEFT" at the very end).
#include <cstring>

#include "media/ByteOrder.h"
#include "media/EmbeddedNote.h"

namespace media {

namespace {

constexpr std::uint16_t kSoundShotType = 0x0100;
constexpr const char kSoundShotName[] = "SoundShot_";
constexpr std::size_t kEntryBytes = 12, kDirectoryHead = 12, kBlockHead = 8;

constexpr auto le16 = ReadLittleEndian16;
constexpr auto le32 = ReadLittleEndian32;

Status refuse(std::string* why, const char* words) {
  if (why != nullptr) *why = std::string("the Sound & Shot trailer is damaged: ") + words;
  return Status::damaged;
}

}  // namespace

Status FindSamsungTrailerNote(const std::uint8_t* file, std::size_t size, EmbeddedNote* note, std::string* why) {
  *note = EmbeddedNote{};
  if (size < 8 || std::memcmp(file + size - 4, "SEFT", 4) != 0) return Status::ok;
  const std::uint64_t directoryLength = le32(file + size - 8);
  if (directoryLength < kDirectoryHead || directoryLength > size - 8) return refuse(why, "its directory lies outside the file");
  const std::size_t directory = size - 8 - std::size_t(directoryLength);
  const std::uint8_t* d = file + directory;
  if (std::memcmp(d, "SEFH", 4) != 0) return refuse(why, "no directory where its end says");
  const std::uint64_t count = le32(d + 8);
  if (count > (directoryLength - kDirectoryHead) / kEntryBytes) return refuse(why, "more entries than its directory holds");
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = d + kDirectoryHead + i * kEntryBytes;
    const std::uint16_t type = le16(entry + 2);
    if (type != kSoundShotType) continue;
    // Offsets count back from the directory; the blocks lie between the picture and it.
    const std::uint64_t back = le32(entry + 4), length = le32(entry + 8);
    if (back > directory || length > back || length < kBlockHead) return refuse(why, "a block lies outside the file");
    const std::size_t block = directory - std::size_t(back);
    const std::uint8_t* b = file + block;
    const std::uint64_t nameLength = le32(b + 4);
    if (le16(b + 2) != type || nameLength > length - kBlockHead) return refuse(why, "a block does not match its entry");
    const std::size_t nameSize = std::strlen(kSoundShotName);
    if (nameLength < nameSize || std::memcmp(b + kBlockHead, kSoundShotName, nameSize) != 0) continue;
    note->offset = block + kBlockHead + nameLength;
    note->length = length - kBlockHead - nameLength;
    if (note->length == 0) return refuse(why, "its recording is empty");
    if (note->length > kMaxEmbeddedNoteBytes) {
      if (why != nullptr) *why = "the Sound & Shot recording is larger than any voice note (" + std::to_string(note->length) + " bytes)";
      *note = EmbeddedNote{};
      return Status::noMemory;
    }
    note->kind = RecordingKindOf(file + note->offset, std::size_t(note->length));
    note->found = true;
    return Status::ok;
  }
  return Status::ok;
}

}  // namespace media
