// SPDX-License-Identifier: GPL-2.0-or-later
// An EXIF APP1 segment of a photograph's capture facts, for a picture made without one of its own
// (a raw's preview), and that picture with the segment put in right after its start of image.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace media {

struct ExifRational {
  std::uint32_t numerator = 0;
  std::uint32_t denominator = 1;
};
// The nearest rational a TIFF holds: 1/n for exposure-like fractions, else in ten-thousandths;
// nothing for a value that is negative, not finite or too large.
std::optional<ExifRational> ExifRationalOf(double value);

struct ExifFacts {
  // Texts as the camera wrote them (empty: not written); ASCII fields, cut at 255 bytes.
  std::string make, model, software, artist, dateTimeOriginal, offsetTimeOriginal;
  int orientation = 0;  // 1 to 8; anything else writes none
  std::optional<ExifRational> exposureTime, fNumber, focalLength;
  std::optional<std::uint16_t> iso;
  struct Position {
    ExifRational latitude[3], longitude[3];  // degrees, minutes, seconds
    char latitudeRef = 'N', longitudeRef = 'E';
    std::optional<ExifRational> altitude;
    bool belowSeaLevel = false;
  };
  std::optional<Position> position;
};

// The whole segment: marker, length, "Exif\0\0" and a big-endian TIFF holding IFD0, the EXIF
// IFD and, with a position, the GPS IFD. Always within one segment's length.
std::string ExifSegment(const ExifFacts& facts);

// The JPEG with segment right after its start of image. With replaceLeading, an EXIF segment that
// directly follows the start of image is dropped first. Nothing for bytes that are no JPEG, or
// whose leading segment runs past their end.
std::optional<std::vector<std::uint8_t>> JpegWithExif(const std::uint8_t* jpeg, std::size_t size, const std::string& segment,
                                        bool replaceLeading);
// The same within jpeg's own block (grown in place where its capacity allows); false, and jpeg as
// it was, where JpegWithExif gives nothing.
bool JpegPutExif(std::vector<std::uint8_t>* jpeg, const std::string& segment, bool replaceLeading);

}  // namespace media
