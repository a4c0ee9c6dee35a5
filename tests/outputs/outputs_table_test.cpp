// SPDX-License-Identifier: GPL-2.0-or-later
// Every output through its table: its name found again, the file it writes beside a photograph,
// the photograph known again from that name where it is one, each written from the sample and
// read back by its own readers; the words the man page and completions give for each; and the
// sample's QuickTime movie pinned byte for byte (times, file stamps and version masked).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>

#include "Convert2Mov.h"
#include "outputs/Outputs.h"
#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

namespace {

using testsupport::ScratchDir;

std::string samplePhoto() { return testsupport::sourceDir() + "/samples/voice-note.jpg"; }

TEST(Outputs, EachRowIsFoundByItsNameAndNamesItsFile) {
  struct Case {
    const char* output;
    const char* image;
    const char* file;
  };
  const Case cases[] = {
      {"mov", "/d/IMG_1.JPG", "/d/IMG_1.mov"},     {"mov", "shot.jpeg", "shot.mov"},
      {"mp4", "/d/IMG_1.JPG", "/d/IMG_1.mp4"},     {"mp4", "a.b/c", "a.b/c.mp4"},
      {"motion", "/d/IMG_1.JPG", "/d/IMG_1.MP.JPG"}, {"motion", "/d/x.jpg//", "/d/x.MP.jpg"},
      // A motion photo is a JPEG, whatever the photograph's kind.
      {"motion", "/d/DSC_1.NEF", "/d/DSC_1.MP.jpg"}, {"motion", "/d/a.JPEG", "/d/a.MP.JPEG"},
      {"motion", "/d.x/raw", "/d.x/raw.MP.jpg"},    {"mov", "/d/DSC_1.NEF", "/d/DSC_1.mov"},
  };
  for (const Case& c : cases) {
    const outputs::Output* row = outputs::OutputNamed(c.output);
    ASSERT_NE(row, nullptr) << c.output;
    EXPECT_EQ(row->pathFor(c.image), c.file) << c.output << " " << c.image;
  }
  for (const outputs::Output& row : outputs::Outputs()) EXPECT_EQ(outputs::OutputNamed(row.name), &row);
  EXPECT_EQ(outputs::OutputNamed("MOV"), nullptr);
  EXPECT_STREQ(outputs::DefaultOutput().name, "mov");
  EXPECT_EQ(outputs::OutputNamesInWords(), "mov, mp4 or motion");
}

TEST(Outputs, AnOutputThatIsAPhotographIsKnownByItsName) {
  for (const outputs::Output& row : outputs::Outputs()) {
    if (row.photographOf == nullptr) continue;
    for (const char* photo : {"/d/IMG_1.JPG", "IMG_2.jpeg", "/x.y/z.jpg"}) {
      EXPECT_EQ(row.photographOf(row.pathFor(photo)), std::optional<std::string>(photo)) << row.name << " " << photo;
      // A photograph of its own is no output of this row.
      EXPECT_EQ(row.photographOf(photo), std::nullopt) << row.name << " " << photo;
    }
  }
  EXPECT_EQ(outputs::OutputNamed("motion")->photographOf("/d/IMG_1.mp.JPG"), std::nullopt);
}

TEST(Outputs, EachRowWritesTheSampleAndReadsBackWhatItWrote) {
  for (const outputs::Output& row : outputs::Outputs()) {
    SCOPED_TRACE(row.name);
    ScratchDir dir;
    const std::string photo = dir.file("voice-note.jpg");
    testsupport::writeFile(photo, testsupport::readFile(samplePhoto()));
    Convert2Mov driver;
    driver.setOutput(row);
    const std::string file = Convert2Mov::moviePathFor(photo, row);
    ASSERT_EQ(driver.createMovie(file, photo, 0), 0) << driver.lastReport().problem;
    EXPECT_EQ(driver.lastReport().outcome, ConversionOutcome::converted);
    EXPECT_EQ(driver.lastReport().soundSource, sources::SoundSourceNamed("embedded"));
    const std::optional<media::MadeFrom> made = row.readMadeFrom(file);
    ASSERT_TRUE(made.has_value());
    EXPECT_EQ(made->format, row.name);
    EXPECT_EQ(made->photograph, "voice-note.jpg");
    FSSpec spec;
    ASSERT_EQ(FSpFromPath(file, &spec), noErr);
    double seconds = 0;
    ASSERT_EQ(row.readSoundSeconds(&spec, &seconds), noErr);
    EXPECT_NEAR(seconds, driver.lastReport().soundSeconds, 1e-9);
    EXPECT_NEAR(seconds, 3.5, 0.1);
    // The refusal, where a row has one, is for what it writes: its own output is refused.
    if (row.refusal != nullptr) {
      const std::string bytes = testsupport::readFile(file);
      EXPECT_FALSE(row.refusal({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}).empty());
      const std::string original = testsupport::readFile(photo);
      EXPECT_TRUE(row.refusal({reinterpret_cast<const std::uint8_t*>(original.data()), original.size()}).empty());
    }
  }
}

// wave with a fact chunk saying frames put before its data chunk.
std::string withFact(const std::string& wave, std::uint32_t frames) {
  const std::size_t data = wave.find("data");
  std::string fact = "fact";
  for (std::uint32_t v : {4u, frames})
    for (int k = 0; k < 4; ++k) fact += char((v >> (8 * k)) & 0xFF);
  std::string out = wave.substr(0, data) + fact + wave.substr(data);
  const std::uint32_t riff = std::uint32_t(out.size() - 8);
  for (int k = 0; k < 4; ++k) out[4 + std::size_t(k)] = char((riff >> (8 * k)) & 0xFF);
  return out;
}

// The MP4 a motion photo carries, as a file of its own; the file itself for any other output.
std::string movieToProbe(const std::string& file, const ScratchDir& dir) {
  const std::string bytes = testsupport::readFile(file);
  const std::size_t ftyp = bytes.find("ftypisom");
  if (bytes.compare(0, 2, "\xFF\xD8") != 0 || ftyp == std::string::npos || ftyp < 4) return file;
  testsupport::writeFile(dir.file("carried.mp4"), bytes.substr(ftyp - 4));
  return dir.file("carried.mp4");
}

TEST(Outputs, EachRowLastsWhatACompressedRecordingsFactChunkSays) {
  REQUIRE_TOOL("ffprobe");
  using fixtures::WaveKind;
  struct Recording {
    const char* what;
    std::string wave;
    double seconds;  // what every track of every output lasts
  };
  // 0.9 s of IMA ADPCM fill 15 blocks of 505 frames: 7,575 decoded, 7,200 in the fact chunk.
  const std::string ima = fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 0.9, .rate = 8000});
  const std::string pcm = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.9, .rate = 8000});
  const Recording recordings[] = {
      {"IMA ADPCM, its last block padded", ima, 7200.0 / 8000},
      {"IMA ADPCM whose fact promises more than its blocks", withFact(ima.substr(0, ima.find("fact")) +
                                                                          ima.substr(ima.find("fact") + 12),
                                                                      99999),
       7575.0 / 8000},
      {"PCM, whose data says its length whatever a fact says", withFact(pcm, 4000), 0.9},
  };
  for (const outputs::Output& row : outputs::Outputs()) {
    for (const Recording& rec : recordings) {
      SCOPED_TRACE(std::string(row.name) + ": " + rec.what);
      ScratchDir dir;
      const std::string photo = dir.file("p.jpg");
      testsupport::writeFile(photo, fixtures::embedWave(fixtures::makeJpeg({.width = 64, .height = 48}), rec.wave));
      Convert2Mov driver;
      driver.setOutput(row);
      const std::string file = Convert2Mov::moviePathFor(photo, row);
      ASSERT_EQ(driver.createMovie(file, photo, 0), 0) << driver.lastReport().problem;
      // The movie's headers count 600ths of a second, the MP4's milliseconds; a padded block
      // would add 47 ms.
      const double tick = 1.0 / 600 + 1e-6;
      EXPECT_NEAR(driver.lastReport().soundSeconds, rec.seconds, tick);
      const auto streams = moviechecks::probeStreams(movieToProbe(file, dir));
      ASSERT_EQ(streams.size(), 2u);
      // The picture lasts as long as the sound.
      for (const auto& s : streams) EXPECT_NEAR(s.duration, rec.seconds, tick) << s.codecType;
    }
  }
}

// A note long enough that its pieces are left in the photograph's file rather than held: every
// output still carries every byte of it (the movie's sound verbatim, the motion photo's pieces),
// the unscaled movie's frame is the photograph whole, and extract writes the note as stored.
TEST(Outputs, EachRowCarriesALongEmbeddedNoteWhole) {
  using fixtures::WaveKind;
  const std::string wave = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 40.0, .rate = 16000});
  const std::string samples = wave.substr(wave.find("data") + 8);
  const std::string jpeg = fixtures::embedWave(fixtures::makeJpeg({.width = 64, .height = 48}), wave);
  auto extracted = [](const std::string& photo, const ScratchDir& dir) {
    std::FILE* out = std::fopen(dir.file("note.wav").c_str(), "wb");
    Convert2Mov driver;
    const SInt32 status = driver.extractRecording(photo, out);
    std::fclose(out);
    return status == 0 ? testsupport::readFile(dir.file("note.wav")) : driver.lastReport().problem;
  };
  ScratchDir dir;
  const std::string photo = dir.file("p.jpg");
  testsupport::writeFile(photo, jpeg);
  EXPECT_TRUE(extracted(photo, dir) == wave);
  for (const outputs::Output& row : outputs::Outputs()) {
    for (SInt32 resize : {0, 1}) {
      SCOPED_TRACE(std::string(row.name) + (resize ? " --resize" : " --no-resize"));
      Convert2Mov driver;
      driver.setOutput(row);
      const std::string file = Convert2Mov::moviePathFor(photo, row);
      ASSERT_EQ(driver.createMovie(file, photo, resize), 0) << driver.lastReport().problem;
      EXPECT_NEAR(driver.lastReport().soundSeconds, 40.0, 0.01);
      const std::string written = testsupport::readFile(file);
      if (std::string(row.name) == "mov") {
        EXPECT_NE(written.find(samples), std::string::npos) << "the sound, byte for byte";
        if (!resize) EXPECT_NE(written.find(jpeg), std::string::npos) << "the frame is the photograph";
      }
      if (std::string(row.name) == "motion") EXPECT_TRUE(extracted(file, dir) == wave);
      std::remove(file.c_str());
    }
  }
  EXPECT_TRUE(testsupport::readFile(photo) == jpeg);
}

// The words between key and the next end in text, bars aside.
std::vector<std::string> wordsAfter(const std::string& text, const std::string& key, char end) {
  const std::size_t at = text.find(key);
  if (at == std::string::npos) return {};
  std::string rest = text.substr(at + key.size());
  std::istringstream split(rest.substr(0, rest.find(end)));
  std::vector<std::string> words;
  for (std::string w; split >> w;)
    if (w != "|") words.push_back(w);
  return words;
}

TEST(Outputs, TheManPageAndCompletionsOfferEveryRow) {
  std::vector<std::string> names;
  for (const outputs::Output& row : outputs::Outputs()) names.push_back(row.name);
  struct Place {
    const char* file;
    const char* key;
    char end;
  };
  const Place places[] = {
      {"still2mov.1.in", ".B still2mov prefs set Movie_Format\n.BR ", '\n'},
      {"completions/still2mov.bash", "Movie_Format) COMPREPLY=($(compgen -W \"", '"'},
      {"completions/_still2mov", "Movie_Format ]]; then compadd ", ';'},
  };
  for (const Place& p : places) {
    const std::string text = testsupport::readFile(testsupport::sourceDir() + "/packaging/" + p.file);
    EXPECT_EQ(wordsAfter(text, p.key, p.end), names) << p.file;
  }
}

// A 64-bit FNV-1a digest: enough to pin bytes, not to guard them.
std::uint64_t digest(const std::string& bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

void zero(std::string* bytes, std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to && i < bytes->size(); ++i) (*bytes)[i] = '\0';
}

// The movie with what differs from run to run zeroed: the headers' creation and modification
// times (version 0: the 8 bytes after version and flags), the made-from record (the photograph's
// file stamps) and the mark (the program's version).
std::string masked(std::string bytes) {
  using moviechecks::childAtoms;
  for (const moviechecks::AtomRef& top : childAtoms(bytes, 0, bytes.size())) {
    if (top.type != "moov") continue;
    for (const moviechecks::AtomRef& a : childAtoms(bytes, top.bodyBegin(), top.end())) {
      if (a.type == "mvhd") zero(&bytes, a.bodyBegin() + 4, a.bodyBegin() + 12);
      if (a.type == "udta")
        for (const moviechecks::AtomRef& item : childAtoms(bytes, a.bodyBegin(), a.end()))
          if (item.type == "s2mf" || item.type == "\xA9swr") zero(&bytes, item.bodyBegin(), item.end());
      if (a.type != "trak") continue;
      for (const moviechecks::AtomRef& t : childAtoms(bytes, a.bodyBegin(), a.end())) {
        if (t.type == "tkhd") zero(&bytes, t.bodyBegin() + 4, t.bodyBegin() + 12);
        if (t.type == "mdia")
          for (const moviechecks::AtomRef& m : childAtoms(bytes, t.bodyBegin(), t.end()))
            if (m.type == "mdhd") zero(&bytes, m.bodyBegin() + 4, m.bodyBegin() + 12);
      }
    }
  }
  return bytes;
}

TEST(Outputs, TheSamplesQuickTimeMovieStaysByteForByteAsItWas) {
  ScratchDir dir;
  const std::string photo = dir.file("voice-note.jpg");
  testsupport::writeFile(photo, testsupport::readFile(samplePhoto()));
  for (const SInt32 resize : {0, 600}) {
    Convert2Mov driver;
    const std::string movie = Convert2Mov::moviePathFor(photo);
    ASSERT_EQ(driver.createMovie(movie, photo, resize), 0) << driver.lastReport().problem;
    const std::string bytes = testsupport::readFile(movie);
    const std::string clean = masked(bytes);
    // The mask touched only what it must: the bytes around it are the movie's.
    EXPECT_EQ(clean.size(), bytes.size());
    EXPECT_NE(clean, bytes);
    // Digests of the movies the release before the tables wrote, masked the same way, but for
    // two changes since: the made-from record grew by what the recording's lookup saw and by the
    // photograph's look and contents (the atoms' sizes and the chunk offsets follow it), and the
    // sample's IMA ADPCM note lasts its fact chunk's 27,596 frames, not the 27,775 its 55 blocks
    // decode to (the durations, the sample counts and mdat's size).
    const std::uint64_t expected = resize == 0 ? 0x745a7d70cd40a4d4ull : 0x807031e2440e48e2ull;
    EXPECT_EQ(digest(clean), expected) << "resize " << resize << std::hex << ": 0x" << digest(clean);
    std::remove(movie.c_str());
  }
}

}  // namespace
