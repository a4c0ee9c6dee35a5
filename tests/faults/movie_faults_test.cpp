// Conversions that the disk or the user cuts short: each file-system call on the way to a movie
// failing in turn, kills at random moments, and many conversions at once in one folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

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

using Environment = std::map<std::string, std::string>;

// The shim must come first; a sanitizer runtime then does not insist on being first itself.
Environment withShim(Environment env) {
  env["LD_PRELOAD"] = STILL2MOV_FAULT_SHIM;
  const char* asan = std::getenv("ASAN_OPTIONS");
  env["ASAN_OPTIONS"] = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0";
  return env;
}

std::map<std::string, int> readCounts(const std::string& path) {
  std::map<std::string, int> counts;
  std::ifstream in(path);
  std::string kind;
  int n = 0;
  while (in >> kind >> n) counts[kind] = n;
  return counts;
}

// A still2mov started without waiting for it; output goes to /dev/null.
pid_t start(const std::vector<std::string>& args, const Environment& extra) {
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
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
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
    for (const char* kind : kKinds) {
      for (int n = 1; n <= counts[kind]; ++n) {
        SCOPED_TRACE(std::string(kind) + " #" + std::to_string(n));
        Environment faulty = env;
        faulty["STILL2MOV_FAULT"] = std::string(kind) + ":" + std::to_string(n);
        faulty["STILL2MOV_FAULT_ERRNO"] = std::to_string(n % 2 ? EIO : ENOSPC);
        fixtures::RunResult r = fixtures::runStill2mov(args, faulty);
        EXPECT_EQ(readFile(photo), photoBytes);
        std::vector<std::string> left = dir.list();
        bool named = std::filesystem::exists(movie);
        EXPECT_EQ(left, named ? (std::vector<std::string>{"p.jpg", "p.mov"}) : std::vector<std::string>{"p.jpg"});
        if (r.status == 0 && std::string(kind) == "close") {
          EXPECT_EQ(completeMovieProblem(readFile(movie)), "");
        } else {
          EXPECT_EQ(r.status, 1) << r.out << r.err;
          EXPECT_EQ(r.out, "");
          EXPECT_NE(r.err.find(photo + ": "), std::string::npos) << r.err;
          EXPECT_EQ(r.err.find("(error "), std::string::npos) << r.err;
          if (std::string(kind) == "close") ++closesThatFailed;
          if (earlierMovie) {
            EXPECT_TRUE(readFile(movie) == earlier) << "the earlier movie changed";
          } else {
            EXPECT_FALSE(named) << "a movie was left: " << readFile(movie).size() << " bytes";
          }
        }
        // Put the earlier state back for the next call, should a close have let a new movie through.
        if (earlierMovie) writeFile(movie, earlier);
        else std::filesystem::remove(movie);
      }
    }
    // Closing the finished movie is on its way: that one failing must count.
    EXPECT_GT(closesThatFailed, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Picture, Faults, testing::Combine(testing::Bool(), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<bool, bool>>& info) {
                           return std::string(std::get<0>(info.param) ? "Resized" : "NaturalSize") +
                                  (std::get<1>(info.param) ? "Unnamed" : "Named");
                         });

// A conversion reads the photograph once, whichever the picture path: the movie's frame, or
// its scaled copy, is made from the bytes read for the tags.
TEST(OneRead, AConversionOpensThePhotographOnce) {
  ScratchDir dir, tmp;
  const std::string photo = std::filesystem::canonical(dir.path()).string() + "/p.jpg";
  writeFile(photo, voicedPhoto(640, 480, 1.0));
  for (const char* mode : {"--no-resize", "--resize"}) {
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
