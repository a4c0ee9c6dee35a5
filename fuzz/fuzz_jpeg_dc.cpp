// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: a progressive picture decoded from its DC scans alone. The first byte says whether
// the stream is taken as YCbCr (as libjpeg judged it) or grey; the rest is the stream.
#include <cstdint>
#include <vector>

#include "media/JpegDcDecode.h"

namespace {
class Discard final : public media::PixelRowSink {
 public:
  media::Status begin(int width, int, int channels) override {
    row_.assign(std::size_t(width) * std::size_t(channels), 0);
    return media::Status::ok;
  }
  std::uint8_t* rowBuffer(int) override { return row_.data(); }
  void rowFilled(int) override {}

 private:
  std::vector<std::uint8_t> row_;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size < 1) return 0;
  Discard sink;
  // A cap of its own, so that a huge claimed frame is judged without taking the fuzzer's memory.
  media::JpegDecodeDcOnly(data + 1, size - 1, (data[0] & 1) != 0, std::size_t(16) << 20, &sink);
  return 0;
}
