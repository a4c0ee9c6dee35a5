// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: bytes as a raw photograph through LibRaw's identification, the preview's size
// checks and its extraction; what comes back must hold together.
#include <cstdlib>

#include "media/RawPreview.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  media::RawPreview preview;
  const media::RawPreviewOutcome r = media::ReadRawPreview(data, size, &preview);
  if (r != media::RawPreviewOutcome::ok) {
    if (!preview.jpeg.empty() || !preview.bitmap.pixels.empty()) std::abort();
    return 0;
  }
  if (preview.width < 1 || preview.height < 1 || preview.width > media::kMaxRawPreviewSide ||
      preview.height > media::kMaxRawPreviewSide || preview.orientation < 1 || preview.orientation > 8)
    std::abort();
  if (preview.isJpeg ? preview.jpeg.empty()
                     : preview.bitmap.pixels.size() !=
                           std::size_t(preview.width) * preview.height * std::size_t(preview.bitmap.channels))
    std::abort();
  // Whatever gave a preview is a raw by the same reading.
  if (media::IdentifyRaw(data, size) != media::RawPreviewOutcome::ok) std::abort();
  return 0;
}
