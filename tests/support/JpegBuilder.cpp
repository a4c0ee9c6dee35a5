// SPDX-License-Identifier: GPL-2.0-or-later
// Building test JPEGs with libjpeg and FlashPix audio pieces by hand.
// Everything is deterministic so that failures repeat.
#include "support/JpegBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace testsupport {

std::string le16(std::uint16_t v) { return std::string{char(v & 0xFF), char(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(std::uint16_t(v)) + le16(std::uint16_t(v >> 16)); }
std::string be16(std::uint16_t v) { return std::string{char(v >> 8), char(v & 0xFF)}; }
std::string be32(std::uint32_t v) { return be16(std::uint16_t(v >> 16)) + be16(std::uint16_t(v)); }

std::string pseudoRandomBytes(size_t n, std::uint32_t seed) {
  std::string out(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = char(x & 0xFF);
  }
  return out;
}

std::string buildJpeg(int width, int height, int components, const std::vector<JpegSegment>& segments,
                      bool progressive) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  for (const auto& s : segments)
    jpeg_write_marker(&cinfo, s.marker, reinterpret_cast<const JOCTET*>(s.payload.data()),
                      unsigned(s.payload.size()));
  std::vector<JSAMPLE> row(size_t(width) * size_t(components));
  for (int y = 0; y < height; ++y) {
    for (size_t x = 0; x < row.size(); ++x) row[x] = JSAMPLE((x * 7 + size_t(y) * 3) & 0xFF);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

std::string fpxrSegment(std::uint16_t index, std::uint32_t offset, const std::string& data, std::uint8_t type) {
  std::string s("FPXR", 4);
  s += '\0';
  s += '\0';
  s += char(type);
  return s + be16(index) + be32(offset) + data;
}

std::string audioStreamHeader() {
  static const unsigned char classId[16] = {0x01, 0x01, 0x00, 0x10, 0xC0, 0x6F, 0xD0, 0x11,
                                            0xBD, 0x01, 0x00, 0x60, 0x97, 0x19, 0xA1, 0x80};
  std::string h = "\xFE\xFF";
  h += std::string(2, '\0');
  h += std::string("\x05\x01\x02\x00", 4);
  h += std::string(reinterpret_cast<const char*>(classId), 16);
  h += le32(1);
  return h;
}

std::vector<JpegSegment> fpxrPieces(const std::string& wave, const std::vector<std::uint32_t>& cuts,
                                    const std::vector<size_t>& order, std::uint16_t index) {
  std::string stream = audioStreamHeader() + wave;
  std::vector<std::uint32_t> starts{0};
  for (auto c : cuts) starts.push_back(c);
  std::vector<JpegSegment> pieces;
  for (size_t i = 0; i < starts.size(); ++i) {
    size_t end = i + 1 < starts.size() ? starts[i + 1] : stream.size();
    pieces.push_back({0xE2, fpxrSegment(index, starts[i], stream.substr(starts[i], end - starts[i]))});
  }
  std::vector<JpegSegment> ordered;
  for (size_t i : order) ordered.push_back(pieces.at(i));
  return ordered;
}

namespace {
std::string riff(const std::string& body) { return "RIFF" + le32(std::uint32_t(body.size() + 4)) + "WAVE" + body; }
}  // namespace

std::string imaAdpcmWave(std::uint32_t sampleRate, std::uint32_t blocks, std::uint32_t seed) {
  const std::uint16_t blockAlign = 256;
  const std::uint16_t samplesPerBlock = (blockAlign - 4) * 2 + 1;  // 505
  std::string fmt = le16(0x11) + le16(1) + le32(sampleRate) + le32(sampleRate * blockAlign / samplesPerBlock) +
                    le16(blockAlign) + le16(4) + le16(2) + le16(samplesPerBlock);
  std::string data = pseudoRandomBytes(size_t(blocks) * blockAlign, seed);
  return riff("fmt " + le32(std::uint32_t(fmt.size())) + fmt + "fact" + le32(4) + le32(blocks * samplesPerBlock) +
              "data" + le32(std::uint32_t(data.size())) + data);
}

std::string pcmWave(std::uint16_t channels, std::uint16_t bits, std::uint32_t sampleRate, std::uint32_t frames,
                    std::uint32_t seed) {
  const std::uint16_t blockAlign = std::uint16_t(channels * bits / 8);
  std::string fmt = le16(1) + le16(channels) + le32(sampleRate) + le32(sampleRate * blockAlign) + le16(blockAlign) +
                    le16(bits);
  std::string data = pseudoRandomBytes(size_t(frames) * blockAlign, seed);
  if (data.size() % 2) data += '\0';
  return riff("fmt " + le32(std::uint32_t(fmt.size())) + fmt + "data" + le32(std::uint32_t(frames) * blockAlign) +
              data);
}

}  // namespace testsupport
