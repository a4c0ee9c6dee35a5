// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: bytes as a raw photograph through LibRaw's identification, the preview's size
// checks, its extraction and the facts read beside it; what comes back must hold together.
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
  media::RawFacts facts;
  int orientation = 0;
  if (media::ReadRawFacts(data, size, &facts, &orientation) != media::RawPreviewOutcome::ok ||
      orientation != preview.orientation || facts.make != preview.facts.make)
    std::abort();
  return 0;
}
