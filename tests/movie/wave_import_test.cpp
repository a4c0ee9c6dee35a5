// SPDX-License-Identifier: GPL-2.0-or-later
// The WAVE movie importer: every supported kind decodes to the samples ffmpeg decodes from the
// same file; damaged, odd and hostile files are read as far as they go, or add nothing.
#include <gtest/gtest.h>

#include "movie/QuickTimeU.h"
#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/Movies.h"

using fixtures::WaveKind;
using testsupport::le16;
using testsupport::le32;
using testsupport::ScratchDir;

namespace {

struct Imported {
  ComponentResult result = 0;
  TimeValue added = 0;
  long tracks = 0;
  TimeScale mediaScale = 0;
  long frames = 0;
  std::string moviePath;  // flattened, when something was added
};

// Imports the WAVE bytes from a file into a fresh movie file and flattens it.
Imported importWave(const ScratchDir& dir, const std::string& wave) {
  Imported r;
  testsupport::writeFile(dir.file("in.wav"), wave);
  FSSpec waveSpec, working, target;
  FSpFromPath(dir.file("in.wav"), &waveSpec);
  FSpFromPath(dir.file("working.mov"), &working);
  FSpFromPath(dir.file("out.mov"), &target);
  short ref = 0;
  Movie movie = nullptr;
  EXPECT_EQ(CreateMovieFile(&working, FOUR_CHAR_CODE("TVOD"), smCurrentScript, createMovieFileDeleteCurFile, &ref,
                            &movie),
            noErr);
  ComponentInstance importer = OpenDefaultComponent(MovieImportType, kQTFileTypeWave);
  Track used = nullptr;
  long flags = 0;
  r.result = MovieImportFile(importer, &waveSpec, movie, nullptr, &used, 0, &r.added, movieImportCreateTrack, &flags);
  CloseComponent(importer);
  r.tracks = GetMovieTrackCount(movie);
  if (used) {
    Media media = GetTrackMedia(used);
    r.mediaScale = GetMediaTimeScale(media);
    r.frames = GetMediaSampleCount(media);
    short resId = movieInDataForkResID;
    AddMovieResource(movie, ref, &resId, nullptr);
    Movie flat = FlattenMovieData(movie, flattenAddMovieToDataFork, &target, FOUR_CHAR_CODE("TVOD"), smSystemScript,
                                  createMovieFileDeleteCurFile);
    if (flat) {
      DisposeMovie(flat);
      r.moviePath = dir.file("out.mov");
    }
  }
  CloseMovieFile(ref);
  DisposeMovie(movie);
  return r;
}

std::string chunk(const std::string& id, const std::string& body) {
  std::string c = id + le32(std::uint32_t(body.size())) + body;
  if (body.size() % 2) c += '\0';
  return c;
}
std::string riff(const std::string& chunks) { return "RIFF" + le32(std::uint32_t(chunks.size() + 4)) + "WAVE" + chunks; }
std::string fmt(unsigned tag, unsigned channels, unsigned rate, unsigned blockAlign, unsigned bits,
                const std::string& extra = "") {
  return le16(std::uint16_t(tag)) + le16(std::uint16_t(channels)) + le32(rate) + le32(rate * blockAlign) +
         le16(std::uint16_t(blockAlign)) + le16(std::uint16_t(bits)) + extra;
}

// The fixture's chunks, for rearranging: "fmt " body and the data body.
struct WaveParts {
  std::string format, data;
};
WaveParts split(const std::string& wave) {
  WaveParts p;
  std::size_t at = 12;
  while (at + 8 <= wave.size()) {
    std::string id = wave.substr(at, 4);
    std::uint32_t size = std::uint32_t(std::uint8_t(wave[at + 4])) | (std::uint32_t(std::uint8_t(wave[at + 5])) << 8) |
                         (std::uint32_t(std::uint8_t(wave[at + 6])) << 16) |
                         (std::uint32_t(std::uint8_t(wave[at + 7])) << 24);
    if (id == "fmt ") p.format = wave.substr(at + 8, size);
    if (id == "data") p.data = wave.substr(at + 8, size);
    at += 8 + size + (size & 1);
  }
  return p;
}

void expectSameSamplesAsFfmpeg(const Imported& r, const std::string& wavePath) {
  if (!testsupport::requireTool("ffmpeg")) return;
  ASSERT_FALSE(r.moviePath.empty());
  std::string expected = moviechecks::playedPart(moviechecks::decodePcm(wavePath), testsupport::readFile(wavePath), 2);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(moviechecks::decodePcm(r.moviePath), expected);
}

class EveryKind : public testing::TestWithParam<WaveKind> {};

TEST_P(EveryKind, DecodesSampleForSampleAsFfmpegDoes) {
  if (GetParam() == WaveKind::msAdpcm) REQUIRE_TOOL("sox");
  ScratchDir dir;
  for (fixtures::WaveSpec spec : {fixtures::WaveSpec{1.3, 8000}, fixtures::WaveSpec{0.7, 22050}}) {
    std::string wave = fixtures::makeWave(GetParam(), spec);
    Imported r = importWave(dir, wave);
    ASSERT_EQ(r.result, noErr);
    EXPECT_EQ(r.mediaScale, spec.rate);
    EXPECT_EQ(r.added, (r.frames * 600 + spec.rate - 1) / spec.rate);  // rounded up, never cut short
    EXPECT_NEAR(double(r.frames) / spec.rate, spec.seconds, 0.07);
    expectSameSamplesAsFfmpeg(r, dir.file("in.wav"));
    // From memory the same bytes give the same sound.
    Movie movie = NewMovie(0);
    EXPECT_EQ(QuickTimeU::ImportWAVDataFromMemory(movie, wave.data(), long(wave.size())), r.added);
    DisposeMovie(movie);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, EveryKind,
                         testing::Values(WaveKind::pcm8, WaveKind::pcm16Mono, WaveKind::pcm16Stereo, WaveKind::muLaw,
                                         WaveKind::aLaw, WaveKind::imaAdpcm, WaveKind::msAdpcm),
                         [](const testing::TestParamInfo<WaveKind>& info) { return fixtures::waveKindName(info.param); });

TEST(WaveImport, ReadsDamagedFilesAsFarAsTheyGo) {
  ScratchDir dir;
  WaveParts ima = split(fixtures::makeWave(WaveKind::imaAdpcm));
  ASSERT_EQ(ima.data.size() % 256, 0u);
  const std::size_t blocks = ima.data.size() / 256;

  // A data chunk that claims more than the file holds contradicts its file: refused, nothing added.
  std::string cut = riff(chunk("fmt ", ima.format) + "data" + le32(std::uint32_t(ima.data.size() + 5000)) +
                         ima.data.substr(0, (blocks - 1) * 256 + 4 + 4 * 10 + 3));
  Imported r = importWave(dir, cut);
  EXPECT_EQ(r.result, invalidSampleDescription);
  EXPECT_EQ(r.added, 0);

  // Cut inside the last block where the header says so: the whole samples of the short block
  // are kept (4 header bytes, then 8 samples per 4 bytes).
  r = importWave(dir, riff(chunk("fmt ", ima.format) + chunk("data", ima.data.substr(0, (blocks - 1) * 256 + 4 + 4 * 10 + 3))));
  ASSERT_EQ(r.result, noErr);
  EXPECT_EQ(r.frames, long((blocks - 1) * 505 + 1 + 80));
  expectSameSamplesAsFfmpeg(r, dir.file("in.wav"));

  // Chunks the importer does not know, of odd size with their pad bytes, and data before format.
  WaveParts pcm = split(testsupport::pcmWave(2, 16, 8000, 777));
  r = importWave(dir, riff(chunk("LIST", "abc") + chunk("data", pcm.data) + chunk("junk", "x") +
                           chunk("fmt ", pcm.format)));
  ASSERT_EQ(r.result, noErr);
  EXPECT_EQ(r.frames, 777);
  // ffmpeg itself gives up on this layout; 16-bit PCM must come out as the very data bytes.
  if (testsupport::requireTool("ffmpeg")) {
    EXPECT_EQ(moviechecks::decodePcm(r.moviePath), pcm.data);
  }

  // A trailing partial frame is dropped, not read past.
  r = importWave(dir, riff(chunk("fmt ", pcm.format) + chunk("data", pcm.data.substr(0, 4 * 100 + 3))));
  EXPECT_EQ(r.frames, 100);

  // WAVE_FORMAT_EXTENSIBLE carrying 16-bit PCM.
  std::string guid = le16(1) + std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  std::string extensible = fmt(0xFFFE, 2, 8000, 4, 16, le16(22) + le16(16) + le32(3) + guid);
  r = importWave(dir, riff(chunk("fmt ", extensible) + chunk("data", pcm.data)));
  ASSERT_EQ(r.result, noErr);
  EXPECT_EQ(r.frames, 777);
  expectSameSamplesAsFfmpeg(r, dir.file("in.wav"));
}

TEST(WaveImport, FilesWithoutUsableAudioAddNothing) {
  ScratchDir dir;
  WaveParts pcm = split(testsupport::pcmWave(1, 16, 8000, 100));
  auto withData = [&](const std::string& format) { return riff(chunk("fmt ", format) + chunk("data", pcm.data)); };
  std::string unknownGuid = le16(3) + std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x72", 14);
  const struct {
    const char* what;
    std::string wave;
    // badFileFormat: no sound in it; invalidSampleDescription: a format chunk that contradicts
    // itself; noCodecErr: a kind no movie here carries
    ComponentResult result;
  } cases[] = {
      {"empty file", "", badFileFormat},
      {"not RIFF", "RIFX" + std::string(40, '\0'), badFileFormat},
      {"no data chunk", riff(chunk("fmt ", pcm.format)), badFileFormat},
      {"no format chunk", riff(chunk("data", pcm.data)), badFileFormat},
      {"empty data", riff(chunk("fmt ", pcm.format) + chunk("data", "")), badFileFormat},
      {"data shorter than a frame", riff(chunk("fmt ", pcm.format) + chunk("data", "x")), badFileFormat},
      {"short format", withData(pcm.format.substr(0, 12)), invalidSampleDescription},
      {"data declared past the file's end", riff(chunk("fmt ", pcm.format) + "data" + le32(10 << 20) + pcm.data),
       invalidSampleDescription},
      {"format declared past the file's end", riff("fmt " + le32(4096) + pcm.format), invalidSampleDescription},
      {"rate 0", withData(fmt(1, 1, 0, 2, 16)), invalidSampleDescription},
      {"no channels", withData(fmt(1, 0, 8000, 2, 16)), invalidSampleDescription},
      {"0-bit PCM", withData(fmt(1, 1, 8000, 2, 0)), invalidSampleDescription},
      {"extensible header cut short", withData(fmt(0xFFFE, 1, 8000, 2, 16, le16(10) + std::string(10, 0))),
       invalidSampleDescription},
      {"IMA block smaller than its header", withData(fmt(0x11, 2, 8000, 4, 4, le16(2) + le16(1))), invalidSampleDescription},
      {"IMA block size 0", withData(fmt(0x11, 1, 8000, 0, 4, le16(2) + le16(505))), invalidSampleDescription},
      {"MS ADPCM with a huge coefficient count",
       riff(chunk("fmt ", fmt(2, 1, 8000, 256, 4, le16(4) + le16(500) + le16(65535))) + chunk("data", std::string(3, 0))),
       badFileFormat},
      {"rate beyond any recorder", withData(fmt(1, 1, 1000000, 2, 16)), noCodecErr},
      {"nine channels", withData(fmt(1, 9, 8000, 18, 16)), noCodecErr},
      {"40-bit PCM", withData(fmt(1, 1, 8000, 5, 40)), noCodecErr},
      {"24-bit float", withData(fmt(3, 1, 8000, 3, 24, le16(0))), noCodecErr},
      {"three-channel IMA ADPCM", withData(fmt(0x11, 3, 8000, 768, 4, le16(2) + le16(505))), noCodecErr},
      {"3-bit IMA ADPCM", withData(fmt(0x11, 1, 8000, 256, 3, le16(2) + le16(505))), noCodecErr},
      {"extensible with a GUID of another base",
       withData(fmt(0xFFFE, 1, 8000, 4, 32, le16(22) + le16(32) + le32(4) + unknownGuid)), noCodecErr},
      {"GSM 6.10", withData(fmt(0x31, 1, 8000, 65, 0, le16(2) + le16(320))), noCodecErr},
  };
  for (const auto& c : cases) {
    Imported r = importWave(dir, c.wave);
    EXPECT_EQ(r.result, c.result) << c.what;
    EXPECT_EQ(r.added, 0) << c.what;
    EXPECT_EQ(r.tracks, 0) << c.what;  // no empty track left behind

    // Asked beforehand, the importer says the same, and names what it cannot carry.
    ComponentInstance importer = OpenDefaultComponent(MovieImportType, kQTFileTypeWave);
    Handle data = nullptr;
    PtrToHand(c.wave.data(), &data, long(c.wave.size()));
    Boolean valid = true;
    std::string words;
    ComponentResult checked = MovieImportValidate(importer, nullptr, data, &valid, &words);
    EXPECT_FALSE(valid) << c.what;
    if (c.result == noCodecErr) {
      EXPECT_EQ(checked, noErr) << c.what;
      EXPECT_FALSE(words.empty()) << c.what;
    } else {
      EXPECT_EQ(checked, c.result) << c.what;
    }
    DisposeHandle(data);
    CloseComponent(importer);
  }
}

// Header bytes flipped at random: whatever the importer makes of them, it stays inside the file
// (the sanitizer build checks) and never reports more sound than the data can hold.
TEST(WaveImport, SurvivesCorruptedHeaders) {
  std::uint32_t seed = 12345;
  auto next = [&seed]() { return seed = seed * 1103515245u + 12345u; };
  for (WaveKind kind : {WaveKind::pcm16Stereo, WaveKind::muLaw, WaveKind::imaAdpcm, WaveKind::msAdpcm}) {
    if (kind == WaveKind::msAdpcm && !testsupport::requireTool("sox")) continue;
    const std::string wave = fixtures::makeWave(kind, {.seconds = 0.2, .rate = 8000});
    for (int round = 0; round < 150; ++round) {
      std::string damaged = wave;
      for (int k = 0; k < 3; ++k) damaged[next() % std::min<std::size_t>(damaged.size(), 96)] = char(next() >> 16);
      if (round % 5 == 0) damaged.resize(next() % damaged.size());
      Movie movie = NewMovie(0);
      long added = QuickTimeU::ImportWAVDataFromMemory(movie, damaged.data(), long(damaged.size()));
      // At worst 4 bits per sample at 1 Hz: 600 units per sample the file could hold.
      EXPECT_LE(added, long(damaged.size()) * 2 * 600 + 600);
      DisposeMovie(movie);
    }
  }
}

TEST(WaveImport, MediaFromMemoryBelongsToItsOwnMovie) {
  std::string wave = fixtures::makeWave(WaveKind::muLaw, {.seconds = 0.5, .rate = 8000});
  Media media = nullptr;
  long added = QuickTimeU::GetMediaFromPtr(wave.data(), long(wave.size()), &media);
  EXPECT_EQ(added, 300);
  ASSERT_NE(media, nullptr);
  EXPECT_EQ(GetMediaType(media), SoundMediaType);
  EXPECT_EQ(GetMediaSampleCount(media), 4000);
  DisposeMovie(GetTrackMovie(GetMediaTrack(media)));

  std::string junk = "not a wave at all";
  EXPECT_EQ(QuickTimeU::GetMediaFromPtr(junk.data(), long(junk.size()), &media), 0);
  EXPECT_EQ(media, nullptr);
  Movie movie = NewMovie(0);
  EXPECT_EQ(QuickTimeU::ImportWAVDataFromMemory(movie, nullptr, 0), 0);
  EXPECT_EQ(GetMovieTrackCount(movie), 0);
  DisposeMovie(movie);
}

}  // namespace
