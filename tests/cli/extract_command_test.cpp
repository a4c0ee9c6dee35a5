// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov extract through the built program: the recording comes out byte for byte as it was
// embedded (and as exiftool reads it), under the name the user wants, never over a file of
// theirs without -y, and every refusal is a line in words that leaves nothing behind.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using fixtures::WaveKind;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

std::string exiftoolRecording(const std::string& photo) {
  std::string out;
  EXPECT_EQ(testsupport::run("exiftool -b -AudioStream " + testsupport::shellQuote(photo), &out), 0);
  return out;
}

mode_t permissionsOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

TEST(ExtractCommand, WritesTheRecordingAsTheCameraStoredIt) {
  ASSERT_TRUE(testsupport::haveTool("exiftool")) << "exiftool is needed to judge the recording";
  struct Layout {
    const char* name;
    std::uint32_t pieceBytes;
    bool reversed;         // the later pieces stored last first
    bool exiftoolReadsIt;  // exiftool joins pieces in file order only
  };
  const Layout layouts[] = {
      {"one piece", flashpix::kMaxPieceBytes, false, true},
      {"many pieces", 700, false, true},
      {"later pieces reversed", 1200, true, false},
  };
  const std::string photo = fixtures::makeJpeg({.width = 80, .height = 60});
  for (WaveKind kind : {WaveKind::imaAdpcm, WaveKind::pcm16Stereo}) {
    const std::string wave = fixtures::makeWave(kind, {.seconds = 1.0});
    for (const Layout& layout : layouts) {
      SCOPED_TRACE(std::string(fixtures::waveKindName(kind)) + ", " + layout.name);
      ScratchDir dir;
      const std::string path = dir.file("voice.jpg");
      std::vector<std::size_t> order;
      if (layout.reversed) {
        order.push_back(0);
        for (std::size_t k = flashpix::pieceCount(wave.size(), layout.pieceBytes); k-- > 1;) order.push_back(k);
      }
      writeFile(path, fixtures::embedWave(photo, wave, fixtures::pieces(layout.pieceBytes, order)));
      RunResult r = fixtures::runStill2mov({"extract", path});
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, path + " -> " + dir.file("voice.wav") + " (" + std::to_string(wave.size()) + " bytes)\n");
      EXPECT_TRUE(readFile(dir.file("voice.wav")) == wave);
      if (layout.exiftoolReadsIt) {
        EXPECT_TRUE(exiftoolRecording(path) == wave);
      }
      EXPECT_EQ(dir.list(), (std::vector<std::string>{"voice.jpg", "voice.wav"}));
    }
  }
  // The sample photograph, as the camera import would find it.
  ScratchDir dir;
  const std::string sample = testsupport::sourceDir() + "/samples/voice-note.jpg";
  RunResult r = fixtures::runStill2mov({"extract", sample, dir.file("note.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string recording = readFile(dir.file("note.wav"));
  EXPECT_EQ(recording.substr(0, 4), "RIFF");
  EXPECT_TRUE(recording == exiftoolRecording(sample));
}

TEST(ExtractCommand, NeverReplacesAFileOfTheUsersWithoutYes) {
  ScratchDir dir;
  const std::string wave = fixtures::makeWave(WaveKind::pcm8, {.seconds = 0.5});
  const std::string photo = dir.file("p.jpg");
  writeFile(photo, fixtures::embedWave(fixtures::makeJpeg(), wave));
  writeFile(dir.file("p.wav"), "the user's own recording");
  ASSERT_EQ(chmod(dir.file("p.wav").c_str(), 0640), 0);
  ASSERT_EQ(symlink(dir.file("elsewhere.wav").c_str(), dir.file("dangling.wav").c_str()), 0);

  for (const char* out : {"p.wav", "dangling.wav"}) {
    SCOPED_TRACE(out);
    RunResult r = fixtures::runStill2mov({"extract", photo, dir.file(out)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, dir.file(out) + ": already exists (-y replaces it)\n");
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_EQ(readFile(dir.file("p.wav")), "the user's own recording");
  EXPECT_FALSE(std::filesystem::exists(dir.file("elsewhere.wav")));

  // -y replaces it whole, keeping its permissions.
  RunResult r = fixtures::runStill2mov({"extract", "-y", photo});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(readFile(dir.file("p.wav")) == wave);
  EXPECT_EQ(permissionsOf(dir.file("p.wav")), 0640u);
  // ... and the photograph itself never, whatever its name.
  writeFile(dir.file("odd.wav"), readFile(photo));
  r = fixtures::runStill2mov({"extract", "-y", dir.file("odd.wav")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, dir.file("odd.wav") + ": is the photograph itself; choose another file\n");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"dangling.wav", "odd.wav", "p.jpg", "p.wav"}));
}

TEST(ExtractCommand, RefusalsAreALineInWordsAndLeaveNothing) {
  ScratchDir dir;
  const std::string wave = testsupport::imaAdpcmWave(8000, 40);
  const std::string stream = testsupport::audioStreamHeader() + wave;
  const std::string jpeg = fixtures::makeJpeg();
  // A camera photograph whose last piece was lost: the recording is cut short.
  const std::string cut = testsupport::buildJpeg(
      32, 24, 3, {{0xE2, testsupport::fpxrSegment(1, 0, stream.substr(0, 3000))}});
  struct Case {
    std::string name;
    std::string bytes;  // "<dir>" makes a folder, "<none>" nothing
    std::string line;
  };
  const Case cases[] = {
      {"plain.jpg", jpeg, "no voice annotation"},
      {"cut.jpg", cut, "the voice annotation is cut short: the photograph carries 2972 of the 10300 bytes its "
                       "recording declares"},
      {"notes.jpg", "these are not pixels", "cannot be read (not a JPEG file)"},
      {"folder.jpg", "<dir>", "cannot be read (is a directory)"},
      {"missing.jpg", "<none>", "cannot be read (no such file)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    if (c.bytes == "<dir>") std::filesystem::create_directory(path);
    else if (c.bytes != "<none>") writeFile(path, c.bytes);
    const auto before = dir.list();
    RunResult r = fixtures::runStill2mov({"extract", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, path + ": " + c.line + "\n");
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(dir.list(), before);
  }

  const std::string good = dir.file("good.jpg");
  writeFile(good, fixtures::embedWave(jpeg, wave));
  RunResult r = fixtures::runStill2mov({"extract", good, dir.file("no-such-folder/x.wav")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, dir.file("no-such-folder/x.wav") + ": cannot be written (its folder does not exist)\n");
  r = fixtures::runStill2mov({"extract", good, dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, dir.path() + ": is a directory\n");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"extract"}, {"extract", "a", "b", "c"}, {"extract", "--loud", good}}) {
    r = fixtures::runStill2mov(args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_NE(r.err.find("Usage: still2mov extract"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("good.wav")));
}

// A recording the camera wrote beside the photograph comes out byte for byte, saying which file
// it came from: the one RelatedSoundFile names, else the photograph's own name in any letter
// case, and never through a link.
TEST(ExtractCommand, CopiesTheRecordingBesideThePhotograph) {
  auto photograph = [](const std::string& related) {
    const std::string jpeg = fixtures::makeJpeg({.width = 40, .height = 30});
    return related.empty() ? jpeg : fixtures::withRelatedSoundFile(jpeg, related);
  };
  // Odd bytes after the data: a copy, not a rewrite.
  const std::string recording = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.3}) + "trailing";
  ScratchDir dir;
  writeFile(dir.file("dscf0001.jpg"), photograph(""));
  writeFile(dir.file("DSCF0001.WAV"), recording);
  RunResult r = fixtures::runStill2mov({"extract", dir.file("dscf0001.jpg"), dir.file("out.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir.file("dscf0001.jpg") + " -> " + dir.file("out.wav") + " (" + std::to_string(recording.size()) +
                       " bytes from " + dir.file("DSCF0001.WAV") + ")\n");
  EXPECT_TRUE(readFile(dir.file("out.wav")) == recording);

  // -y does not put a copy of the recording in its own place.
  r = fixtures::runStill2mov({"extract", "-y", dir.file("dscf0001.jpg"), dir.file("DSCF0001.WAV")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("its recording is " + dir.file("DSCF0001.WAV") + " already"), std::string::npos) << r.err;
  EXPECT_TRUE(readFile(dir.file("DSCF0001.WAV")) == recording);

  // The tag names a file that is not there, or one that is no WAVE: the photograph's own name
  // serves, and the line says so.
  writeFile(dir.file("a.jpg"), photograph("SND_A.WAV"));
  writeFile(dir.file("a.wav"), recording);
  writeFile(dir.file("b.jpg"), photograph("NOTE_B.TXT"));
  writeFile(dir.file("note_b.txt"), "a note\n");
  writeFile(dir.file("B.WAV"), recording);
  r = fixtures::runStill2mov({"extract", dir.file("a.jpg"), dir.file("a-out.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("bytes from " + dir.file("a.wav") + "; " + dir.file("SND_A.WAV") + " is not there)"),
            std::string::npos)
      << r.out;
  r = fixtures::runStill2mov({"extract", dir.file("b.jpg"), dir.file("b-out.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("bytes from " + dir.file("B.WAV") + "; " + dir.file("note_b.txt") + " is not a RIFF WAVE file)"),
            std::string::npos)
      << r.out;
  EXPECT_TRUE(readFile(dir.file("b-out.wav")) == recording);

  // A link beside the photograph is refused, and nothing is written.
  ScratchDir other;
  writeFile(other.file("secret.wav"), recording);
  writeFile(dir.file("c.jpg"), photograph(""));
  std::filesystem::create_symlink(other.file("secret.wav"), dir.file("c.wav"));
  r = fixtures::runStill2mov({"extract", dir.file("c.jpg"), dir.file("c-out.wav")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, dir.file("c.jpg") + ": its recording " + dir.file("c.wav") + " cannot be read (is a symbolic link)\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("c-out.wav")));
}
