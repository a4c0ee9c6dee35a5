// SPDX-License-Identifier: GPL-2.0-or-later
// The JPEG graphics importer: bounds from the frame header, the SOI..EOI data range and a
// 'jpeg' image description of a whole stream, and drawing by DCT-scaled decoding streamed into
// exact resampling.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/GraphicsComponents.h"
#include "toolbox/Movies/MediaStatus.h"
#include "media/ImageResample.h"
#include "media/JpegCodec.h"
#include "media/JpegStructure.h"

namespace {
constexpr int kMaxRectSide = 32767;

class JpegGraphicsImporter final : public GraphicsImporterComponent {
 public:
  // A stream cut short has bounds but no image data that could be used as it is.
  OSErr dataRange(unsigned long* offset, unsigned long* size) const override {
    if (media::JpegMissingPart(layout_) != nullptr) return codecBadDataErr;
    *offset = layout_.dataOffset;
    *size = layout_.dataSize;
    return noErr;
  }

  OSErr imageDescription(ImageDescriptionHandle* desc) const override {
    if (media::JpegMissingPart(layout_) != nullptr) return codecBadDataErr;
    Handle h = NewHandleClear(sizeof(ImageDescription));
    if (h == nullptr) return MemError();
    auto* id = reinterpret_cast<ImageDescription*>(*h);
    id->idSize = 86;  // the record as stored in a movie, without in-memory padding
    id->cType = kJPEGCodecType;
    id->version = 0;
    id->revisionLevel = 0;
    id->vendor = SInt32(FOUR_CHAR_CODE("appl"));
    id->temporalQuality = 0;
    id->spatialQuality = codecNormalQuality;
    id->width = SInt16(naturalBounds.right - naturalBounds.left);
    id->height = SInt16(naturalBounds.bottom - naturalBounds.top);
    id->hRes = IntToFixed(72);
    id->vRes = IntToFixed(72);
    id->dataSize = SInt32(std::min<std::size_t>(layout_.dataSize, INT32_MAX));
    id->frameCount = 1;
    static const char kName[] = "Photo - JPEG";
    id->name[0] = sizeof kName - 1;
    std::memcpy(id->name + 1, kName, sizeof kName - 1);
    id->depth = layout_.components == 1 ? 40 : 24;
    id->clutID = -1;
    *desc = reinterpret_cast<ImageDescriptionHandle>(h);
    return noErr;
  }

  OSErr drawRegion(const Rect& src, int width, int height, media::PixelImage* out) const override {
    if (width <= 0 || height <= 0) return paramErr;
    if (media::JpegMissingPart(layout_) != nullptr) return codecBadDataErr;  // could never decode whole
    // Natural bounds may be a proportionally reduced stand-in for a frame too big for a Rect.
    double fx = double(layout_.width) / (naturalBounds.right - naturalBounds.left);
    double fy = double(layout_.height) / (naturalBounds.bottom - naturalBounds.top);
    double x0 = src.left * fx, x1 = src.right * fx, y0 = src.top * fy, y1 = src.bottom * fy;
    if (!(x1 > x0 && y1 > y0)) return invalidRect;
    // The whole frame must decode to at least the output's density over the region.
    auto need = [](int outSize, double full, double span) {
      double v = std::ceil(outSize * full / span - 1e-9);
      return std::uint32_t(std::clamp(v, 1.0, 1e9));
    };
    // Decoded rows go straight into the resampler; the frame is never expanded whole.
    media::RegionResampler resampler(x0, y0, x1, y1, layout_.width, layout_.height, width, height);
    media::Status s = media::JpegDecodeScaled(bytes().data(), layout_.dataSize, need(width, layout_.width, x1 - x0),
                                              need(height, layout_.height, y1 - y0), &resampler);
    return OSErrOf(s != media::Status::ok ? s : resampler.finish(out));
  }

 protected:
  OSErr parse() override {
    media::JpegLayout layout;
    if (media::Status s = media::ParseJpegLayout(bytes().data(), bytes().size(), &layout); s != media::Status::ok)
      return OSErrOf(s);
    std::uint32_t w = layout.width, h = layout.height;
    std::uint32_t longest = std::max(w, h);
    if (longest > std::uint32_t(kMaxRectSide)) {
      double f = double(kMaxRectSide) / longest;
      w = std::max<std::uint32_t>(1, std::uint32_t(std::lround(w * f)));
      h = std::max<std::uint32_t>(1, std::uint32_t(std::lround(h * f)));
    }
    layout_ = layout;
    naturalBounds = Rect{0, 0, SInt16(h), SInt16(w)};
    return noErr;
  }

 private:
  media::JpegLayout layout_;
};
}  // namespace

ComponentInstance NewJpegGraphicsImporter() { return new JpegGraphicsImporter(); }
