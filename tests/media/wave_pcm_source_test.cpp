// SPDX-License-Identifier: GPL-2.0-or-later
// A WAVE pulled as PCM gives, for every kind, the very samples and layout the movie's sound track
// is made of, in pieces of any size; a recording it cannot give is refused by kind and in words.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "media/ByteReaders.h"
#include "media/WavePcmSource.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/MovieModel.h"
#include "toolbox/Movies/Movies.h"

using fixtures::WaveKind;
using media::WaveRefusal;

namespace {

std::span<const std::uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The sound track's bytes as the WAVE importer stores them, and its frame count.
std::vector<std::uint8_t> importedSamples(const std::string& path, std::uint64_t* frames) {
  Movie movie = NewMovie(0);
  ComponentInstance importer = OpenDefaultComponent(MovieImportType, kQTFileTypeWave);
  FSSpec spec;
  EXPECT_EQ(FSpFromPath(path, &spec), noErr);
  Track used = nullptr;
  TimeValue added = 0;
  long flags = 0;
  MovieImportFile(importer, &spec, movie, nullptr, &used, 0, &added, movieImportCreateTrack, &flags);
  CloseComponent(importer);
  std::vector<std::uint8_t> bytes;
  *frames = 0;
  MovieType* m = movies::get(movie);
  for (const auto& t : m->tracks) {
    for (const movies::Chunk& c : t->media->chunks) {
      const std::size_t n = std::size_t(c.sampleCount) * c.sampleSize;
      bytes.resize(bytes.size() + n);
      EXPECT_EQ(m->store->read(c.offset, bytes.data() + bytes.size() - n, n), noErr);
      *frames += c.sampleCount;
    }
  }
  DisposeMovie(movie);
  return bytes;
}

struct Kind {
  WaveKind kind;
  fixtures::WaveSpec spec;
  int bits;  // of the decoded samples
  bool isFloat, isSigned;
};
const Kind kKinds[] = {
    {WaveKind::pcm8, {.seconds = 0.7, .rate = 22050}, 8, false, false},
    {WaveKind::pcm16Mono, {.seconds = 1.3, .rate = 11025}, 16, false, true},
    {WaveKind::pcm16Stereo, {.seconds = 1.0, .rate = 44100}, 16, false, true},
    {WaveKind::pcm24, {.seconds = 0.3, .rate = 96000, .channels = 6}, 24, false, true},
    {WaveKind::pcm32, {.seconds = 0.6, .rate = 32000}, 32, false, true},
    {WaveKind::pcm32, {.seconds = 0.5, .rate = 48000, .validBits = 24}, 24, false, true},
    {WaveKind::pcm16Mono, {.seconds = 0.4, .rate = 16000, .channels = 8, .extensible = true}, 16, false, true},
    {WaveKind::float32, {.seconds = 1.0, .rate = 48000}, 32, true, true},
    {WaveKind::float64, {.seconds = 0.5, .rate = 96000}, 64, true, true},
    {WaveKind::muLaw, {.seconds = 1.1}, 16, false, true},
    {WaveKind::aLaw, {.seconds = 0.9}, 16, false, true},
    {WaveKind::imaAdpcm, {.seconds = 3.5}, 16, false, true},
    {WaveKind::msAdpcm, {.seconds = 1.2, .rate = 22050}, 16, false, true},
};

}  // namespace

TEST(WavePcmSource, EveryKindGivesTheSoundTracksOwnSamplesInPiecesOfAnySize) {
  testsupport::ScratchDir dir;
  for (const Kind& k : kKinds) {
    SCOPED_TRACE(std::string(fixtures::waveKindName(k.kind)) + " at " + std::to_string(k.spec.rate));
    if (!fixtures::haveWaveKind(k.kind)) {
      ADD_FAILURE() << "sox is needed to make this kind";
      continue;
    }
    const std::string wave = fixtures::makeWave(k.kind, k.spec);
    testsupport::writeFile(dir.file("rec.wav"), wave);
    std::uint64_t importedFrames = 0;
    const std::vector<std::uint8_t> imported = importedSamples(dir.file("rec.wav"), &importedFrames);

    FSSpec spec;
    ASSERT_EQ(FSpFromPath(dir.file("rec.wav"), &spec), noErr);
    std::unique_ptr<media::FdByteReader> bytes;
    ASSERT_EQ(FSpOpenByteReader(&spec, &bytes), noErr);
    media::WavePcmSource source(*bytes);
    ASSERT_EQ(source.refusal(), WaveRefusal::none) << source.problem();
    const media::PcmLayout& l = source.layout();
    EXPECT_EQ(l.bits, k.bits);
    EXPECT_EQ(l.isFloat, k.isFloat);
    EXPECT_EQ(l.isSigned, k.isSigned);
    EXPECT_EQ(l.rate, k.spec.rate);
    EXPECT_EQ(source.frames(), importedFrames);
    const std::size_t frameBytes = std::size_t(l.channels) * std::size_t(l.bits / 8);
    std::vector<std::uint8_t> pulled;
    // Pieces that straddle the codecs' units: 1 frame, then odd sizes.
    for (std::size_t piece = 1;; piece = piece * 3 + 7) {
      std::vector<std::uint8_t> buffer(piece * frameBytes);
      const std::size_t got = source.read(buffer.data(), piece);
      if (got == 0) break;
      pulled.insert(pulled.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(got * frameBytes));
    }
    EXPECT_EQ(source.status(), media::Status::ok) << source.problem();
    EXPECT_TRUE(pulled == imported) << pulled.size() << " bytes pulled, " << imported.size() << " imported";
  }
}

namespace {

// A reader that fails every read past limit bytes, as a disk that fails would.
class FailingReader final : public media::ByteReader {
 public:
  FailingReader(const std::string& bytes, std::uint64_t limit) : bytes_(bytesOf(bytes)), limit_(limit) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
    return offset + n <= limit_ && bytes_.read(offset, out, n);
  }

 private:
  media::MemoryByteReader bytes_;
  std::uint64_t limit_;
};

std::string withFormatField(std::string wave, std::size_t at, std::uint16_t value) {
  wave[20 + at] = char(value & 0xFF);
  wave[21 + at] = char(value >> 8);
  return wave;
}

}  // namespace

TEST(WavePcmSource, RecordingsWithoutSoundToGiveAreRefusedByKindAndInWords) {
  const std::string pcm = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.2});
  const std::string gsm = fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 0.2});
  struct Row {
    const char* what;
    std::string bytes;
    WaveRefusal refusal;
    const char* words;
  } rows[] = {
      {"no RIFF", "RIFX" + pcm.substr(4), WaveRefusal::noSound, "gives no sound"},
      {"empty", "", WaveRefusal::noSound, "gives no sound"},
      {"no data chunk", pcm.substr(0, 44 - 8), WaveRefusal::noSound, "gives no sound"},
      {"half a frame of data", pcm.substr(0, 40) + std::string("\x01\0\0\0\x7f", 5), WaveRefusal::noSound,
       "gives no sound"},
      {"no channels", withFormatField(pcm, 2, 0), WaveRefusal::damaged, "header is damaged"},
      {"format tag of GSM", withFormatField(gsm, 0, 0x31), WaveRefusal::unsupported, "GSM 6.10 not supported"},
      {"nine channels", withFormatField(pcm, 2, 9), WaveRefusal::unsupported, "not supported"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    media::MemoryByteReader bytes(bytesOf(r.bytes));
    media::WavePcmSource source(bytes);
    EXPECT_EQ(source.refusal(), r.refusal);
    EXPECT_NE(source.status(), media::Status::ok);
    EXPECT_NE(source.problem().find(r.words), std::string::npos) << source.problem();
    EXPECT_EQ(source.frames(), 0u);
    std::uint8_t out[64];
    EXPECT_EQ(source.read(out, 16), 0u);
  }
  // A read that fails midway ends the sound with a damaged status, never with made-up samples.
  FailingReader failing(pcm, 44 + 1000);
  media::WavePcmSource source(failing);
  ASSERT_EQ(source.refusal(), WaveRefusal::none);
  std::vector<std::uint8_t> out(source.frames() * 2);
  std::size_t total = 0;
  while (std::size_t got = source.read(out.data() + total * 2, source.frames() - total)) total += got;
  EXPECT_LT(total, source.frames());
  EXPECT_EQ(source.status(), media::Status::damaged);
}
