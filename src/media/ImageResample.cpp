// SPDX-License-Identifier: GPL-2.0-or-later
// Separable resampling with precomputed per-pixel weights: a box filter with fractional
// coverage when reducing (so no source pixel is skipped), a tent filter when enlarging.
#include "media/ImageResample.h"

#include <algorithm>
#include <cmath>

#include "media/Status.h"

namespace media {

namespace {
using Taps = RegionResampler::Taps;

// For each of n output positions along an axis of length size, the source weights for the
// span [lo, hi).
Taps axisTaps(int size, double lo, double hi, int n) {
  auto perPosition = std::vector<std::vector<float>>(std::size_t(n));
  Taps taps;
  taps.first.resize(std::size_t(n));
  taps.count.resize(std::size_t(n));
  double step = (hi - lo) / n;
  for (int i = 0; i < n; ++i) {
    std::vector<float>& w = perPosition[std::size_t(i)];
    int first;
    if (step >= 1.0) {
      double a = lo + i * step, b = a + step;
      int k0 = std::max(0, int(std::floor(a)));
      int k1 = std::min(size - 1, int(std::ceil(b)) - 1);
      first = k0;
      for (int k = k0; k <= k1; ++k) w.push_back(float(std::min<double>(b, k + 1) - std::max<double>(a, k)));
    } else {
      double c = lo + (i + 0.5) * step - 0.5;
      c = std::clamp(c, 0.0, double(size - 1));
      int k = int(std::floor(c));
      double f = c - k;
      first = k;
      w.push_back(float(1.0 - f));
      if (k + 1 < size) w.push_back(float(f));
    }
    float sum = 0;
    for (float v : w) sum += v;
    if (w.empty() || sum <= 0) {
      w.assign(1, 1.0f);
      first = std::clamp(first, 0, size - 1);
      sum = 1;
    }
    for (float& v : w) v /= sum;
    taps.first[std::size_t(i)] = first;
    taps.count[std::size_t(i)] = int(w.size());
    taps.span = std::max(taps.span, int(w.size()));
  }
  taps.weights.assign(std::size_t(n) * taps.span, 0.0f);
  for (int i = 0; i < n; ++i)
    std::copy(perPosition[std::size_t(i)].begin(), perPosition[std::size_t(i)].end(),
              taps.weights.begin() + std::ptrdiff_t(i) * taps.span);
  return taps;
}

// Moves each footprint left where it would end past the axis, its weights with it, so every
// position reads exactly span sources: a loop of fixed length, without a bound check per tap.
void fitSpan(Taps& taps, int size) {
  for (std::size_t i = 0; i < taps.first.size(); ++i) {
    int shift = taps.first[i] - std::min(taps.first[i], size - taps.span);
    if (shift == 0) continue;
    float* w = taps.weights.data() + i * taps.span;
    std::copy_backward(w, w + taps.span - shift, w + taps.span);
    std::fill(w, w + shift, 0.0f);
    taps.first[i] -= shift;
    taps.count[i] = taps.span;
  }
}

// The vertical pass runs first, over whole rows, in loops the compiler turns into vector code;
// the horizontal pass then touches only output rows.
//
// Each output pixel is one short vector: its channels, plus for RGB a fourth lane that spills
// into the next pixel's first channel and is written over when that pixel is made. So the
// buffers the pass reads and writes hold one float more than the pixels need. A footprint
// length known at compile time (Span, 0 when not) lets the loops unroll into vector code.
template <int Channels, int Span>
void horizontalPass(const float* __restrict column, const Taps& taps, int colLo, int width,
                    float* __restrict out) {
  constexpr int kLanes = Channels == 3 ? 4 : Channels;
  const int span = Span != 0 ? Span : taps.span;
  for (int x = 0; x < width; ++x) {
    const float* w = taps.weights.data() + std::size_t(x) * span;
    const float* s = column + std::size_t(taps.first[std::size_t(x)] - colLo) * Channels;
    float sum[kLanes] = {};
    for (int k = 0; k < span; ++k)
      for (int c = 0; c < kLanes; ++c) sum[c] += w[k] * s[k * Channels + c];
    for (int c = 0; c < kLanes; ++c) out[std::size_t(x) * Channels + c] = sum[c];
  }
}

// Footprints of up to four pixels cover enlargement and every reduction below 3:1, which is
// what a decoder that reduces by powers of two leaves to do.
template <int Channels>
void horizontal(const float* column, const Taps& taps, int colLo, int width, float* out) {
  switch (taps.span) {
    case 1: return horizontalPass<Channels, 1>(column, taps, colLo, width, out);
    case 2: return horizontalPass<Channels, 2>(column, taps, colLo, width, out);
    case 3: return horizontalPass<Channels, 3>(column, taps, colLo, width, out);
    case 4: return horizontalPass<Channels, 4>(column, taps, colLo, width, out);
    default: return horizontalPass<Channels, 0>(column, taps, colLo, width, out);
  }
}

// Rounded to the nearest byte; clamped as integers, which vectorises better than as floats.
void toBytes(const float* __restrict v, std::uint8_t* __restrict out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    int k = int(v[i] + 0.5f);
    out[i] = std::uint8_t(k < 0 ? 0 : k > 255 ? 255 : k);
  }
}

void setRow(float* __restrict acc, const std::uint8_t* __restrict s, float w, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) acc[i] = w * float(s[i]);
}

void addRow(float* __restrict acc, const std::uint8_t* __restrict s, float w, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) acc[i] += w * float(s[i]);
}
}  // namespace

RegionResampler::RegionResampler(double x0, double y0, double x1, double y1, double referenceWidth,
                                 double referenceHeight, int outWidth, int outHeight)
    : x0_(x0), y0_(y0), x1_(x1), y1_(y1), refWidth_(referenceWidth), refHeight_(referenceHeight) {
  out_.width = outWidth;
  out_.height = outHeight;
}

Status RegionResampler::begin(int width, int height, int channels) {
  const int outW = out_.width, outH = out_.height;
  if (width <= 0 || height <= 0 || (channels != 1 && channels != 3) || outW <= 0 || outH <= 0)
    return Status::badArgument;
  if (!(refWidth_ > 0 && refHeight_ > 0)) return Status::badArgument;
  if (!(x1_ > x0_ && y1_ > y0_) || x0_ < 0 || y0_ < 0 || x1_ > refWidth_ + 1e-6 || y1_ > refHeight_ + 1e-6)
    return Status::badArgument;
  const double sx = width / refWidth_, sy = height / refHeight_;
  const double lx = x0_ * sx, hx = std::min(x1_ * sx, double(width));
  const double ly = y0_ * sy, hy = std::min(y1_ * sy, double(height));
  if (!(hx > lx && hy > ly)) return Status::badArgument;

  channels_ = channels;
  srcWidth_ = width;
  srcHeight_ = height;
  across_ = axisTaps(width, lx, hx, outW);
  fitSpan(across_, width);
  down_ = axisTaps(height, ly, hy, outH);
  colLo_ = width, colHi_ = -1;
  for (int x = 0; x < outW; ++x) {
    colLo_ = std::min(colLo_, across_.first[std::size_t(x)]);
    colHi_ = std::max(colHi_, across_.first[std::size_t(x)] + across_.span - 1);
  }
  ringRows_ = down_.span;
  ring_.assign(std::size_t(ringRows_) * width * channels, 0);
  column_.assign(std::size_t(colHi_ - colLo_ + 1) * channels + 1, 0.0f);
  scaled_.assign(std::size_t(outW) * channels + 1, 0.0f);
  nextRow_ = 0;
  out_.channels = channels;
  out_.pixels.assign(std::size_t(outW) * outH * channels, 0);
  return Status::ok;
}

std::uint8_t* RegionResampler::rowBuffer(int y) {
  return ring_.data() + std::size_t(std::clamp(y, 0, srcHeight_ - 1) % ringRows_) * srcWidth_ * channels_;
}

void RegionResampler::rowFilled(int y) {
  // Output rows are made as soon as their last source row is in; rows come in order, so a slot
  // is only written over once no unmade output row needs what it held.
  while (nextRow_ < out_.height &&
         down_.first[std::size_t(nextRow_)] + down_.count[std::size_t(nextRow_)] - 1 <= y)
    makeRow(nextRow_++);
}

void RegionResampler::makeRow(int y) {
  const std::size_t stride = std::size_t(srcWidth_) * channels_;
  const std::size_t offset = std::size_t(colLo_) * channels_;
  const std::size_t n = std::size_t(colHi_ - colLo_ + 1) * channels_;
  const int first = down_.first[std::size_t(y)];
  const float* w = down_.weights.data() + std::size_t(y) * down_.span;
  auto source = [&](int k) { return ring_.data() + std::size_t((first + k) % ringRows_) * stride + offset; };
  setRow(column_.data(), source(0), w[0], n);
  for (int k = 1; k < down_.count[std::size_t(y)]; ++k) addRow(column_.data(), source(k), w[k], n);
  if (channels_ == 1) horizontal<1>(column_.data(), across_, colLo_, out_.width, scaled_.data());
  else horizontal<3>(column_.data(), across_, colLo_, out_.width, scaled_.data());
  toBytes(scaled_.data(), out_.row(y), std::size_t(out_.width) * channels_);
}

Status RegionResampler::finish(PixelImage* out) {
  if (out == nullptr) return Status::badArgument;
  if (channels_ == 0 || nextRow_ < out_.height) return Status::damaged;
  *out = std::move(out_);
  out_ = PixelImage{};
  return Status::ok;
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

}  // namespace media
