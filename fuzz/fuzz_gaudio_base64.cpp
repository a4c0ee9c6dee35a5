// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: base64 text decoded in bounded pieces, with a limit taken from the input's first
// byte so that the refusal on passing it is reached as often as the decoding.
#include "media/GAudio.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size == 0) return 0;
  const std::uint64_t limit = std::uint64_t(data[0]) * 64;
  std::vector<std::uint8_t> out;
  std::string why;
  media::DecodeBase64Bounded(reinterpret_cast<const char*>(data + 1), size - 1, limit, &out, &why);
  if (out.size() > limit) __builtin_trap();
  return 0;
}
