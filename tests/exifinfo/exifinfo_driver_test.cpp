// SPDX-License-Identifier: GPL-2.0-or-later
// The driver's extraction: the WAVE file written from the photograph's FlashPix pieces is the
// recording byte for byte, is created privately (in the user's own folder, never through a
// planted link) and removed when the conversion ends; a damaged recording or picture, a
// photograph that is no regular file and a failed write leave nothing behind and are reported.
// Also the movie's name for a photograph, and the one outcome every caller reports.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "support/Fifo.h"
#include "support/JpegBuilder.h"
#include "support/TestPaths.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/TemporaryItems.h"

namespace {

using namespace testsupport;

// Points the temporary-items folder at a fresh folder of its own for each test.
class Convert2MovExtraction : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    hadTmp_ = old != nullptr;
    if (old) oldTmp_ = old;
    tmp_ = scratch_.file("chewable");
    ASSERT_EQ(mkdir(tmp_.c_str(), 0700), 0);
    setenv("TMPDIR", tmp_.c_str(), 1);
    // Without a session's runtime folder, unless a test gives one.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    hadRuntime_ = runtime != nullptr;
    if (runtime) oldRuntime_ = runtime;
    unsetenv("XDG_RUNTIME_DIR");
  }
  void TearDown() override {
    if (hadTmp_) setenv("TMPDIR", oldTmp_.c_str(), 1);
    else unsetenv("TMPDIR");
    if (hadRuntime_) setenv("XDG_RUNTIME_DIR", oldRuntime_.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
  }
  std::string photo(const std::vector<JpegSegment>& segments) {
    const std::string path = scratch_.file("photo.jpg");
    writeFile(path, buildJpeg(40, 30, 3, segments));
    return path;
  }
  // The user's private folder inside the temporary folder, where the recordings go (made now
  // when it is not there yet).
  std::string privateFolder() const {
    std::string folder, reason;
    EXPECT_EQ(FSFindTemporaryItemsFolder(&folder, &reason), noErr) << reason;
    return folder;
  }
  std::vector<std::string> tmpNames() const { return namesIn(tmp_); }
  std::vector<std::string> privateNames() const { return namesIn(privateFolder()); }
  static std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::string out;
    run("ls -A " + shellQuote(folder) + " 2>/dev/null", &out);
    size_t start = 0;
    for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) names.push_back(out.substr(start, nl - start));
    return names;
  }

  ScratchDir scratch_;
  std::string tmp_;
  std::string oldTmp_;
  bool hadRuntime_ = false;
  std::string oldRuntime_;
  bool hadTmp_ = false;
};

struct Layout {
  const char* name;
  std::vector<double> cuts;  // fractions of the stream
  std::vector<size_t> order;
};

const Layout kLayouts[] = {
    {"one piece", {}, {0}},
    {"two pieces", {0.5}, {0, 1}},
    {"many pieces", {0.1, 0.25, 0.4, 0.55, 0.7, 0.85}, {0, 1, 2, 3, 4, 5, 6}},
    {"third before second", {0.3, 0.6}, {0, 2, 1}},
    {"all reversed", {0.1, 0.25, 0.4, 0.55, 0.7, 0.85}, {6, 5, 4, 3, 2, 1, 0}},
};

TEST_F(Convert2MovExtraction, RecordingRoundTripsInEveryPieceLayout) {
  struct Recording {
    const char* name;
    std::string wave;
    UInt32 seconds;
  };
  const Recording recordings[] = {
      {"IMA ADPCM 8 kHz mono", imaAdpcmWave(8000, 80), 6},  // 80 x 505 samples: 5.05 s
      {"8-bit PCM", pcmWave(1, 8, 8000, 24000), 3},
      {"16-bit PCM stereo", pcmWave(2, 16, 11025, 13000), 2},
  };
  for (const auto& rec : recordings) {
    const UInt32 streamSize = UInt32(28 + rec.wave.size());
    for (const auto& layout : kLayouts) {
      std::vector<UInt32> cuts;
      for (double f : layout.cuts) cuts.push_back(UInt32(f * streamSize));
      const std::string image = photo(fpxrPieces(rec.wave, cuts, layout.order));
      Convert2Mov driver;
      auto wavePath = driver.extractAudioFromExifForFile(image).wavePath;
      ASSERT_TRUE(wavePath.has_value()) << rec.name << ", " << layout.name;
      const auto& report = driver.lastReport();
      EXPECT_EQ(report.wavePath, *wavePath);
      EXPECT_TRUE(report.imageFound);
      EXPECT_TRUE(report.imageReadable);
      EXPECT_EQ(report.audioBlocks, layout.order.size()) << rec.name << ", " << layout.name;
      EXPECT_EQ(report.audioSeconds, rec.seconds) << rec.name;
      ASSERT_TRUE(report.waveWritten) << rec.name << ", " << layout.name;
      EXPECT_EQ(report.wavePath.rfind(privateFolder() + "/", 0), 0u);
      EXPECT_TRUE(readFile(report.wavePath) == rec.wave) << rec.name << ", " << layout.name;
      struct stat st {};
      ASSERT_EQ(lstat(report.wavePath.c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_mode & 0777, 0600u);
      unlink(report.wavePath.c_str());
    }
  }
}

TEST_F(Convert2MovExtraction, LongRecordingAcrossFullSegments) {
  const std::string wave = pcmWave(2, 16, 44100, 70000);  // 280,000 bytes: five segments
  std::vector<UInt32> cuts;
  for (UInt32 at = 60000; at < wave.size() + 28; at += 60000) cuts.push_back(at);
  std::vector<size_t> order{0};
  for (size_t i = cuts.size(); i >= 1; --i) order.push_back(i);
  Convert2Mov driver;
  EXPECT_TRUE(driver.extractAudioFromExifForFile(photo(fpxrPieces(wave, cuts, order))).wavePath.has_value());
  ASSERT_TRUE(driver.lastReport().waveWritten);
  EXPECT_TRUE(readFile(driver.lastReport().wavePath) == wave);
}

TEST_F(Convert2MovExtraction, SoxRecordingRoundTrips) {
  REQUIRE_TOOL("sox");
  const std::string wavPath = scratch_.file("voice.wav");
  ASSERT_EQ(run("sox -n -r 8000 -c 1 -e ima-adpcm " + shellQuote(wavPath) + " synth 2.5 sine 440 2>/dev/null"), 0);
  const std::string wave = readFile(wavPath);
  Convert2Mov driver;
  EXPECT_TRUE(driver.extractAudioFromExifForFile(photo(fpxrPieces(wave, {3000, 1500}, {0, 2, 1}))).wavePath.has_value());
  ASSERT_TRUE(driver.lastReport().waveWritten);
  EXPECT_TRUE(readFile(driver.lastReport().wavePath) == wave);
  EXPECT_EQ(driver.lastReport().audioSeconds, 3u);
}

TEST_F(Convert2MovExtraction, NothingToConvertWritesNothing) {
  Convert2Mov driver;
  const std::string icc = std::string("ICC_PROFILE\0\x01\x01", 14) + std::string(100, 'c');
  EXPECT_EQ(driver.createMovie(scratch_.file("photo.mov"), photo({{0xE2, icc}}), 600), 0);
  EXPECT_TRUE(driver.lastReport().imageReadable);
  EXPECT_FALSE(driver.lastReport().waveWritten);
  EXPECT_EQ(driver.lastReport().audioBlocks, 0u);

  EXPECT_EQ(driver.createMovie(scratch_.file("photo.mov"), scratch_.file("absent.jpg"), 600), 0);
  EXPECT_FALSE(driver.lastReport().imageFound);
  EXPECT_EQ(driver.createMovie(scratch_.file("photo.mov"), "", 600), 0);
  EXPECT_FALSE(driver.extractAudioFromExifForFile(scratch_.file("photo.jpg")).wavePath.has_value());
  EXPECT_TRUE(tmpNames().empty());
  EXPECT_NE(access(scratch_.file("photo.mov").c_str(), F_OK), 0);
}

TEST_F(Convert2MovExtraction, NamesPlantedInTheSharedFolderNeitherBlockNorCatchTheRecording) {
  const std::string victim = scratch_.file("victim");
  writeFile(victim, "precious");
  // Every tick name the driver could use, for a while, taken in the shared folder by links
  // and files of someone else's.
  const UInt32 now = TickCount();
  for (UInt32 i = 0; i < 300; ++i) {
    std::string name = tmp_ + "/" + std::to_string(SInt32(now + i)) + ".wav";
    if (i % 2) ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0);
    else writeFile(name, "someone else's");
  }
  const std::string wave = imaAdpcmWave(8000, 20);
  Convert2Mov driver;
  const std::string image = photo(fpxrPieces(wave, {2000}, {0, 1}));
  auto wavePath = driver.extractAudioFromExifForFile(image).wavePath;
  ASSERT_TRUE(wavePath.has_value()) << driver.lastReport().problem;
  EXPECT_EQ(wavePath->rfind(privateFolder() + "/", 0), 0u) << *wavePath;
  EXPECT_TRUE(readFile(*wavePath) == wave);
  unlink(wavePath->c_str());
  EXPECT_EQ(driver.createMovie(scratch_.file("photo.mov"), image, 0), 0) << driver.lastReport().problem;
  EXPECT_EQ(readFile(victim), "precious");
  EXPECT_EQ(tmpNames().size(), 301u);  // the planted names and the private folder
}

TEST_F(Convert2MovExtraction, InsideThePrivateFolderLinksAreNeverFollowedAndNoFreeNameIsAFailure) {
  const std::string victim = scratch_.file("victim");
  writeFile(victim, "precious");
  // Far more names than the driver tries, from now on.
  const UInt32 now = TickCount();
  for (UInt32 i = 0; i < 1500; ++i) {
    std::string link = privateFolder() + "/" + std::to_string(SInt32(now + i)) + ".wav";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  }
  Convert2Mov driver;
  const SInt32 status = driver.createMovie(scratch_.file("photo.mov"), photo(fpxrPieces(imaAdpcmWave(8000, 4), {}, {0})), 0);
  EXPECT_EQ(status, dupFNErr);
  EXPECT_EQ(driver.lastReport().status, dupFNErr);
  EXPECT_EQ(driver.lastReport().problem,
            "no new file for the recording could be made in " + privateFolder() + " (every name tried is taken)");
  EXPECT_FALSE(driver.lastReport().waveWritten);
  EXPECT_EQ(readFile(victim), "precious");
  EXPECT_EQ(privateNames().size(), 1500u);
  EXPECT_NE(access(scratch_.file("photo.mov").c_str(), F_OK), 0);
}

// The session's runtime folder has a fixed name for ours; a link there is refused all the same.
TEST_F(Convert2MovExtraction, APlantedPrivateFolderIsRefusedInWords) {
  const std::string elsewhere = scratch_.file("elsewhere"), runtime = scratch_.file("runtime");
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  ASSERT_EQ(symlink(elsewhere.c_str(), (runtime + "/still2mov").c_str()), 0);
  Convert2Mov driver;
  const SInt32 status = driver.createMovie(scratch_.file("photo.mov"), photo(fpxrPieces(imaAdpcmWave(8000, 4), {}, {0})), 0);
  EXPECT_NE(status, 0);
  EXPECT_EQ(driver.lastReport().problem,
            "no place for the recording: the temporary folder " + runtime +
                "/still2mov is a symbolic link, not a folder of this user's");
  EXPECT_TRUE(namesIn(elsewhere).empty());
  EXPECT_NE(access(scratch_.file("photo.mov").c_str(), F_OK), 0);
}

TEST_F(Convert2MovExtraction, FailedWriteRemovesThePartialFile) {
  const std::string image = photo(fpxrPieces(pcmWave(1, 8, 8000, 40000), {30000}, {0, 1}));
  // The file system refuses to grow the file past 1,000 bytes.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Convert2Mov driver;
  const SInt32 status = driver.createMovie(scratch_.file("photo.mov"), image, 0);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_NE(status, 0);
  EXPECT_FALSE(driver.lastReport().waveWritten);
  EXPECT_EQ(driver.lastReport().problem, "the recording could not be written to " + privateFolder() + " (File too large)");
  EXPECT_TRUE(privateNames().empty());
  EXPECT_NE(access(scratch_.file("photo.mov").c_str(), F_OK), 0);
}

TEST_F(Convert2MovExtraction, TheRecordingIsRemovedWhenTheConversionEnds) {
  const std::string image = photo(fpxrPieces(imaAdpcmWave(8000, 20), {3000}, {0, 1}));
  struct Case {
    const char* name;
    std::string movie;
    bool written;
  };
  const Case cases[] = {
      {"movie written", scratch_.file("photo.mov"), true},
      {"assembly refuses the movie's name", scratch_.file(std::string(300, 'm') + ".mov"), false},
      {"movie would replace the photograph", image, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Convert2Mov driver;
    const SInt32 status = driver.createMovie(c.movie, image, 0);
    EXPECT_EQ(status == 0, c.written) << status;
    EXPECT_TRUE(driver.lastReport().waveWritten);
    EXPECT_TRUE(driver.lastReport().assembled);
    EXPECT_NE(access(driver.lastReport().wavePath.c_str(), F_OK), 0) << driver.lastReport().wavePath;
    EXPECT_TRUE(privateNames().empty());
  }
}

TEST_F(Convert2MovExtraction, DamagedRecordingsAreRefusedBeforeAnythingIsWritten) {
  const std::string wave = imaAdpcmWave(8000, 40);  // 10,300 bytes
  const std::string stream = audioStreamHeader() + wave;
  auto piece = [&](UInt32 offset, UInt32 from, UInt32 to) {
    return JpegSegment{0xE2, fpxrSegment(1, offset, stream.substr(from, to - from))};
  };
  const UInt32 end = UInt32(stream.size());
  std::string riff = stream;
  riff.replace(28 + 4, 4, le32(0x7FFFFFF0));
  std::string unknownSize = stream;
  unknownSize.replace(28 + 4, 4, le32(0xFFFFFFFF));
  struct Case {
    const char* name;
    std::vector<JpegSegment> pieces;
    std::string problem;  // "" when the recording is whole
    std::string recording;
  };
  const std::vector<Case> cases = {
      {"a piece two gigabytes out", {piece(0, 0, 4000), piece(0x80000000u, 4000, end)},
       "the voice annotation is damaged: one of its pieces claims bytes 2147483620 to 2147489948 of the recording, "
       "but the photograph carries only 10300 bytes of it", ""},
      {"a piece at the last offset there is", {piece(0, 0, 4000), piece(0xFFFFFFF0u, 4000, 4100)},
       "the voice annotation is damaged: one of its pieces claims bytes 4294967252 to 4294967352 of the recording, "
       "but the photograph carries only 4072 bytes of it", ""},
      {"the middle piece missing", {piece(0, 0, 3000), piece(7000, 7000, end)},
       "the voice annotation is incomplete: bytes 2972 to 6972 of its recording are missing", ""},
      {"the last piece missing", {piece(0, 0, 3000), piece(3000, 3000, 7000)},
       "the voice annotation is cut short: the photograph carries 6972 of the 10300 bytes its recording declares", ""},
      {"a header that claims two gigabytes", {JpegSegment{0xE2, fpxrSegment(1, 0, riff)}},
       "the voice annotation is cut short: the photograph carries 10300 of the 2147483640 bytes its recording declares",
       ""},
      // Kept as they were stored: a size never filled in, and a piece that came twice.
      {"a RIFF size left unknown", {JpegSegment{0xE2, fpxrSegment(1, 0, unknownSize)}}, "", unknownSize.substr(28)},
      {"a piece stored twice", {piece(0, 0, 3000), piece(3000, 3000, end), piece(3000, 3000, end)}, "", wave},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = photo(c.pieces);
    const std::string before = readFile(image);
    Convert2Mov driver;
    const SInt32 status = driver.createMovie(scratch_.file("photo.mov"), image, 0);
    if (c.problem.empty()) {
      EXPECT_EQ(status, 0) << driver.lastReport().problem;
      EXPECT_EQ(driver.lastReport().recordingBytes, c.recording.size());
      auto wavePath = driver.extractAudioFromExifForFile(image).wavePath;
      ASSERT_TRUE(wavePath.has_value());
      EXPECT_TRUE(readFile(*wavePath) == c.recording);
      unlink(wavePath->c_str());
      unlink(scratch_.file("photo.mov").c_str());
      continue;
    }
    EXPECT_NE(status, 0);
    EXPECT_EQ(driver.lastReport().problem, c.problem);
    EXPECT_FALSE(driver.lastReport().waveWritten);
    EXPECT_FALSE(driver.lastReport().assembled);
    EXPECT_TRUE(privateNames().empty());
    EXPECT_NE(access(scratch_.file("photo.mov").c_str(), F_OK), 0);
    EXPECT_TRUE(readFile(image) == before);
  }
}

TEST_F(Convert2MovExtraction, ADamagedPictureMakesNoMovie) {
  const std::string whole = buildJpeg(40, 30, 3, fpxrPieces(imaAdpcmWave(8000, 8), {}, {0}));
  const size_t sos = whole.find("\xFF\xDA");
  ASSERT_NE(sos, std::string::npos);
  struct Case {
    const char* name;
    std::string bytes;
    std::string problem;
  };
  const Case cases[] = {
      {"cut inside the image data", whole.substr(0, (sos + whole.size()) / 2),
       "the picture is damaged: its image data is cut short (no end-of-image marker)"},
      {"cut before the end of image", whole.substr(0, whole.size() - 1),
       "the picture is damaged: its image data is cut short (no end-of-image marker)"},
      {"cut inside the scan header", whole.substr(0, sos + 6), "the picture is damaged: it ends before its image data"},
      {"a frame header of width 0", std::string(whole).replace(whole.find("\xFF\xC0") + 7, 2, be16(0)),
       "the picture is damaged: its frame header is missing or unreadable"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = scratch_.file("photo.jpg");
    writeFile(image, c.bytes);
    for (SInt32 resize : {0, 600}) {
      Convert2Mov driver;
      EXPECT_EQ(driver.createMovie(scratch_.file("photo.mov"), image, resize), codecBadDataErr);
      EXPECT_EQ(driver.lastReport().problem, c.problem);
      EXPECT_EQ(driver.lastReport().audioBlocks, 1u);
      EXPECT_FALSE(driver.lastReport().waveWritten);
      EXPECT_TRUE(privateNames().empty());
      EXPECT_NE(access(scratch_.file("photo.mov").c_str(), F_OK), 0);
    }
  }
}

TEST_F(Convert2MovExtraction, AFifoNamedLikeAPhotographIsNotWaitedOn) {
  const std::string fifo = scratch_.file("photo.jpg");
  ASSERT_TRUE(makeFifo(fifo));
  Convert2Mov driver;
  SInt32 status = -1;
  EXPECT_TRUE(returnsWithin(fifo, [&] { status = driver.createMovie(scratch_.file("photo.mov"), fifo, 600); }));
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(driver.lastReport().imageFound);
  EXPECT_TRUE(tmpNames().empty());
  EXPECT_NE(access(scratch_.file("photo.mov").c_str(), F_OK), 0);
}

TEST(MoviePath, ReplacesOnlyTheLastComponentsExtension) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/a/b/IMG_0001.JPG", "/a/b/IMG_0001.mov"},
      {"/a/b/photo.x.jpg", "/a/b/photo.x.mov"},
      {"photo.tar.JPG", "photo.tar.mov"},
      {"/a/b/photo", "/a/b/photo.mov"},
      {"noext", "noext.mov"},
      {"/a/b.d/photo", "/a/b.d/photo.mov"},
      {"/a/b/.hidden", "/a/b/.hidden.mov"},  // a leading dot starts no extension
      {"/a/.jpg", "/a/.jpg.mov"},
      {"photo.", "photo.mov"},
      // A trailing slash is no part of the name: the movie goes beside, never inside.
      {"/a/b/photo.jpg/", "/a/b/photo.mov"},
      {"photo.jpg//", "photo.mov"},
      {"/a/b/", "/a/b.mov"},
  };
  for (const auto& [image, movie] : cases) {
    EXPECT_EQ(Convert2Mov::moviePathFor(image), movie) << image;
    EXPECT_EQ(Convert2Mov::recordingPathFor(image), movie.substr(0, movie.size() - 4) + ".wav") << image;
  }
  // What the movie file is named, whatever folder the movie path names.
  EXPECT_EQ(NSStringLastPathComponent("/a/b/photo.mov"), "photo.mov");
  EXPECT_EQ(NSStringLastPathComponent("/a/b/"), "b");
  EXPECT_EQ(NSStringLastPathComponent("photo.mov"), "photo.mov");
  EXPECT_EQ(NSStringLastPathComponent("//"), "/");
}

TEST_F(Convert2MovExtraction, APhotographPathEndingInASlashIsNoPhotograph) {
  const std::string image = photo(fpxrPieces(imaAdpcmWave(8000, 8), {}, {0}));
  Convert2Mov driver;
  EXPECT_EQ(driver.createMovie(Convert2Mov::moviePathFor(image + "/"), image + "/", 0), 0);
  EXPECT_EQ(driver.lastReport().outcome, ConversionOutcome::failed);
  EXPECT_EQ(driver.lastReport().problem.rfind("cannot be read (", 0), 0u) << driver.lastReport().problem;
  EXPECT_EQ(scratch_.list(), (std::vector<std::string>{"chewable", "photo.jpg"}));
  // A movie path naming no file at all is refused before anything is written.
  EXPECT_EQ(driver.createMovie("/", image, 0), bdNamErr);
  EXPECT_EQ(driver.lastReport().problem, "the movie's name is not usable; no movie written");
  EXPECT_EQ(scratch_.list(), (std::vector<std::string>{"chewable", "photo.jpg"}));
}

// One rule says what came of a photograph: converted, no voice, skipped or failed, and for a
// failure a code that is never 0 and the words the user sees.
TEST_F(Convert2MovExtraction, EveryOutcomeIsNamedAndEveryFailureHasACodeAndWords) {
  const std::string voice = buildJpeg(40, 30, 3, fpxrPieces(imaAdpcmWave(8000, 8), {}, {0}));
  const std::string movie = scratch_.file("p.mov");
  struct Case {
    const char* name;
    std::string bytes;  // "<dir>": a folder under the photograph's name, "<none>": nothing
    ExistingMovie rule;
    const char* occupant;  // a file of someone else's under the movie's name, or null
    ConversionOutcome outcome;
    SInt32 failure;
    std::string problem;
  };
  const std::string foreign = movie + " exists and is not a movie still2mov made; left as it is";
  const Case cases[] = {
      {"a voice annotation", voice, ExistingMovie::replaceOwn, nullptr, ConversionOutcome::converted, 0, ""},
      {"none", buildJpeg(40, 30, 3, {}), ExistingMovie::replaceOwn, nullptr, ConversionOutcome::noVoice, 0, ""},
      {"no file", "<none>", ExistingMovie::replaceOwn, nullptr, ConversionOutcome::failed, fnfErr,
       "cannot be read (no such file)"},
      {"a folder", "<dir>", ExistingMovie::replaceOwn, nullptr, ConversionOutcome::failed, fnfErr,
       "cannot be read (is a directory)"},
      {"an empty file", "", ExistingMovie::replaceOwn, nullptr, ConversionOutcome::failed, codecBadDataErr,
       "cannot be read (empty file)"},
      {"text", "a shopping list", ExistingMovie::replaceOwn, nullptr, ConversionOutcome::failed, codecBadDataErr,
       "cannot be read (not a JPEG file)"},
      {"a header cut short", voice.substr(0, 40), ExistingMovie::replaceOwn, nullptr, ConversionOutcome::failed,
       codecBadDataErr, "cannot be read (damaged JPEG header)"},
      {"someone else's file refused", voice, ExistingMovie::replaceOwn, "mine", ConversionOutcome::failed, dupFNErr,
       foreign},
      {"someone else's file kept", voice, ExistingMovie::keep, "mine", ConversionOutcome::skipped, 0, ""},
      {"someone else's file replaced", voice, ExistingMovie::replaceAny, "mine", ConversionOutcome::converted, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = scratch_.file("p.jpg");
    if (c.bytes == "<dir>") {
      ASSERT_EQ(mkdir(image.c_str(), 0700), 0);
    } else if (c.bytes != "<none>") {
      writeFile(image, c.bytes);
    }
    if (c.occupant) writeFile(movie, c.occupant);
    Convert2Mov driver;
    driver.setExistingMovieRule(c.rule);
    const SInt32 status = driver.createMovie(Convert2Mov::moviePathFor(image), image, 0);
    const ConversionReport& r = driver.lastReport();
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.failure, c.failure);
    EXPECT_EQ(r.problem, c.problem);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(access(movie.c_str(), F_OK) == 0, c.outcome == ConversionOutcome::converted || c.occupant != nullptr);
    if (c.occupant && c.outcome != ConversionOutcome::converted) {
      EXPECT_EQ(readFile(movie), c.occupant);
    }
    run("rm -rf " + shellQuote(image) + " " + shellQuote(movie));
  }
}

TEST_F(Convert2MovExtraction, AnExtractionNeedsOnlyTheRecordingAndNamesItsOutcomeTheSameWay) {
  const std::string wave = imaAdpcmWave(8000, 8);
  const std::string whole = buildJpeg(40, 30, 3, fpxrPieces(wave, {}, {0}));
  // Cut before the frame header: no picture, but every piece of the recording.
  const std::string noPicture = whole.substr(0, whole.find("\xFF\xDB"));
  struct Case {
    const char* name;
    std::string bytes;
    ConversionOutcome outcome;
    std::string problem;
  };
  const Case cases[] = {
      {"a whole photograph", whole, ConversionOutcome::converted, ""},
      {"a photograph without its picture", noPicture, ConversionOutcome::converted, ""},
      {"no voice annotation", buildJpeg(40, 30, 3, {}), ConversionOutcome::noVoice, ""},
      {"not a photograph", "a shopping list", ConversionOutcome::failed, "cannot be read (not a JPEG file)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = scratch_.file("p.jpg");
    writeFile(image, c.bytes);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    Convert2Mov driver;
    EXPECT_EQ(driver.extractRecording(image, out), 0);
    EXPECT_EQ(driver.lastReport().outcome, c.outcome);
    EXPECT_EQ(driver.lastReport().problem, c.problem);
    if (c.outcome == ConversionOutcome::converted) {
      std::string written(wave.size() + 1, '\0');
      std::rewind(out);
      written.resize(std::fread(written.data(), 1, written.size(), out));
      EXPECT_TRUE(written == wave);
    }
    std::fclose(out);
  }
  Convert2Mov driver;
  EXPECT_EQ(driver.extractRecording(scratch_.file("p.jpg"), nullptr), paramErr);
  EXPECT_EQ(driver.lastReport().outcome, ConversionOutcome::failed);
  EXPECT_FALSE(driver.lastReport().problem.empty());
}

}  // namespace
