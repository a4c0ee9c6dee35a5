// SPDX-License-Identifier: GPL-2.0-or-later
// What the movie takes from the photograph's EXIF record: the orientation that stands its
// picture upright and, when the user asks for capture metadata, the time it was taken, the
// camera's make and model and the position it records.
#include <glib.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"

namespace {

// Seconds from 1904-01-01 (QuickTime's epoch) to 1970-01-01.
constexpr gint64 kMacEpochToUnix = 2082844800;
// The longest camera name kept: the record's strings are as long as the photograph says.
constexpr size_t kMaxNameBytes = 255;
// Capture times outside these years are a clock never set or a damaged record, not a date.
constexpr int kEarliestYear = 1900;
constexpr int kLatestYear = 2100;

// The zone the photograph was taken in: its OffsetTimeOriginal ("+09:00", EXIF 2.31) when it
// has a sound one, else this machine's zone with the rules it had on that date, as photo
// managers read it.
GTimeZone* captureZone(const ExImageInfo& record) {
  if (record.getOffsetTimeOriginalPresent()) {
    const char* t = record.getOffsetTimeOriginal();
    int h = 0, m = 0, used = 0;
    if ((t[0] == '+' || t[0] == '-') && std::sscanf(t + 1, "%2d:%2d%n", &h, &m, &used) == 2 && used == 5 &&
        t[6] == '\0' && h <= 14 && m < 60) {
      const gint32 seconds = (h * 3600 + m * 60) * (t[0] == '-' ? -1 : 1);
      return g_time_zone_new_offset(seconds);
    }
  }
  return g_time_zone_new_local();
}

// DateTimeOriginal, "YYYY:MM:DD HH:MM:SS", in the zone it was taken in: the UTC instant, and the
// local time with its offset. Blank or zeroed fields (a camera whose clock was never set) give
// nothing.
void captureTime(const ExImageInfo& record, PhotoFacts* facts) {
  if (!record.getDateTimeOriginalPresent()) return;
  const char* text = record.getDateTimeOriginal();
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  if (std::sscanf(text, "%4d:%2d:%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) != 6 || used != 19 ||
      y < kEarliestYear || y > kLatestYear)
    return;
  GTimeZone* zone = captureZone(record);
  GDateTime* local = g_date_time_new(zone, y, mo, d, h, mi, s);
  g_time_zone_unref(zone);
  if (local == nullptr) return;
  const gint64 seconds = g_date_time_to_unix(local) + kMacEpochToUnix;
  gchar* iso = g_date_time_format(local, "%Y-%m-%dT%H:%M:%S%:z");
  g_date_time_unref(local);
  // The local time is written for any date; the movie's header counts from 1904 only.
  if (iso != nullptr) {
    facts->localTime = iso;
    if (seconds >= 0) facts->creationTime = UInt64(seconds);
  }
  g_free(iso);
}

// The camera's text as UTF-8 without the padding and controls some cameras leave; bytes that
// are not UTF-8 become replacement characters.
std::string cameraText(const char* text) {
  if (text == nullptr) return {};
  gchar* valid = g_utf8_make_valid(text, -1);
  std::string out;
  for (const char* p = valid; *p != '\0'; ++p)
    if (static_cast<unsigned char>(*p) >= 0x20 && *p != 0x7F) out.push_back(*p);
  g_free(valid);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  while (!out.empty() && out.front() == ' ') out.erase(out.begin());
  if (out.size() > kMaxNameBytes) {
    size_t cut = kMaxNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
    out.resize(cut);
  }
  return out;
}

// Degrees, minutes and seconds as decimal degrees, or nothing for values no position has.
std::optional<double> degrees(const float* dms, const char* ref, bool present, bool refPresent, double limit) {
  if (!present) return std::nullopt;
  for (int k = 0; k < 3; ++k)
    if (!std::isfinite(dms[k]) || dms[k] < 0) return std::nullopt;
  double v = double(dms[0]) + double(dms[1]) / 60 + double(dms[2]) / 3600;
  if (v > limit) return std::nullopt;
  if (refPresent && (ref[0] == 'S' || ref[0] == 'W')) v = -v;
  return v;
}

std::optional<GeoPosition> capturePosition(const ExImageInfo& record) {
  // 'V': the receiver had no fix; its numbers are not a place.
  if (record.getGpsStatusPresent() && record.getGpsStatus()[0] == 'V') return std::nullopt;
  std::optional<double> lat = degrees(record.getGpsLattitude(), record.getGpsLattitudeRef(),
                                      record.getGpsLattitudePresent(), record.getGpsLattitudeRefPresent(), 90);
  std::optional<double> lon = degrees(record.getGpsLongitude(), record.getGpsLongitudeRef(),
                                      record.getGpsLongitudePresent(), record.getGpsLongitudeRefPresent(), 180);
  if (!lat || !lon) return std::nullopt;
  GeoPosition position{*lat, *lon, std::nullopt};
  if (record.getGpsAltitudePresent() && std::isfinite(record.getGpsAltitude())) {
    const bool below = record.getGpsAltitudeRefPresent() && record.getGpsAltitudeRef() == 1;
    position.altitude = below ? -double(record.getGpsAltitude()) : double(record.getGpsAltitude());
  }
  return position;
}

}  // namespace

PhotoFacts Convert2Mov::photoFactsOf(const ExImageInfo& record) const {
  PhotoFacts facts;
  if (record.getOrientationPresent()) facts.orientation = record.getOrientation();
  if (!mCaptureMetadata) return facts;
  captureTime(record, &facts);
  facts.make = cameraText(record.getMake());
  facts.model = cameraText(record.getModel());
  facts.position = capturePosition(record);
  return facts;
}
