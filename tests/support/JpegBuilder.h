// SPDX-License-Identifier: GPL-2.0-or-later
// Small JPEG byte streams with chosen APP1/APP2 segments, FlashPix audio streams cut into
// "FPXR" pieces, and WAVE files as cameras and recorders write them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct JpegSegment {
  int marker;           // 0xE1 for APP1, 0xE2 for APP2, ...
  std::string payload;  // the bytes after the segment's length field
};

// A real, decodable JPEG (libjpeg), with the segments placed after the JFIF header in order.
std::string buildJpeg(int width, int height, int components, const std::vector<JpegSegment>& segments,
                      bool progressive = false);

// An APP2 "FPXR" segment payload: identifier, version 0, type, stream index, stream offset, data.
std::string fpxrSegment(std::uint16_t index, std::uint32_t offset, const std::string& data, std::uint8_t type = 2);

// The 28-byte header of a FlashPix audio stream; the WAVE file follows it.
std::string audioStreamHeader();

// The audio stream (header + wave) cut at the given stream offsets into APP2 pieces, returned
// in the order given by `order` (indices into the pieces, piece 0 being the one at offset 0).
std::vector<JpegSegment> fpxrPieces(const std::string& wave, const std::vector<std::uint32_t>& cuts,
                                    const std::vector<size_t>& order, std::uint16_t index = 1);

// WAVE files. Data bytes are pseudo-random but fixed by seed.
std::string imaAdpcmWave(std::uint32_t sampleRate, std::uint32_t blocks, std::uint32_t seed = 1);  // 256-byte blocks, mono
std::string pcmWave(std::uint16_t channels, std::uint16_t bits, std::uint32_t sampleRate, std::uint32_t frames,
                    std::uint32_t seed = 1);

// Little- and big-endian field writers for building test bytes.
std::string le16(std::uint16_t v);
std::string le32(std::uint32_t v);
std::string be16(std::uint16_t v);
std::string be32(std::uint32_t v);
std::string pseudoRandomBytes(size_t n, std::uint32_t seed);

}  // namespace testsupport
