// SPDX-License-Identifier: GPL-2.0-or-later
// Alias records: found by path, found again after a rename in their folder, and every way they
// fail (file gone, volume gone, damaged record) answered with a code, never a bad read.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Files/Aliases.h"

namespace {

using testsupport::ScratchDir;

std::string aliasBytes(AliasHandle a) {
  return std::string(*reinterpret_cast<Handle>(a), size_t(GetAliasSize(a)));
}

AliasHandle aliasFrom(const std::string& bytes) {
  Handle h = nullptr;
  EXPECT_EQ(PtrToHand(bytes.data(), &h, long(bytes.size())), noErr);
  return reinterpret_cast<AliasHandle>(h);
}

struct AliasesTest : ::testing::Test {
  ScratchDir dir;
  std::string photo = dir.file("IMG_0001.JPG");
  AliasHandle alias = nullptr;
  void SetUp() override {
    testsupport::writeFile(photo, "not really a photo");
    ASSERT_EQ(NewAliasFromPath(photo.c_str(), &alias), noErr);
  }
  void TearDown() override { DisposeAlias(alias); }
};

TEST_F(AliasesTest, ResolvesByPathThenByInodeAfterARenameInItsFolder) {
  FSRef ref;
  Boolean changed = true;
  ASSERT_EQ(FSResolveAliasWithMountFlags(nullptr, alias, &ref, &changed, kResolveAliasFileNoUI), noErr);
  EXPECT_EQ(ref.path, photo);
  EXPECT_FALSE(changed);

  const std::string renamed = dir.file("renamed.jpg");
  ASSERT_EQ(std::rename(photo.c_str(), renamed.c_str()), 0);
  testsupport::writeFile(dir.file("other.jpg"), "another file in the same folder");
  ASSERT_EQ(FSResolveAliasWithMountFlags(nullptr, alias, &ref, &changed, kResolveAliasFileNoUI), noErr);
  EXPECT_EQ(ref.path, renamed);
  EXPECT_TRUE(changed);
  // The record now names the new path, so the next resolution is a plain one.
  ASSERT_EQ(FSResolveAliasWithMountFlags(nullptr, alias, &ref, &changed, kResolveAliasFileNoUI), noErr);
  EXPECT_EQ(ref.path, renamed);
  EXPECT_FALSE(changed);
}

TEST_F(AliasesTest, ReplacedFileAndGoneFileAreNotFound) {
  FSRef ref;
  Boolean changed;
  // A different file moved in under the old name is not the file the alias refers to; making it
  // while the original still exists guarantees it another inode.
  const std::string replacement = dir.file("replacement.tmp");
  testsupport::writeFile(replacement, "a new file under the old name");
  ASSERT_EQ(std::rename(replacement.c_str(), photo.c_str()), 0);
  EXPECT_EQ(FSResolveAliasWithMountFlags(nullptr, alias, &ref, &changed, kResolveAliasFileNoUI), fnfErr);
  ASSERT_EQ(std::remove(photo.c_str()), 0);
  EXPECT_EQ(FSResolveAliasWithMountFlags(nullptr, alias, &ref, &changed, kResolveAliasFileNoUI), fnfErr);
  // So is a file whose folder has gone.
  const std::string folder = dir.file("sub");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  testsupport::writeFile(folder + "/p.jpg", "x");
  AliasHandle inFolder = nullptr;
  ASSERT_EQ(NewAliasFromPath((folder + "/p.jpg").c_str(), &inFolder), noErr);
  std::remove((folder + "/p.jpg").c_str());
  rmdir(folder.c_str());
  EXPECT_EQ(FSResolveAliasWithMountFlags(nullptr, inFolder, &ref, &changed, kResolveAliasFileNoUI), fnfErr);
  DisposeAlias(inFolder);
}

TEST_F(AliasesTest, UnknownVolumeIsNsvErr) {
  std::string bytes = aliasBytes(alias);
  for (int i = 0; i < 8; ++i) bytes[8 + i] = char(0x7E);  // no such device is mounted
  std::remove(photo.c_str());
  AliasHandle moved = aliasFrom(bytes);
  FSRef ref;
  Boolean changed;
  EXPECT_EQ(FSResolveAliasWithMountFlags(nullptr, moved, &ref, &changed, kResolveAliasFileNoUI), nsvErr);
  DisposeAlias(moved);
}

TEST_F(AliasesTest, MalformedRecordsAreParamErr) {
  const std::string good = aliasBytes(alias);
  ASSERT_EQ(good.size(), size_t(kAliasHeaderSize) + photo.size());
  auto patched = [&](size_t at, char value) {
    std::string b = good;
    b[at] = value;
    return b;
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""},
      {"header cut short", good.substr(0, 20)},
      {"path cut short", good.substr(0, good.size() - 1)},
      {"trailing bytes", good + "x"},
      {"bad magic", patched(0, 'X')},
      {"unknown version", patched(4, 9)},
      {"length past the end", patched(24, char(good[24] + 1))},
      {"huge length", patched(27, char(0x7F))},
      {"relative path", patched(kAliasHeaderSize, 'x')},
      {"NUL in the path", patched(good.size() - 3, '\0')},
  };
  for (const auto& [what, bytes] : cases) {
    AliasHandle bad = aliasFrom(bytes);
    FSRef ref;
    Boolean changed = true;
    EXPECT_EQ(FSResolveAliasWithMountFlags(nullptr, bad, &ref, &changed, kResolveAliasFileNoUI), paramErr) << what;
    EXPECT_FALSE(changed) << what;
    DisposeAlias(bad);
  }
  FSRef ref;
  EXPECT_EQ(FSResolveAliasWithMountFlags(nullptr, nullptr, &ref, nullptr, 0), paramErr);
}

}  // namespace
