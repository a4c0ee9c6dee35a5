// SPDX-License-Identifier: GPL-2.0-or-later
// Voice memos kept as a WAVE file beside the photograph: found by the name the photograph's EXIF
// gives or by its own name, whatever the letter case; made into the movie exactly as an embedded
// recording is; refused with a clear line when they are no whole WAVE file; never changed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Fifo.h"
#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using fixtures::WaveKind;
using fixtures::infoLine;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

// A photograph without a voice annotation, naming its recording in RelatedSoundFile when given
// (the tag holds 12 characters and a terminator).
std::string photograph(const std::string& related = "") {
  const std::string jpeg = fixtures::makeJpeg({.width = 96, .height = 64});
  return related.empty() ? jpeg : fixtures::withRelatedSoundFile(jpeg, related);
}

std::string wave(double seconds) { return fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = seconds}); }

RunResult convert(const ScratchDir& dir, const std::string& photo) {
  mkdir(dir.file("tmp").c_str(), 0700);
  return fixtures::runStill2mov({"--no-resize", dir.file(photo)}, {{"TMPDIR", dir.file("tmp")}});
}

double soundSeconds(const std::string& movie) {
  std::vector<moviechecks::Stream> streams = moviechecks::probeStreams(movie);
  return streams.empty() ? -1 : streams[0].duration;
}

// Nothing but the user's files in the folder: no working recording, no movie made on the side.
std::vector<std::string> leftIn(const ScratchDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
    const std::string rel = e.path().string().substr(dir.path().size() + 1);
    if (!e.is_directory()) names.push_back(rel);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(SidecarRecording, BesideThePhotographUnderItsOwnNameInAnyLetterCase) {
  REQUIRE_TOOL("ffmpeg");
  REQUIRE_TOOL("ffprobe");
  const struct {
    const char *photo, *recording;
  } pairs[] = {{"IMG_0001.JPG", "IMG_0001.WAV"}, {"dsc_0002.jpg", "dsc_0002.wav"}, {"Pic 3.jpeg", "Pic 3.Wav"}};
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.recording);
    ScratchDir dir;
    const std::string photoBytes = photograph(), waveBytes = wave(0.8);
    writeFile(dir.file(p.photo), photoBytes);
    writeFile(dir.file(p.recording), waveBytes);
    RunResult r = convert(dir, p.photo);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string movie = dir.file(std::string(p.photo).substr(0, std::string(p.photo).rfind('.')) + ".mov");
    EXPECT_EQ(r.out, dir.file(p.photo) + " -> " + movie + " (0.8 s of sound from " + dir.file(p.recording) + ")\n");
    EXPECT_EQ(moviechecks::completeMovieProblem(readFile(movie)), "");
    EXPECT_TRUE(moviechecks::decodePcm(movie) == moviechecks::decodePcm(dir.file(p.recording)));
    EXPECT_TRUE(moviechecks::copyFrame(movie) == photoBytes);
    // Read, never changed or removed; nothing else left behind.
    EXPECT_TRUE(readFile(dir.file(p.recording)) == waveBytes);
    EXPECT_TRUE(readFile(dir.file(p.photo)) == photoBytes);
    std::vector<std::string> expected = {p.photo, p.recording, movie.substr(dir.path().size() + 1)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(leftIn(dir), expected);

    RunResult info = fixtures::runStill2mov({"--info", dir.file(p.photo)});
    EXPECT_NE(info.out.find(infoLine("SoundSource", "sidecar") + infoLine("SoundFile", dir.file(p.recording))), std::string::npos)
        << info.out;
  }
}

TEST(SidecarRecording, RelatedSoundFileComesFirstAndStaysInTheFolder) {
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  // The tag's name wins over the photograph's own, whatever the letter case on disk.
  writeFile(dir.file("P1.JPG"), photograph("SND_0001.WAV"));
  writeFile(dir.file("snd_0001.wav"), wave(1.2));
  writeFile(dir.file("P1.WAV"), wave(0.4));
  RunResult r = convert(dir, "P1.JPG");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("from " + dir.file("snd_0001.wav") + ")"), std::string::npos) << r.out;
  EXPECT_NEAR(soundSeconds(dir.file("P1.mov")), 1.2, 0.01);

  // A tag naming nothing there: the photograph's own name serves.
  writeFile(dir.file("P2.JPG"), photograph("SND_0002.WAV"));
  writeFile(dir.file("P2.wav"), wave(0.4));
  r = convert(dir, "P2.JPG");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NEAR(soundSeconds(dir.file("P2.mov")), 0.4, 0.01);

  // A tag that leads out of the folder leads nowhere; blanks (a camera that recorded no memo)
  // name nothing either.
  ScratchDir outer;
  std::filesystem::create_directory(outer.file("photos"));
  writeFile(outer.file("up.wav"), wave(0.4));
  writeFile(outer.file("photos/P3.JPG"), photograph("../up.wav"));
  writeFile(outer.file("photos/P4.JPG"), photograph("            "));
  for (const char* photo : {"photos/P3.JPG", "photos/P4.JPG"}) {
    r = convert(outer, photo);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, outer.file(photo) + ": no voice annotation\n");
  }
  EXPECT_EQ(leftIn(outer), (std::vector<std::string>{"photos/P3.JPG", "photos/P4.JPG", "up.wav"}));
}

TEST(SidecarRecording, AnEmbeddedRecordingComesBeforeOneBesideIt) {
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  writeFile(dir.file("both.jpg"), fixtures::embedWave(photograph(), wave(0.5)));
  writeFile(dir.file("both.wav"), wave(1.5));
  RunResult r = convert(dir, "both.jpg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir.file("both.jpg") + " -> " + dir.file("both.mov") + " (0.5 s of sound)\n");
  EXPECT_NEAR(soundSeconds(dir.file("both.mov")), 0.5, 0.01);
  RunResult info = fixtures::runStill2mov({"--info", dir.file("both.jpg")});
  EXPECT_NE(info.out.find(infoLine("SoundSource", "embedded")), std::string::npos) << info.out;
  EXPECT_EQ(info.out.find("SoundFile"), std::string::npos) << info.out;
}

// Whatever is wrong with the file beside the photograph: one clear line, exit 1, no movie, and
// the file and the photograph as they were.
TEST(SidecarRecording, OneThatIsNoWholeWaveIsRefusedAndLeftAlone) {
  const std::string good = wave(0.5);
  std::string cut = good.substr(0, good.size() / 2);  // its RIFF size still counts the whole
  std::string rifx = good;
  rifx.replace(8, 4, "AVI ");
  const struct {
    const char* name;
    std::string bytes;
    std::string says;
  } cases[] = {
      {"text", "a note to self, not a recording\n", "is not a RIFF WAVE file"},
      {"empty", "", "is not a RIFF WAVE file"},
      {"another RIFF kind", rifx, "is not a RIFF WAVE file"},
      {"cut short", cut, "is cut short: it holds " + std::to_string(cut.size()) + " of the " +
                             std::to_string(good.size()) + " bytes its header declares"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    writeFile(dir.file("IMG.JPG"), photograph());
    writeFile(dir.file("IMG.WAV"), c.bytes);
    RunResult r = convert(dir, "IMG.JPG");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, dir.file("IMG.JPG") + ": its recording " + dir.file("IMG.WAV") + " " + c.says + "\n");
    EXPECT_TRUE(readFile(dir.file("IMG.WAV")) == c.bytes);
    EXPECT_EQ(leftIn(dir), (std::vector<std::string>{"IMG.JPG", "IMG.WAV"}));
  }

  // Not a regular file: a folder, and a FIFO that nobody writes (never waited on).
  ScratchDir dir;
  mkdir(dir.file("tmp").c_str(), 0700);
  writeFile(dir.file("A.JPG"), photograph());
  mkdir(dir.file("A.wav").c_str(), 0700);
  RunResult r = convert(dir, "A.JPG");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, dir.file("A.JPG") + ": its recording " + dir.file("A.wav") + " cannot be read (is a directory)\n");
  writeFile(dir.file("B.JPG"), photograph());
  ASSERT_TRUE(testsupport::makeFifo(dir.file("B.WAV")));
  EXPECT_TRUE(testsupport::returnsWithin(dir.file("B.WAV"), [&] { r = convert(dir, "B.JPG"); }));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, dir.file("B.JPG") + ": its recording " + dir.file("B.WAV") + " cannot be read (not a regular file)\n");

  // A whole recording does not rescue a damaged picture.
  const std::string photo = photograph();
  writeFile(dir.file("C.JPG"), photo.substr(0, photo.size() - 40));
  writeFile(dir.file("C.WAV"), good);
  r = convert(dir, "C.JPG");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the picture is damaged"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("C.mov")));
}

// Only the folder's own regular file is a recording: a link is never followed (not even to a
// good WAVE, not even inside the folder), and --info says of each exactly what a conversion does.
TEST(SidecarRecording, NeverThroughALinkAndInfoAgreesWithConversion) {
  ScratchDir dir, elsewhere;
  const std::string good = wave(0.5);
  std::filesystem::create_directory(elsewhere.file("private"));
  writeFile(elsewhere.file("private/secret.wav"), good);
  chmod(elsewhere.file("private").c_str(), 0700);
  writeFile(dir.file("inside.wav"), good);
  std::filesystem::create_symlink(elsewhere.file("private/secret.wav"), dir.file("OUT.WAV"));
  std::filesystem::create_symlink("/dev/zero", dir.file("ZERO.WAV"));
  std::filesystem::create_symlink(dir.file("LOOP.WAV"), dir.file("LOOP.WAV"));
  std::filesystem::create_symlink("inside.wav", dir.file("NEAR.WAV"));
  std::filesystem::create_directory(dir.file("FOLDER.WAV"));
  ASSERT_TRUE(testsupport::makeFifo(dir.file("PIPE.WAV")));
  const struct {
    const char* stem;
    const char* says;
  } cases[] = {
      {"OUT", "cannot be read (is a symbolic link)"},  {"ZERO", "cannot be read (is a symbolic link)"},
      {"LOOP", "cannot be read (is a symbolic link)"}, {"NEAR", "cannot be read (is a symbolic link)"},
      {"FOLDER", "cannot be read (is a directory)"},   {"PIPE", "cannot be read (not a regular file)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stem);
    const std::string photo = std::string(c.stem) + ".JPG", recording = dir.file(std::string(c.stem) + ".WAV");
    writeFile(dir.file(photo), photograph());
    RunResult r;
    EXPECT_TRUE(testsupport::returnsWithin(dir.file("PIPE.WAV"), [&] { r = convert(dir, photo); }));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, dir.file(photo) + ": its recording " + recording + " " + c.says + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file(std::string(c.stem) + ".mov")));
    RunResult info;
    EXPECT_TRUE(testsupport::returnsWithin(dir.file("PIPE.WAV"),
                                           [&] { info = fixtures::runStill2mov({"--info", dir.file(photo)}); }));
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out.find("SoundSource"), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("SoundFile"), std::string::npos) << info.out;
  }
}

TEST(SidecarRecording, ThePhotographsStemMatchesInAnyLetterCase) {
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  const std::string recording = wave(0.6);
  writeFile(dir.file("dscf0001.jpg"), photograph());
  writeFile(dir.file("DSCF0001.WAV"), recording);
  RunResult r = convert(dir, "dscf0001.jpg");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("from " + dir.file("DSCF0001.WAV") + ")"), std::string::npos) << r.out;
  EXPECT_NEAR(soundSeconds(dir.file("dscf0001.mov")), 0.6, 0.01);
  RunResult info = fixtures::runStill2mov({"--info", dir.file("dscf0001.jpg")});
  EXPECT_NE(info.out.find(infoLine("SoundSource", "sidecar") + infoLine("SoundFile", dir.file("DSCF0001.WAV"))),
            std::string::npos)
      << info.out;
}

// RelatedSoundFile naming something that is no recording gives way to the photograph's own
// name; with nothing to give way to, the named file's problem is the answer.
TEST(SidecarRecording, ARelatedFileThatIsNoWaveGivesWayToThePhotographsOwnName) {
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  writeFile(dir.file("P5.JPG"), photograph("NOTE.TXT"));
  writeFile(dir.file("note.txt"), "not a recording\n");
  writeFile(dir.file("p5.wav"), wave(0.7));
  RunResult r = convert(dir, "P5.JPG");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("from " + dir.file("p5.wav") + ")"), std::string::npos) << r.out;
  EXPECT_NEAR(soundSeconds(dir.file("P5.mov")), 0.7, 0.01);
  RunResult info = fixtures::runStill2mov({"--info", dir.file("P5.JPG")});
  EXPECT_NE(info.out.find(infoLine("SoundSource", "sidecar") + infoLine("SoundFile", dir.file("p5.wav"))),
            std::string::npos)
      << info.out;

  writeFile(dir.file("P6.JPG"), photograph("NOTE.TXT"));
  r = convert(dir, "P6.JPG");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, dir.file("P6.JPG") + ": its recording " + dir.file("note.txt") + " is not a RIFF WAVE file\n");
  info = fixtures::runStill2mov({"--info", dir.file("P6.JPG")});
  EXPECT_EQ(info.out.find("SoundSource"), std::string::npos) << info.out;
}

// The folder may be reached through a link, ".." included: the recording is the one in the
// folder the photograph is really in, as the system resolves the path.
TEST(SidecarRecording, AFolderReachedThroughALinkHoldsTheRecording) {
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  std::filesystem::create_directories(dir.file("real/sub"));
  std::filesystem::create_directory_symlink(dir.file("real/sub"), dir.file("via"));
  writeFile(dir.file("real/x.jpg"), photograph());
  writeFile(dir.file("real/x.wav"), wave(0.3));
  for (const char* photo : {"via/../x.jpg", "real/./x.jpg"}) {
    SCOPED_TRACE(photo);
    RunResult r = convert(dir, photo);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(soundSeconds(dir.file("real/x.mov")), 0.3, 0.01);
    std::filesystem::remove(dir.file("real/x.mov"));
  }
}
