// SPDX-License-Identifier: GPL-2.0-or-later
// Resampling a region of a picture to an exact size as its rows arrive, and turning a picture by
// quarter turns. Reduction averages the covered area; enlargement interpolates bilinearly.
#pragma once
#include <cstdint>
#include <vector>

#include "media/PixelImage.h"

namespace media {

// Scales the region [x0, x1) by [y0, y1) of a picture fed to it row by row. The region is given
// in a reference size (fractions allowed), so that it holds whatever size the rows come at: a
// decoder may deliver the picture reduced. Only the few source rows that the next output row
// still needs are kept, so memory follows the output, not the source.
class RegionResampler final : public PixelRowSink {
 public:
  RegionResampler(double x0, double y0, double x1, double y1, double referenceWidth, double referenceHeight,
                  int outWidth, int outHeight);
  // Status::badArgument for an empty region, a region outside the reference size, a non-positive output
  // size, or other than 1 or 3 channels.
  Status begin(int width, int height, int channels) override;
  std::uint8_t* rowBuffer(int y) override;
  void rowFilled(int y) override;
  // The scaled picture, once every source row it needs has been filled; Status::damaged before.
  Status finish(PixelImage* out);

  // Source positions and weights of one axis; public for the helpers that build them.
  struct Taps {
    int span = 0;                   // weights per output position (the longest footprint)
    std::vector<int> first;         // first source index of each output position
    std::vector<int> count;         // source indices with a non-zero weight
    std::vector<float> weights;     // span per output position, zero past count
  };

 private:
  void makeRow(int y);

  double x0_, y0_, x1_, y1_, refWidth_, refHeight_;
  int channels_ = 0, srcWidth_ = 0, srcHeight_ = 0;
  Taps across_, down_;
  int colLo_ = 0, colHi_ = 0;       // the source columns the output reads
  int ringRows_ = 0;
  std::vector<std::uint8_t> ring_;  // the last ringRows_ source rows, row y in slot y % ringRows_
  std::vector<float> column_;       // the vertical pass for one output row, columns colLo_..colHi_
  std::vector<float> scaled_;       // the horizontal pass, before rounding to bytes
  int nextRow_ = 0;                 // the next output row to make
  PixelImage out_;
};

// Output pixel (x, y) takes source pixel (sx, sy): without transpose sx = x, sy = y; with it
// sx = y, sy = x; then flipX mirrors sx and flipY mirrors sy within the source.
void OrientImage(const PixelImage& src, bool transpose, bool flipX, bool flipY, PixelImage* out);

}  // namespace media
