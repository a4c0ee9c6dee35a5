// SPDX-License-Identifier: GPL-2.0-or-later
// Recordings beside a photograph that are larger than the memory the program may use, longer
// than a movie can hold, or whose header contradicts itself: converted in bounded memory, or
// refused with the true reason, and nothing left behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/AddressSpace.h"
#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"


using testsupport::ScratchDir;
using testsupport::shellQuote;
using testsupport::le16;
using testsupport::le32;
using testsupport::pcmFormat;
using testsupport::sparseWave;
using testsupport::writeFile;

namespace {

// still2mov --no-resize on the photograph, its address space limited to limitKiB when given.
struct Outcome {
  int status;
  std::string output;  // standard output and error together
};
Outcome convert(const std::string& photo, long limitKiB = 0) {
  std::string out;
  const int status = testsupport::run(testsupport::still2movLimited(limitKiB, {"--no-resize", photo}), &out);
  return {status, out};
}

}  // namespace

TEST(HugeRecording, ARecordingLargerThanTheMemoryAllowedIsConverted) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  ScratchDir dir;
  writeFile(dir.file("IMG.JPG"), fixtures::makeJpeg({.width = 96, .height = 64}));
  // 512 MiB of 16-bit stereo at 44.1 kHz (50 minutes) under a 128 MiB address-space limit.
  const std::uint64_t data = std::uint64_t(512) << 20;
  sparseWave(dir.file("IMG.WAV"), pcmFormat(2, 44100, 16), data);
  const Outcome r = convert(dir.file("IMG.JPG"), 128 * 1024);
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("(3043.5 s of sound from"), std::string::npos) << r.output;
  // Every sample is in the movie (a 64-bit data atom is not needed yet at this size).
  EXPECT_GT(std::filesystem::file_size(dir.file("IMG.mov")), data);
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"IMG.JPG", "IMG.WAV", "IMG.mov"}));

  REQUIRE_TOOL("ffprobe");
  std::string duration;
  testsupport::run("ffprobe -v error -select_streams a -show_entries stream=duration -of csv=p=0 " +
                       shellQuote(dir.file("IMG.mov")),
                   &duration);
  EXPECT_EQ(duration, "3043.485896\n");  // 134,217,728 frames at 44.1 kHz
}

TEST(HugeRecording, WhatNoMovieCanHoldAndDamagedHeadersAreSaidInWords) {
  const struct {
    const char* what;
    std::string format;
    std::uint64_t dataBytes;
    std::string says;
    std::uint32_t declaredData = 0;  // when given, what the data chunk claims (the RIFF size stays true)
  } cases[] = {
      // 8-bit mono: one frame per byte, past the 2^31 - 1 frames a movie's track counts.
      {"longer than a movie holds", pcmFormat(1, 8000, 8), (std::uint64_t(1) << 31) + 4096,
       "the recording is too long for a QuickTime movie (at most 2,147,483,647 sample frames)"},
      {"no channels", pcmFormat(0, 8000, 16), 4096, "the recording's WAVE header is damaged"},
      {"rate 0", pcmFormat(1, 0, 16), 4096, "the recording's WAVE header is damaged"},
      {"extensible header of 10 bytes", le16(0xFFFE) + pcmFormat(1, 8000, 16).substr(2) + le16(10) + std::string(10, '\0'),
       4096, "the recording's WAVE header is damaged"},
      {"10 MB of data declared in a 2 KB file", pcmFormat(1, 8000, 16), 2048 - 44, "the recording's WAVE header is damaged",
       10 << 20},
      {"one byte more declared", pcmFormat(1, 8000, 16), 4096, "the recording's WAVE header is damaged", 4097},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    writeFile(dir.file("IMG.JPG"), fixtures::makeJpeg({.width = 96, .height = 64}));
    sparseWave(dir.file("IMG.WAV"), c.format, c.dataBytes);
    if (c.declaredData != 0) {
      std::string wave = testsupport::readFile(dir.file("IMG.WAV"));
      wave.replace(wave.size() - c.dataBytes - 4, 4, le32(c.declaredData));
      writeFile(dir.file("IMG.WAV"), wave);
    }
    const Outcome r = convert(dir.file("IMG.JPG"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find(dir.file("IMG.JPG") + ": no movie written: " + c.says + "\n"), std::string::npos)
        << r.output;
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"IMG.JPG", "IMG.WAV"}));
  }
}

TEST(HugeRecording, RunningOutOfMemoryIsSaidAsSuch) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  ScratchDir dir;
  writeFile(dir.file("IMG.JPG"), fixtures::makeJpeg({.width = 96, .height = 64}));
  // The least address space (in steps of 2 MiB) in which a recording of a second converts.
  sparseWave(dir.file("IMG.WAV"), pcmFormat(1, 8000, 16), 16000);
  long enough = 0;
  for (long limit = 8 * 1024; limit <= 512 * 1024 && enough == 0; limit += 2048) {
    std::filesystem::remove(dir.file("IMG.mov"));
    if (convert(dir.file("IMG.JPG"), limit).status == 0) enough = limit;
  }
  ASSERT_GT(enough, 0);
  std::filesystem::remove(dir.file("IMG.mov"));
  // With 4 MiB more, a recording whose 15 MiB of samples are kept in memory cannot be.
  sparseWave(dir.file("IMG.WAV"), pcmFormat(1, 8000, 16), 15 << 20);
  const Outcome r = convert(dir.file("IMG.JPG"), enough + 4096);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find(dir.file("IMG.JPG") + ": no movie written: not enough memory\n"), std::string::npos)
      << r.output;
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"IMG.JPG", "IMG.WAV"}));
}
