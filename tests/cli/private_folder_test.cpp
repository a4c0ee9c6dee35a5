// SPDX-License-Identifier: GPL-2.0-or-later
// Where the recording is written for the movie: a folder no other user can block or see, that
// is gone again when the run ends, one worker or many.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::WaveKind;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PrivateFolder, AFolderPlantedUnderTheOldNameBlocksNothingAndNothingIsLeft) {
  ScratchDir dir, tmp, elsewhere;
  const std::string photo = fixtures::embedWave(fixtures::makeJpeg({.width = 64, .height = 48}),
                                                fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 0.3, .rate = 8000}));
  for (int k = 0; k < 4; ++k) writeFile(dir.file("p" + std::to_string(k) + ".jpg"), photo);
  // What another user could make before us: the name every run once used, and a link.
  const std::string planted = "still2mov-" + std::to_string(geteuid());
  ASSERT_EQ(mkdir(tmp.file(planted).c_str(), 0777), 0);
  if (geteuid() == 0) ASSERT_EQ(chown(tmp.file(planted).c_str(), 65534, 65534), 0);
  ASSERT_EQ(symlink(elsewhere.path().c_str(), tmp.file("still2mov-AAAAAA").c_str()), 0);
  const std::map<std::string, std::string> env = {{"TMPDIR", tmp.path()}, {"XDG_RUNTIME_DIR", ""}};

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{dir.file("p0.jpg")}, std::vector<std::string>{"-r", "-j", "2", dir.path()}}) {
    SCOPED_TRACE(args[0]);
    const fixtures::RunResult r = fixtures::runStill2mov(args, env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("p0.mov")));
    EXPECT_EQ(namesIn(tmp.path()), (std::vector<std::string>{planted, "still2mov-AAAAAA"}));
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path()));
  }
}

}  // namespace
