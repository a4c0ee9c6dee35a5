// An 8-bit picture in memory, rows packed top to bottom: grey (1 channel) or RGB (3 channels).
// What decoders hand to resamplers and resamplers to encoders.
#pragma once
#include <cstdint>
#include <vector>

struct PixelImage {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<std::uint8_t> pixels;

  std::uint8_t* row(int y) { return pixels.data() + std::size_t(y) * width * channels; }
  const std::uint8_t* row(int y) const { return pixels.data() + std::size_t(y) * width * channels; }
};
