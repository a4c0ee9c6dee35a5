// SPDX-License-Identifier: GPL-2.0-or-later
// Every voice-note source through its table: found for a photograph that has its kind of
// recording, checked, handed over as a WAVE file, as bytes and as what extract writes, each the
// very recording the camera stored; and the table's order when a photograph has several.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "photos/PhotoKinds.h"
#include "sources/SoundSources.h"
#include "support/EmbeddedNoteBuilder.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"
#include "toolbox/Files/FolderNames.h"

namespace {

using testsupport::ScratchDir;

// A photograph read as the driver reads it, with its bytes kept.
struct ReadPhoto {
  std::string bytes;
  ExImageInfo record;
  sources::Photograph photo;
  explicit ReadPhoto(const std::string& path) : bytes(testsupport::readFile(path)) {
    const std::span<const std::uint8_t> all(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    const photos::ReadPhotograph read = photos::ReadPhotographBytes(path, all, &record);
    photo = {path, &record, all, read.readable()};
  }
};

std::string readAll(media::ByteReader& reader) {
  std::string out(std::size_t(reader.size()), '\0');
  if (!reader.read(0, reinterpret_cast<std::uint8_t*>(out.data()), out.size())) return "(unreadable)";
  return out;
}

// For each row, a photograph that carries its kind of recording (written into dir), and the
// recording as the camera stored it.
const std::map<std::string, std::function<std::string(const ScratchDir&, const std::string& wave)>> kPhotographFor = {
    {"embedded",
     [](const ScratchDir& dir, const std::string& wave) {
       testsupport::writeFile(dir.file("p.jpg"),
                              fixtures::embedWave(fixtures::makeJpeg(), wave, fixtures::pieces(700, {0, 2, 1})));
       return dir.file("p.jpg");
     }},
    {"sidecar",
     [](const ScratchDir& dir, const std::string& wave) {
       testsupport::writeFile(dir.file("P.JPG"), fixtures::makeJpeg());
       testsupport::writeFile(dir.file("p.WAV"), wave);
       return dir.file("P.JPG");
     }},
    {"samsung-trailer",
     [](const ScratchDir& dir, const std::string& wave) {
       testsupport::writeFile(dir.file("s.jpg"), notebuilder::soundAndShot(fixtures::makeJpeg(), wave));
       return dir.file("s.jpg");
     }},
    {"gaudio",
     [](const ScratchDir& dir, const std::string& wave) {
       testsupport::writeFile(dir.file("g.jpg"), notebuilder::gaudioExtended(fixtures::makeJpeg(), wave, 500));
       return dir.file("g.jpg");
     }},
    {"flir",
     [](const ScratchDir& dir, const std::string& wave) {
       testsupport::writeFile(dir.file("f.jpg"),
                              notebuilder::flirSegments(fixtures::makeJpeg(), notebuilder::flirFff(wave), 400));
       return dir.file("f.jpg");
     }},
};

TEST(SoundSources, EveryRowHandsOverTheStoredRecordingWhole) {
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 0.4});
  for (const sources::SoundSource& row : sources::SoundSources()) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(kPhotographFor.count(row.name)) << "a new source needs its photograph here";
    EXPECT_EQ(sources::SoundSourceNamed(row.name), &row);
    ScratchDir dir;
    ReadPhoto p(kPhotographFor.at(row.name)(dir, wave));

    const sources::Located located = sources::LocateRecording(p.photo);
    ASSERT_EQ(located.source, &row);
    // --info says what the conversion finds.
    std::string shownFile;
    EXPECT_EQ(Convert2Mov::soundSourceOf(p.photo, &shownFile), &row);
    EXPECT_EQ(shownFile, located.found.file);
    sources::Found found = located.found;
    std::string problem;
    ASSERT_EQ(row.check(p.photo, &found, &problem), noErr) << problem;
    EXPECT_EQ(found.bytes, wave.size());

    sources::WaveFile file;
    ASSERT_EQ(row.waveFile(p.photo, found, &file, &problem), noErr) << problem;
    EXPECT_EQ(testsupport::readFile(file.path), wave);
    // Only a working file may be removed: the user's own recording stays.
    EXPECT_EQ(file.working, found.file.empty());
    if (file.working) std::remove(file.path.c_str());

    sources::Recording recording;
    ASSERT_EQ(row.open(p.photo, found, &recording, &problem), noErr) << problem;
    ASSERT_TRUE(recording.wave || recording.pcm);
    if (recording.wave) {
      EXPECT_EQ(readAll(*recording.wave), wave);
      std::uint8_t byte = 0;
      EXPECT_FALSE(recording.wave->read(recording.wave->size(), &byte, 1)) << "a read past the end";
    }

    const std::string out = dir.file(std::string("out") + row.extension);
    std::FILE* f = std::fopen(out.c_str(), "wb");
    std::uint64_t written = found.bytes;
    ASSERT_EQ(row.extract(p.photo, found, f, &written, &problem), noErr) << problem;
    std::fclose(f);
    EXPECT_EQ(testsupport::readFile(out), wave);
    EXPECT_EQ(written, wave.size());
  }
}

TEST(SoundSources, APhotographWithSeveralTakesTheTablesFirst) {
  ScratchDir dir;
  const std::string inside = fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.2});
  testsupport::writeFile(dir.file("p.jpg"), fixtures::embedWave(fixtures::makeJpeg(), inside));
  testsupport::writeFile(dir.file("p.wav"), fixtures::makeWave(fixtures::WaveKind::pcm8, {.seconds = 0.3}));
  ReadPhoto p(dir.file("p.jpg"));
  // The pieces the camera put inside come before a file beside, which anyone may have put there.
  EXPECT_EQ(sources::LocateRecording(p.photo).source, sources::SoundSourceNamed("embedded"));
  // Without the pieces, the one beside serves.
  std::remove(dir.file("p.jpg").c_str());
  testsupport::writeFile(dir.file("p.jpg"), fixtures::makeJpeg());
  ReadPhoto plain(dir.file("p.jpg"));
  EXPECT_EQ(sources::LocateRecording(plain.photo).source, sources::SoundSourceNamed("sidecar"));
}

TEST(SoundSources, ARecordingThatChangedAfterItWasFoundIsNotRead) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("p.jpg"), fixtures::makeJpeg());
  testsupport::writeFile(dir.file("p.wav"), fixtures::makeWave(fixtures::WaveKind::pcm8));
  ReadPhoto p(dir.file("p.jpg"));
  const sources::Located located = sources::LocateRecording(p.photo);
  ASSERT_NE(located.source, nullptr);
  testsupport::writeFile(dir.file("p.wav"), "RIFF\x04\x00\x00\x00WAVE");  // cut short now
  sources::Recording recording;
  std::string problem;
  EXPECT_NE(located.source->open(p.photo, located.found, &recording, &problem), noErr);
  EXPECT_NE(problem.find("p.wav"), std::string::npos) << problem;
}

TEST(SoundSources, WatchKnowsARecordingBesideAPhotographByItsName) {
  struct Case {
    const char* recording;
    const char* photo;
    bool mayBe, ofPhoto;
  };
  const Case cases[] = {
      {"IMG_1.WAV", "IMG_1.JPG", true, true},   {"dir/img_1.wav", "IMG_1.jpg", true, true},
      {"IMG_2.wav", "IMG_1.JPG", true, false},  {"IMG_1.mov", "IMG_1.JPG", false, false},
      {".wav", "x.jpg", false, false},          {"IMG_1.wav.part", "IMG_1.JPG", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sources::MayBeRecording(c.recording), c.mayBe) << c.recording;
    EXPECT_EQ(sources::MayBeRecordingOf(c.recording, c.photo), c.ofPhoto) << c.recording << " " << c.photo;
  }
}

// What the lookup asks the folder for, and what the folder holds under each name now, are the
// lookup's own answers: the record and the watcher judge a change by them alone.
TEST(SoundSources, TheNamesAskedAndWhatTheFolderHoldsNowAreTheLookups) {
  struct Case {
    const char* name;
    const char* related;  // RelatedSoundFile, "" for none
    bool inside;          // a recording inside the photograph too
    std::vector<std::string> files;
    std::vector<std::string> asked, now;
  };
  const std::vector<Case> cases = {
      {"its own name, the camera's spelling preferred", "", false, {"img_1.wav", "IMG_1.WAV", "Img_1.Wav"},
       {"IMG_1.wav"}, {"IMG_1.WAV"}},
      {"its own name, else the first in byte order", "", false, {"img_1.wav", "Img_1.Wav"}, {"IMG_1.wav"}, {"Img_1.Wav"}},
      {"the tag's name first, as it spells it", "REC_0009.WAV", false, {"rec_0009.wav", "REC_0009.WAV", "IMG_1.wav"},
       {"REC_0009.WAV", "IMG_1.wav"}, {"REC_0009.WAV", "IMG_1.wav"}},
      {"a tag's name the folder lacks", "REC_0009.WAV", false, {}, {"REC_0009.WAV", "IMG_1.wav"}, {"", ""}},
      {"a tag naming its own name keeps its spelling", "IMG_1.wav", false, {"IMG_1.wav", "IMG_1.WAV"},
       {"IMG_1.wav", "IMG_1.wav"}, {"IMG_1.wav", "IMG_1.WAV"}},
      {"a tag leading elsewhere asks nothing", "../x.wav", false, {}, {"IMG_1.wav"}, {""}},
      {"a recording inside asks the folder nothing", "REC_0009.WAV", true, {"REC_0009.WAV"}, {}, {}},
  };
  const sources::SoundSource* beside = sources::SoundSourceNamed("sidecar");
  ASSERT_TRUE(beside && beside->namesAsked && beside->namesNow);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string jpeg = c.inside ? fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(fixtures::WaveKind::pcm8))
                                      : fixtures::makeJpeg();
    testsupport::writeFile(dir.file("IMG_1.JPG"), *c.related ? fixtures::withRelatedSoundFile(jpeg, c.related) : jpeg);
    for (const std::string& f : c.files) testsupport::writeFile(dir.file(f), fixtures::makeWave(fixtures::WaveKind::pcm8));
    ReadPhoto p(dir.file("IMG_1.JPG"));
    const std::vector<std::string> asked = sources::RecordingNamesAsked(p.photo);
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(beside->namesNow(p.photo.path, c.asked), c.now);
    for (const std::string& a : asked) {
      std::string other = a;
      for (char& ch : other) ch = char(ch ^ ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ? 0x20 : 0));
      EXPECT_TRUE(sources::IsAskedFor(asked, other)) << other;
    }
    EXPECT_FALSE(sources::IsAskedFor(asked, "IMG_2.wav"));
  }
}

}  // namespace

namespace {

TEST(SoundSources, EveryNoteOfAPhotographIsFoundInTheTablesOrder) {
  // One photograph holding every kind inside, and a WAVE beside it.
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.2});
  std::string jpeg = fixtures::embedWave(fixtures::makeJpeg(), wave, fixtures::pieces(700));
  jpeg = notebuilder::gaudioExtended(jpeg, wave, 500);
  jpeg = notebuilder::flirSegments(jpeg, notebuilder::flirFff(wave), 400);
  jpeg = notebuilder::soundAndShot(jpeg, wave);  // a trailer: after the picture, so last
  ScratchDir dir;
  testsupport::writeFile(dir.file("p.jpg"), jpeg);
  testsupport::writeFile(dir.file("p.wav"), wave);
  ReadPhoto p(dir.file("p.jpg"));

  const std::vector<sources::Located> all = sources::FindRecordings(p.photo);
  std::vector<std::string> names, table;
  for (const sources::Located& found : all) names.push_back(found.source->name);
  for (const sources::SoundSource& row : sources::SoundSources()) table.push_back(row.name);
  EXPECT_EQ(names, table) << "every row finds its note, in the table's order";
  ASSERT_FALSE(all.empty());
  // The first is the one a conversion takes.
  EXPECT_EQ(all.front().source, sources::LocateRecording(p.photo).source);
  for (const sources::Located& found : all) EXPECT_EQ(found.found.problem, "") << found.source->name;
  EXPECT_EQ(all.back().found.file, dir.file("p.wav"));

  // A photograph without a note finds none.
  testsupport::writeFile(dir.file("q.jpg"), fixtures::makeJpeg());
  ReadPhoto plain(dir.file("q.jpg"));
  EXPECT_TRUE(sources::FindRecordings(plain.photo).empty());
}

}  // namespace
