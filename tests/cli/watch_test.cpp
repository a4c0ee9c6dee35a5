// SPDX-License-Identifier: GPL-2.0-or-later
// The watcher: catches up on what the folders hold, converts each photograph once whatever way
// it arrives (slowly, in bursts, in new folders, before or after its recording), falls back to
// polling where notifications run out, stops cleanly on SIGTERM/SIGINT and after a kill -9
// leaves no litter and converts on restart only what is left.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/DngBuilder.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::WaveKind;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;
using namespace std::chrono_literals;

namespace {

std::string voicePhoto(double seconds = 0.1, int width = 32) {
  return fixtures::embedWave(fixtures::makeJpeg({.width = width, .height = 24}),
                             fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = seconds}));
}

// A watcher running in the background, its output collected in files of the scratch folder.
class Watcher {
 public:
  Watcher(const ScratchDir& dir, std::vector<std::string> args, std::map<std::string, std::string> env = {})
      : out_(dir.file("watch.out." + std::to_string(++runs_))), err_(dir.file("watch.err." + std::to_string(runs_))) {
    mkdir(dir.file("tmp").c_str(), 0700);
    env["TMPDIR"] = dir.file("tmp");
    args.insert(args.begin(), {"watch", "--no-resize", "-j2"});
    const std::string program = testsupport::binaryPath();
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      dup2(open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    setpgid(pid_, pid_);
  }
  ~Watcher() {
    if (pid_ > 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string out() const { return readFile(out_); }
  std::string err() const { return readFile(err_); }
  // Sends the signal and waits for the end: its exit status, or -1 when it did not end in time
  // or ended by a signal.
  int stop(int signal, std::chrono::milliseconds within, std::chrono::milliseconds* took = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    kill(pid_, signal);
    int status = 0;
    for (;;) {
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) break;
      if (std::chrono::steady_clock::now() - start > within) return -1;
      std::this_thread::sleep_for(10ms);
    }
    if (took) *took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // Workers the signal left to finish are gone too.
    kill(-pid_, SIGKILL);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void killHard() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    orphanGroup_ = pid_;
    pid_ = -1;
  }

 private:
  static inline int runs_ = 0;
  std::string out_, err_;
  pid_t pid_ = -1;
  pid_t orphanGroup_ = -1;
};

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The photographs a watcher's output says it converted, with how often each.
std::map<std::string, int> converted(const std::string& out) {
  std::map<std::string, int> seen;
  std::size_t start = 0;
  for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = out.substr(start, end - start);
    const std::size_t arrow = line.find(" -> ");
    if (arrow != std::string::npos) ++seen[line.substr(0, arrow)];
  }
  return seen;
}

// Every file below the folder that is neither a photograph, a recording nor a movie nor the
// test's own: what a conversion would have left behind.
std::vector<std::string> litter(const ScratchDir& dir, const std::string& under) {
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.file(under))) {
    if (e.is_directory()) continue;
    const std::string ext = e.path().extension().string();
    if (ext != ".jpg" && ext != ".JPG" && ext != ".jpeg" && ext != ".mov" && ext != ".WAV" && ext != ".wav")
      found.push_back(e.path().string());
  }
  return found;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

ino_t inodeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

}  // namespace

TEST(Watch, CatchesUpThenConvertsEveryArrivalOnceWhateverWayItComes) {
  ScratchDir dir;
  const std::string w = dir.file("w");
  mkdir(w.c_str(), 0755);
  mkdir(dir.file("outside").c_str(), 0755);
  const std::string photo = voicePhoto();
  writeFile(w + "/before.jpg", photo);
  writeFile(w + "/late.jpg", fixtures::makeJpeg());  // its recording comes after the start
  Watcher watcher(dir, {w});
  ASSERT_TRUE(waitFor([&] { return exists(w + "/before.mov"); }, 20s)) << watcher.err();

  writeFile(w + "/created.jpg", photo);
  writeFile(dir.file("outside/moved.jpg"), photo);
  ASSERT_EQ(rename(dir.file("outside/moved.jpg").c_str(), (w + "/moved.jpg").c_str()), 0);
  writeFile(w + "/renamed.part", photo);
  ASSERT_EQ(rename((w + "/renamed.part").c_str(), (w + "/renamed.JPG").c_str()), 0);
  // A folder made after the start, with a folder in it made at once.
  std::filesystem::create_directories(w + "/new/deeper");
  writeFile(w + "/new/deeper/inside.jpeg", photo);
  // Recordings beside plain photographs: one after its photograph, one before.
  writeFile(w + "/late.WAV", fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.2}));
  writeFile(w + "/early.wav", fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.2}));
  std::this_thread::sleep_for(300ms);
  writeFile(w + "/early.jpg", fixtures::makeJpeg());

  const std::vector<std::string> movies = {"created.mov", "moved.mov", "renamed.mov", "new/deeper/inside.mov",
                                           "late.mov", "early.mov"};
  ASSERT_TRUE(waitFor(
      [&] {
        for (const std::string& m : movies)
          if (!exists(w + "/" + m)) return false;
        return true;
      },
      30s))
      << watcher.out() << watcher.err();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(watcher.stop(SIGTERM, 3000ms), 0);
  const std::map<std::string, int> seen = converted(watcher.out());
  for (const char* p : {"before.jpg", "created.jpg", "moved.jpg", "renamed.JPG", "new/deeper/inside.jpeg", "late.jpg",
                        "early.jpg"})
    EXPECT_EQ(seen.count(w + "/" + p) ? seen.at(w + "/" + p) : 0, 1) << p << "\n" << watcher.out();
  EXPECT_NE(watcher.out().find(w + "/late.jpg -> " + w + "/late.mov (0.2 s of sound from " + w + "/late.WAV)"),
            std::string::npos)
      << watcher.out();
  // Nothing failed: the only "failed" is the summary's count.
  EXPECT_EQ(count(watcher.err(), "failed"), 1u) << watcher.err();
  EXPECT_NE(watcher.err().find(", 0 failed\n"), std::string::npos) << watcher.err();
  EXPECT_TRUE(litter(dir, "w").empty());
}

TEST(Watch, APhotographWrittenSlowlyIsConvertedOnceFromItsWholeBytesWithoutAFailure) {
  ScratchDir dir;
  const std::string w = dir.file("w");
  mkdir(w.c_str(), 0755);
  Watcher watcher(dir, {w});
  std::this_thread::sleep_for(500ms);
  const std::string photo = voicePhoto(0.7, 400);
  const std::size_t half = photo.size() / 2;
  // Half now and closed, the rest seconds later.
  writeFile(w + "/closed.jpg", photo.substr(0, half));
  // Half now, the file held open, the rest seconds later.
  FILE* open = std::fopen((w + "/open.jpg").c_str(), "wb");
  ASSERT_NE(open, nullptr);
  std::fwrite(photo.data(), 1, half, open);
  std::fflush(open);
  std::this_thread::sleep_for(3s);
  {
    FILE* rest = std::fopen((w + "/closed.jpg").c_str(), "ab");
    std::fwrite(photo.data() + half, 1, photo.size() - half, rest);
    std::fclose(rest);
  }
  std::fwrite(photo.data() + half, 1, photo.size() - half, open);
  std::fclose(open);
  ASSERT_TRUE(waitFor([&] { return exists(w + "/closed.mov") && exists(w + "/open.mov"); }, 20s)) << watcher.err();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(watcher.stop(SIGINT, 3000ms), 0);
  const std::map<std::string, int> seen = converted(watcher.out());
  EXPECT_EQ(seen.size(), 2u) << watcher.out();
  for (const auto& [p, n] : seen) EXPECT_EQ(n, 1) << p;
  EXPECT_NE(watcher.out().find("(0.7 s of sound)"), std::string::npos);
  EXPECT_NE(watcher.err().find("2 converted, 0 up to date, 0 without a voice annotation, 0 skipped, 0 failed"),
            std::string::npos)
      << watcher.err();
}

TEST(Watch, ABurstOfAThousandPhotographsIsConvertedExactlyOnce) {
  ScratchDir dir;
  const std::string w = dir.file("w");
  mkdir(w.c_str(), 0755);
  Watcher watcher(dir, {w});
  std::this_thread::sleep_for(300ms);
  const std::string photo = voicePhoto(0.02, 16);
  constexpr int kPhotos = 1000;
  for (int i = 0; i < kPhotos; ++i) writeFile(w + "/b" + std::to_string(i) + ".jpg", photo);
  ASSERT_TRUE(waitFor([&] { return count(watcher.out(), " -> ") >= kPhotos; }, 90s))
      << count(watcher.out(), " -> ") << "\n" << watcher.err();
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(watcher.stop(SIGTERM, 3000ms), 0);
  const std::map<std::string, int> seen = converted(watcher.out());
  EXPECT_EQ(seen.size(), std::size_t(kPhotos));
  for (const auto& [p, n] : seen) EXPECT_EQ(n, 1) << p;
  for (int i = 0; i < kPhotos; ++i) EXPECT_TRUE(exists(w + "/b" + std::to_string(i) + ".mov")) << i;
}

TEST(Watch, AfterKillNineMidBurstARestartConvertsWhatIsLeftAndNothingTwice) {
  ScratchDir dir;
  const std::string w = dir.file("w");
  mkdir(w.c_str(), 0755);
  constexpr int kPhotos = 300;
  std::map<std::string, ino_t> before;
  {
    Watcher watcher(dir, {w});
    std::this_thread::sleep_for(300ms);
    const std::string photo = voicePhoto(0.05, 16);
    for (int i = 0; i < kPhotos; ++i) writeFile(w + "/k" + std::to_string(i) + ".jpg", photo);
    ASSERT_TRUE(waitFor([&] { return count(watcher.out(), " -> ") >= 40; }, 60s)) << watcher.err();
    watcher.killHard();
    // Its workers finish the photograph in hand and go.
    std::this_thread::sleep_for(1s);
    for (int i = 0; i < kPhotos; ++i) {
      const std::string movie = w + "/k" + std::to_string(i) + ".mov";
      if (exists(movie)) before[movie] = inodeOf(movie);
    }
    ASSERT_LT(before.size(), std::size_t(kPhotos)) << "the kill came too late to test anything";
  }
  EXPECT_TRUE(litter(dir, "w").empty());
  Watcher again(dir, {w});
  ASSERT_TRUE(waitFor(
      [&] {
        for (int i = 0; i < kPhotos; ++i)
          if (!exists(w + "/k" + std::to_string(i) + ".mov")) return false;
        return true;
      },
      60s))
      << again.err();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(again.stop(SIGTERM, 3000ms), 0);
  const std::map<std::string, int> seen = converted(again.out());
  EXPECT_EQ(seen.size() + before.size(), std::size_t(kPhotos));
  for (const auto& [movie, inode] : before) EXPECT_EQ(inodeOf(movie), inode) << movie << " was made again";
  EXPECT_TRUE(litter(dir, "w").empty()) << litter(dir, "w").front();
}

TEST(Watch, SigtermMidConversionFinishesItOrLeavesNothingAndExitsZeroAtOnce) {
  ScratchDir dir;
  const std::string w = dir.file("w");
  mkdir(w.c_str(), 0755);
  // A photograph whose conversion takes a while: a long recording beside it.
  writeFile(w + "/long.jpg", fixtures::makeJpeg({.width = 800, .height = 600}));
  Watcher watcher(dir, {"-j1", w});
  std::this_thread::sleep_for(500ms);
  writeFile(w + "/long.wav", fixtures::makeWave(WaveKind::pcm16Stereo, {.seconds = 120, .rate = 48000}));
  std::this_thread::sleep_for(200ms);
  std::chrono::milliseconds took{};
  EXPECT_EQ(watcher.stop(SIGTERM, 2000ms, &took), 0) << watcher.err();
  EXPECT_LT(took.count(), 2000);
  EXPECT_TRUE(litter(dir, "w").empty());
  if (exists(w + "/long.mov")) {
    EXPECT_NE(watcher.out().find("long.jpg -> "), std::string::npos);
  }

  // Idle, it stops on SIGINT as fast.
  Watcher idle(dir, {w});
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(idle.stop(SIGINT, 2000ms, &took), 0);
}

TEST(Watch, WhereTheWatchLimitIsReachedItSaysSoAndPollsThoseFolders) {
  ScratchDir dir;
  const std::string w = dir.file("w");
  std::filesystem::create_directories(w + "/sub/deep");
  // Room for one watch: the top folder; its folders are polled.
  // The shim comes first; a sanitizer runtime then must not insist on being first itself.
  const char* asan = std::getenv("ASAN_OPTIONS");
  Watcher watcher(dir, {"--poll=1", w},
                  {{"LD_PRELOAD", STILL2MOV_FAULT_SHIM},
                   {"STILL2MOV_WATCH_LIMIT", "1"},
                   {"ASAN_OPTIONS", std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0"}});
  ASSERT_TRUE(waitFor([&] { return watcher.err().find("limit") != std::string::npos; }, 10s));
  EXPECT_EQ(watcher.err(), w + "/sub: the system's limit on watched folders is reached; looking for changes every 1 s "
                               "instead\n");
  const std::string photo = voicePhoto();
  writeFile(w + "/top.jpg", photo);
  writeFile(w + "/sub/deep/below.jpg", photo);
  std::filesystem::create_directories(w + "/sub/later");
  writeFile(w + "/sub/later/new.jpg", photo);
  ASSERT_TRUE(waitFor([&] { return exists(w + "/top.mov") && exists(w + "/sub/deep/below.mov") &&
                                   exists(w + "/sub/later/new.mov"); },
                      20s))
      << watcher.out() << watcher.err();
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(watcher.stop(SIGTERM, 3000ms), 0);
  const std::map<std::string, int> seen = converted(watcher.out());
  EXPECT_EQ(seen.size(), 3u) << watcher.out();
  for (const auto& [p, n] : seen) EXPECT_EQ(n, 1) << p;
}

TEST(Watch, ARestartConvertsWhatArrivedWhileStoppedAndNothingElse) {
  ScratchDir dir;
  const std::string w = dir.file("w");
  mkdir(w.c_str(), 0755);
  const std::string photo = voicePhoto();
  writeFile(w + "/one.jpg", photo);
  {
    Watcher first(dir, {w});
    ASSERT_TRUE(waitFor([&] { return exists(w + "/one.mov"); }, 20s));
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(first.stop(SIGTERM, 3000ms), 0);
  }
  writeFile(w + "/two.jpg", photo);
  Watcher second(dir, {"-v", w});
  ASSERT_TRUE(waitFor([&] { return exists(w + "/two.mov"); }, 20s));
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(second.stop(SIGTERM, 3000ms), 0);
  EXPECT_EQ(converted(second.out()).size(), 1u) << second.out();
  EXPECT_NE(second.out().find(w + "/one.jpg: " + w + "/one.mov is up to date"), std::string::npos) << second.out();
}

TEST(Watch, RefusesWhatIsNoFolderAndUnknownOptions) {
  ScratchDir dir;
  writeFile(dir.file("a.jpg"), voicePhoto());
  fixtures::RunResult r = fixtures::runStill2mov({"watch", dir.file("a.jpg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(dir.file("a.jpg") + ": is no folder"), std::string::npos) << r.err;
  EXPECT_EQ(fixtures::runStill2mov({"watch", "-u", dir.path()}).status, 2);
  EXPECT_EQ(fixtures::runStill2mov({"watch"}).status, 2);
  EXPECT_EQ(fixtures::runStill2mov({"watch", "--poll=0", dir.path()}).status, 2);
}

// As -r: a link to a photograph elsewhere is never followed (on arrival, or put in a photograph's
// place before its turn), so nothing is written outside the watched folder, even with -y.
TEST(Watch, LinksToPhotographsElsewhereAreNotFollowed) {
  ScratchDir dir;
  const std::string w = dir.file("w"), away = dir.file("elsewhere");
  mkdir(w.c_str(), 0755);
  mkdir(away.c_str(), 0755);
  writeFile(away + "/photo.jpg", voicePhoto());
  writeFile(away + "/holiday.mov", "the user's own file");
  Watcher watcher(dir, {"-y", "-v", w});
  std::this_thread::sleep_for(500ms);
  ASSERT_EQ(symlink((away + "/photo.jpg").c_str(), (w + "/holiday.jpg").c_str()), 0);
  writeFile(w + "/swapped.jpg", voicePhoto());
  ASSERT_EQ(unlink((w + "/swapped.jpg").c_str()), 0);
  ASSERT_EQ(symlink((away + "/photo.jpg").c_str(), (w + "/swapped.jpg").c_str()), 0);
  writeFile(w + "/own.jpg", voicePhoto());
  ASSERT_TRUE(waitFor([&] { return exists(w + "/own.mov"); }, 20s)) << watcher.out() << watcher.err();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(watcher.stop(SIGTERM, 3000ms), 0);
  EXPECT_EQ(readFile(away + "/holiday.mov"), "the user's own file");
  EXPECT_FALSE(exists(away + "/photo.mov") || exists(w + "/holiday.mov") || exists(w + "/swapped.mov"));
  EXPECT_NE(watcher.out().find(w + "/holiday.jpg: symbolic link; not followed"), std::string::npos) << watcher.out();
  EXPECT_EQ(converted(watcher.out()).size(), 1u) << watcher.out();
}

// A watched folder that goes (removed, moved away, a card unmounted) is said once; when a folder
// of that name is back, what arrives in it is converted again, polled or notified.
TEST(Watch, AFolderThatGoesIsSaidOnceAndWatchedAgainWhenItComesBack) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::map<std::string, std::string> polled = {
      {"LD_PRELOAD", STILL2MOV_FAULT_SHIM}, {"STILL2MOV_WATCH_LIMIT", "0"},
      {"ASAN_OPTIONS", std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0"}};
  for (const auto& [moveAway, env] : std::vector<std::pair<bool, std::map<std::string, std::string>>>{
           {false, {}}, {true, {}}, {false, polled}}) {
    SCOPED_TRACE(testing::Message() << moveAway << env.size());
    ScratchDir dir;
    const std::string w = dir.file("w");
    mkdir(w.c_str(), 0755);
    Watcher watcher(dir, {"--poll=1", w}, env);
    std::this_thread::sleep_for(500ms);
    if (moveAway) ASSERT_EQ(rename(w.c_str(), dir.file("away").c_str()), 0);
    else std::filesystem::remove_all(w);
    ASSERT_TRUE(waitFor([&] { return watcher.err().find("has gone") != std::string::npos; }, 10s)) << watcher.err();
    std::this_thread::sleep_for(1500ms);
    mkdir(w.c_str(), 0755);
    writeFile(w + "/again.jpg", voicePhoto());
    ASSERT_TRUE(waitFor([&] { return exists(w + "/again.mov"); }, 20s)) << watcher.out() << watcher.err();
    EXPECT_EQ(watcher.stop(SIGTERM, 3000ms), 0);
    EXPECT_EQ(count(watcher.err(), w + ": the folder has gone; watching for it to come back\n"), 1u) << watcher.err();
    EXPECT_EQ(count(watcher.err(), w + ": the folder is back; watching it again\n"), 1u) << watcher.err();
    EXPECT_EQ(count(watcher.err(), "failed"), 1u) << watcher.err();  // the summary's count only
  }
}

// What arrives after its photograph and belongs to it by the photograph's own rules: a recording
// its tag names under another stem, a raw whose JPEG is its picture. Polled or notified.
TEST(Watch, WhatArrivesIsJudgedByThePhotographsLookupAndItsPair) {
  const std::string raw = testsupport::buildDng({}, testsupport::dngPreviewJpeg({}));
  const std::string wave = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.2});
  struct Arrival {
    const char* name;
    std::string bytes;
  };
  struct Case {
    const char* name;
    std::vector<Arrival> arrivals;  // in turn, each after the one before was taken in
    const char* photo;              // the one photograph converted, once
    const char* recording;          // from this recording
  };
  const std::vector<Case> cases = {
      {"a recording RelatedSoundFile names, after its photograph",
       {{"IMG_0005.JPG", fixtures::withRelatedSoundFile(fixtures::makeJpeg(), "REC_0077.WAV")},
        {"REC_0077.WAV", wave}},
       "IMG_0005.JPG", "REC_0077.WAV"},
      {"a raw after its JPEG and its recording",
       {{"DSC_0001.JPG", fixtures::makeJpeg()}, {"DSC_0001.WAV", wave}, {"DSC_0001.DNG", raw}}, "DSC_0001.JPG",
       "DSC_0001.WAV"},
      {"a raw, its JPEG, then their recording",
       {{"DSC_0001.DNG", raw}, {"DSC_0001.JPG", fixtures::makeJpeg()}, {"DSC_0001.WAV", wave}}, "DSC_0001.JPG",
       "DSC_0001.WAV"},
  };
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::map<std::string, std::string> polled = {
      {"LD_PRELOAD", STILL2MOV_FAULT_SHIM}, {"STILL2MOV_WATCH_LIMIT", "0"},
      {"ASAN_OPTIONS", std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "verify_asan_link_order=0"}};
  for (const Case& c : cases)
    for (const auto& env : {std::map<std::string, std::string>{}, polled}) {
      SCOPED_TRACE(testing::Message() << c.name << (env.empty() ? "" : ", polled"));
      ScratchDir dir;
      const std::string w = dir.file("w");
      mkdir(w.c_str(), 0755);
      // Formats a raw alone makes too, so that a raw taken alone would show.
      Watcher watcher(dir, {"--poll=1", "--format=mp4", w}, env);
      std::this_thread::sleep_for(500ms);
      for (const Arrival& a : c.arrivals) {
        writeFile(w + "/" + a.name, a.bytes);
        std::this_thread::sleep_for(env.empty() ? 400ms : 1500ms);
      }
      const std::string photo = c.photo, movie = w + "/" + photo.substr(0, photo.rfind('.')) + ".mp4";
      ASSERT_TRUE(waitFor([&] { return exists(movie); }, 20s)) << watcher.out() << watcher.err();
      std::this_thread::sleep_for(env.empty() ? 500ms : 2000ms);
      EXPECT_EQ(watcher.stop(SIGTERM, 3000ms), 0);
      EXPECT_EQ(converted(watcher.out()), (std::map<std::string, int>{{w + "/" + c.photo, 1}})) << watcher.out();
      EXPECT_NE(watcher.out().find("sound from " + w + "/" + c.recording + ")"), std::string::npos) << watcher.out();
      EXPECT_EQ(count(watcher.err(), "failed"), 1u) << watcher.err();  // the summary's count only
    }
}

// Our own outputs are never photographs: the motion photos a watcher writes are not arrivals,
// and neither a later watch nor -r takes them, by name beside their photograph or, renamed, by
// the mark they carry.
TEST(Watch, OurOwnOutputsAreNeverTakenForPhotographs) {
  ScratchDir dir;
  const std::string w = dir.file("w");
  mkdir(w.c_str(), 0755);
  const std::vector<std::string> names = {"a.jpg", "b.JPG", "c.jpeg", "d.jpg"};
  {
    Watcher watcher(dir, {"--format=motion", w});
    std::this_thread::sleep_for(500ms);
    for (const std::string& n : names) writeFile(w + "/" + n, voicePhoto());
    ASSERT_TRUE(waitFor([&] { return exists(w + "/d.MP.jpg") && exists(w + "/b.MP.JPG"); }, 20s))
        << watcher.out() << watcher.err();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(watcher.stop(SIGTERM, 3000ms), 0);
    EXPECT_EQ(converted(watcher.out()).size(), 4u) << watcher.out();
    EXPECT_NE(watcher.err().find("4 converted, 0 up to date, 0 without a voice annotation, 0 skipped, 0 failed"),
              std::string::npos)
        << watcher.err();
  }
  // One motion photo renamed, away from its photograph's name.
  ASSERT_EQ(rename((w + "/d.MP.jpg").c_str(), (w + "/holiday.jpg").c_str()), 0);
  struct Surface {
    const char* name;
    std::vector<std::string> args;
  };
  for (const Surface& s : {Surface{"-r", {"-r", w}}, Surface{"-r -u", {"-r", "-u", w}}, Surface{"watch", {}}}) {
    SCOPED_TRACE(s.name);
    std::string out;
    if (s.args.empty()) {
      Watcher watcher(dir, {w});
      ASSERT_TRUE(waitFor([&] { return exists(w + "/d.mov"); }, 20s)) << watcher.err();
      std::this_thread::sleep_for(1000ms);
      EXPECT_EQ(watcher.stop(SIGTERM, 3000ms), 0);
      out = watcher.out();
      EXPECT_EQ(count(watcher.err(), "failed"), 1u) << watcher.err();
    } else {
      std::vector<std::string> args = s.args;
      args.insert(args.begin(), "--no-resize");
      const fixtures::RunResult r = fixtures::runStill2mov(args, {{"TMPDIR", dir.file("tmp")}});
      EXPECT_EQ(r.status, 0) << r.err;
      out = r.out;
    }
    for (const char* made : {"a.MP.mov", "b.MP.mov", "c.MP.mov", "holiday.mov", "a.MP.MP.jpg", "holiday.MP.jpg"})
      EXPECT_FALSE(exists(w + "/" + made)) << made << "\n" << out;
    for (const auto& [photo, times] : converted(out))
      EXPECT_TRUE(photo == w + "/a.jpg" || photo == w + "/b.JPG" || photo == w + "/c.jpeg" || photo == w + "/d.jpg")
          << photo;
  }
}
