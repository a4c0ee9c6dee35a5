// Separable resampling with precomputed per-pixel weights: a box filter with fractional
// coverage when reducing (so no source pixel is skipped), a tent filter when enlarging.
#include "toolbox/Movies/ImageResample.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "toolbox/Core/MacErrors.h"

namespace {
struct Taps {
  int first = 0;
  std::vector<float> weights;
};

// For each of n output positions along an axis of length size, the source weights for the
// span [lo, hi).
std::vector<Taps> axisTaps(int size, double lo, double hi, int n) {
  std::vector<Taps> taps(n);
  double step = (hi - lo) / n;
  for (int i = 0; i < n; ++i) {
    Taps& t = taps[i];
    if (step >= 1.0) {
      double a = lo + i * step, b = a + step;
      int k0 = std::max(0, int(std::floor(a)));
      int k1 = std::min(size - 1, int(std::ceil(b)) - 1);
      t.first = k0;
      for (int k = k0; k <= k1; ++k) t.weights.push_back(float(std::min<double>(b, k + 1) - std::max<double>(a, k)));
    } else {
      double c = lo + (i + 0.5) * step - 0.5;
      c = std::clamp(c, 0.0, double(size - 1));
      int k = int(std::floor(c));
      double f = c - k;
      t.first = k;
      t.weights.push_back(float(1.0 - f));
      if (k + 1 < size) t.weights.push_back(float(f));
    }
    float sum = 0;
    for (float w : t.weights) sum += w;
    if (t.weights.empty() || sum <= 0) {
      t.weights.assign(1, 1.0f);
      t.first = std::clamp(t.first, 0, size - 1);
      sum = 1;
    }
    for (float& w : t.weights) w /= sum;
  }
  return taps;
}
}  // namespace

OSErr ResampleRegion(const PixelImage& src, double x0, double y0, double x1, double y1, int outWidth, int outHeight,
                     PixelImage* out) {
  if (out == nullptr) return paramErr;
  if (src.width <= 0 || src.height <= 0 || src.channels <= 0 || outWidth <= 0 || outHeight <= 0) return paramErr;
  if (!(x1 > x0 && y1 > y0) || x0 < 0 || y0 < 0 || x1 > src.width + 1e-6 || y1 > src.height + 1e-6) return paramErr;
  const int ch = src.channels;
  std::vector<Taps> across = axisTaps(src.width, x0, std::min<double>(x1, src.width), outWidth);
  std::vector<Taps> down = axisTaps(src.height, y0, std::min<double>(y1, src.height), outHeight);
  int rowLo = src.height, rowHi = -1;
  for (const Taps& t : down) {
    rowLo = std::min(rowLo, t.first);
    rowHi = std::max(rowHi, t.first + int(t.weights.size()) - 1);
  }
  // Horizontal pass over the rows the vertical pass will read.
  const std::size_t stride = std::size_t(outWidth) * ch;
  std::vector<float> mid(std::size_t(rowHi - rowLo + 1) * stride);
  for (int y = rowLo; y <= rowHi; ++y) {
    const std::uint8_t* s = src.row(y);
    float* m = mid.data() + std::size_t(y - rowLo) * stride;
    for (int x = 0; x < outWidth; ++x) {
      const Taps& t = across[x];
      for (int c = 0; c < ch; ++c) {
        float acc = 0;
        for (std::size_t k = 0; k < t.weights.size(); ++k) acc += t.weights[k] * s[std::size_t(t.first + k) * ch + c];
        m[std::size_t(x) * ch + c] = acc;
      }
    }
  }
  PixelImage result;
  result.width = outWidth;
  result.height = outHeight;
  result.channels = ch;
  result.pixels.resize(std::size_t(outWidth) * outHeight * ch);
  std::vector<float> acc(stride);
  for (int y = 0; y < outHeight; ++y) {
    const Taps& t = down[y];
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (std::size_t k = 0; k < t.weights.size(); ++k) {
      const float* m = mid.data() + std::size_t(t.first + int(k) - rowLo) * stride;
      float w = t.weights[k];
      for (std::size_t i = 0; i < stride; ++i) acc[i] += w * m[i];
    }
    std::uint8_t* d = result.row(y);
    for (std::size_t i = 0; i < stride; ++i) d[i] = std::uint8_t(std::clamp(std::lround(acc[i]), 0L, 255L));
  }
  *out = std::move(result);
  return noErr;
}

void OrientImage(const PixelImage& src, bool transpose, bool flipX, bool flipY, PixelImage* out) {
  PixelImage result;
  result.width = transpose ? src.height : src.width;
  result.height = transpose ? src.width : src.height;
  result.channels = src.channels;
  result.pixels.resize(src.pixels.size());
  const int ch = src.channels;
  for (int y = 0; y < result.height; ++y) {
    std::uint8_t* d = result.row(y);
    for (int x = 0; x < result.width; ++x) {
      int sx = transpose ? y : x, sy = transpose ? x : y;
      if (flipX) sx = src.width - 1 - sx;
      if (flipY) sy = src.height - 1 - sy;
      const std::uint8_t* s = src.row(sy) + std::size_t(sx) * ch;
      for (int c = 0; c < ch; ++c) d[std::size_t(x) * ch + c] = s[c];
    }
  }
  *out = std::move(result);
}
