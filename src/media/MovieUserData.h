// SPDX-License-Identifier: GPL-2.0-or-later
// A text item of a movie's user data, read out of the movie atom's body: the QuickTime item of
// its type, else the MP4 metadata item under its key (udta/meta with keys and ilst).
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "media/MovieAtoms.h"

namespace media {

// moov: the movie atom's body. Nothing when neither item is there whole.
std::optional<std::string> MovieUserDataText(std::span<const std::uint8_t> moov, FourCC type, std::string_view mp4Key);

}  // namespace media
