// SPDX-License-Identifier: GPL-2.0-or-later
// What the photograph adds to its movie beside picture and sound: the video track's matrix that
// stands the picture upright, and on request the capture time (UTC in the header, local with
// its offset as a user-data item) and the camera's user-data items.
#include <charconv>
#include <cmath>
#include <cstring>

#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"

namespace {

// Where a picture stored with an EXIF orientation goes so that it stands upright: the matrix's
// a, b, c, d (x' = a x + c y + tx, y' = b x + d y + ty, y downwards), and the translation in
// multiples of the track's width w and height h (tx = txW w + txH h, ty = tyW w + tyH h).
struct Placement {
  SInt8 a, b, c, d;
  SInt8 txW, txH, tyW, tyH;
};
constexpr Placement kPlacements[9] = {
    {1, 0, 0, 1, 0, 0, 0, 0},    // (not an orientation: upright)
    {1, 0, 0, 1, 0, 0, 0, 0},    // 1 upright
    {-1, 0, 0, 1, 1, 0, 0, 0},   // 2 mirrored left to right
    {-1, 0, 0, -1, 1, 0, 0, 1},  // 3 upside down
    {1, 0, 0, -1, 0, 0, 0, 1},   // 4 mirrored top to bottom
    {0, 1, 1, 0, 0, 0, 0, 0},    // 5 mirrored across the falling diagonal
    {0, 1, -1, 0, 0, 1, 0, 0},   // 6 turned a quarter clockwise
    {0, -1, -1, 0, 0, 1, 1, 0},  // 7 mirrored across the rising diagonal
    {0, -1, 1, 0, 0, 0, 1, 0},   // 8 turned a quarter anticlockwise
};

// QuickTime's user-data items for the camera and the place, written as text.
constexpr OSType kMakeType = FOUR_CHAR_CODE("\xA9mak");
constexpr OSType kModelType = FOUR_CHAR_CODE("\xA9mod");
constexpr OSType kLocationType = FOUR_CHAR_CODE("\xA9xyz");
// The capture time as the camera's clock showed it, ISO 8601 with its offset: the item
// QuickTime, ffprobe ("date"), GStreamer, mediainfo and exiftool read as the recording date,
// while the movie header's creation time holds the UTC instant.
constexpr OSType kDateType = FOUR_CHAR_CODE("\xA9" "day");
// ISO 639-2 "und", packed: a code of 0x400 or more tells readers that the text is UTF-8 (below
// it, a Mac language whose text is Mac Roman).
constexpr short kUndeterminedLanguage = 0x55C4;

Track videoTrackOf(Movie movie) {
  for (long k = 1; k <= GetMovieTrackCount(movie); ++k) {
    Track track = GetMovieIndTrack(movie, k);
    Media media = track ? GetTrackMedia(track) : nullptr;
    if (media && GetMediaType(media) == VideoMediaType) return track;
  }
  return nullptr;
}

OSErr addText(Movie movie, OSType type, const std::string& text) {
  if (text.empty()) return noErr;
  Handle h = nullptr;
  OSErr err = PtrToHand(text.data(), &h, long(text.size()));
  if (err != noErr || h == nullptr) return err != noErr ? err : memFullErr;
  err = AddUserDataText(GetMovieUserData(movie), h, type, 1, kUndeterminedLanguage);
  DisposeHandle(h);
  return err;
}

// "+DD.DDDD": a sign, at least intDigits whole digits, decimals places; the C locale's point
// whatever the process's locale.
std::string signedFixed(double v, int intDigits, int decimals) {
  char digits[64];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, std::fabs(v), std::chars_format::fixed, decimals);
  if (ec != std::errc()) return {};
  std::string magnitude(digits, end);
  const size_t point = magnitude.find('.');
  const size_t whole = point == std::string::npos ? magnitude.size() : point;
  if (whole < size_t(intDigits)) magnitude.insert(0, size_t(intDigits) - whole, '0');
  // A value that rounds to zero has no sign of its own.
  const bool negative = v < 0 && magnitude.find_first_not_of("0.") != std::string::npos;
  return (negative ? "-" : "+") + magnitude;
}

}  // namespace

OSErr QuickTimeU::OrientVideoTrack(Movie movie, UInt16 orientation) {
  Track track = videoTrackOf(movie);
  if (track == nullptr) return noVideoTrackInMovieErr;
  const Placement& p = kPlacements[orientation <= 8 ? orientation : 0];
  Fixed w = 0, h = 0;
  GetTrackDimensions(track, &w, &h);
  MatrixRecord m;
  SetIdentityMatrix(&m);
  m.matrix[0][0] = p.a * fixed1;
  m.matrix[0][1] = p.b * fixed1;
  m.matrix[1][0] = p.c * fixed1;
  m.matrix[1][1] = p.d * fixed1;
  m.matrix[2][0] = p.txW * w + p.txH * h;
  m.matrix[2][1] = p.tyW * w + p.tyH * h;
  SetTrackMatrix(track, &m);
  return GetMoviesError();
}

std::string QuickTimeU::ISO6709Text(const GeoPosition& position) {
  // Six places: a tenth of a metre, finer than any camera's receiver.
  std::string text = signedFixed(position.latitude, 2, 6) + signedFixed(position.longitude, 3, 6);
  if (position.altitude) text += signedFixed(*position.altitude, 3, 3);
  return text + "/";
}

OSErr QuickTimeU::AddPhotoFacts(Movie movie, const PhotoFacts& facts) {
  OSErr err = OrientVideoTrack(movie, facts.orientation);
  if (err == noErr && facts.creationTime) {
    SetMovieCreationTime(movie, *facts.creationTime);
    err = GetMoviesError();
  }
  if (err == noErr) err = addText(movie, kDateType, facts.localTime);
  if (err == noErr) err = addText(movie, kMakeType, facts.make);
  if (err == noErr) err = addText(movie, kModelType, facts.model);
  if (err == noErr && facts.position) err = addText(movie, kLocationType, ISO6709Text(*facts.position));
  return err;
}
