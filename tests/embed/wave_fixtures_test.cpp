// SPDX-License-Identifier: GPL-2.0-or-later
// The recordings other tests embed are real audio: an independent decoder reads each kind
// with the codec, layout and loudness it claims.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::WaveKind;

TEST(WaveFixtures, EveryKindDecodesAsTheToneItClaims) {
  REQUIRE_TOOL("ffprobe"); REQUIRE_TOOL("sox");
  struct Expect {
    WaveKind kind;
    const char* codec;
    int channels;
  };
  const Expect expects[] = {
      {WaveKind::pcm8, "pcm_u8", 1},       {WaveKind::pcm16Mono, "pcm_s16le", 1}, {WaveKind::pcm16Stereo, "pcm_s16le", 2},
      {WaveKind::muLaw, "pcm_mulaw", 1},   {WaveKind::aLaw, "pcm_alaw", 1},       {WaveKind::imaAdpcm, "adpcm_ima_wav", 1},
      {WaveKind::msAdpcm, "adpcm_ms", 1},  {WaveKind::pcm24, "pcm_s24le", 2},     {WaveKind::pcm32, "pcm_s32le", 2},
      {WaveKind::float32, "pcm_f32le", 2}, {WaveKind::float64, "pcm_f64le", 2},   {WaveKind::gsm610, "gsm_ms", 1},
  };
  testsupport::ScratchDir dir;
  for (const Expect& e : expects) {
    SCOPED_TRACE(fixtures::waveKindName(e.kind));
    std::string wave = fixtures::makeWave(e.kind, {2.0, 8000});
    ASSERT_TRUE(wave.size() > 44 && wave.compare(0, 4, "RIFF") == 0);
    std::string path = dir.file(std::string(fixtures::waveKindName(e.kind)) + ".wav");
    testsupport::writeFile(path, wave);
    std::string probe;
    ASSERT_EQ(testsupport::run("ffprobe -v error -show_entries stream=codec_name,channels,sample_rate "
                               "-of default=noprint_wrappers=1 " + testsupport::shellQuote(path), &probe), 0);
    EXPECT_NE(probe.find(std::string("codec_name=") + e.codec + "\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("channels=" + std::to_string(e.channels) + "\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("sample_rate=8000\n"), std::string::npos) << probe;

    // A sine at 60% of full scale has an RMS of about 0.42 once decoded.
    std::string stat;
    testsupport::run("sox " + testsupport::shellQuote(path) + " -n stat 2>&1", &stat);
    std::size_t at = stat.find("RMS     amplitude:");
    ASSERT_NE(at, std::string::npos) << stat;
    double rms = std::strtod(stat.c_str() + at + 18, nullptr);
    EXPECT_NEAR(rms, 0.424, 0.02) << stat;
  }
}

TEST(WaveFixtures, CameraRecordingHas256ByteBlocksAndAFactChunk) {
  std::string wave = fixtures::makeWave(WaveKind::imaAdpcm, {5.0, 8000});
  auto le16 = [&](std::size_t i) { return unsigned(std::uint8_t(wave[i])) | unsigned(std::uint8_t(wave[i + 1])) << 8; };
  ASSERT_EQ(wave.compare(12, 4, "fmt "), 0);
  EXPECT_EQ(le16(20), 0x11u);  // IMA ADPCM
  EXPECT_EQ(le16(32), 256u);   // block align
  EXPECT_EQ(le16(38), 505u);   // samples per block
  std::size_t fact = wave.find("fact");
  ASSERT_NE(fact, std::string::npos);
  auto le32 = [&](std::size_t i) {
    return std::uint32_t(std::uint8_t(wave[i])) | std::uint32_t(std::uint8_t(wave[i + 1])) << 8 |
           std::uint32_t(std::uint8_t(wave[i + 2])) << 16 | std::uint32_t(std::uint8_t(wave[i + 3])) << 24;
  };
  EXPECT_EQ(le32(fact + 8), 40000u);
  std::size_t data = wave.find("data", fact);
  ASSERT_NE(data, std::string::npos);
  EXPECT_EQ(le32(data + 4) % 256, 0u);  // whole 256-byte blocks
  EXPECT_EQ(le32(4), wave.size() - 8);  // RIFF size
}
