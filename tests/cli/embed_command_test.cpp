// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov embed through the built program: the copy it writes, what an independent reader
// finds in it, replacing an earlier annotation, and every refusal leaving the inputs intact.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "support/AddressSpace.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

TEST(EmbedCommand, WritesACopyThatCarriesTheRecording) {
  ScratchDir dir, tmp;
  std::string wave = fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 20.0});  // two pieces
  std::string photo = fixtures::makeJpeg({.width = 200, .height = 150});
  writeFile(dir.file("v.wav"), wave);
  writeFile(dir.file("p.jpg"), photo);
  RunResult r = fixtures::runStill2mov({"embed", dir.file("v.wav"), dir.file("p.jpg"), dir.file("out.jpg")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, dir.file("out.jpg") + ": voice annotation embedded (" + std::to_string(wave.size()) +
                       " bytes in 2 pieces)\n");
  EXPECT_TRUE(readFile(dir.file("p.jpg")) == photo);
  EXPECT_TRUE(readFile(dir.file("out.jpg")) == fixtures::embedWave(photo, wave));
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"out.jpg", "p.jpg", "v.wav"}));  // no temporary left

  RunResult c = fixtures::runStill2mov({"--no-resize", dir.file("out.jpg")}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(c.status, 0) << c.err;
  RunResult x = fixtures::runStill2mov({"extract", dir.file("out.jpg"), tmp.file("v.wav")});
  EXPECT_EQ(x.status, 0) << x.err;
  EXPECT_TRUE(readFile(tmp.file("v.wav")) == wave);

  REQUIRE_TOOL("exiftool");
  std::string extracted, verbose;
  testsupport::run("exiftool -b -AudioStream " + testsupport::shellQuote(dir.file("out.jpg")), &extracted);
  EXPECT_TRUE(extracted == wave);
  testsupport::run("exiftool -v3 " + testsupport::shellQuote(dir.file("out.jpg")), &verbose);
  EXPECT_NE(verbose.find("Contents List directory with 2 entries"), std::string::npos);
  EXPECT_NE(verbose.find("/Audio_bd0100609719a180/Audio Stream 000000' [" + std::to_string(wave.size() + 28)),
            std::string::npos)
      << verbose.substr(0, 3000);
}

TEST(EmbedCommand, ReplacesAnEarlierAnnotationAndAnExistingOutput) {
  ScratchDir dir;
  std::string first = fixtures::makeWave(fixtures::WaveKind::pcm8, {.seconds = 0.5});
  std::string second = fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.5});
  std::string photo = fixtures::makeJpeg();
  writeFile(dir.file("annotated.jpg"), fixtures::embedWave(photo, first, fixtures::pieces(1000)));
  writeFile(dir.file("v.wav"), second);
  writeFile(dir.file("out.jpg"), "old contents");
  RunResult r = fixtures::runStill2mov({"embed", "-y", dir.file("v.wav"), dir.file("annotated.jpg"), dir.file("out.jpg")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::size_t oldSegments = 1 + flashpix::pieceCount(first.size(), 1000);
  EXPECT_NE(r.out.find("; replaced " + std::to_string(oldSegments) + " FlashPix segments"), std::string::npos) << r.out;
  EXPECT_TRUE(readFile(dir.file("out.jpg")) == fixtures::embedWave(photo, second));
}

TEST(EmbedCommand, RefusalsLeaveEveryFileAsItWas) {
  ScratchDir dir;
  std::string wave = fixtures::makeWave(fixtures::WaveKind::pcm8, {.seconds = 0.2});
  std::string photo = fixtures::makeJpeg();
  writeFile(dir.file("v.wav"), wave);
  writeFile(dir.file("p.jpg"), photo);
  writeFile(dir.file("notes.txt"), "not media\n");
  writeFile(dir.file("empty"), "");
  ASSERT_EQ(symlink("p.jpg", dir.file("link.jpg").c_str()), 0);
  ASSERT_EQ(link(dir.file("v.wav").c_str(), dir.file("hard.wav").c_str()), 0);
  struct Case {
    std::vector<std::string> args;
    std::string complaint;
  };
  const Case cases[] = {
      {{"notes.txt", "p.jpg", "o.jpg"}, "notes.txt: not a RIFF WAVE file"},
      {{"p.jpg", "p.jpg", "o.jpg"}, "p.jpg: not a RIFF WAVE file"},
      {{"v.wav", "notes.txt", "o.jpg"}, "notes.txt: not a readable JPEG file"},
      {{"v.wav", "empty", "o.jpg"}, "empty: not a readable JPEG file"},
      {{"v.wav", "v.wav", "o.jpg"}, "v.wav: not a readable JPEG file"},
      {{"missing.wav", "p.jpg", "o.jpg"}, "missing.wav: cannot be read (no such file)"},
      {{"v.wav", ".", "o.jpg"}, ".: cannot be read (is a directory)"},
      {{"v.wav", "p.jpg", "p.jpg"}, "p.jpg: is one of the input files"},
      {{"v.wav", "p.jpg", "v.wav"}, "v.wav: is one of the input files"},
      {{"v.wav", "p.jpg", "link.jpg"}, "link.jpg: is one of the input files"},
      {{"v.wav", "p.jpg", "hard.wav"}, "hard.wav: is one of the input files"},
      {{"v.wav", "p.jpg", "no-such-folder/o.jpg"}, "no-such-folder/o.jpg: cannot be written"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"embed"};
    for (const std::string& a : c.args) args.push_back(dir.file(a));
    RunResult r = fixtures::runStill2mov(args);
    EXPECT_EQ(r.status, 1) << c.complaint;
    EXPECT_NE(r.err.find("still2mov: " + dir.file(c.complaint)), std::string::npos) << r.err;
    EXPECT_TRUE(readFile(dir.file("p.jpg")) == photo);
    EXPECT_TRUE(readFile(dir.file("v.wav")) == wave);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"empty", "hard.wav", "link.jpg", "notes.txt", "p.jpg", "v.wav"}));
  }
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"embed"}, {"embed", "a", "b"}, {"embed", "a", "b", "c", "d"}, {"embed", "-x", "a", "b", "c"}}) {
    EXPECT_EQ(fixtures::runStill2mov(args).status, 2) << args.size();
  }
  RunResult help = fixtures::runStill2mov({"embed", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("replaced"), std::string::npos);
}

// A recording far larger than the memory the program may use is copied a piece at a time.
TEST(EmbedCommand, ARecordingLargerThanTheMemoryAllowedIsEmbedded) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  ScratchDir dir;
  const std::string photo = fixtures::makeJpeg();
  const std::string head = fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.01});
  // 256 MiB of samples that the disk holds as a hole.
  const std::uint64_t samples = std::uint64_t(256) << 20;
  testsupport::sparseWave(dir.file("v.wav"), testsupport::pcmFormat(1, 8000, 16), samples);
  writeFile(dir.file("p.jpg"), photo);

  std::string out;
  const int status = testsupport::run(
      testsupport::still2movLimited(128 * 1024, {"embed", dir.file("v.wav"), dir.file("p.jpg"), dir.file("out.jpg")}),
      &out);
  ASSERT_EQ(status, 0) << out;
  // Every byte is there: the photograph, the contents list, and each piece with its 17 bytes of
  // segment header around the stream (28 bytes of stream header, then the file).
  const std::string small = fixtures::embedWave(photo, head);
  const std::size_t smallPieces = flashpix::pieceCount(head.size(), flashpix::kMaxPieceBytes);
  const std::uint64_t contentsList = small.size() - photo.size() - 17 * smallPieces - (head.size() + 28);
  const std::uint64_t pieces = flashpix::pieceCount(44 + samples, flashpix::kMaxPieceBytes);
  EXPECT_EQ(std::filesystem::file_size(dir.file("out.jpg")), photo.size() + contentsList + 17 * pieces + 44 + samples + 28);
  EXPECT_NE(out.find("(" + std::to_string(44 + samples) + " bytes in " + std::to_string(pieces) + " pieces)"),
            std::string::npos)
      << out;
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"out.jpg", "p.jpg", "v.wav"}));
}

// OUT is replaced only with -y, and only when it is a regular file of the user's: whatever else
// has the name is refused in words and stays as it was; extract -y keeps the same rule, and "-"
// is standard output for both.
TEST(EmbedCommand, ReplacesOnlyARegularFileOfTheUsersAndOnlyWithYes) {
  ScratchDir dir;
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::pcm8, {.seconds = 0.2}), photo = fixtures::makeJpeg();
  writeFile(dir.file("v.wav"), wave);
  writeFile(dir.file("p.jpg"), photo);
  writeFile(dir.file("annotated.jpg"), fixtures::embedWave(photo, wave));
  auto text = [](const std::string& p) { return writeFile(p, "notes"), true; };
  auto fifo = [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; };
  auto link = [](const std::string& p) { return symlink("elsewhere", p.c_str()) == 0; };
  const struct {
    std::function<bool(const std::string&)> make;  // false: this system cannot make one
    const char* yes;                               // "-y" or ""
    std::string complaint;                         // empty: written
  } cases[] = {
      {text, "", "already exists (-y replaces it)"}, {fifo, "", "already exists (-y replaces it)"}, {text, "-y", ""},
      {fifo, "-y", "is a FIFO; only a regular file is replaced"},
      {link, "-y", "is a symbolic link; only a regular file is replaced"},
      {[](const std::string& p) { return mkdir(p.c_str(), 0700) == 0; }, "-y", "is a directory"},
      {[](const std::string& p) { return mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0; }, "-y",
       "is a device; only a regular file is replaced"},  // the device /dev/full is
      {[&](const std::string& p) { return text(p) && chown(p.c_str(), 65534, 65534) == 0; }, "-y",
       "belongs to another user; only a file of yours is replaced"},
  };
  int n = 0;
  for (const std::string command : {"embed", "extract"})
    for (const auto& c : cases) {
      const std::string out = dir.file(command + std::to_string(++n));
      SCOPED_TRACE(out);
      if (!c.make(out)) continue;
      struct stat before {}, after {};
      lstat(out.c_str(), &before);
      std::vector<std::string> args = {command, c.yes};
      if (command == "embed") args.insert(args.end(), {dir.file("v.wav"), dir.file("p.jpg"), out});
      else args.insert(args.end(), {dir.file("annotated.jpg"), out});
      if (!*c.yes) args.erase(args.begin() + 1);
      RunResult r = fixtures::runStill2mov(args);
      lstat(out.c_str(), &after);
      const std::string expected = command == "embed" ? fixtures::embedWave(photo, wave) : wave;
      if (c.complaint.empty()) EXPECT_TRUE(r.status == 0 && readFile(out) == expected) << r.err;
      if (c.complaint.empty()) continue;
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find(out + ": " + c.complaint), std::string::npos) << r.err;
      EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode && r.out.empty());
      // To standard output instead: the output alone, and no file called "-".
      args.back() = "-";
      r = fixtures::runStill2mov(args);
      EXPECT_TRUE(r.status == 0 && r.out == expected && !std::filesystem::exists("-")) << r.err;
    }
  EXPECT_EQ(readFile(dir.file("p.jpg")), photo);
  for (const std::string& name : dir.list()) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

// embed refuses a copy larger than conversions read, before writing any of it.
TEST(EmbedCommand, RefusesACopyThatNoConversionWouldRead) {
  ScratchDir dir;
  testsupport::sparseWave(dir.file("v.wav"), testsupport::pcmFormat(1, 8000, 16), std::uint64_t(1) << 30);
  writeFile(dir.file("p.jpg"), fixtures::makeJpeg());
  RunResult r = fixtures::runStill2mov({"embed", dir.file("v.wav"), dir.file("p.jpg"), dir.file("out.jpg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("out.jpg: the copy would be larger than 1024 MB, which no conversion reads"), std::string::npos);
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"p.jpg", "v.wav"}));
}
