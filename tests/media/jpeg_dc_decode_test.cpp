// SPDX-License-Identifier: GPL-2.0-or-later
// A progressive picture at 1/8 from its DC scans alone gives, pixel for pixel, what libjpeg
// gives at that scale, for every sampling, odd sizes, refinement scans and restarts (libjpeg's
// halved chroma also takes its blocks' first AC terms, which smooth colour, as here, lacks); a
// stream cut or corrupted in a DC scan is damaged, and the coefficients are capped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <jpeglib.h>

#include "media/JpegCodec.h"
#include "media/JpegDcDecode.h"
#include "support/Fixtures.h"

namespace {

struct Collected final : media::PixelRowSink {
  int width = 0, height = 0, channels = 0;
  std::vector<std::uint8_t> pixels;
  media::Status begin(int w, int h, int c) override {
    width = w, height = h, channels = c;
    pixels.assign(std::size_t(w) * std::size_t(h) * std::size_t(c), 0);
    return media::Status::ok;
  }
  std::uint8_t* rowBuffer(int y) override { return pixels.data() + std::size_t(y) * std::size_t(width * channels); }
  void rowFilled(int) override {}
};

// libjpeg itself at 1/8, as the decoder did before.
Collected libjpegEighth(const std::string& jpeg) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = cinfo.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
  cinfo.scale_num = 1;
  cinfo.scale_denom = 8;
  jpeg_start_decompress(&cinfo);
  Collected out;
  out.begin(int(cinfo.output_width), int(cinfo.output_height), cinfo.output_components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.rowBuffer(int(cinfo.output_scanline));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

// Smooth gradients, or with detail, fine texture besides.
std::string picture(int width, int height, int components, fixtures::JpegEncoding how, bool detail = false) {
  how.progressive = true;
  return fixtures::encodeJpeg(width, height, components, how, [&](int y, std::uint8_t* row) {
    for (int x = 0; x < width * components; ++x)
      row[x] = std::uint8_t(20 + (x / components) * 100 / width + (x % components) * 30 + y * 50 / height +
                            (detail ? (x * y) % 61 : 0));
  });
}

TEST(JpegDcDecode, GivesWhatLibjpegGivesAtAnEighth) {
  struct Case {
    const char* what;
    std::string jpeg;
  } cases[] = {
      {"colour 4:2:0, odd size", picture(197, 61, 3, {})},
      {"colour 4:4:4, with detail", picture(64, 48, 3, {.fullChroma = true}, true)},
      {"grey, odd size, with detail", picture(33, 17, 1, {}, true)},
      {"colour with a restart every MCU row", picture(120, 90, 3, {.restartRows = 1})},
      {"low quality (large quantizers)", picture(80, 80, 3, {.quality = 5})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.jpeg.data());
    Collected ours;
    ASSERT_EQ(media::JpegDecodeScaled(bytes, c.jpeg.size(), 1, 1, &ours), media::Status::ok);
    const Collected theirs = libjpegEighth(c.jpeg);
    EXPECT_EQ(ours.width, theirs.width);
    EXPECT_EQ(ours.height, theirs.height);
    EXPECT_EQ(ours.channels, theirs.channels);
    EXPECT_TRUE(ours.pixels == theirs.pixels);
  }
}

TEST(JpegDcDecode, DamagedDcScansAndTheCapAreSaid) {
  const std::string jpeg = picture(197, 61, 3, {});
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(jpeg.data());
  Collected sink;
  // The first scan (DC) cut short: its data ends at the end of the file.
  const std::size_t firstScan = jpeg.find("\xFF\xDA"), secondScan = jpeg.find("\xFF\xDA", firstScan + 2);
  EXPECT_EQ(media::JpegDecodeDcOnly(bytes, firstScan + 30, true, 1 << 20, &sink), media::Status::damaged);
  // A scan header naming a component the frame has not.
  std::string stranger = jpeg;
  stranger[firstScan + 5] = '\x09';
  EXPECT_EQ(media::JpegDecodeDcOnly(reinterpret_cast<const std::uint8_t*>(stranger.data()), stranger.size(), true,
                                    1 << 20, &sink),
            media::Status::damaged);
  // A scan naming a DC table past the four there are.
  std::string badTable = jpeg;
  badTable[firstScan + 6] = '\xF0';
  EXPECT_EQ(media::JpegDecodeDcOnly(reinterpret_cast<const std::uint8_t*>(badTable.data()), badTable.size(), true,
                                    1 << 20, &sink),
            media::Status::damaged);
  // Only the DC scans are read: a damaged AC scan changes nothing at this scale.
  std::string acDamaged = jpeg;
  for (std::size_t at = secondScan + 20; at < secondScan + 40; ++at) acDamaged[at] = '\x5A';
  EXPECT_EQ(media::JpegDecodeDcOnly(reinterpret_cast<const std::uint8_t*>(acDamaged.data()), acDamaged.size(), true,
                                    1 << 20, &sink),
            media::Status::ok);
  // 26 × 8 luma and 2 × 13 × 4 chroma blocks (whole MCUs of 16 × 16) of 2 bytes: 624 bytes.
  EXPECT_EQ(media::JpegDecodeDcOnly(bytes, jpeg.size(), true, 623, &sink), media::Status::noMemory);
  EXPECT_EQ(media::JpegDecodeDcOnly(bytes, jpeg.size(), true, 624, &sink), media::Status::ok);
}

}  // namespace
