// SPDX-License-Identifier: GPL-2.0-or-later
// Runs each fuzz target over its committed seeds, crafted damaged inputs included: every one must
// come back (the targets return 0), and under the sanitizers without a fault or a leak.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/TestPaths.h"

// Each target's entry points under the names its object was built with; a target without an
// initializer leaves its name unresolved.
#define REPLAY_TARGETS(X) X(jpeg_reader) X(exif_segment) X(tiff_file) X(wave_import) X(picture) X(conversion) X(conversion_mp4) X(movie_head) \
  X(motion_xmp) X(embedded_trailer) X(embedded_flir) X(embedded_gaudio) X(gaudio_base64) X(extended_xmp)
#define DECLARE(t)                                                        \
  extern "C" int replayOne_##t(const unsigned char* data, size_t size);   \
  extern "C" int replayInit_##t(int* argc, char*** argv) __attribute__((weak));
REPLAY_TARGETS(DECLARE)
#undef DECLARE

namespace {

using One = int (*)(const unsigned char*, size_t);
using Init = int (*)(int*, char***);

std::vector<std::string> seedsOf(const std::string& target) {
  std::vector<std::string> files;
  const std::string dir = testsupport::sourceDir() + "/fuzz/corpus/" + target;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

void replay(const std::string& target, Init init, One one) {
  if (init != nullptr) {
    int argc = 0;
    char** argv = nullptr;
    init(&argc, &argv);
  }
  const std::vector<std::string> seeds = seedsOf(target);
  ASSERT_FALSE(seeds.empty()) << "no seeds for " << target;
  for (const std::string& seed : seeds) {
    std::ifstream in(seed, std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(seed);
    EXPECT_EQ(one(bytes.data(), bytes.size()), 0);
  }
}

}  // namespace

#define REPLAY_TEST(t) \
  TEST(FuzzSeedReplay, t) { replay(#t, replayInit_##t, replayOne_##t); }
REPLAY_TARGETS(REPLAY_TEST)
#undef REPLAY_TEST
