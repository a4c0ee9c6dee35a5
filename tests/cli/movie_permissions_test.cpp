// SPDX-License-Identifier: GPL-2.0-or-later
// Who may read the movie: never anyone who may not read the photograph or the recording beside
// it, whatever the umask or the movie it replaces would allow.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::WaveKind;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(MoviePermissions, TheMovieIsNeverMoreReadableThanItsSources) {
  const std::string wave = fixtures::makeWave(WaveKind::pcm16Mono, {.seconds = 0.3, .rate = 8000});
  const std::string plain = fixtures::makeJpeg({.width = 64, .height = 48});
  struct Case {
    const char* name;
    mode_t photo;
    mode_t recording;  // 0: the recording is embedded
    bool earlierMovie;  // a 0644 movie of ours is replaced
    mode_t expected;
  };
  // The umask is 022 for every run: a new file would be 0644.
  const Case cases[] = {
      {"embedded, private photograph", 0600, 0, false, 0600},
      {"embedded, group may read", 0640, 0, false, 0640},
      {"embedded, everyone may read", 0644, 0, false, 0644},
      {"embedded, private photograph over a public movie", 0600, 0, true, 0600},
      {"private recording beside a public photograph", 0644, 0600, false, 0600},
      {"group recording beside a private photograph", 0600, 0640, false, 0600},
      {"group recording beside a public photograph", 0644, 0640, false, 0640},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir, tmp;
    const std::string photo = dir.file("p.jpg"), movie = dir.file("p.mov");
    writeFile(photo, c.recording ? plain : fixtures::embedWave(plain, wave));
    if (c.recording) {
      writeFile(dir.file("p.wav"), wave);
      ASSERT_EQ(chmod(dir.file("p.wav").c_str(), c.recording), 0);
    }
    ASSERT_EQ(chmod(photo.c_str(), c.photo), 0);
    const std::map<std::string, std::string> env = {{"TMPDIR", tmp.path()}};
    if (c.earlierMovie) {
      ASSERT_EQ(chmod(photo.c_str(), 0644), 0);
      ASSERT_EQ(fixtures::runStill2mov({"--no-resize", photo}, env).status, 0);
      ASSERT_EQ(chmod(movie.c_str(), 0644), 0);
      ASSERT_EQ(chmod(photo.c_str(), c.photo), 0);
    }
    const mode_t saved = umask(022);
    const fixtures::RunResult r = fixtures::runStill2mov({"--no-resize", photo}, env);
    umask(saved);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(modeOf(movie), c.expected);
  }
}

}  // namespace
