// SPDX-License-Identifier: GPL-2.0-or-later
// The README says what the program does: its usage is --help word for word, and its examples
// and numbers are what the program prints and makes.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"

using testsupport::ScratchDir;

namespace {

std::string readme() { return testsupport::readFile(testsupport::sourceDir() + "/README.md"); }

// The indented block that follows the line starting with header, without its indent.
std::string blockAfter(const std::string& text, const std::string& header) {
  std::istringstream in(text.substr(text.find(header)));
  std::string line, block;
  std::getline(in, line);
  bool started = false;
  while (std::getline(in, line)) {
    if (line.rfind("    ", 0) == 0) {
      started = true;
      block += line.substr(4) + "\n";
    } else if (line.empty()) {
      if (started) block += "\n";
    } else if (started) {
      break;
    }
  }
  while (block.size() > 1 && block.compare(block.size() - 2, 2, "\n\n") == 0) block.pop_back();
  return block;
}

}  // namespace

TEST(Readme, UsageIsTheHelpWordForWord) {
  const std::string text = readme();
  ASSERT_NE(text.find("\n## Usage\n"), std::string::npos);
  EXPECT_EQ(blockAfter(text, "\n## Usage\n"), fixtures::runStill2mov({"--help"}).out);
}

TEST(Readme, ItsExamplesAreWhatTheProgramPrints) {
  REQUIRE_TOOL("python3");
  const std::string text = readme();
  // The sample's line: everything but the folder the movie lands in.
  const std::string example = blockAfter(text, "One line per photograph");
  const std::string expected = example.substr(example.find('\n') + 1);
  ScratchDir dir, tmp;
  const std::string photo = dir.file("voice-note.jpg");
  testsupport::writeFile(photo, testsupport::readFile(testsupport::sourceDir() + "/samples/voice-note.jpg"));
  fixtures::RunResult r = fixtures::runStill2mov({photo}, {{"TMPDIR", tmp.path()}});
  ASSERT_EQ(r.status, 0) << r.err;
  auto shape = [](const std::string& line) {
    return line.substr(line.find(" -> ")).erase(4, line.find("voice-note.mov") - line.find(" -> ") - 4);
  };
  EXPECT_EQ(shape(r.out), shape(expected));
  EXPECT_NE(testsupport::readFile(testsupport::sourceDir() + "/samples/README.md").find("3.5-second"),
            std::string::npos);

  // The JSON lines are JSON, with the statuses and keys the text names.
  const std::string lines = blockAfter(text, "For scripts, `--json`");
  testsupport::writeFile(dir.file("lines"), lines);
  std::string out;
  EXPECT_EQ(testsupport::run("python3 -c 'import json,sys\nfor l in open(sys.argv[1]): d=json.loads(l); "
                             "print(d[\"Status\"], sorted(d))' " +
                                 testsupport::shellQuote(dir.file("lines")),
                             &out),
            0);
  EXPECT_EQ(out,
            "converted ['Movie', 'Seconds', 'SoundSource', 'SourceFile', 'Status']\n"
            "no-voice ['SourceFile', 'Status']\n"
            "failed ['Code', 'Error', 'SourceFile', 'Status']\n");
  fixtures::RunResult missing = fixtures::runStill2mov({"--json", dir.file("c.jpg")});
  EXPECT_NE(missing.out.find("\"Error\": \"cannot be read (no such file)\", \"Code\": \"ENOENT\"}"), std::string::npos);
}

TEST(Readme, ThePictureSizesItNames) {
  REQUIRE_TOOL("ffprobe");
  // The README, the manual and --help say the same: stored at most 600 on the longer side,
  // shown 600 wide.
  EXPECT_NE(readme().find("`--resize` makes the movie show the picture 600 pixels wide and stores it at most 600 "
                          "pixels on\nits longer side (a 1280 × 960 photograph gets a 600 × 450 frame; a 960 × 1280 "
                          "portrait is stored\n450 × 600, shown 600 × 800; a 320 × 240 picture is stored as it is, "
                          "shown 600 × 450)."),
            std::string::npos);
  const std::string manual = testsupport::readFile(testsupport::sourceDir() + "/packaging/still2mov.1.in");
  EXPECT_NE(manual.find("Make the movie show the picture 600 pixels wide and store it at most 600 pixels on its "
                        "longer\nside"),
            std::string::npos);
  EXPECT_NE(manual.find("a 320 \\(mu 240 picture is stored as it is, shown 600 \\(mu 450)."), std::string::npos);
  const fixtures::RunResult help = fixtures::runStill2mov({"--help"});
  EXPECT_NE(help.out.find("--resize makes the movie show the picture 600 pixels wide and stores it at most\n600 "
                          "pixels on its longer side (a 960 x 1280 portrait: stored 450 x 600, shown\n600 x 800; a "
                          "320 x 240 picture: stored as it is, shown 600 x 450)."),
            std::string::npos)
      << help.out;
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::pcm8, {.seconds = 0.5});
  struct Size {
    int width, height, movieWidth, movieHeight, shownWidth, shownHeight;
  };
  for (const Size& s : {Size{1280, 960, 600, 450, 600, 450}, Size{960, 1280, 450, 600, 600, 800},
                        Size{320, 240, 320, 240, 600, 450}}) {
    ScratchDir dir, tmp;
    const std::string photo = dir.file("p.jpg");
    testsupport::writeFile(photo, fixtures::embedWave(fixtures::makeJpeg({.width = s.width, .height = s.height}), wave));
    fixtures::RunResult r = fixtures::runStill2mov({"--resize", photo}, {{"TMPDIR", tmp.path()}});
    ASSERT_EQ(r.status, 0) << r.err;
    int width = 0, height = 0;
    for (const moviechecks::Stream& stream : moviechecks::probeStreams(dir.file("p.mov")))
      if (stream.codecType == "video") {
        width = stream.width;
        height = stream.height;
      }
    EXPECT_EQ(width, s.movieWidth) << s.width << "x" << s.height;
    EXPECT_EQ(height, s.movieHeight) << s.width << "x" << s.height;
    // The size the movie is shown at: the video track's header (16.16 fixed point).
    const std::string tkhd = moviechecks::atomBody(testsupport::readFile(dir.file("p.mov")), "moov/trak#2/tkhd");
    ASSERT_GE(tkhd.size(), 84u);
    auto be32 = [&](std::size_t at) {
      return (std::uint32_t(std::uint8_t(tkhd[at])) << 24) | (std::uint32_t(std::uint8_t(tkhd[at + 1])) << 16) |
             (std::uint32_t(std::uint8_t(tkhd[at + 2])) << 8) | std::uint8_t(tkhd[at + 3]);
    };
    EXPECT_EQ(int(be32(76) >> 16), s.shownWidth) << s.width << "x" << s.height;
    EXPECT_EQ(int(be32(80) >> 16), s.shownHeight) << s.width << "x" << s.height;
  }
}
