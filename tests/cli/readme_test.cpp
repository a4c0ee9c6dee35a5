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
  EXPECT_NE(readme().find("a 1280 × 960\nphotograph gets a 600 × 450 frame, a 960 × 1280 portrait 450 × 600); a smaller "
                          "picture keeps its\nsize."),
            std::string::npos);
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::pcm8, {.seconds = 0.5});
  struct Size {
    int width, height, movieWidth, movieHeight;
  };
  for (const Size& s : {Size{1280, 960, 600, 450}, Size{960, 1280, 450, 600}, Size{320, 240, 320, 240}}) {
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
  }
}
