// SPDX-License-Identifier: GPL-2.0-or-later
// Numbers as this program prints them: the shortest decimal that reads back exactly, and for
// the record's floats, the value the camera wrote rather than the float's rounding of it.
#pragma once
#include <string>

namespace cli {

// The shortest decimal form that reads back as v (std::to_chars); "" for NaN and infinities.
std::string shortestDecimal(double v);

// The camera stores rationals, the record keeps floats: 1/3 arrives as 0.33333334f. When the
// float's shortest form needs all of a float's digits and a fraction with a small denominator
// rounds to the same float (which a value with that many digits does only by design), the
// value is that fraction; otherwise it is the float's own shortest decimal. Either way the
// result rounds back to v.
double cameraValue(float v);

}  // namespace cli
