// SPDX-License-Identifier: GPL-2.0-or-later
// Finding a user-data text item in a movie atom's body; every size is checked against its parent.
#include "media/MovieUserData.h"

#include "media/AtomWalk.h"
#include "media/ByteOrder.h"

namespace media {
namespace {

using Bytes = std::span<const std::uint8_t>;

std::optional<Bytes> child(Bytes parent, FourCC type) { return ChildAtom(parent, type); }

std::string textOf(Bytes b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }

// An MP4's text item: udta/meta (handler mdta) lists the keys; its ilst holds each value under
// its key's number, from 1, in a data atom (type indicator and locale, then the text).
std::optional<std::string> metadataText(Bytes udta, std::string_view key) {
  std::optional<Bytes> meta = child(udta, fourCC("meta"));
  if (!meta) return std::nullopt;
  // ISO files give meta a version and flags; QuickTime files do not.
  if (meta->size() >= 4 && ReadBigEndian32(meta->data()) == 0) meta = meta->subspan(4);
  const std::optional<Bytes> keys = child(*meta, fourCC("keys"));
  const std::optional<Bytes> ilst = child(*meta, fourCC("ilst"));
  if (!keys || !ilst || keys->size() < 8) return std::nullopt;
  const std::uint32_t count = ReadBigEndian32(keys->data() + 4);
  std::size_t at = 8;
  for (std::uint32_t k = 1; k <= count && keys->size() - at >= 8; ++k) {
    const std::uint32_t size = ReadBigEndian32(keys->data() + at);
    if (size < 8 || size > keys->size() - at) break;
    if (textOf(keys->subspan(at + 8, size - 8)) == key) {
      const std::optional<Bytes> item = child(*ilst, k);
      const std::optional<Bytes> data = item ? child(*item, fourCC("data")) : std::nullopt;
      if (!data || data->size() < 8) return std::nullopt;
      return textOf(data->subspan(8));
    }
    at += size;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> MovieUserDataText(Bytes moov, FourCC type, std::string_view mp4Key) {
  const std::optional<Bytes> udta = child(moov, fourCC("udta"));
  if (!udta) return std::nullopt;
  const std::optional<Bytes> item = child(*udta, type);
  if (!item) return metadataText(*udta, mp4Key);
  // A text item: its length, its language, the text.
  if (item->size() < 4) return std::nullopt;
  const std::size_t length = ReadBigEndian16(item->data());
  if (length > item->size() - 4) return std::nullopt;
  return textOf(item->subspan(4, length));
}

}  // namespace media
