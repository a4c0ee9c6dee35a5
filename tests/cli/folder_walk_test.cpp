// SPDX-License-Identifier: GPL-2.0-or-later
// still2mov -r: a tree of photographs converted by several workers - each movie from its own
// photograph, nothing for photographs without a voice annotation, text files or movies, no
// step outside the tree through a link - with a progress line only on a terminal.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "cli/ParallelConversions.h"
#include "cli/PhotoWalk.h"
#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using testsupport::ScratchDir;
namespace fs = std::filesystem;

namespace {

std::string voicePhoto(double seconds) {
  return fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = seconds}));
}

// tree/               three.jpg (2 s)    link.jpg -> a voice photograph outside
//   a/ one.JPG (1 s)  b/two.jpeg (1.5 s)
//   c/ plain.jpg  notes.txt  fake.mov  out -> a folder outside with a voice photograph
struct Tree {
  ScratchDir dir, outside, tmp;
  std::string root;
  Tree() : root(dir.file("tree")) {
    fs::create_directories(root + "/a/b");
    fs::create_directories(root + "/c");
    testsupport::writeFile(root + "/a/one.JPG", voicePhoto(1.0));
    testsupport::writeFile(root + "/a/b/two.jpeg", voicePhoto(1.5));
    testsupport::writeFile(root + "/three.jpg", voicePhoto(2.0));
    testsupport::writeFile(root + "/c/plain.jpg", fixtures::makeJpeg());
    testsupport::writeFile(root + "/c/notes.txt", "not a photograph\n");
    testsupport::writeFile(root + "/c/fake.mov", "not a movie either");
    testsupport::writeFile(outside.file("far.jpg"), voicePhoto(1.0));
    fs::create_symlink(outside.file("far.jpg"), root + "/link.jpg");
    fs::create_symlink(outside.path(), root + "/c/out");
  }
  RunResult run(std::vector<std::string> options) {
    options.push_back(root);
    return fixtures::runStill2mov(options, {{"TMPDIR", tmp.path()}});
  }
};

std::vector<std::string> sortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

double soundSeconds(const std::string& movie) {
  for (const moviechecks::Stream& s : moviechecks::probeStreams(movie))
    if (s.codecType == "audio") return s.duration;
  return -1;
}

}  // namespace

TEST(FolderWalk, TwoWorkersMakeEachPhotographsOwnMovieAndNothingElse) {
  REQUIRE_TOOL("ffprobe");
  Tree t;
  RunResult r = t.run({"-r", "-j", "2", "--no-resize"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string& root = t.root;
  EXPECT_EQ(sortedLines(r.out),
            (std::vector<std::string>{root + "/a/b/two.jpeg -> " + root + "/a/b/two.mov (1.5 s of sound)",
                                      root + "/a/one.JPG -> " + root + "/a/one.mov (1.0 s of sound)",
                                      root + "/three.jpg -> " + root + "/three.mov (2.0 s of sound)"}));
  // Not a terminal: no progress line, only the summary.
  EXPECT_EQ(r.err, "3 converted, 1 without a voice annotation, 0 skipped, 0 failed\n");
  for (const auto& [movie, seconds] : {std::pair<std::string, double>{"/a/one.mov", 1.0}, {"/a/b/two.mov", 1.5},
                                       {"/three.mov", 2.0}}) {
    EXPECT_EQ(moviechecks::completeMovieProblem(testsupport::readFile(root + movie)), "") << movie;
    EXPECT_NEAR(soundSeconds(root + movie), seconds, 0.05) << movie;
  }
  std::vector<std::string> movies;
  for (const auto& e : fs::recursive_directory_iterator(t.dir.path()))
    if (e.path().extension() == ".mov") movies.push_back(e.path().string().substr(root.size()));
  std::sort(movies.begin(), movies.end());
  EXPECT_EQ(movies, (std::vector<std::string>{"/a/b/two.mov", "/a/one.mov", "/c/fake.mov", "/three.mov"}));
  EXPECT_EQ(t.outside.list(), std::vector<std::string>{"far.jpg"});

  // Said only when asked: what was passed over, and why.
  RunResult v = t.run({"-r", "-v", "-n"});
  EXPECT_EQ(v.status, 0);
  EXPECT_NE(v.out.find(root + "/c/plain.jpg: no voice annotation\n"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find(root + "/link.jpg: symbolic link; not followed\n"), std::string::npos);
  EXPECT_NE(v.out.find(root + "/c/out: symbolic link; not followed\n"), std::string::npos);
  EXPECT_EQ(v.err, "0 converted, 1 without a voice annotation, 3 skipped, 0 failed\n");
}

TEST(FolderWalk, AFolderThatCannotBeReadFailsTheRunButNotTheOthers) {
  // Neither readable nor searchable; or listable but not searchable, where the names show but
  // nothing under them can be reached.
  for (const mode_t locked : {mode_t(0), mode_t(0444)}) {
    SCOPED_TRACE("folder mode " + std::to_string(locked));
    Tree t;
    ASSERT_EQ(chmod(t.dir.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(t.tmp.path().c_str(), 0777), 0);
    ASSERT_EQ(chmod(t.root.c_str(), 0777), 0);
    for (const auto& e : fs::recursive_directory_iterator(t.root))
      if (!e.is_symlink()) chmod(e.path().c_str(), e.is_directory() ? 0777 : 0666);
    ASSERT_EQ(chmod((t.root + "/a").c_str(), locked), 0);
    std::string command = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    command += "env TMPDIR=" + testsupport::shellQuote(t.tmp.path()) + " " +
               testsupport::shellQuote(testsupport::binaryPath()) + " -r --no-resize " + testsupport::shellQuote(t.root);
    std::string out;
    const int status = testsupport::run(command + " 2>&1", &out);
    chmod((t.root + "/a").c_str(), 0755);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find(t.root + "/a: cannot be read (permission denied)\n"), std::string::npos) << out;
    EXPECT_NE(out.find(t.root + "/three.jpg -> "), std::string::npos) << out;
    EXPECT_NE(out.find("1 converted, 1 without a voice annotation, 0 skipped, 1 failed\n"), std::string::npos) << out;
  }
}

TEST(FolderWalk, AProgressLineOnlyOnATerminal) {
  Tree t;
  int master = -1;
  const std::string binary = testsupport::binaryPath();
  const std::string tmpdir = t.tmp.path(), root = t.root;
  std::fflush(nullptr);
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("TMPDIR", tmpdir.c_str(), 1);
    execl(binary.c_str(), "still2mov", "-r", "-j", "2", "--no-resize", root.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string seen;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) seen.append(buffer, std::size_t(n));
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  EXPECT_NE(seen.find("\r\x1b[K[0/4] 0:0"), std::string::npos) << seen;
  EXPECT_NE(seen.find("\r\x1b[K[4/4] "), std::string::npos) << seen;
  // Each result line starts on a cleared line, and the summary follows a cleared progress line.
  EXPECT_NE(seen.find("\r\x1b[K" + root + "/three.jpg -> "), std::string::npos) << seen;
  EXPECT_NE(seen.find("\r\x1b[K3 converted, 1 without a voice annotation, 0 skipped, 0 failed"), std::string::npos);
}

TEST(FolderWalk, PhotographNamesAndResultsAcrossProcesses) {
  for (const char* name : {"a.jpg", "B.JPG", "c.Jpeg", "/x/y/D.JPEG"}) EXPECT_TRUE(cli::hasPhotographName(name)) << name;
  for (const char* name : {"a.jpg.mov", ".jpg", "x/.jpeg", "a.jpe", "jpg", "a.jpgx", "/x.jpg/y"})
    EXPECT_FALSE(cli::hasPhotographName(name)) << name;

  cli::PhotoResult r;
  r.outcome = ConversionOutcome::failed;
  r.movie = "/m.mov";
  r.problem = "no movie written: the disk is full";
  r.code = "ENOSPC";
  r.seconds = 1.25;
  r.soundSource = "sidecar";
  r.soundFile = std::string("a\0b", 3);
  const std::string wire = cli::encodeResult(r);
  cli::PhotoResult back;
  ASSERT_TRUE(cli::decodeResult(wire, &back));
  EXPECT_EQ(back.problem, r.problem);
  EXPECT_EQ(back.soundFile, r.soundFile);
  EXPECT_EQ(back.code, "ENOSPC");
  // A cut or padded message is refused, never read past.
  for (std::size_t n = 0; n < wire.size(); ++n) EXPECT_FALSE(cli::decodeResult(wire.substr(0, n), &back)) << n;
  EXPECT_FALSE(cli::decodeResult(wire + "x", &back));
}
