// SPDX-License-Identifier: GPL-2.0-or-later
// Conversions that the disk or the user cuts short: each file-system call on the way to a movie
// failing in turn, kills at random moments, and many conversions at once in one folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <map>
#include <random>
#include <thread>

#include "faults/ShimEnvironment.h"
#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"

extern char** environ;

using fixtures::WaveKind;
using moviechecks::completeMovieProblem;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

const char* const kKinds[] = {"write", "pwrite", "fsync", "rename", "linkat", "close"};

using faultshim::Environment;
using faultshim::withShim;

std::map<std::string, int> readCounts(const std::string& path) {
  std::map<std::string, int> counts;
  std::ifstream in(path);
  std::string kind;
  int n = 0;
  while (in >> kind >> n) counts[kind] = n;
  return counts;
}

// A still2mov started without waiting for it; output goes to /dev/null, or standard output to
// output and standard error to output.err.
pid_t start(const std::vector<std::string>& args, const Environment& extra, const std::string& output = "") {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string s = *e;
    if (!extra.count(s.substr(0, s.find('=')))) envStrings.push_back(s);
  }
  for (const auto& [k, v] : extra) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp, argv;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string program = testsupport::binaryPath();
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string out = output.empty() ? "/dev/null" : output, err = output.empty() ? out : output + ".err";
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// The exit status, or -1 when the process did not exit by itself.
int finish(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string voicedPhoto(int width, int height, double seconds) {
  return fixtures::embedWave(fixtures::makeJpeg({.width = width, .height = height}),
                             fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = seconds, .rate = 8000}));
}

// Runs the conversion once for every call of every kind that env's counts saw, that call failing
// (EIO and ENOSPC in turn), and hands each run to check.
void eachCallFailing(const Environment& env, const std::map<std::string, int>& counts,
                     const std::vector<std::string>& args,
                     const std::function<void(const std::string& kind, const fixtures::RunResult&)>& check) {
  for (const char* kind : kKinds) {
    const auto count = counts.find(kind);
    for (int n = 1; count != counts.end() && n <= count->second; ++n) {
      SCOPED_TRACE(std::string(kind) + " #" + std::to_string(n));
      Environment faulty = env;
      faulty["STILL2MOV_FAULT"] = std::string(kind) + ":" + std::to_string(n);
      faulty["STILL2MOV_FAULT_ERRNO"] = std::to_string(n % 2 ? EIO : ENOSPC);
      check(kind, fixtures::runStill2mov(args, faulty));
    }
  }
}

// The picture resized or not; working files unnamed, or named where the file system has no
// unnamed ones.
class Faults : public testing::TestWithParam<std::tuple<bool, bool>> {};

// Every call of every kind fails once, in its turn. A failure leaves the photograph, the earlier
// movie (or no movie at all) and a clean folder, and says so in a line; only a close on a
// working file the movie no longer needs may pass unnoticed, and then the movie is whole.
TEST_P(Faults, EachFailingCallLeavesEverythingAsItWas) {
  const auto [resize, unnamed] = GetParam();
  const std::string photoBytes = voicedPhoto(640, 480, 1.0);
  for (bool earlierMovie : {true, false}) {
    SCOPED_TRACE(earlierMovie ? "over an earlier movie" : "no earlier movie");
    ScratchDir dir, tmp;
    const std::string photo = dir.file("p.jpg"), movie = dir.file("p.mov");
    writeFile(photo, photoBytes);
    const std::vector<std::string> args = {resize ? "--resize" : "--no-resize", photo};
    fixtures::RunResult first = fixtures::runStill2mov(args, {{"TMPDIR", tmp.path()}});
    ASSERT_EQ(first.status, 0) << first.err;
    const std::string earlier = readFile(movie);
    ASSERT_EQ(completeMovieProblem(earlier), "");
    if (!earlierMovie) std::filesystem::remove(movie);

    Environment env = withShim({{"TMPDIR", tmp.path()}, {"STILL2MOV_FAULT_COUNTS", tmp.file("counts")}});
    if (!unnamed) env["STILL2MOV_NO_TMPFILE"] = "1";
    ASSERT_EQ(fixtures::runStill2mov(args, env).status, 0);
    std::map<std::string, int> counts = readCounts(tmp.file("counts"));
    if (earlierMovie) writeFile(movie, earlier);
    else std::filesystem::remove(movie);
    // The movie goes to disk through a write (one gathered write), a flush and a rename or link
    // at the least.
    EXPECT_GT(counts["write"] + counts["pwrite"], 0);
    EXPECT_GT(counts["fsync"], 0);
    EXPECT_GT(counts["rename"] + counts["linkat"], 0);

    int closesThatFailed = 0;
    eachCallFailing(env, counts, args, [&](const std::string& kind, const fixtures::RunResult& r) {
      EXPECT_EQ(readFile(photo), photoBytes);
      std::vector<std::string> left = dir.list();
      bool named = std::filesystem::exists(movie);
      EXPECT_EQ(left, named ? (std::vector<std::string>{"p.jpg", "p.mov"}) : std::vector<std::string>{"p.jpg"});
      if (r.status == 0 && kind == "close") {
        EXPECT_EQ(completeMovieProblem(readFile(movie)), "");
      } else {
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(photo + ": "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("(error "), std::string::npos) << r.err;
        if (kind == "close") ++closesThatFailed;
        if (earlierMovie) {
          EXPECT_TRUE(readFile(movie) == earlier) << "the earlier movie changed";
        } else {
          EXPECT_FALSE(named) << "a movie was left: " << readFile(movie).size() << " bytes";
        }
      }
      // Put the earlier state back for the next call, should a close have let a new movie through.
      if (earlierMovie) writeFile(movie, earlier);
      else std::filesystem::remove(movie);
    });
    // Closing the finished movie is on its way: that one failing must count.
    EXPECT_GT(closesThatFailed, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Picture, Faults, testing::Combine(testing::Bool(), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<bool, bool>>& info) {
                           return std::string(std::get<0>(info.param) ? "Resized" : "NaturalSize") +
                                  (std::get<1>(info.param) ? "Unnamed" : "Named");
                         });

// The MP4 and the motion photo go to disk through the same saving: every call failing in its turn
// leaves the photograph and the folder as they were and says why in a line.
TEST(SavingFaults, EachFailingCallLeavesNoMp4OrMotionPhoto) {
  const std::string photoBytes = voicedPhoto(640, 480, 1.0);
  for (const char* format : {"mp4", "motion"}) {
    SCOPED_TRACE(format);
    ScratchDir dir, tmp;
    const std::string photo = dir.file("p.jpg");
    const std::string output = dir.file(std::string(format) == "mp4" ? "p.mp4" : "p.MP.jpg");
    writeFile(photo, photoBytes);
    const std::vector<std::string> args = {std::string("--format=") + format, "--resize", photo};
    Environment env = withShim({{"TMPDIR", tmp.path()}, {"STILL2MOV_FAULT_COUNTS", tmp.file("counts")}});
    ASSERT_EQ(fixtures::runStill2mov(args, env).status, 0);
    std::filesystem::remove(output);
    std::map<std::string, int> counts = readCounts(tmp.file("counts"));
    EXPECT_GT(counts["write"] + counts["pwrite"], 0);
    EXPECT_GT(counts["fsync"], 0);
    eachCallFailing(env, counts, args, [&](const std::string&, const fixtures::RunResult& r) {
      EXPECT_EQ(readFile(photo), photoBytes);
      const bool written = std::filesystem::exists(output);
      std::vector<std::string> expected = {"p.jpg"};
      if (written) expected.push_back(std::filesystem::path(output).filename().string());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(dir.list(), expected) << "no working file is left";
      if (r.status != 0) {
        EXPECT_FALSE(written);
        EXPECT_NE(r.err.find(photo + ": "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("(error "), std::string::npos) << r.err;
      }
      std::filesystem::remove(output);
    });
  }
}

// A conversion reads the photograph once, whichever the picture path: the movie's frame, or
// its scaled copy, is made from the bytes read for the tags.
TEST(OneRead, AConversionOpensThePhotographOnce) {
  ScratchDir dir, tmp;
  const std::string photo = std::filesystem::canonical(dir.path()).string() + "/p.jpg";
  writeFile(photo, voicedPhoto(640, 480, 1.0));
  for (const char* mode : {"--no-resize", "--resize", "--format=mp4", "--format=motion"}) {
    SCOPED_TRACE(mode);
    const Environment env = withShim(
        {{"TMPDIR", tmp.path()}, {"STILL2MOV_FAULT_COUNTS", tmp.file("counts")}, {"STILL2MOV_WATCH", photo}});
    fixtures::RunResult r = fixtures::runStill2mov({mode, photo}, env);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readCounts(tmp.file("counts"))["opens"], 1);
  }
}

// Killed at random moments, a conversion of a 12-megapixel photograph leaves the earlier movie
// or the complete new one, never a working file or an empty movie.
TEST(Kills, AKilledConversionLeavesTheEarlierMovieOrTheNewOne) {
  ScratchDir dir, tmp;
  const std::string photo = dir.file("p.jpg"), movie = dir.file("p.mov");
  const std::string photoBytes = voicedPhoto(4000, 3000, 5.0);
  ASSERT_FALSE(photoBytes.empty());
  writeFile(photo, photoBytes);
  const Environment env = {{"TMPDIR", tmp.path()}};

  // Whole conversions per picture size: how long one takes at best and how large its movie is.
  struct Mode {
    std::string flag;
    double seconds;
    std::size_t size;
  } modes[2] = {{"--resize", 1e9, 0}, {"--no-resize", 1e9, 0}};
  for (Mode& m : modes) {
    for (int k = 0; k < 3; ++k) {
      auto begin = std::chrono::steady_clock::now();
      ASSERT_EQ(finish(start({m.flag, photo}, env)), 0);
      m.seconds = std::min(m.seconds, std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
    std::string made = readFile(movie);
    ASSERT_EQ(completeMovieProblem(made), "");
    m.size = made.size();
  }

  const unsigned seed = unsigned(std::chrono::system_clock::now().time_since_epoch().count());
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // Load on the machine changes how long a conversion takes: the rounds go on (up to 60) until
  // at least 10 kills landed in the middle of the work, so that the test proves something.
  int interrupted = 0;
  for (int k = 0; k < 60 && (k < 20 || interrupted < 10); ++k) {
    const Mode& m = modes[k % 2];
    // Every fourth conversion has no earlier movie, so an empty movie file would show.
    if (k % 4 == 3) std::filesystem::remove(movie);
    const bool hadMovie = std::filesystem::exists(movie);
    const std::string earlier = hadMovie ? readFile(movie) : "";
    const double delay = std::uniform_real_distribution<double>(0, m.seconds)(random);
    SCOPED_TRACE("conversion " + std::to_string(k) + " " + m.flag + ", killed after " + std::to_string(delay) + " s");

    pid_t pid = start({m.flag, photo}, env);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    kill(pid, SIGKILL);
    if (finish(pid) == -1) ++interrupted;

    EXPECT_TRUE(readFile(photo) == photoBytes) << "the photograph changed";
    if (std::filesystem::exists(movie)) {
      std::string now = readFile(movie);
      if (!(hadMovie && now == earlier)) {
        EXPECT_EQ(completeMovieProblem(now), "");
        EXPECT_EQ(now.size(), m.size);
      }
      EXPECT_EQ(dir.list(), (std::vector<std::string>{"p.jpg", "p.mov"}));
    } else {
      EXPECT_FALSE(hadMovie) << "the earlier movie is gone";
      EXPECT_EQ(dir.list(), std::vector<std::string>{"p.jpg"});
    }
    // Keep an earlier movie for the next round.
    if (!std::filesystem::exists(movie)) {
      ASSERT_EQ(finish(start({m.flag, photo}, env)), 0);
    }
  }
  EXPECT_GE(interrupted, 10) << modes[0].seconds << " " << modes[1].seconds;
}

TEST(Concurrency, EightConversionsOfOnePhotographEndWithOneMovie) {
  ScratchDir dir, tmp;
  const std::string photo = dir.file("p.jpg");
  writeFile(photo, voicedPhoto(1600, 1200, 2.0));
  std::vector<pid_t> pids;
  for (int k = 0; k < 8; ++k) pids.push_back(start({k % 2 ? "--resize" : "--no-resize", photo}, {{"TMPDIR", tmp.path()}}));
  for (pid_t pid : pids) EXPECT_EQ(finish(pid), 0);
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"p.jpg", "p.mov"}));
  EXPECT_EQ(completeMovieProblem(readFile(dir.file("p.mov"))), "");
}

TEST(Concurrency, FourProcessesConvertingFortyPhotographsLoseNone) {
  ScratchDir dir, tmp;
  const std::string photoBytes = voicedPhoto(320, 240, 0.3);
  std::vector<std::string> photos, expected;
  for (int k = 0; k < 40; ++k) {
    std::string name = "photo" + std::to_string(100 + k);
    photos.push_back(dir.file(name + ".jpg"));
    writeFile(photos.back(), photoBytes);
    expected.push_back(name + ".jpg");
    expected.push_back(name + ".mov");
  }
  std::sort(expected.begin(), expected.end());
  // Each process takes every photograph, in an order of its own, so they meet on every movie.
  std::mt19937 random(7);
  std::vector<pid_t> pids;
  for (int p = 0; p < 4; ++p) {
    std::vector<std::string> args = photos;
    std::shuffle(args.begin(), args.end(), random);
    args.insert(args.begin(), p % 2 ? "--resize" : "--no-resize");
    pids.push_back(start(args, {{"TMPDIR", tmp.path()}}));
  }
  for (pid_t pid : pids) EXPECT_EQ(finish(pid), 0);
  EXPECT_EQ(dir.list(), expected);
  for (const std::string& photo : photos) {
    std::string movie = photo.substr(0, photo.size() - 4) + ".mov";
    EXPECT_EQ(completeMovieProblem(readFile(movie)), "") << movie;
  }
}

// Races on the movie's name. A conversion is held at its last flush, just before the movie
// takes its name, while the test puts something there; what was put there must survive unless
// -y was given.
class NameRace : public testing::TestWithParam<bool> {
 protected:
  // Working files unnamed, or named as on a file system without unnamed ones.
  Environment environment(const ScratchDir& tmp) const {
    Environment env = withShim({{"TMPDIR", tmp.path()}});
    if (!GetParam()) env["STILL2MOV_NO_TMPFILE"] = "1";
    return env;
  }
};

bool waitFor(const std::string& path) {
  for (int k = 0; k < 3000; ++k) {
    if (std::filesystem::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST_P(NameRace, AFileThatAppearsOrChangesMeanwhileIsReplacedOnlyWithY) {
  const std::string photoBytes = voicedPhoto(320, 240, 0.5);
  struct Case {
    const char* name;
    bool earlierMovie;                          // a movie of ours there when the conversion starts
    std::function<void(const std::string&)> meddle;  // what happens to the name meanwhile
  };
  const Case cases[] = {
      {"a file appears", false, [](const std::string& m) { writeFile(m, "the user's"); }},
      {"our movie is changed in place", true,
       [](const std::string& m) {
         std::ofstream(m, std::ios::binary | std::ios::app) << "the user's";
       }},
      {"our movie is replaced by another file", true,
       [](const std::string& m) {
         writeFile(m + ".new", "the user's");
         std::filesystem::rename(m + ".new", m);
       }},
  };
  for (const Case& c : cases) {
    for (const char* rule : {"", "-n", "-y"}) {
      SCOPED_TRACE(std::string(c.name) + " " + rule);
      ScratchDir dir, tmp;
      const std::string photo = dir.file("p.jpg"), movie = dir.file("p.mov"), gate = tmp.file("gate");
      writeFile(photo, photoBytes);
      std::vector<std::string> args = {"--no-resize", photo};
      if (*rule) args.insert(args.begin(), rule);
      Environment env = environment(tmp);

      // The last flush of a conversion is the movie's own, just before it is named.
      env["STILL2MOV_FAULT_COUNTS"] = tmp.file("counts");
      ASSERT_EQ(finish(start({"--no-resize", photo}, env)), 0);
      const int flushes = readCounts(tmp.file("counts"))["fsync"];
      ASSERT_GT(flushes, 0);
      env.erase("STILL2MOV_FAULT_COUNTS");
      if (!c.earlierMovie) std::filesystem::remove(movie);

      env["STILL2MOV_PAUSE"] = "fsync:" + std::to_string(flushes);
      env["STILL2MOV_PAUSE_FILE"] = gate;
      const pid_t pid = start(args, env, tmp.file("out"));
      ASSERT_GT(pid, 0);
      if (c.earlierMovie && std::string(rule) == "-n") {
        // -n leaves an existing movie alone from the start: nothing to race with.
        EXPECT_EQ(finish(pid), 0);
        continue;
      }
      ASSERT_TRUE(waitFor(gate + ".paused"));
      c.meddle(movie);
      const std::string meddled = readFile(movie);
      writeFile(gate + ".go", "");
      const int status = finish(pid);
      const std::string err = readFile(tmp.file("out.err"));

      if (std::string(rule) == "-y") {
        EXPECT_EQ(status, 0) << err;
        EXPECT_EQ(completeMovieProblem(readFile(movie)), "");
      } else {
        EXPECT_TRUE(readFile(movie) == meddled) << "replaced what appeared meanwhile";
        if (*rule) {
          EXPECT_EQ(status, 0) << err;
          EXPECT_NE(readFile(tmp.file("out")).find("skipped"), std::string::npos);
        } else {
          EXPECT_EQ(status, 1);
          EXPECT_NE(err.find("appeared or changed while the movie was made"), std::string::npos) << err;
        }
      }
      EXPECT_EQ(dir.list(), (std::vector<std::string>{"p.jpg", "p.mov"}));
    }
  }
}

// Two runs with -n over the same photographs, both past the check for the first one before
// either names its movie: each movie is made once, and the counts say so.
TEST_P(NameRace, TwoRunsWithNOverOneFolderConvertEachPhotographOnce) {
  ScratchDir dir, tmp;
  const std::string photoBytes = voicedPhoto(160, 120, 0.2);
  for (int k = 0; k < 16; ++k) writeFile(dir.file("photo" + std::to_string(10 + k) + ".jpg"), photoBytes);
  Environment env = environment(tmp);
  env["STILL2MOV_PAUSE"] = "fsync:1";
  std::vector<pid_t> pids;
  for (int p = 0; p < 2; ++p) {
    env["STILL2MOV_PAUSE_FILE"] = tmp.file("gate" + std::to_string(p));
    pids.push_back(start({"-r", "-n", "-j", "1", "--json", "--no-resize", dir.path()}, env,
                         tmp.file("out" + std::to_string(p))));
  }
  for (int p = 0; p < 2; ++p) ASSERT_TRUE(waitFor(tmp.file("gate" + std::to_string(p) + ".paused")));
  for (int p = 0; p < 2; ++p) writeFile(tmp.file("gate" + std::to_string(p) + ".go"), "");
  int converted = 0, skipped = 0;
  for (int p = 0; p < 2; ++p) {
    EXPECT_EQ(finish(pids[p]), 0);
    std::istringstream out(readFile(tmp.file("out" + std::to_string(p))));
    for (std::string line; std::getline(out, line);) {
      converted += line.find("\"Status\": \"converted\"") != std::string::npos;
      skipped += line.find("\"Status\": \"skipped\"") != std::string::npos;
    }
  }
  EXPECT_EQ(converted, 16);
  EXPECT_EQ(skipped, 16);
  EXPECT_EQ(dir.list().size(), 32u);
}

INSTANTIATE_TEST_SUITE_P(Movie, NameRace, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
  return info.param ? "Unnamed" : "Named";
});

// Working files with names, where the file system makes no unnamed ones (FAT, exFAT, NFS,
// CIFS): the conversion is held at its last flush, when they all exist, and then signalled.
class NamedWorkingFiles : public testing::Test {
 protected:
  void SetUp() override {
    writeFile(photo, voicedPhoto(320, 240, 0.5));
    env["STILL2MOV_FAULT_COUNTS"] = tmp.file("counts");
    ASSERT_EQ(finish(start({"--no-resize", photo}, env)), 0);
    env.erase("STILL2MOV_FAULT_COUNTS");
    std::filesystem::remove(dir.file("p.mov"));
    env["STILL2MOV_PAUSE"] = "fsync:" + std::to_string(readCounts(tmp.file("counts"))["fsync"]);
    env["STILL2MOV_PAUSE_FILE"] = tmp.file("gate");
  }

  // A conversion stopped by sig while its working files exist; its exit status.
  int stoppedBy(int sig) {
    std::filesystem::remove(tmp.file("gate.paused"));
    const pid_t pid = start({"--no-resize", photo}, env);
    EXPECT_TRUE(waitFor(tmp.file("gate.paused")));
    EXPECT_GT(workingFiles().size(), 0u);
    kill(pid, sig);
    return finish(pid);
  }

  std::vector<std::string> workingFiles() const {
    std::vector<std::string> found;
    for (const std::string& name : dir.list())
      if (name.rfind(".still2mov-", 0) == 0) found.push_back(name);
    return found;
  }

  static void age(const std::string& path, int seconds) {
    const timespec then[2] = {{time(nullptr) - seconds, 0}, {time(nullptr) - seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), then, AT_SYMLINK_NOFOLLOW), 0);
  }

  ScratchDir dir, tmp;
  const std::string photo = dir.file("p.jpg");
  Environment env = withShim({{"TMPDIR", tmp.path()}, {"STILL2MOV_NO_TMPFILE", "1"}});
};

TEST_F(NamedWorkingFiles, AreRemovedWhenTheConversionIsInterrupted) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(strsignal(sig));
    EXPECT_EQ(stoppedBy(sig), -1);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"p.jpg"});
  }
}

// A kill leaves them; a later run removes those that are provably ours and stale, and nothing
// else: not one still locked by a run using it, not a recent one, not a link, folder or FIFO,
// not a name that only looks similar.
TEST_F(NamedWorkingFiles, ALaterRunRemovesStaleOnesOnly) {
  EXPECT_EQ(stoppedBy(SIGKILL), -1);
  const std::vector<std::string> left = workingFiles();
  ASSERT_GT(left.size(), 0u);
  for (const std::string& name : left) age(dir.file(name), 3600);

  const std::string locked = ".still2mov-LOCKED00-p.mov.part", recent = ".still2mov-RECENT00-p.mov.part",
                    link = ".still2mov-LINK0000-p.mov.part", folder = ".still2mov-FOLDER00-p.mov.part",
                    fifo = ".still2mov-FIFO0000-p.mov.part", similar = ".still2mov-short-p.mov.part",
                    other = ".still2mov-OTHER000-p.mov.tmp";
  for (const std::string& name : {locked, recent, similar, other}) writeFile(dir.file(name), "data");
  writeFile(tmp.file("target"), "the user's");
  ASSERT_EQ(symlink(tmp.file("target").c_str(), dir.file(link).c_str()), 0);
  ASSERT_EQ(mkdir(dir.file(folder).c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(dir.file(fifo).c_str(), 0600), 0);
  for (const std::string& name : {locked, link, folder, fifo, similar, other}) age(dir.file(name), 3600);
  age(dir.file(recent), 60);
  const int held = open(dir.file(locked).c_str(), O_RDWR);
  ASSERT_EQ(flock(held, LOCK_EX), 0);

  env.erase("STILL2MOV_PAUSE");
  ASSERT_EQ(finish(start({"--no-resize", photo}, env)), 0);
  close(held);
  std::vector<std::string> expected = {"p.jpg", "p.mov", locked, recent, link, folder, fifo, similar, other};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(dir.list(), expected);
  EXPECT_EQ(readFile(tmp.file("target")), "the user's");
}

// The same on a real FAT file system (an image made with mkfs.vfat, mounted through fusefat),
// as on a camera's card: no unnamed files, no hard links, no rename without replacing.
TEST(CameraCard, ConvertsAndLeavesNoWorkingFilesOnFat) {
  for (const char* tool : {"mkfs.vfat", "fusefat", "fusermount"})
    ASSERT_TRUE(testsupport::haveTool(tool)) << tool << " is missing (scripts/setup-tests installs it)";
  if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "this machine offers no FUSE";
  ScratchDir tmp, mount;
  const std::string image = tmp.file("card.img");
  std::filesystem::resize_file((writeFile(image, ""), image), 32 << 20);
  ASSERT_EQ(testsupport::run("mkfs.vfat " + testsupport::shellQuote(image) + " >/dev/null 2>&1"), 0);
  if (testsupport::run("fusefat -o rw+ " + testsupport::shellQuote(image) + " " + testsupport::shellQuote(mount.path()) +
                       " >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "this machine does not allow a FUSE mount";
  struct Unmount {
    std::string path;
    ~Unmount() { testsupport::run("fusermount -u " + testsupport::shellQuote(path)); }
  } unmount{mount.path()};

  const std::string photo = mount.file("P1000001.JPG"), movie = mount.file("P1000001.mov");
  writeFile(photo, voicedPhoto(320, 240, 0.5));
  Environment env = withShim({{"TMPDIR", tmp.path()}, {"STILL2MOV_FAULT_COUNTS", tmp.file("counts")}});
  ASSERT_EQ(finish(start({"--no-resize", photo}, env)), 0);
  EXPECT_EQ(completeMovieProblem(readFile(movie)), "");
  EXPECT_EQ(mount.list(), (std::vector<std::string>{"P1000001.JPG", "P1000001.mov"}));
  const std::string earlier = readFile(movie);

  env.erase("STILL2MOV_FAULT_COUNTS");
  env["STILL2MOV_PAUSE"] = "fsync:" + std::to_string(readCounts(tmp.file("counts"))["fsync"]);
  env["STILL2MOV_PAUSE_FILE"] = tmp.file("gate");
  std::filesystem::remove(movie);
  for (int sig : {SIGTERM, SIGKILL}) {
    SCOPED_TRACE(strsignal(sig));
    std::filesystem::remove(tmp.file("gate.paused"));
    const pid_t pid = start({"--no-resize", photo}, env);
    ASSERT_TRUE(waitFor(tmp.file("gate.paused")));
    kill(pid, sig);
    finish(pid);
  }
  // Only the kill left working files; a later run removes them once they are stale.
  std::vector<std::string> left;
  for (const std::string& name : mount.list())
    if (name != "P1000001.JPG") left.push_back(name);
  ASSERT_GT(left.size(), 0u);
  for (const std::string& name : left) {
    EXPECT_EQ(name.rfind(".still2mov-", 0), 0u) << name;
    const timespec then[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, mount.file(name).c_str(), then, 0), 0);
  }
  env.erase("STILL2MOV_PAUSE");
  ASSERT_EQ(finish(start({"--no-resize", photo}, env)), 0);
  EXPECT_EQ(mount.list(), (std::vector<std::string>{"P1000001.JPG", "P1000001.mov"}));
  EXPECT_EQ(readFile(movie).size(), earlier.size());
}

// Workers end with the run that started them: when only the parent of -r -j is killed, none
// goes on to write a movie no one reports, and they leave nothing behind.
TEST(Workers, DieWithTheirParentAndLeaveNothing) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);  // orphaned workers become ours to see
  for (bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed working files" : "named working files");
    ScratchDir dir, tmp;
    for (int k = 0; k < 4; ++k) writeFile(dir.file("p" + std::to_string(k) + ".jpg"), voicedPhoto(320, 240, 0.5));
    Environment env = withShim({{"TMPDIR", tmp.path()}, {"XDG_RUNTIME_DIR", ""}});
    if (!unnamed) env["STILL2MOV_NO_TMPFILE"] = "1";
    // Every worker holds at its first flush, with its recording and working files made.
    env["STILL2MOV_PAUSE"] = "fsync:1";
    env["STILL2MOV_PAUSE_FILE"] = tmp.file("gate");
    const pid_t parent = start({"-r", "-j", "2", "--no-resize", dir.path()}, env);
    ASSERT_TRUE(waitFor(tmp.file("gate.paused")));
    kill(parent, SIGKILL);
    EXPECT_EQ(finish(parent), -1);

    // The workers must be gone before the held flushes are let go.
    int left = 0;
    for (int k = 0; k < 500; ++k) {
      while (waitpid(-1, nullptr, WNOHANG) > 0) {
      }
      left = 0;
      for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(e.path() / "stat");
        std::string pid, name, state, ppid;
        if (stat >> pid >> name >> state >> ppid && ppid == std::to_string(getpid()) && name == "(still2mov)") ++left;
      }
      if (left == 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(left, 0) << "workers outlived their parent";
    writeFile(tmp.file("gate.go"), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    while (waitpid(-1, nullptr, 0) > 0) {
    }
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg"}));
    std::vector<std::string> inTmp;
    for (const std::string& name : tmp.list())
      if (name.rfind("gate", 0) != 0) inTmp.push_back(name);
    EXPECT_EQ(inTmp, std::vector<std::string>{});
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

// A failed write is named as the system named it, in its words: a quota is not a full disk and an
// error the program has no words of its own for is not a generic input/output error. The
// developers' diagnostics of the failure appear with -v only.
TEST(FaultCodes, AFailedWriteIsNamedAsTheSystemNamedIt) {
  struct Case {
    int error;
    const char* code;
    const char* words;
  };
  const Case cases[] = {
      {ENOSPC, "ENOSPC", "the disk is full"},
      {EDQUOT, "EDQUOT", "disk quota exceeded"},
      {EFBIG, "EFBIG", "File too large"},
      {EIO, "EIO", "a read or write error on the disk"},
  };
  ScratchDir dir, tmp;
  const std::string photo = dir.file("p.jpg");
  writeFile(photo, voicedPhoto(320, 240, 0.5));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Environment env = withShim({{"TMPDIR", tmp.path()}});
    env["STILL2MOV_FAULT"] = "pwrite:1";  // the movie's gathered write
    env["STILL2MOV_FAULT_ERRNO"] = std::to_string(c.error);
    fixtures::RunResult json = fixtures::runStill2mov({"--json", "--no-resize", photo}, env);
    EXPECT_EQ(json.status, 1);
    EXPECT_NE(json.out.find(std::string("\"Code\": \"") + c.code + "\"}"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find(c.words), std::string::npos) << json.out;
    EXPECT_EQ(json.err, "");  // nothing for developers on standard error
    fixtures::RunResult verbose = fixtures::runStill2mov({"-v", "--no-resize", photo}, env);
    EXPECT_NE(verbose.err.find(c.words), std::string::npos) << verbose.err;
    EXPECT_NE(verbose.err.find(std::string("(") + c.code + ")\n"), std::string::npos) << verbose.err;
    EXPECT_NE(verbose.err.find("Image Convert: "), std::string::npos) << verbose.err;
  }
}

}  // namespace
