// SPDX-License-Identifier: GPL-2.0-or-later
// The rows of voice notes kept inside the photograph, through the table: their names and place
// in it, found, checked, handed over as a WAVE or as decoded sound, written to the WAVE file the
// movie road reads, and extracted as stored under the extension of their kind.
#include <gtest/gtest.h>

#include <cstdio>

#include "media/ByteReaders.h"
#include "media/JpegStructure.h"
#include "sources/SoundSources.h"
#include "support/EmbeddedNoteBuilder.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::shellQuote;

namespace {

int placeOf(const char* name) {
  const auto rows = sources::SoundSources();
  for (std::size_t i = 0; i < rows.size(); ++i)
    if (std::string(rows[i].name) == name) return int(i);
  return -1;
}

// The photograph held whole, or (held) only through its picture's end as a conversion holds it,
// the rest read from the file by range.
sources::Photograph photographOf(const std::string& bytes, bool held = false) {
  sources::Photograph p;
  p.path = "photo.jpg";
  const std::span<const std::uint8_t> all(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  p.bytes = all;
  if (held) {
    p.bytes = all.first(media::JpegImageEnd(all.data(), all.size()));
    p.file = std::make_shared<media::MemoryByteReader>(all);
  }
  p.readable = true;
  return p;
}

std::string readAll(media::ByteReader& r) {
  std::string out(std::size_t(r.size()), '\0');
  return r.read(0, reinterpret_cast<std::uint8_t*>(out.data()), out.size()) ? out : std::string();
}

}  // namespace

TEST(EmbeddedSources, FlashPixComesFirstThenTheNotesInsideThenTheWaveBeside) {
  const int flashPix = placeOf("embedded"), beside = placeOf("sidecar");
  ASSERT_GE(flashPix, 0);
  for (const char* name : {"samsung-trailer", "gaudio", "flir"}) {
    SCOPED_TRACE(name);
    ASSERT_NE(sources::SoundSourceNamed(name), nullptr);
    EXPECT_GT(placeOf(name), flashPix);
    EXPECT_LT(placeOf(name), beside);
    EXPECT_EQ(sources::SoundSourceNamed(name)->recordingName, nullptr);  // nothing beside the photograph is theirs
  }
}

TEST(EmbeddedSources, EachRowHandsOverItsNoteAndExtractsItAsStored) {
  REQUIRE_TOOL("ffmpeg");
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  const std::string jpeg = fixtures::makeJpeg();
  fixtures::WaveSpec spec;
  spec.seconds = 1;
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::pcm16Mono, spec);
  ASSERT_EQ(run("ffmpeg -v error -y -f lavfi -i sine=duration=1:sample_rate=16000 -c:a aac -f ipod " + shellQuote(dir.file("a.m4a"))), 0);
  const std::string m4a = readFile(dir.file("a.m4a"));
  const struct {
    const char* source;
    std::string photo;
    std::string stored;
    const char* extension;
  } rows[] = {
      {"samsung-trailer", notebuilder::soundAndShot(jpeg, wave), wave, ".wav"},
      {"samsung-trailer", notebuilder::soundAndShot(jpeg, m4a), m4a, ".m4a"},
      {"gaudio", notebuilder::gaudioExtended(jpeg, m4a), m4a, ".m4a"},
      {"flir", notebuilder::flirSegments(jpeg, notebuilder::flirFff(wave), 20000), wave, ".wav"},
  };
  for (const auto& r : rows) {
    for (const bool held : {false, true}) {
      SCOPED_TRACE(std::string(r.source) + r.extension + (held ? ", held to the picture's end" : ", held whole"));
      const sources::Photograph photo = photographOf(r.photo, held);
      if (held && std::string(r.source) == "samsung-trailer") ASSERT_LT(photo.bytes.size(), r.photo.size() - r.stored.size());
      const sources::Located located = sources::LocateRecording(photo);
      ASSERT_NE(located.source, nullptr);
      EXPECT_STREQ(located.source->name, r.source);
      sources::Found found = located.found;
      EXPECT_EQ(found.extension, r.extension);
      std::string problem;
      ASSERT_EQ(located.source->check(photo, &found, &problem), noErr) << problem;
      EXPECT_EQ(found.bytes, r.stored.size());

      sources::Recording recording;
      ASSERT_EQ(located.source->open(photo, found, &recording, &problem), noErr) << problem;
      if (std::string(r.extension) == ".wav") {
        ASSERT_TRUE(recording.wave);
        EXPECT_TRUE(readAll(*recording.wave) == r.stored);
      } else {
        ASSERT_TRUE(recording.pcm);
        EXPECT_EQ(recording.pcm->layout().rate, 16000);
        EXPECT_NEAR(double(recording.pcm->frames()), 16000, 1024);  // AAC ends on a whole frame, as ffmpeg decodes it
      }

      // The movie road's WAVE file: what ffprobe reads is a second of sound.
      sources::WaveFile waveFile;
      ASSERT_EQ(located.source->waveFile(photo, found, &waveFile, &problem), noErr) << problem;
      EXPECT_TRUE(waveFile.working);
      std::string duration;
      run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + shellQuote(waveFile.path), &duration);
      EXPECT_NEAR(std::atof(duration.c_str()), 1.0, 0.03) << duration;
      std::remove(waveFile.path.c_str());

      const std::string path = dir.file(std::string("extracted") + found.extension);
      std::FILE* out = std::fopen(path.c_str(), "wb");
      ASSERT_NE(out, nullptr);
      std::uint64_t written = 0;
      EXPECT_EQ(located.source->extract(photo, found, out, &written, &problem), noErr) << problem;
      std::fclose(out);
      EXPECT_EQ(written, r.stored.size());
      EXPECT_TRUE(readFile(path) == r.stored);
    }
  }
}
