// SPDX-License-Identifier: GPL-2.0-or-later
// How often a run reads each folder, seen from outside through the shim's listing log: once per
// folder per run, however many photographs it holds and whichever process (worker or not) asks
// for a recording beside a photograph.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "faults/ShimEnvironment.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

using faultshim::Environment;
using faultshim::withShim;

// How many times each folder was listed, by its path without trailing slashes.
std::map<std::string, int> listings(const std::string& log) {
  std::map<std::string, int> counts;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    while (line.size() > 1 && line.back() == '/') line.pop_back();
    ++counts[line];
  }
  std::filesystem::remove(log);
  return counts;
}

}  // namespace

TEST(FolderListings, EachFolderIsReadOnceARun) {
  ScratchDir dir, tmp;
  const std::string photo = fixtures::makeJpeg({.width = 32, .height = 24});
  const std::string wave = fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.2});
  std::vector<std::string> inA;
  for (const char* folder : {"a", "b"}) {
    std::filesystem::create_directory(dir.file(folder));
    for (int k = 0; k < 30; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "%s/p%02d.jpg", folder, k);
      writeFile(dir.file(name), photo);
      if (folder[0] == 'a') inA.push_back(dir.file(name));
    }
  }
  // A few with their recordings beside them, in another letter case: found in the same reading.
  writeFile(dir.file("a/P03.WAV"), wave);
  writeFile(dir.file("b/p17.wav"), wave);
  const Environment env = withShim({{"TMPDIR", tmp.path()}, {"STILL2MOV_LISTINGS", tmp.file("listings")}});

  for (const char* jobs : {"1", "3"}) {
    SCOPED_TRACE(std::string("-j ") + jobs);
    fixtures::RunResult r = fixtures::runStill2mov({"-r", "-n", "-j", jobs, "--no-resize", dir.path()}, env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("from " + dir.file("a/P03.WAV") + ")"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("from " + dir.file("b/p17.wav") + ")"), std::string::npos) << r.out;
    std::filesystem::remove(dir.file("a/p03.mov"));
    std::filesystem::remove(dir.file("b/p17.mov"));
    const std::map<std::string, int> seen = listings(tmp.file("listings"));
    for (const char* folder : {"", "a", "b"}) {
      const std::string path = *folder ? dir.file(folder) : dir.path();
      EXPECT_EQ(seen.count(path) ? seen.at(path) : 0, 1) << path;
    }
  }

  std::vector<std::string> args = {"--info", "--json"};
  args.insert(args.end(), inA.begin(), inA.end());
  fixtures::RunResult r = fixtures::runStill2mov(args, env);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"SoundSource\": \"sidecar\""), std::string::npos) << r.out.substr(0, 2000);
  const std::map<std::string, int> seen = listings(tmp.file("listings"));
  EXPECT_EQ(seen.count(dir.file("a")) ? seen.at(dir.file("a")) : 0, 1);
}
