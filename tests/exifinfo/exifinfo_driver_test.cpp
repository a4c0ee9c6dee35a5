// The driver's extraction: the WAVE file written from the photograph's FlashPix pieces is the
// recording byte for byte, is created privately and never through a planted link, and a
// failed write leaves nothing behind and is reported.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Convert2Mov.h"
#include "support/JpegBuilder.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"

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
  }
  void TearDown() override {
    if (hadTmp_) setenv("TMPDIR", oldTmp_.c_str(), 1);
    else unsetenv("TMPDIR");
  }
  std::string photo(const std::vector<JpegSegment>& segments) {
    const std::string path = scratch_.file("photo.jpg");
    writeFile(path, buildJpeg(40, 30, 3, segments));
    return path;
  }
  std::vector<std::string> tmpNames() const {
    std::vector<std::string> names;
    std::string out;
    run("ls -A " + shellQuote(tmp_), &out);
    size_t start = 0;
    for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) names.push_back(out.substr(start, nl - start));
    return names;
  }

  ScratchDir scratch_;
  std::string tmp_;
  std::string oldTmp_;
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
      auto wavePath = driver.extractAudioFromExifForFile(image);
      ASSERT_TRUE(wavePath.has_value()) << rec.name << ", " << layout.name;
      const auto& report = driver.lastReport();
      EXPECT_EQ(report.wavePath, *wavePath);
      EXPECT_TRUE(report.imageFound);
      EXPECT_TRUE(report.imageReadable);
      EXPECT_EQ(report.audioBlocks, layout.order.size()) << rec.name << ", " << layout.name;
      EXPECT_EQ(report.audioSeconds, rec.seconds) << rec.name;
      ASSERT_TRUE(report.waveWritten) << rec.name << ", " << layout.name;
      EXPECT_EQ(report.wavePath.rfind(tmp_ + "/", 0), 0u);
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
  EXPECT_TRUE(driver.extractAudioFromExifForFile(photo(fpxrPieces(wave, cuts, order))).has_value());
  ASSERT_TRUE(driver.lastReport().waveWritten);
  EXPECT_TRUE(readFile(driver.lastReport().wavePath) == wave);
}

TEST_F(Convert2MovExtraction, SoxRecordingRoundTrips) {
  REQUIRE_TOOL("sox");
  const std::string wavPath = scratch_.file("voice.wav");
  ASSERT_EQ(run("sox -n -r 8000 -c 1 -e ima-adpcm " + shellQuote(wavPath) + " synth 2.5 sine 440 2>/dev/null"), 0);
  const std::string wave = readFile(wavPath);
  Convert2Mov driver;
  EXPECT_TRUE(driver.extractAudioFromExifForFile(photo(fpxrPieces(wave, {3000, 1500}, {0, 2, 1}))).has_value());
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
  EXPECT_FALSE(driver.extractAudioFromExifForFile(scratch_.file("photo.jpg")).has_value());
  EXPECT_TRUE(tmpNames().empty());
  EXPECT_NE(access(scratch_.file("photo.mov").c_str(), F_OK), 0);
}

TEST_F(Convert2MovExtraction, PlantedLinksAreNeverFollowed) {
  const std::string victim = scratch_.file("victim");
  writeFile(victim, "precious");
  const UInt32 now = TickCount();
  for (UInt32 i = 0; i < 200; ++i) {
    std::string link = tmp_ + "/" + std::to_string(SInt32(now + i)) + ".wav";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  }
  const std::string wave = imaAdpcmWave(8000, 20);
  Convert2Mov driver;
  EXPECT_TRUE(driver.extractAudioFromExifForFile(photo(fpxrPieces(wave, {2000}, {0, 1}))).has_value());
  EXPECT_EQ(readFile(victim), "precious");
  ASSERT_TRUE(driver.lastReport().waveWritten);
  struct stat st {};
  ASSERT_EQ(lstat(driver.lastReport().wavePath.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_TRUE(readFile(driver.lastReport().wavePath) == wave);
}

TEST_F(Convert2MovExtraction, NoFreeNameIsAFailure) {
  const std::string victim = scratch_.file("victim");
  writeFile(victim, "precious");
  // Far more names than the driver tries, from now on.
  const UInt32 now = TickCount();
  for (UInt32 i = 0; i < 1500; ++i) {
    std::string link = tmp_ + "/" + std::to_string(SInt32(now + i)) + ".wav";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
  }
  Convert2Mov driver;
  const SInt32 status = driver.createMovie(scratch_.file("photo.mov"), photo(fpxrPieces(imaAdpcmWave(8000, 4), {}, {0})), 0);
  EXPECT_EQ(status, dupFNErr);
  EXPECT_EQ(driver.lastReport().status, dupFNErr);
  EXPECT_FALSE(driver.lastReport().waveWritten);
  EXPECT_EQ(readFile(victim), "precious");
  EXPECT_EQ(tmpNames().size(), 1500u);
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
  EXPECT_TRUE(tmpNames().empty());
  EXPECT_NE(access(scratch_.file("photo.mov").c_str(), F_OK), 0);
}

}  // namespace
