// SPDX-License-Identifier: GPL-2.0-or-later
// Converting only what changed (-u): a movie made from the photograph as it is now, with its
// recording as it is now and the same choices, is left alone and counted; every other change is
// converted again. Also: two photographs with one movie name, results in the order given, and a
// raw with its JPEG as one photograph.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/DngBuilder.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using fixtures::WaveKind;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

std::string voicePhoto(int width = 64, double seconds = 0.3, int height = 48) {
  return fixtures::embedWave(fixtures::makeJpeg({.width = width, .height = height}),
                             fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = seconds}));
}

RunResult run(const ScratchDir& dir, std::vector<std::string> args) {
  mkdir(dir.file("tmp").c_str(), 0700);
  args.insert(args.begin(), "--no-resize");
  return fixtures::runStill2mov(args, {{"TMPDIR", dir.file("tmp")}});
}

ino_t inodeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Sets the file's modification time back to what it was: a change that mtime alone misses.
void rewriteKeepingTime(const std::string& path, const std::string& bytes) {
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  writeFile(path, bytes);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(UpdateOnly, CurrentMoviesAreLeftAloneAndCountedWithListsFoldersAndJobs) {
  for (const char* jobs : {"-j1", "-j3"}) {
    SCOPED_TRACE(jobs);
    ScratchDir dir;
    mkdir(dir.file("sub").c_str(), 0755);
    const std::vector<std::string> photos = {"a.jpg", "b.JPG", "sub/c.jpeg"};
    for (const std::string& p : photos) writeFile(dir.file(p), voicePhoto());
    writeFile(dir.file("plain.jpg"), fixtures::makeJpeg());
    RunResult first = run(dir, {jobs, "-r", "-u", dir.path()});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(count(first.out, " -> "), 3u) << first.out;
    std::vector<ino_t> movies;
    for (const char* m : {"a.mov", "b.mov", "sub/c.mov"}) movies.push_back(inodeOf(dir.file(m)));

    RunResult again = run(dir, {jobs, "-r", "-u", dir.path()});
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "");
    EXPECT_NE(again.err.find("0 converted, 3 up to date, 1 without a voice annotation, 0 skipped, 0 failed"),
              std::string::npos)
        << again.err;
    RunResult listed = run(dir, {jobs, "-u", "-v", dir.file("a.jpg"), dir.file("sub/c.jpeg")});
    EXPECT_EQ(listed.out, dir.file("a.jpg") + ": " + dir.file("a.mov") + " is up to date\n" + dir.file("sub/c.jpeg") +
                              ": " + dir.file("sub/c.mov") + " is up to date\n");
    RunResult json = run(dir, {jobs, "-u", "-v", "--json", dir.file("b.JPG")});
    EXPECT_NE(json.out.find("\"Status\": \"up-to-date\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"Movie\": \"" + dir.file("b.mov") + "\""), std::string::npos) << json.out;
    // Nothing was written again.
    int k = 0;
    for (const char* m : {"a.mov", "b.mov", "sub/c.mov"}) EXPECT_EQ(inodeOf(dir.file(m)), movies[k++]) << m;
  }
}

TEST(UpdateOnly, EveryChangeToThePhotographItsRecordingOrTheChoicesIsConvertedAgain) {
  ScratchDir dir;
  const std::string photo = dir.file("p.jpg"), movie = dir.file("p.mov");
  writeFile(photo, voicePhoto(64, 0.3));
  ASSERT_EQ(run(dir, {"-u", photo}).status, 0);
  auto converts = [&](std::vector<std::string> args) {
    args.push_back(photo);
    const ino_t before = inodeOf(movie);
    RunResult r = run(dir, args);
    EXPECT_EQ(r.status, 0) << r.err;
    return inodeOf(movie) != before && r.out.find(" -> ") != std::string::npos;
  };
  EXPECT_FALSE(converts({"-u"}));
  // The same size, the same modification time, other bytes: only the change time tells.
  std::string other = voicePhoto(64, 0.3);
  other[other.size() - 3] ^= 0x55;
  ASSERT_EQ(other.size(), readFile(photo).size());
  rewriteKeepingTime(photo, other);
  EXPECT_TRUE(converts({"-u"}));
  EXPECT_FALSE(converts({"-u"}));
  EXPECT_TRUE(converts({"-u", "--metadata"}));
  EXPECT_FALSE(converts({"-u", "--metadata"}));
  // The other resize choice (the picture is small enough to keep its size either way).
  const ino_t before = inodeOf(movie);
  RunResult resized = fixtures::runStill2mov({"-u", "--resize", photo}, {{"TMPDIR", dir.file("tmp")}});
  EXPECT_NE(resized.out.find(" -> "), std::string::npos) << resized.err;
  EXPECT_NE(inodeOf(movie), before);
  EXPECT_TRUE(converts({"-u"}));
  // Without -u a current movie is made again, as always.
  EXPECT_TRUE(converts({}));
}

TEST(UpdateOnly, CurrentMp4sAndMotionPhotosAreLeftAloneAndAChangedPhotographConvertedAgain) {
  for (const char* format : {"mp4", "motion"}) {
    SCOPED_TRACE(format);
    ScratchDir dir;
    const std::string photo = dir.file("p.jpg");
    const std::string movie = dir.file(std::string(format) == "mp4" ? "p.mp4" : "p.MP.jpg");
    const std::string choice = std::string("--format=") + format;
    writeFile(photo, voicePhoto(64, 0.3));
    RunResult first = run(dir, {choice, "-u", photo});
    ASSERT_EQ(first.out, photo + " -> " + movie + " (0.3 s of sound)\n") << first.err;
    const ino_t made = inodeOf(movie);
    RunResult again = run(dir, {choice, "-u", "-v", photo});
    EXPECT_EQ(again.out, photo + ": " + movie + " is up to date\n") << again.err;
    EXPECT_EQ(inodeOf(movie), made);
    // The same size and modification time, other bytes.
    std::string other = voicePhoto(64, 0.3);
    other[other.size() - 3] ^= 0x55;
    rewriteKeepingTime(photo, other);
    RunResult changed = run(dir, {choice, "-u", photo});
    EXPECT_EQ(changed.out, photo + " -> " + movie + " (0.3 s of sound)\n") << changed.err;
    EXPECT_NE(inodeOf(movie), made);
    EXPECT_EQ(run(dir, {choice, "-u", photo}).out, "");
  }
}

TEST(UpdateOnly, ARecordingThatAppearsOrIsReplacedIsConverted) {
  ScratchDir dir;
  const std::string photo = dir.file("IMG_7.jpg"), recording = dir.file("IMG_7.WAV");
  writeFile(photo, fixtures::makeJpeg());
  RunResult plain = run(dir, {"-u", photo});
  EXPECT_EQ(plain.out, photo + ": no voice annotation\n");
  writeFile(recording, fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.4}));
  RunResult appeared = run(dir, {"-u", photo});
  EXPECT_NE(appeared.out.find(" -> "), std::string::npos) << appeared.out << appeared.err;
  EXPECT_EQ(run(dir, {"-u", photo}).out, "");
  // Replaced by a recording of the same size and time.
  std::string other = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.4, .rate = 8000});
  other[other.size() - 1] ^= 0x7F;
  rewriteKeepingTime(recording, other);
  RunResult replaced = run(dir, {"-u", photo});
  EXPECT_NE(replaced.out.find(" -> "), std::string::npos) << replaced.out << replaced.err;
  // Gone: the photograph has no voice annotation any more; its old movie stays.
  unlink(recording.c_str());
  EXPECT_EQ(run(dir, {"-u", photo}).out, photo + ": no voice annotation\n");
}

TEST(SameMovieName, ASecondPhotographIsRefusedInWordsAndCountedFailed) {
  for (const char* jobs : {"-j1", "-j4"}) {
    SCOPED_TRACE(jobs);
    ScratchDir dir;
    writeFile(dir.file("a.JPEG"), voicePhoto(64, 0.3));
    writeFile(dir.file("a.jpeg"), voicePhoto(72, 0.3));
    writeFile(dir.file("a.jpg"), voicePhoto(80, 0.3));
    RunResult r = run(dir, {jobs, "-r", dir.path()});
    EXPECT_EQ(r.status, 1);
    // The walk's order (byte order of names) decides which photograph the movie is made from.
    EXPECT_EQ(r.out, dir.file("a.JPEG") + " -> " + dir.file("a.mov") + " (0.3 s of sound)\n");
    EXPECT_NE(r.err.find(dir.file("a.jpeg") + ": a.mov is a.JPEG's movie; a.jpeg left alone\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(dir.file("a.jpg") + ": a.mov is a.JPEG's movie; a.jpg left alone\n"), std::string::npos);
    EXPECT_NE(r.err.find("1 converted, 0 without a voice annotation, 0 skipped, 2 failed"), std::string::npos);
    // Run again, the same; with the owner gone, the next photograph may have the name.
    EXPECT_EQ(run(dir, {jobs, "-r", dir.path()}).status, 1);
    unlink(dir.file("a.JPEG").c_str());
    RunResult after = run(dir, {jobs, "-r", dir.path()});
    EXPECT_EQ(after.out, dir.file("a.jpeg") + " -> " + dir.file("a.mov") + " (0.3 s of sound)\n");
    EXPECT_NE(after.err.find("a.mov is a.jpeg's movie; a.jpg left alone"), std::string::npos) << after.err;
  }
}

TEST(ResultOrder, WithJobsLinesComeInTheOrderGivenAndTheWalksOrder) {
  ScratchDir dir;
  // The first photographs take longest, so that later ones finish first.
  std::vector<std::string> photos;
  for (int i = 0; i < 12; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "p%02d.jpg", i);
    photos.push_back(dir.file(name));
    writeFile(photos.back(), voicePhoto(i < 3 ? 2400 : 32, i < 3 ? 20.0 : 0.1, i < 3 ? 1800 : 24));
  }
  // Scaling the large pictures down keeps their workers busy.
  auto runResized = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "--resize");
    return fixtures::runStill2mov(args, {{"TMPDIR", dir.file("tmp")}});
  };
  mkdir(dir.file("tmp").c_str(), 0700);
  RunResult walked = runResized({"-j4", "--json", "-r", dir.path()});
  ASSERT_EQ(walked.status, 0) << walked.err;
  std::string expected;
  std::size_t at = 0;
  for (const std::string& p : photos) {
    at = walked.out.find("{\"SourceFile\": \"" + p + "\"", at);
    ASSERT_NE(at, std::string::npos) << p << "\n" << walked.out;
  }
  // The order given on the command line, not the names' order.
  std::vector<std::string> given(photos.rbegin(), photos.rend());
  given.insert(given.begin(), "-j4");
  RunResult listed = runResized(given);
  ASSERT_EQ(listed.status, 0) << listed.err;
  at = 0;
  for (auto p = photos.rbegin(); p != photos.rend(); ++p) {
    at = listed.out.find(*p + " -> ", at);
    ASSERT_NE(at, std::string::npos) << *p << "\n" << listed.out;
  }
}

namespace {

std::string wave(double seconds) { return fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = seconds}); }

// Whether a run of -u over the photograph converted it, and from which recording.
std::string updatedFrom(const ScratchDir& dir, const std::string& photo) {
  RunResult r = run(dir, {"-u", photo});
  EXPECT_EQ(r.status, 0) << r.err;
  if (r.out.find(" -> ") == std::string::npos) return "";
  const std::size_t from = r.out.find("sound from ");
  if (from == std::string::npos) return "(inside)";
  const std::string file = r.out.substr(from + 11, r.out.find_first_of(";)", from) - from - 11);
  return file.substr(file.rfind('/') + 1);
}

}  // namespace

TEST(UpdateOnly, WhatTheLookupWouldChooseNowDecidesAndNothingElse) {
  struct Case {
    const char* name;
    const char* related;  // the photograph's RelatedSoundFile, "" for none
    std::vector<std::pair<const char*, std::string>> before;  // files beside it at the first run
    const char* firstFrom;
    std::vector<std::pair<const char*, std::string>> then;  // written afterwards
    const char* thenFrom;  // what -u converts from next ("" for nothing)
  };
  const std::string good = wave(0.3), damaged = "RIFF\x10\0\0\0WAVEjunk-not-a-wave";
  const std::vector<Case> cases = {
      {"the file RelatedSoundFile names arrives", "REC_0009.WAV", {{"IMG_1.wav", good}}, "IMG_1.wav",
       {{"REC_0009.WAV", wave(0.4)}}, "REC_0009.WAV"},
      {"the preferred spelling appears", "", {{"img_1.wav", good}}, "img_1.wav", {{"IMG_1.WAV", wave(0.4)}},
       "IMG_1.WAV"},
      {"a damaged RelatedSoundFile is repaired", "REC_0009.WAV",
       {{"REC_0009.WAV", damaged}, {"IMG_1.wav", good}}, "IMG_1.wav", {{"REC_0009.WAV", wave(0.4)}},
       "REC_0009.WAV"},
      {"a spelling passed over by preference changes", "", {{"IMG_1.WAV", good}, {"img_1.wav", good}}, "IMG_1.WAV",
       {{"img_1.wav", wave(0.4)}}, ""},
      {"an unrelated WAVE arrives", "REC_0009.WAV", {{"REC_0009.WAV", good}}, "REC_0009.WAV",
       {{"IMG_1.wav", wave(0.4)}, {"OTHER.WAV", good}}, ""},
      {"a damaged file stays damaged", "REC_0009.WAV", {{"REC_0009.WAV", damaged}, {"IMG_1.wav", good}}, "IMG_1.wav",
       {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string photo = dir.file("IMG_1.JPG");
    const std::string jpeg = fixtures::makeJpeg();
    writeFile(photo, *c.related ? fixtures::withRelatedSoundFile(jpeg, c.related) : jpeg);
    for (const auto& [name, bytes] : c.before) writeFile(dir.file(name), bytes);
    EXPECT_EQ(updatedFrom(dir, photo), c.firstFrom);
    EXPECT_EQ(updatedFrom(dir, photo), "");
    for (const auto& [name, bytes] : c.then) writeFile(dir.file(name), bytes);
    EXPECT_EQ(updatedFrom(dir, photo), c.thenFrom);
    EXPECT_EQ(updatedFrom(dir, photo), "");
    // What -u converts from is what a plain conversion chooses.
    RunResult plain = run(dir, {photo});
    EXPECT_NE(plain.out.find(dir.file(*c.thenFrom ? c.thenFrom : c.firstFrom) + ")"), std::string::npos) << plain.out;
  }
}

TEST(UpdateOnly, WhenOnlyTheChangeTimeMovedTheContentsDecide) {
  struct Case {
    const char* name;
    std::function<void(const ScratchDir&)> change;
    bool converts;
  };
  auto restore = [](const std::string& path) {
    // As cp -a restores it: a new file with the old times.
    const std::string copy = path + ".restored";
    ASSERT_EQ(std::system(("cp -a '" + path + "' '" + copy + "' && mv '" + copy + "' '" + path + "'").c_str()), 0);
  };
  const std::vector<Case> cases = {
      {"chmod of the photograph", [](const ScratchDir& d) { chmod(d.file("IMG_1.JPG").c_str(), 0600); }, false},
      {"chmod of the recording", [](const ScratchDir& d) { chmod(d.file("IMG_1.WAV").c_str(), 0600); }, false},
      {"a hard link elsewhere", [](const ScratchDir& d) {
         mkdir(d.file("snapshot").c_str(), 0755);
         link(d.file("IMG_1.JPG").c_str(), d.file("snapshot/IMG_1.JPG").c_str());
         link(d.file("IMG_1.WAV").c_str(), d.file("snapshot/IMG_1.WAV").c_str());
       }, false},
      {"both restored by cp -a", [&](const ScratchDir& d) { restore(d.file("IMG_1.JPG")), restore(d.file("IMG_1.WAV")); },
       false},
      {"the photograph rewritten with its time set back", [](const ScratchDir& d) {
         std::string other = readFile(d.file("IMG_1.JPG"));
         other[other.size() - 3] ^= 0x55;
         rewriteKeepingTime(d.file("IMG_1.JPG"), other);
       }, true},
      {"the recording rewritten with its time set back", [](const ScratchDir& d) {
         std::string other = readFile(d.file("IMG_1.WAV"));
         other[other.size() - 1] ^= 0x55;
         rewriteKeepingTime(d.file("IMG_1.WAV"), other);
       }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    writeFile(dir.file("IMG_1.JPG"), fixtures::makeJpeg());
    writeFile(dir.file("IMG_1.WAV"), wave(0.3));
    ASSERT_EQ(updatedFrom(dir, dir.file("IMG_1.JPG")), "IMG_1.WAV");
    c.change(dir);
    EXPECT_EQ(updatedFrom(dir, dir.file("IMG_1.JPG")), c.converts ? "IMG_1.WAV" : "");
    EXPECT_EQ(updatedFrom(dir, dir.file("IMG_1.JPG")), "");
  }
}

TEST(UpdateOnly, MoviesTheReleaseBeforeWroteAreStillJudged) {
  // The record as the release before wrote it: the keys it did not know are renamed away, in
  // place, so that the movie is otherwise the one just written.
  auto asBefore = [](const std::string& movie) {
    std::string bytes = readFile(movie);
    for (const char* key : {"\nlookup=", "\nsource=", "\nasked=", "\npassed=", "\nphotograph-look=",
                            "\nphotograph-digest=", "\nrecording-look=", "\nrecording-digest="})
      for (std::size_t at = bytes.find(key); at != std::string::npos; at = bytes.find(key, at + 1)) bytes[at + 1] = 'x';
    writeFile(movie, bytes);
  };
  struct Case {
    const char* name;
    bool beside;    // the recording beside the photograph, else inside it
    bool converts;  // the first -u after: a recording inside decides by the photograph alone
  };
  for (const Case& c : {Case{"a recording inside", false, false}, Case{"a recording beside", true, true}}) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string photo = dir.file("IMG_1.JPG");
    writeFile(photo, c.beside ? fixtures::makeJpeg() : voicePhoto());
    if (c.beside) writeFile(dir.file("IMG_1.WAV"), wave(0.3));
    ASSERT_NE(updatedFrom(dir, photo), "");
    asBefore(dir.file("IMG_1.mov"));
    EXPECT_EQ(updatedFrom(dir, photo) != "", c.converts);
    EXPECT_EQ(updatedFrom(dir, photo), "");
    // Its own movie, whatever the record's age: replaced without -y.
    asBefore(dir.file("IMG_1.mov"));
    EXPECT_EQ(run(dir, {photo}).status, 0);
  }
}

TEST(RawAndJpeg, APairIsOnePhotographConvertedFromItsJpegHoweverItIsNamed) {
  const std::string raw = testsupport::buildDng({}, testsupport::dngPreviewJpeg({}));
  struct Case {
    const char* name;
    std::vector<std::string> operands;  // in the folder; "." for the folder with -r
  };
  const std::vector<Case> cases = {
      {"-r", {"-r", ""}}, {"the raw", {"DSC_0001.DNG"}}, {"both", {"DSC_0001.DNG", "DSC_0001.JPG"}},
      {"both, the JPEG first", {"DSC_0001.JPG", "DSC_0001.DNG"}}, {"the JPEG", {"DSC_0001.JPG"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    writeFile(dir.file("DSC_0001.DNG"), raw);
    writeFile(dir.file("DSC_0001.JPG"), fixtures::makeJpeg({.width = 40, .height = 30}));
    writeFile(dir.file("DSC_0001.WAV"), wave(0.3));
    std::vector<std::string> args;
    for (const std::string& a : c.operands) args.push_back(a == "-r" ? a : a.empty() ? dir.path() : dir.file(a));
    RunResult first = run(dir, args);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, dir.file("DSC_0001.JPG") + " -> " + dir.file("DSC_0001.mov") +
                             " (0.3 s of sound from " + dir.file("DSC_0001.WAV") + ")\n")
        << first.err;
    args.insert(args.begin(), "-u");
    RunResult again = run(dir, args);
    EXPECT_EQ(again.out, "") << again.err;
    EXPECT_EQ(again.status, 0);
  }
}

TEST(RawAndJpeg, TheRecordCoversThePairAndTheRawAloneStillConverts) {
  ScratchDir dir;
  const std::string raw = testsupport::buildDng({}, testsupport::dngPreviewJpeg({}));
  writeFile(dir.file("DSC_0001.DNG"), raw);
  writeFile(dir.file("DSC_0001.JPG"), fixtures::makeJpeg({.width = 40, .height = 30}));
  writeFile(dir.file("DSC_0001.WAV"), wave(0.3));
  // An MP4, which a raw alone makes too.
  auto converted = [&] {
    RunResult r = run(dir, {"--format=mp4", "-r", "-u", dir.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::size_t arrow = r.out.find(" -> ");
    return arrow == std::string::npos ? std::string() : r.out.substr(0, arrow);
  };
  ASSERT_EQ(converted(), dir.file("DSC_0001.JPG"));
  struct Step {
    const char* name;
    std::function<void()> change;
    std::string converts;  // the photograph converted again, "" for none
  };
  const std::vector<Step> steps = {
      {"the raw changed", [&] { rewriteKeepingTime(dir.file("DSC_0001.DNG"), raw + "x"); }, ""},
      {"the JPEG changed", [&] { writeFile(dir.file("DSC_0001.JPG"), fixtures::makeJpeg({.width = 48, .height = 30})); },
       dir.file("DSC_0001.JPG")},
      {"the recording changed", [&] { writeFile(dir.file("DSC_0001.WAV"), wave(0.4)); }, dir.file("DSC_0001.JPG")},
      {"the JPEG deleted", [&] { unlink(dir.file("DSC_0001.JPG").c_str()); }, dir.file("DSC_0001.DNG")},
      {"the JPEG back", [&] { writeFile(dir.file("DSC_0001.JPG"), fixtures::makeJpeg()); }, dir.file("DSC_0001.JPG")},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    s.change();
    EXPECT_EQ(converted(), s.converts);
    EXPECT_EQ(converted(), "");
  }
}
