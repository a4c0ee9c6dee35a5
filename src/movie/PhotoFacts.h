// SPDX-License-Identifier: GPL-2.0-or-later
// What a photograph tells its movie beyond the picture and the sound: how the stored picture
// must be turned to stand upright and, when the user asks for them, when, where and with what
// it was taken.
#pragma once
#include <optional>
#include <string>

#include "toolbox/Core/MacTypes.h"

// A place in decimal degrees (north and east positive), with metres above sea level if known.
struct GeoPosition {
  double latitude = 0;
  double longitude = 0;
  std::optional<double> altitude;
};

struct PhotoFacts {
  UInt16 orientation = 1;  // EXIF orientation, 1 to 8; any other value counts as 1 (upright)
  // Capture facts; each is written into the movie only when present.
  std::optional<UInt64> creationTime;  // seconds since 1904-01-01 00:00 UTC
  std::string localTime;               // the same instant as the camera's clock showed it, with
                                       // its offset: "2004-01-31T12:00:05+09:00"; empty if none
  std::string make;                    // the camera's maker and model, UTF-8
  std::string model;
  std::optional<GeoPosition> position;
  // What the movie is made from, as the record it carries for later runs (none when empty).
  std::string madeFrom;
};
