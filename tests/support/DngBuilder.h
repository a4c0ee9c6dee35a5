// SPDX-License-Identifier: GPL-2.0-or-later
// DNG files for tests and fuzz seeds, and LibRaw's tool as their judge. DNGs as the Adobe DNG
// Specification 1.4 lays them out on TIFF 6.0: IFD0 a small RGB thumbnail, a SubIFD the CFA
// raw data, another SubIFD the JPEG preview.
#pragma once
#include <string>

namespace testsupport {

// Only the parts a spec names are written (NewSubFileType 1, Compression 7 and YCbCr for the
// preview; uncompressed 16-bit CFA for the raw; DNGVersion 1.4, ColorMatrix1, UniqueCameraModel).
struct DngSpec {
  bool thumbnail = true;    // IFD0's 8-bit RGB strip
  bool jpegPreview = true;  // the preview SubIFD
  int orientation = 1;      // IFD0's Orientation
  int declaredWidth = 64;   // the preview SubIFD's ImageWidth / ImageLength
  int declaredHeight = 48;
  int frameSide = 0;        // when set, the JPEG's frame header claims this square size
  bool bigEndian = false;
  int thumbnailCompression = 1;  // IFD0's Compression (0 is LibRaw's "layer" loader)
  std::string dateTimeOriginal{};  // when set, an EXIF directory holding it ("YYYY:MM:DD HH:MM:SS")
};

constexpr int kDngThumbWidth = 24, kDngThumbHeight = 16;
constexpr int kDngRawSide = 32;  // LibRaw takes no raw under 22 pixels a side

std::string dngThumbnailPixels();               // the thumbnail's rows, RGB
std::string dngPreviewJpeg(const DngSpec& spec);  // a 64 x 48 JPEG, its frame header as spec says
std::string buildDng(const DngSpec& spec, const std::string& previewJpeg);

// What LibRaw's own simple_dcraw -e extracts from the raw at path: the bytes of the
// NAME.thumb.jpg or NAME.thumb.ppm it writes beside it, with that extension; "" when none.
std::string simpleDcrawExtract(const std::string& path, std::string* extension = nullptr);

}  // namespace testsupport
