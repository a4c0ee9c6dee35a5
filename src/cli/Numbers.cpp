// SPDX-License-Identifier: GPL-2.0-or-later
// Shortest decimals and the recovery of a float's rational, by the simplest fraction that
// rounds to it (continued fractions over the float's rounding interval).
#include "cli/Numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace cli {
namespace {

// Largest denominator taken as a camera's: exposure times such as 1/60 or 1/500, thirds of
// a stop, minutes and seconds of arc.
constexpr double kMaxDenominator = 1000;
// A fraction found in the rounding interval is taken only when one with a denominator that
// small lands in an interval that wide by chance less often than this.
constexpr double kChanceLimit = 1e-3;
// Floats whose shortest form has at most this many significant digits are short decimals as
// written; a float holds about 7.2.
constexpr int kShortDigits = 6;

template <typename T>
std::string shortest(T v) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, result.ptr);
}

int significantDigits(const std::string& decimal) {
  int digits = 0;
  bool leading = true;
  for (char c : decimal) {
    if (c == 'e' || c == 'E') break;
    if (c < '0' || c > '9') continue;
    if (leading && c == '0') continue;
    leading = false;
    ++digits;
  }
  return digits;
}

// The fraction with the smallest denominator strictly between lo and hi (0 <= lo < hi), found
// by continued fractions; false when its denominator would exceed the limit.
bool simplestBetween(double lo, double hi, int depth, double* p, double* q) {
  const double whole = std::floor(lo) + 1;  // the smallest whole number above lo
  if (whole < hi) {
    *p = whole;
    *q = 1;
    return true;
  }
  if (depth == 0) return false;
  const double base = std::floor(lo);
  const double upper = lo - base > 0 ? 1 / (lo - base) : INFINITY;
  double p2 = 0, q2 = 0;
  if (!simplestBetween(1 / (hi - base), upper, depth - 1, &p2, &q2) || p2 > kMaxDenominator) return false;
  // base + 1 / (p2 / q2)
  *p = base * p2 + q2;
  *q = p2;
  return true;
}

}  // namespace

std::string shortestDecimal(double v) { return std::isfinite(v) ? shortest(v) : std::string(); }

double cameraValue(float v) {
  const std::string own = shortest(v);
  const double asWritten = std::strtod(own.c_str(), nullptr);
  if (!std::isfinite(v) || v == 0 || significantDigits(own) <= kShortDigits) return asWritten;
  const float magnitude = std::fabs(v);
  // Every real number between the midpoints to the neighbouring floats rounds to v.
  const double lo = (double(magnitude) + double(std::nextafter(magnitude, 0.0f))) / 2;
  const double hi = (double(magnitude) + double(std::nextafter(magnitude, INFINITY))) / 2;
  double p = 0, q = 0;
  if (!std::isfinite(hi) || !simplestBetween(lo, hi, 64, &p, &q) || q > kMaxDenominator) return asWritten;
  if (q * q * (hi - lo) / 2 >= kChanceLimit) return asWritten;
  const double fraction = p / q;
  if (float(fraction) != magnitude) return asWritten;
  return v < 0 ? -fraction : fraction;
}

}  // namespace cli
