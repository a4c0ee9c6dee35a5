// SPDX-License-Identifier: GPL-2.0-or-later
// Names looked up in a folder letter case aside, each folder read once while a run lasts (and
// the walk's own reading reused); and opening a folder's own regular file, never through a link.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/Fifo.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/FolderItems.h"
#include "toolbox/Files/FolderNames.h"
#include "toolbox/Files/RegularFiles.h"

using testsupport::ScratchDir;
using testsupport::writeFile;
using Names = std::vector<std::string>;

TEST(FolderNames, OneReadingPerFolderWhileARunLasts) {
  ScratchDir dir;
  for (const char* name : {"a.wav", "A.WAV", "A.wav", "b.jpg", "ab.wav"}) writeFile(dir.file(name), "x");

  // Outside a run every look-up reads the folder again, and sees what is new.
  UInt64 before = FSFolderReadCount();
  EXPECT_EQ(FSNamesIgnoringCase(dir.path(), "a.Wav"), (Names{"A.WAV", "A.wav", "a.wav"}));
  EXPECT_EQ(FSNamesIgnoringCase(dir.path() + "/", "C.WAV"), Names{});
  EXPECT_EQ(FSFolderReadCount() - before, 2u);

  {
    FSListingRun run;
    before = FSFolderReadCount();
    for (int k = 0; k < 1000; ++k) EXPECT_EQ(FSNamesIgnoringCase(dir.path(), "B.JPG"), Names{"b.jpg"});
    // Spelled with a trailing slash, it is the same folder.
    EXPECT_EQ(FSNamesIgnoringCase(dir.path() + "/", "AB.WAV"), Names{"ab.wav"});
    EXPECT_EQ(FSFolderReadCount() - before, 1u);
    // Within the run the reading stands.
    writeFile(dir.file("c.wav"), "x");
    EXPECT_EQ(FSNamesIgnoringCase(dir.path(), "c.wav"), Names{});
  }
  EXPECT_EQ(FSNamesIgnoringCase(dir.path(), "c.wav"), Names{"c.wav"});

  // A walk's listing is the reading: looking names up afterwards costs nothing more.
  std::filesystem::create_directory(dir.file("sub"));
  writeFile(dir.file("sub/P1.WAV"), "x");
  {
    FSListingRun run;
    std::vector<FSFolderItem> items;
    std::string reason;
    before = FSFolderReadCount();
    ASSERT_EQ(FSListFolder(dir.file("sub"), &items, &reason), noErr) << reason;
    EXPECT_EQ(FSNamesIgnoringCase(dir.file("sub/"), "p1.wav"), Names{"P1.WAV"});
    EXPECT_EQ(FSFolderReadCount() - before, 1u);
  }
  // A folder that cannot be read has no names.
  EXPECT_EQ(FSNamesIgnoringCase(dir.file("missing"), "a.wav"), Names{});
}

TEST(FolderNames, OnlyTheFoldersOwnRegularFileOpens) {
  ScratchDir dir, other;
  writeFile(dir.file("good.wav"), "RIFF");
  writeFile(other.file("secret.wav"), "RIFF");
  std::filesystem::create_symlink(other.file("secret.wav"), dir.file("out.wav"));
  std::filesystem::create_symlink("good.wav", dir.file("near.wav"));
  std::filesystem::create_symlink("/dev/zero", dir.file("zero.wav"));
  std::filesystem::create_symlink(dir.file("loop.wav"), dir.file("loop.wav"));
  std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dead.wav"));
  std::filesystem::create_directory(dir.file("folder.wav"));
  ASSERT_TRUE(testsupport::makeFifo(dir.file("pipe.wav")));
  const struct {
    const char* name;
    OSErr err;
    const char* reason;
  } cases[] = {
      {"good.wav", noErr, ""},
      {"out.wav", notAFileErr, "is a symbolic link"},
      {"near.wav", notAFileErr, "is a symbolic link"},
      {"zero.wav", notAFileErr, "is a symbolic link"},
      {"loop.wav", notAFileErr, "is a symbolic link"},
      {"dead.wav", notAFileErr, "is a symbolic link"},
      {"folder.wav", notAFileErr, "is a directory"},
      {"pipe.wav", notAFileErr, "not a regular file"},
      {"missing.wav", fnfErr, "no such file"},
      {"../x.wav", fnfErr, "no such file"},
      {"..", fnfErr, "no such file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::FILE* f = nullptr;
    std::string reason;
    bool returned = testsupport::returnsWithin(dir.file("pipe.wav"), [&] {
      EXPECT_EQ(FSOpenRegularFileInFolder(dir.path(), c.name, &f, &reason), c.err);
    });
    EXPECT_TRUE(returned);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(f != nullptr, c.err == noErr);
    if (f) {
      char head[4] = {};
      EXPECT_EQ(std::fread(head, 1, 4, f), 4u);
      std::fclose(f);
    }
  }
}
