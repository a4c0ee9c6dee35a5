// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: what a raw photograph's reading does in this process. An odd first byte reads the
// rest as a raw: the checks before LibRaw here, LibRaw in a child whose crash must come back as
// a refusal. An even one reads the rest as a child's answer, which must hold together.
#include <cstdlib>
#include <string>
#include <string_view>

#include "media/RawPreview.h"
#include "toolbox/Processes/ChildCalls.h"

namespace {

void checkPreview(media::RawPreviewOutcome r, const media::RawPreview& preview) {
  if (r != media::RawPreviewOutcome::ok) {
    if (!preview.jpeg.empty() || !preview.bitmap.pixels.empty()) std::abort();
    return;
  }
  if (preview.width < 1 || preview.height < 1 || preview.width > media::kMaxRawPreviewSide ||
      preview.height > media::kMaxRawPreviewSide || preview.orientation < 1 || preview.orientation > 8)
    std::abort();
  if (preview.isJpeg ? preview.jpeg.empty()
                     : preview.bitmap.pixels.size() !=
                           std::size_t(preview.width) * preview.height * std::size_t(preview.bitmap.channels))
    std::abort();
}

// Bounds below the fuzzer's own (2 GB, 10 s), so that LibRaw meeting them is a refusal here.
const ChildCallLimits kLimits{.extraAddressSpace = std::uint64_t(1) << 30, .milliseconds = 5000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size == 0) return 0;
  const unsigned char* body = data + 1;
  const std::size_t bodySize = size - 1;
  media::RawPreview preview;
  media::RawPreviewOutcome r = media::RawPreviewOutcome::lost;
  if ((data[0] & 1) == 0) {
    const std::string_view answer(reinterpret_cast<const char*>(body), bodySize);
    const bool read = media::ReadRawPreviewAnswer(answer, &r, &preview);
    if (!read && (r != media::RawPreviewOutcome::lost || preview.width != 0)) std::abort();
    checkPreview(r, preview);
    // An answer taken is the one its preview gives.
    if (read && media::RawPreviewAnswer(r, preview) != answer) std::abort();
    return 0;
  }
  const bool sound = media::RawLayoutSound(body, bodySize);
  ChildCallResult child = CallInChildProcess(
      [&] {
        media::RawPreview found;
        const media::RawPreviewOutcome outcome = media::ReadRawPreview(body, bodySize, &found);
        return media::RawPreviewAnswer(outcome, found);
      },
      kLimits, std::uint64_t(1) << 30);
  if (child.ending == ChildCallResult::Ending::notStarted) return 0;  // the machine's state, not the input's
  if (child.ending != ChildCallResult::Ending::answered) return 0;  // LibRaw's crash, refused
  if (!media::ReadRawPreviewAnswer(std::move(child.bytes), &r, &preview)) std::abort();
  checkPreview(r, preview);
  // Bytes refused before LibRaw is asked never give a preview.
  if (!sound && r == media::RawPreviewOutcome::ok) std::abort();
  return 0;
}
