// SPDX-License-Identifier: GPL-2.0-or-later
// Test pictures for the image tests: JPEGs encoded here with chosen structure (progressive,
// restart markers, grey, CMYK, an EXIF thumbnail), full decoding, and picture comparison.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "support/Fixtures.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Files.h"

namespace imagetest {

struct Picture {
  int width = 0, height = 0, channels = 0;
  std::vector<std::uint8_t> px;
  const std::uint8_t* at(int x, int y) const { return px.data() + (std::size_t(y) * width + x) * channels; }
};

// A photograph-like picture: smooth gradients, a ring pattern and fine detail, so that poor
// filtering shows up as a difference.
inline Picture scene(int width, int height, int channels) {
  Picture p{width, height, channels, std::vector<std::uint8_t>(std::size_t(width) * height * channels)};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double u = double(x) / width, v = double(y) / height;
      double r = std::hypot(u - 0.4, v - 0.6);
      double ring = 0.5 + 0.5 * std::sin(r * 40.0);
      // Texture a few pixels across: it aliases visibly under point sampling.
      double fine = 0.5 + 0.5 * std::sin(x * 0.9) * std::sin(y * 1.3);
      std::uint8_t* d = p.px.data() + (std::size_t(y) * width + x) * channels;
      if (channels == 1) {
        d[0] = std::uint8_t(20 + 100 * u + 60 * ring * v + 70 * fine);
      } else {
        d[0] = std::uint8_t(155 * u + 100 * fine);
        d[1] = std::uint8_t(150 * v + 55 * ring + 50 * fine);
        d[2] = std::uint8_t(255 * (1 - u) * ring);
      }
    }
  }
  return p;
}

// Four flat quadrants (red, green, blue, white from top left, clockwise), to follow turns.
inline Picture quadrants(int width, int height) {
  static const std::uint8_t kColours[4][3] = {{220, 20, 20}, {20, 220, 20}, {240, 240, 240}, {20, 20, 220}};
  Picture p{width, height, 3, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      int q = (y < height / 2) ? (x < width / 2 ? 0 : 1) : (x < width / 2 ? 3 : 2);
      for (int c = 0; c < 3; ++c) p.px[(std::size_t(y) * width + x) * 3 + c] = kColours[q][c];
    }
  return p;
}

struct EncodeOptions {
  int quality = 90;
  bool progressive = false;
  int restartRows = 0;   // restart interval in MCU rows
  bool cmyk = false;     // encode the RGB picture as Adobe-style inverted CMYK
};

inline std::string encode(const Picture& pic, const EncodeOptions& opt = {}) {
  fixtures::JpegEncoding how;
  how.quality = opt.quality;
  how.progressive = opt.progressive;
  how.restartRows = opt.restartRows;
  return fixtures::encodeJpeg(pic.width, pic.height, opt.cmyk ? 4 : pic.channels, how, [&](int y, std::uint8_t* row) {
    const std::uint8_t* src = pic.at(0, y);
    if (!opt.cmyk) {
      std::memcpy(row, src, std::size_t(pic.width) * pic.channels);
      return;
    }
    // Inverted CMYK with no black: the stored value is the light left in each channel.
    for (int x = 0; x < pic.width; ++x) {
      row[4 * x] = src[3 * x];
      row[4 * x + 1] = src[3 * x + 1];
      row[4 * x + 2] = src[3 * x + 2];
      row[4 * x + 3] = 255;
    }
  });
}

inline std::string be16(unsigned v) { return std::string{char(v >> 8), char(v & 0xFF)}; }

using fixtures::withSegment;  // a marker segment right after the SOI

// An EXIF APP1 whose thumbnail (a complete JPEG with its own EOI) sits inside the segment.
inline std::string withExifThumbnail(const std::string& jpeg) {
  std::string thumb = encode(scene(32, 24, 3), {70});
  std::string tiff = std::string("MM\0*\0\0\0\x08", 8) + std::string("\0\0", 2) + std::string(4, '\0');
  return withSegment(jpeg, 0xE1, std::string("Exif\0\0", 6) + tiff + thumb);
}

// A stream with only the structure: SOI, a frame header of the given size, a tiny scan, EOI.
inline std::string headerOnlyJpeg(unsigned width, unsigned height) {
  std::string s = "\xFF\xD8";
  s += std::string("\xFF\xC0", 2) + be16(11) + char(8) + be16(height) + be16(width) + char(1) + char(1) + char(0x11) +
       char(0);
  s += std::string("\xFF\xDA", 2) + be16(8) + char(1) + char(1) + char(0) + char(0) + char(63) + char(0);
  s += std::string("\x12\x34\xFF\x00\x56", 5);
  s += "\xFF\xD9";
  return s;
}

// Full-size decode with libjpeg (RGB or grey), for checking what was written.
inline bool decode(const std::string& bytes, Picture* out, int* jpegComponents = nullptr) {
  struct Err {
    jpeg_error_mgr pub;
    bool failed = false;
  } err;
  jpeg_decompress_struct cinfo{};
  cinfo.err = jpeg_std_error(&err.pub);
  // Test pictures are well formed; a failure here aborts the test binary, which is loud enough.
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  if (bytes.size() < 4 || jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  if (jpegComponents) *jpegComponents = cinfo.num_components;
  cinfo.out_color_space = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  out->width = int(cinfo.output_width);
  out->height = int(cinfo.output_height);
  out->channels = cinfo.output_components;
  out->px.assign(std::size_t(out->width) * out->height * out->channels, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW r = out->px.data() + std::size_t(cinfo.output_scanline) * out->width * out->channels;
    jpeg_read_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

inline double meanAbsDiff(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.channels != b.channels) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.px.size(); ++i) sum += std::abs(int(a.px[i]) - int(b.px[i]));
  return sum / double(a.px.size());
}

// Averages whole factor-by-factor blocks: the exact area reduction for integer ratios.
inline Picture boxReduce(const Picture& p, int factor) {
  Picture r{p.width / factor, p.height / factor, p.channels, {}};
  r.px.resize(std::size_t(r.width) * r.height * r.channels);
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < r.width; ++x)
      for (int c = 0; c < p.channels; ++c) {
        int sum = 0;
        for (int j = 0; j < factor; ++j)
          for (int i = 0; i < factor; ++i) sum += p.at(x * factor + i, y * factor + j)[c];
        r.px[(std::size_t(y) * r.width + x) * r.channels + c] = std::uint8_t((sum + factor * factor / 2) / (factor * factor));
      }
  return r;
}

inline FSSpec specFor(const std::string& path) {
  FSSpec spec{};
  EXPECT_EQ(FSpFromPath(path, &spec), noErr) << path;
  return spec;
}

inline std::string pathOf(const FSSpec& spec) {
  std::string path;
  EXPECT_EQ(FSpGetPath(&spec, &path), noErr);
  return path;
}

// Writes the bytes into the scratch folder and returns the file's FSSpec.
inline FSSpec writeImage(const testsupport::ScratchDir& dir, const std::string& name, const std::string& bytes) {
  testsupport::writeFile(dir.file(name), bytes);
  return specFor(dir.file(name));
}

}  // namespace imagetest
