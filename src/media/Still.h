// SPDX-License-Identifier: GPL-2.0-or-later
// The picture every photograph kind hands to every output: JPEG bytes as stored (the camera's
// own frame, or a raw's preview), its pixel size, and the EXIF orientation that stands it upright.
#pragma once
#include <cstdint>
#include <memory>
#include <span>

#include "media/Recording.h"

namespace media {

struct Still {
  std::span<const std::uint8_t> jpeg;  // held by the photograph kind for the conversion's length
  int width = 0;                       // as stored, before orientation
  int height = 0;
  int orientation = 1;  // EXIF 1 to 8; anything else counts as 1
  // Keeps jpeg alive when the kind made the bytes itself (a raw's preview) rather than pointing
  // into the photograph's; empty otherwise.
  std::shared_ptr<const void> owner;
  // The whole file jpeg is the start of, when more follows it than jpeg holds (a maker's trailer,
  // read where needed and never held); nullptr when jpeg is all there is.
  std::shared_ptr<ByteReader> file;
};

}  // namespace media
