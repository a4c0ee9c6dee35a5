// Plain conversions through the built program: voice annotations in every piece layout come
// back as the very WAVE file that was embedded; everything else gets a clear line and status.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "cli/PhotoPaths.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using fixtures::WaveKind;
using testsupport::ScratchDir;

namespace {

// Recordings anywhere under the folder (the working ones go into a private sub-folder).
std::vector<std::string> wavesIn(const ScratchDir& dir) {
  std::vector<std::string> waves;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
    if (e.path().extension() == ".wav") waves.push_back(e.path().string());
  return waves;
}

// A successful line: the movie was made, or (while no movie can be assembled) the WAVE file.
bool isSuccessLine(const std::string& out, const std::string& photo) {
  return out.rfind(photo + " -> " + cli::moviePathFor(photo) + " (", 0) == 0 ||
         out.rfind(photo + ": voice annotation written to ", 0) == 0;
}

struct Layout {
  const char* name;
  std::uint32_t pieceBytes;
  std::vector<std::size_t> order;  // empty: in order
};

}  // namespace

TEST(ConvertCommand, RecoversTheEmbeddedWaveInEveryPieceLayout) {
  const Layout layouts[] = {
      {"one piece", flashpix::kMaxPieceBytes, {}},
      {"two pieces", 0, {}},  // half the stream, rounded up
      {"many pieces", 700, {}},
      {"third before second", 0, {0, 2, 1}},
      {"all reversed", 900, {}},
  };
  const WaveKind kinds[] = {WaveKind::imaAdpcm, WaveKind::pcm8, WaveKind::pcm16Stereo};
  std::string photo = fixtures::makeJpeg({.width = 160, .height = 120});
  for (WaveKind kind : kinds) {
    std::string wave = fixtures::makeWave(kind, {.seconds = 1.5});
    for (const Layout& layout : layouts) {
      SCOPED_TRACE(std::string(fixtures::waveKindName(kind)) + ", " + layout.name);
      flashpix::EmbedOptions options;
      std::size_t stream = wave.size() + flashpix::kStreamHeaderBytes;
      // Unsized layouts cut the stream into as many pieces as their order names (two by default).
      std::size_t parts = layout.order.empty() ? 2 : layout.order.size();
      options.maxPieceBytes = layout.pieceBytes ? layout.pieceBytes : std::uint32_t((stream + parts - 1) / parts);
      options.pieceOrder = layout.order;
      if (std::string(layout.name) == "all reversed") {
        for (std::size_t k = flashpix::pieceCount(wave.size(), options.maxPieceBytes); k-- > 0;)
          options.pieceOrder.push_back(k);
      }
      ScratchDir dir, tmp;
      std::string path = dir.file("voice.jpg");
      testsupport::writeFile(path, fixtures::embedWave(photo, wave, options));
      RunResult r = fixtures::runStill2mov({"--no-resize", path}, {{"TMPDIR", tmp.path()}});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(isSuccessLine(r.out, path)) << r.out;
      // The working recording is gone; the one extracted is the embedded one.
      EXPECT_TRUE(wavesIn(tmp).empty());
      RunResult x = fixtures::runStill2mov({"extract", path, tmp.file("voice.wav")});
      ASSERT_EQ(x.status, 0) << x.err;
      EXPECT_TRUE(testsupport::readFile(tmp.file("voice.wav")) == wave) << "WAVE file differs from the embedded one";
      if (r.out.find(" -> ") != std::string::npos) {
        EXPECT_TRUE(std::filesystem::exists(dir.file("voice.mov")));
      }
    }
  }
}

TEST(ConvertCommand, ExiftoolReadsTheSameRecordingFromInOrderPieces) {
  if (!testsupport::haveTool("exiftool")) GTEST_SKIP() << "exiftool not installed";
  std::string wave = fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 2.0});
  for (std::uint32_t piece : {flashpix::kMaxPieceBytes, 1200u}) {
    ScratchDir dir;
    std::string path = dir.file("voice.jpg");
    testsupport::writeFile(path, fixtures::embedWave(fixtures::makeJpeg(), wave, fixtures::pieces(piece)));
    std::string extracted;
    ASSERT_EQ(testsupport::run("exiftool -b -AudioStream " + testsupport::shellQuote(path), &extracted), 0);
    // exiftool hands out the recording without the stream's 28-byte header.
    EXPECT_TRUE(extracted == wave) << "piece size " << piece << ": " << extracted.size() << " bytes";
  }
}

TEST(ConvertCommand, PhotographsWithoutAnAnnotationOrUnreadable) {
  ScratchDir dir, tmp;
  std::string photo = fixtures::makeJpeg();
  struct Case {
    std::string name;
    std::string bytes;  // written to the file; "<dir>" makes a folder, "<none>" nothing
    int status;
    std::string line;  // expected start of the line after "PATH: "
  };
  std::string annotated = fixtures::embedWave(photo, fixtures::makeWave(WaveKind::pcm8));
  std::vector<Case> cases = {
      {"plain.jpg", photo, 0, "no voice annotation"},
      {"icc.jpg", fixtures::withSegment(photo, 0xE2, fixtures::iccProfileSegmentPayload()), 0, "no voice annotation"},
      {"cut-in-header.jpg", annotated.substr(0, 300), 1, "cannot be read (damaged JPEG header)"},
      {"empty.jpg", "", 1, "cannot be read (empty file)"},
      {"notes.jpg", "these are not pixels\n", 1, "cannot be read (not a JPEG file)"},
      {"folder.jpg", "<dir>", 1, "cannot be read (is a directory)"},
      {"missing.jpg", "<none>", 1, "cannot be read (no such file)"},
  };
  for (const std::string& corpus : {std::string("Kodak.jpg"), std::string("ExifTool.jpg")}) {
    std::string p = testsupport::corpusDir() + "/exiftool-images/" + corpus;
    if (!testsupport::corpusDir().empty() && std::filesystem::exists(p))
      cases.push_back({corpus, testsupport::readFile(p), 0, "no voice annotation"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file(c.name);
    if (c.bytes == "<dir>")
      std::filesystem::create_directory(path);
    else if (c.bytes != "<none>")
      testsupport::writeFile(path, c.bytes);
    RunResult r = fixtures::runStill2mov({"--no-resize", path}, {{"TMPDIR", tmp.path()}});
    EXPECT_EQ(r.status, c.status);
    const std::string& stream = c.status == 0 ? r.out : r.err;
    EXPECT_EQ(stream, path + ": " + c.line + "\n") << "stdout: " << r.out << "stderr: " << r.err;
    EXPECT_TRUE(wavesIn(tmp).empty());
    EXPECT_FALSE(std::filesystem::exists(cli::moviePathFor(path)));
  }
}

TEST(ConvertCommand, OneFailureAmongSeveralPhotographsFailsTheRun) {
  ScratchDir dir, tmp;
  std::string good = dir.file("plain.jpg");
  testsupport::writeFile(good, fixtures::makeJpeg());
  RunResult r = fixtures::runStill2mov({good, dir.file("gone.jpg"), "--no-resize"}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, good + ": no voice annotation\n");
  EXPECT_EQ(r.err, dir.file("gone.jpg") + ": cannot be read (no such file)\n");
}

TEST(ConvertCommand, BadUsageExitsTwoWithTheUsage) {
  ScratchDir dir;
  std::string photo = dir.file("p.jpg");
  testsupport::writeFile(photo, fixtures::makeJpeg());
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--no-resize"}, {"--resize", "--no-resize", photo}, {"--sideways", photo}, {"--resize", "--"}}) {
    RunResult r = fixtures::runStill2mov(args, {{"TMPDIR", dir.path()}});
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_NE(r.err.find("Usage:"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  // After "--" a name that looks like an option is a photograph.
  RunResult r = fixtures::runStill2mov({"--no-resize", "--", "--resize"}, {{"TMPDIR", dir.path()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "--resize: cannot be read (no such file)\n");
}

TEST(ConvertCommand, APhotographNamedLikeItsMovieIsLeftAlone) {
  ScratchDir dir, tmp;
  std::string path = dir.file("clip.mov");
  std::string bytes = fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(WaveKind::pcm8));
  testsupport::writeFile(path, bytes);
  RunResult r = fixtures::runStill2mov({"--no-resize", path}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("would replace it"), std::string::npos) << r.err;
  EXPECT_TRUE(testsupport::readFile(path) == bytes);
}

TEST(MoviePath, ReplacesOnlyTheLastComponentsExtension) {
  EXPECT_EQ(cli::moviePathFor("/a/photo.jpg"), "/a/photo.mov");
  EXPECT_EQ(cli::moviePathFor("photo.tar.JPG"), "photo.tar.mov");
  EXPECT_EQ(cli::moviePathFor("/a.b/photo"), "/a.b/photo.mov");
  EXPECT_EQ(cli::moviePathFor("/a/.hidden"), "/a/.hidden.mov");
  EXPECT_EQ(cli::moviePathFor("noext"), "noext.mov");
}

TEST(ConvertCommand, ResizeFlagsDecideThePictureWidth) {
  if (!testsupport::haveTool("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  std::string photo = fixtures::embedWave(fixtures::makeJpeg({.width = 1280, .height = 960}),
                                          fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 1.0}));
  for (const auto& [flag, width] : {std::pair<std::string, int>{"--resize", 600}, {"--no-resize", 1280}}) {
    ScratchDir dir, tmp;
    std::string path = dir.file("wide.jpg");
    testsupport::writeFile(path, photo);
    RunResult r = fixtures::runStill2mov({flag, path}, {{"TMPDIR", tmp.path()}});
    ASSERT_EQ(r.status, 0) << r.err;
    if (r.out.find(" -> ") == std::string::npos) GTEST_SKIP() << "no movie assembly in this build";
    std::string probe;
    testsupport::run("ffprobe -v error -select_streams v -show_entries stream=width -of csv=p=0 " +
                         testsupport::shellQuote(dir.file("wide.mov")),
                     &probe);
    EXPECT_EQ(probe, std::to_string(width) + "\n") << flag;
  }
}
