// SPDX-License-Identifier: GPL-2.0-or-later
// Movie assembly and the driver's assembly step, in process: what is written, what is reported,
// which files are left, and that no file of the user's is overwritten or lost on failure.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "Convert2Mov.h"
#include "faults/FaultShim.h"
#include "movie/QuickTimeU.h"
#include "support/DebugLogCapture.h"
#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/Movies.h"

using namespace moviechecks;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

FSSpec specFor(const std::string& path) {
  FSSpec spec;
  EXPECT_EQ(FSpFromPath(path, &spec), noErr) << path;
  return spec;
}

std::string specPath(const std::string& path) {
  FSSpec spec = specFor(path);
  std::string resolved;
  FSpGetPath(&spec, &resolved);
  return resolved;
}

struct Outcome {
  int status;
  std::string messages;
};

Outcome createMovie(const ScratchDir& dir, int resize, const char* wave = "voice.wav") {
  FSSpec movie = specFor(dir.file("photo.mov"));
  FSSpec image = specFor(dir.file("photo.jpg"));
  FSSpec audio = specFor(dir.file(wave));
  testsupport::DebugLogCapture log;
  testing::internal::CaptureStderr();
  int status = QuickTimeU::CreateMovie(movie, image, audio, resize);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // diagnostics are for the debug log only
  return Outcome{status, log.text()};
}

void writeInputs(const ScratchDir& dir, int width = 160, int height = 120) {
  writeFile(dir.file("photo.jpg"), fixtures::makeJpeg({.width = width, .height = height}));
  writeFile(dir.file("voice.wav"), fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 1.0, .rate = 8000}));
}

TEST(MovieAssembly, WritesTheMovieAndLeavesNoWorkingFiles) {
  for (int resize : {0, 600}) {
    ScratchDir dir;
    writeInputs(dir);
    // Files of the user's that happen to carry the old fixed working names.
    writeFile(dir.file("tmp.mov"), "the user's tmp.mov");
    writeFile(dir.file("TempFile.jpg"), "the user's TempFile.jpg");
    const std::string photo = readFile(dir.file("photo.jpg"));
    Outcome o = createMovie(dir, resize);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.messages, "");
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"TempFile.jpg", "photo.jpg", "photo.mov", "tmp.mov", "voice.wav"}));
    EXPECT_EQ(readFile(dir.file("tmp.mov")), "the user's tmp.mov");
    EXPECT_EQ(readFile(dir.file("TempFile.jpg")), "the user's TempFile.jpg");
    EXPECT_EQ(readFile(dir.file("photo.jpg")), photo);

    std::string file = readFile(dir.file("photo.mov"));
    std::string tkhd = atomBody(file, "moov/trak#2/tkhd");
    EXPECT_EQ(be32(tkhd, 76) >> 16, resize ? 600u : 160u);
    EXPECT_EQ(be32(tkhd, 80) >> 16, resize ? 450u : 120u);
    // The frame lasts exactly as long as the sound: 8000 frames at 8 kHz are 600 units.
    EXPECT_EQ(be32(atomBody(file, "moov/trak#1/tkhd"), 20), be32(tkhd, 20));
    if (resize == 0) {
      std::string stco = atomBody(file, "moov/trak#2/mdia/minf/stbl/stco");
      EXPECT_EQ(file.substr(be32(stco, 8), photo.size()), photo);
    }
  }
}

TEST(MovieAssembly, WithoutSoundNothingIsWritten) {
  ScratchDir dir;
  writeInputs(dir);
  writeFile(dir.file("empty.wav"), "");
  writeFile(dir.file("photo.mov"), "");  // as the driver leaves it
  for (const char* wave : {"missing.wav", "empty.wav"}) {
    Outcome o = createMovie(dir, 600, wave);
    EXPECT_EQ(o.status, -1) << wave;
    EXPECT_EQ(o.messages, "Image Convert: CreateSoundTrack failed\n") << wave;
    EXPECT_EQ(readFile(dir.file("photo.mov")), "") << wave;
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"empty.wav", "photo.jpg", "photo.mov", "voice.wav"})) << wave;
  }
}

TEST(MovieAssembly, WithoutItsPictureNoMovieIsWritten) {
  ScratchDir dir;
  writeInputs(dir);
  ASSERT_EQ(createMovie(dir, 0).status, 0);
  const std::string earlier = readFile(dir.file("photo.mov"));
  writeFile(dir.file("photo.jpg"), "not a JPEG at all");
  for (int resize : {0, 600}) {
    Outcome o = createMovie(dir, resize);
    EXPECT_EQ(o.status, noVideoTrackInMovieErr) << resize;
    EXPECT_EQ(o.messages, "Image Convert: CreateVideoTrack failed\n");
    EXPECT_TRUE(readFile(dir.file("photo.mov")) == earlier);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"photo.jpg", "photo.mov", "voice.wav"}));
  }
}

// Each write, flush, link or rename on the way to the movie fails in turn: the earlier movie
// stays, no working file is left, and the failure reported is the disk's.
TEST(MovieAssembly, AFailedCallKeepsTheEarlierMovie) {
  ScratchDir dir;
  writeInputs(dir);
  ASSERT_EQ(createMovie(dir, 0).status, 0);
  const std::string earlier = readFile(dir.file("photo.mov"));
  // The scaled picture is made in memory: resizing adds no write or flush to the movie's own.
  for (const char* kind : {"write", "fsync"}) {
    faultshim_arm(kind, 0, ENOSPC);
    ASSERT_EQ(createMovie(dir, 0).status, 0);
    const int natural = faultshim_calls(kind);
    faultshim_arm(kind, 0, ENOSPC);
    ASSERT_EQ(createMovie(dir, 600).status, 0);
    EXPECT_EQ(faultshim_calls(kind), natural) << kind;
  }
  for (const char* kind : {"pwrite", "fsync", "linkat", "rename"}) {
    faultshim_arm(kind, 0, ENOSPC);
    ASSERT_EQ(createMovie(dir, 600).status, 0);
    const int calls = faultshim_calls(kind);
    EXPECT_GT(calls, 0) << kind;
    for (int n = 1; n <= calls; ++n) {
      SCOPED_TRACE(std::string(kind) + " #" + std::to_string(n));
      writeFile(dir.file("photo.mov"), earlier);
      faultshim_arm(kind, n, ENOSPC);
      Outcome o = createMovie(dir, 600);
      faultshim_disarm();
      EXPECT_EQ(o.status, dskFulErr);
      EXPECT_NE(o.messages, "");
      EXPECT_TRUE(readFile(dir.file("photo.mov")) == earlier);
      EXPECT_EQ(dir.list(), (std::vector<std::string>{"photo.jpg", "photo.mov", "voice.wav"}));
    }
  }
  faultshim_disarm();
  // Converting again replaces the movie whole: nothing of a longer earlier file remains.
  writeFile(dir.file("photo.mov"), std::string(1 << 20, 'x'));
  ASSERT_EQ(createMovie(dir, 600).status, 0);
  EXPECT_EQ(completeMovieProblem(readFile(dir.file("photo.mov"))), "");
}

TEST(MovieAssembly, TheSampleNeverReachesPastTheImageData) {
  Movie movie = NewMovie(0);
  Track track = NewMovieTrack(movie, IntToFixed(16), IntToFixed(16), kNoVolume);
  Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
  BeginMediaEdits(media);
  auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  (**desc).cType = kJPEGCodecType;
  Ptr data = NewPtr(100);
  std::memset(data, 0, 100);

  (**desc).dataSize = 0;
  EXPECT_FALSE(QuickTimeU::AddImageToMedia(media, desc, data, 600));
  EXPECT_FALSE(QuickTimeU::AddImageToMedia(media, desc, nullptr, 600));
  EXPECT_FALSE(QuickTimeU::AddImageToMedia(media, nullptr, data, 600));
  (**desc).dataSize = 1 << 20;  // claims far more than was read
  EXPECT_TRUE(QuickTimeU::AddImageToMedia(media, desc, data, 600));
  (**desc).dataSize = 40;
  EXPECT_TRUE(QuickTimeU::AddImageToMedia(media, desc, data, 600));
  EndMediaEdits(media);
  EXPECT_EQ(GetMediaSampleCount(media), 2);
  EXPECT_EQ(GetMediaDuration(media), 1200);

  DisposePtr(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  DisposeMovie(movie);
}

TEST(DriverAssembly, PlacesTheMovieBesideThePhotographAndReportsTheSound) {
  ScratchDir dir, elsewhere;
  writeInputs(dir);
  Convert2Mov driver;
  SInt32 status = driver.assembleMovieTracksForMovie(elsewhere.file("named.mov"), dir.file("photo.jpg"),
                                                     dir.file("voice.wav"), 0);
  EXPECT_EQ(status, 0);
  const ConversionReport& r = driver.lastReport();
  EXPECT_TRUE(r.assembled);
  EXPECT_EQ(r.moviePath, specPath(dir.file("named.mov")));
  // 16 blocks of 505 samples, of which the fact chunk's 8000 are sound.
  EXPECT_NEAR(r.soundSeconds, 8000.0 / 8000, 1.0 / 600);
  EXPECT_TRUE(elsewhere.list().empty());
  FInfo info{};
  FSSpec movie = specFor(dir.file("named.mov"));
  ASSERT_EQ(FSpGetFInfo(&movie, &info), noErr);
  EXPECT_EQ(info.fdCreator, FOUR_CHAR_CODE("TVOD"));
  // The movie is the user's, with the usual permissions, not those of a private working file.
  struct stat st {};
  ASSERT_EQ(stat(dir.file("named.mov").c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(DriverAssembly, AWaveFileThatDoesNotResolveFailsCleanly) {
  ScratchDir dir;
  writeInputs(dir);
  Convert2Mov driver;
  testsupport::DebugLogCapture log;
  testing::internal::CaptureStderr();
  SInt32 status = driver.assembleMovieTracksForMovie(dir.file("photo.mov"), dir.file("photo.jpg"),
                                                     dir.file("gone/nowhere.wav"), 600);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  std::string messages = log.text();
  EXPECT_EQ(status, -1);
  EXPECT_EQ(messages, "Image Convert: CreateSoundTrack failed\n");
  EXPECT_EQ(driver.lastReport().soundSeconds, 0);
  EXPECT_EQ(driver.lastReport().problem, "no movie written: the recording gives no sound");
  // No movie file, not even an empty one, comes of a failed assembly.
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"photo.jpg", "voice.wav"}));

  // An earlier movie is never removed, even when the assembly fails.
  ASSERT_EQ(driver.assembleMovieTracksForMovie(dir.file("photo.mov"), dir.file("photo.jpg"), dir.file("voice.wav"), 0),
            0);
  const std::string earlier = readFile(dir.file("photo.mov"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(driver.assembleMovieTracksForMovie(dir.file("photo.mov"), dir.file("photo.jpg"), dir.file("none.wav"), 0),
            -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(driver.lastReport().problem,
            "no movie written: the recording gives no sound; " + specPath(dir.file("photo.mov")) + " is as it was");
  EXPECT_TRUE(readFile(dir.file("photo.mov")) == earlier);
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"photo.jpg", "photo.mov", "voice.wav"}));
}

TEST(DriverAssembly, NeverReplacesItsOwnInputs) {
  ScratchDir dir;
  writeInputs(dir);
  const std::string photo = readFile(dir.file("photo.jpg"));
  writeFile(dir.file("shot.mov"), photo);  // a photograph that happens to carry the movie's name
  Convert2Mov driver;
  EXPECT_NE(driver.assembleMovieTracksForMovie(dir.file("shot.mov"), dir.file("shot.mov"), dir.file("voice.wav"), 0), 0);
  EXPECT_EQ(readFile(dir.file("shot.mov")), photo);
  const std::string wave = readFile(dir.file("voice.wav"));
  EXPECT_NE(driver.assembleMovieTracksForMovie(dir.file("voice.wav"), dir.file("photo.jpg"), dir.file("voice.wav"), 0),
            0);
  EXPECT_EQ(readFile(dir.file("voice.wav")), wave);
}

}  // namespace
