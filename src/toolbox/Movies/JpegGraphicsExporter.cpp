// SPDX-License-Identifier: GPL-2.0-or-later
// The JPEG graphics exporter: baseline JPEG, quality mapped from the platform's scale.
// High quality (0x300) is libjpeg quality 90 with colour kept at full resolution (4:4:4).
#include <algorithm>
#include <iterator>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Movies/GraphicsComponents.h"
#include "toolbox/Movies/MediaStatus.h"
#include "media/JpegCodec.h"

namespace {
struct QualityRow {
  CodecQ codecQ;
  int libjpegQuality;
};
// Between rows the quality is interpolated linearly.
constexpr QualityRow kQualities[] = {
    {codecMinQuality, 10},
    {codecLowQuality, 50},
    {CodecQ(codecNormalQuality), 75},
    {CodecQ(codecHighQuality), 90},
    {CodecQ(codecMaxQuality), 98},
    {codecLosslessQuality, 100},
};

class JpegGraphicsExporter final : public GraphicsExporterComponent {
 public:
  OSErr encode(const media::PixelImage& picture, std::vector<std::uint8_t>* bytes) const override {
    return OSErrOf(media::JpegEncode(picture, JpegQualityFor(quality), quality >= CodecQ(codecHighQuality), bytes));
  }
};
}  // namespace

int JpegQualityFor(CodecQ q) {
  q = std::min(q, codecLosslessQuality);
  for (std::size_t i = 1; i < std::size(kQualities); ++i) {
    const QualityRow& lo = kQualities[i - 1];
    const QualityRow& hi = kQualities[i];
    if (q <= hi.codecQ) {
      int span = int(hi.codecQ - lo.codecQ);
      return lo.libjpegQuality + (int(q - lo.codecQ) * (hi.libjpegQuality - lo.libjpegQuality) + span / 2) / span;
    }
  }
  return 100;
}

ComponentInstance NewJpegGraphicsExporter() { return new JpegGraphicsExporter(); }
