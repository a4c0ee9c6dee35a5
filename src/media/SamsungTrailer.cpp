// SPDX-License-Identifier: GPL-2.0-or-later
// Sound & Shot: the recording Samsung phones and cameras keep in the directory of blocks they
// append after the picture ("SEFH" directory, its length and "SEFT" at the very end), read
// from the file's end by range: the recording is found where it lies, never copied.
#include <algorithm>
#include <cstring>
#include <vector>

#include "media/ByteOrder.h"
#include "media/ByteReaders.h"
#include "media/EmbeddedNote.h"

namespace media {

namespace {

constexpr std::uint16_t kSoundShotType = 0x0100;
constexpr const char kSoundShotName[] = "SoundShot_";
constexpr std::size_t kEntryBytes = 12, kDirectoryHead = 12, kBlockHead = 8;
// A directory lists a few blocks; one of megabytes is no maker's, and is never read into memory.
constexpr std::uint64_t kMaxDirectoryBytes = 1u << 20;

constexpr auto le16 = ReadLittleEndian16;
constexpr auto le32 = ReadLittleEndian32;

Status refuse(std::string* why, const char* words) {
  if (why != nullptr) *why = std::string("the Sound & Shot trailer is damaged: ") + words;
  return Status::damaged;
}

}  // namespace

Status FindSamsungTrailerNote(ByteReader& file, EmbeddedNote* note, std::string* why) {
  *note = EmbeddedNote{};
  const std::uint64_t size = file.size();
  std::uint8_t end[8];
  if (size < 8 || !file.read(size - 8, end, 8) || std::memcmp(end + 4, "SEFT", 4) != 0) return Status::ok;
  const std::uint64_t directoryLength = le32(end);
  if (directoryLength < kDirectoryHead || directoryLength > size - 8) return refuse(why, "its directory lies outside the file");
  // Only the directory is read: the blocks it lists (the recording among them) stay in the file.
  if (directoryLength > kMaxDirectoryBytes) return refuse(why, "its directory is larger than any maker writes");
  const std::uint64_t directory = size - 8 - directoryLength;
  std::vector<std::uint8_t> d(static_cast<std::size_t>(directoryLength));
  if (!file.read(directory, d.data(), d.size())) return refuse(why, "its directory cannot be read");
  if (std::memcmp(d.data(), "SEFH", 4) != 0) return refuse(why, "no directory where its end says");
  const std::uint64_t count = le32(d.data() + 8);
  if (count > (directoryLength - kDirectoryHead) / kEntryBytes) return refuse(why, "more entries than its directory holds");
  const std::size_t nameSize = std::strlen(kSoundShotName);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = d.data() + kDirectoryHead + i * kEntryBytes;
    const std::uint16_t type = le16(entry + 2);
    if (type != kSoundShotType) continue;
    // Offsets count back from the directory; the blocks lie between the picture and it.
    const std::uint64_t back = le32(entry + 4), length = le32(entry + 8);
    if (back > directory || length > back || length < kBlockHead) return refuse(why, "a block lies outside the file");
    const std::uint64_t block = directory - back;
    std::uint8_t head[kBlockHead + sizeof kSoundShotName] = {};
    const std::size_t headSize = std::size_t(std::min<std::uint64_t>(length, sizeof head));
    if (!file.read(block, head, headSize)) return refuse(why, "a block cannot be read");
    const std::uint64_t nameLength = le32(head + 4);
    if (le16(head + 2) != type || nameLength > length - kBlockHead) return refuse(why, "a block does not match its entry");
    if (nameLength < nameSize || headSize < kBlockHead + nameSize ||
        std::memcmp(head + kBlockHead, kSoundShotName, nameSize) != 0)
      continue;
    note->offset = block + kBlockHead + nameLength;
    note->length = length - kBlockHead - nameLength;
    if (note->length == 0) return refuse(why, "its recording is empty");
    std::uint8_t first[64] = {};
    const std::size_t firstSize = std::size_t(std::min<std::uint64_t>(note->length, sizeof first));
    if (!file.read(note->offset, first, firstSize)) return refuse(why, "its recording cannot be read");
    note->kind = RecordingKindOf(first, firstSize);
    note->found = true;
    return Status::ok;
  }
  return Status::ok;
}

Status FindSamsungTrailerNote(const std::uint8_t* file, std::size_t size, EmbeddedNote* note, std::string* why) {
  MemoryByteReader bytes({file, size});
  return FindSamsungTrailerNote(bytes, note, why);
}

}  // namespace media
