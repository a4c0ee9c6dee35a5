// File manager: specifications, folder IDs, exclusive creation, replacement and temporary files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/Files.h"

using testsupport::ScratchDir;

namespace {
FSSpec specFor(const std::string& path) {
  FSSpec spec{};
  EXPECT_EQ(FSpFromPath(path, &spec), noErr);
  return spec;
}
}  // namespace

TEST(Files, MakeFSSpecTellsExistingFromMissingAndKeepsLongNames) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("a.jpg"), "x");
  FSSpec folderSpec = specFor(dir.file("a.jpg"));
  Str255 name;
  CopyCStringToPascal("a.jpg", name);
  FSSpec spec{};
  EXPECT_EQ(FSMakeFSSpec(folderSpec.vRefNum, folderSpec.parID, name, &spec), noErr);
  std::string longName(200, 'n');
  CopyCStringToPascal(longName.c_str(), name);
  EXPECT_EQ(FSMakeFSSpec(folderSpec.vRefNum, folderSpec.parID, name, &spec), fnfErr);
  std::string path;
  ASSERT_EQ(FSpGetPath(&spec, &path), noErr);
  EXPECT_EQ(path, dir.path() + "/" + longName);
  EXPECT_EQ(FSMakeFSSpec(folderSpec.vRefNum, 999999, name, &spec), dirNFErr);
}

TEST(Files, CreateIsExclusiveAndDeleteRemoves) {
  ScratchDir dir;
  FSSpec spec = specFor(dir.file("m.mov"));
  EXPECT_EQ(FSpCreate(&spec, FOUR_CHAR_CODE("TVOD"), FOUR_CHAR_CODE("????"), smSystemScript), noErr);
  EXPECT_EQ(FSpCreate(&spec, FOUR_CHAR_CODE("TVOD"), FOUR_CHAR_CODE("????"), smSystemScript), dupFNErr);
  FInfo info{};
  if (FSpGetFInfo(&spec, &info) == noErr && info.fdCreator != 0) {
    EXPECT_EQ(info.fdCreator, FOUR_CHAR_CODE("TVOD"));
    EXPECT_EQ(info.fdType, FOUR_CHAR_CODE("????"));
  }
  EXPECT_EQ(FSpDelete(&spec), noErr);
  EXPECT_EQ(FSpDelete(&spec), fnfErr);
}

TEST(Files, CreateDoesNotFollowAPlantedLink) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("victim"), "keep");
  ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("link").c_str()), 0);
  FSSpec spec = specFor(dir.file("link"));
  EXPECT_NE(FSpCreate(&spec, 0, 0, smSystemScript), noErr);
  FILE* f = nullptr;
  EXPECT_EQ(FSOpenNewFile(dir.file("link").c_str(), 0600, &f), dupFNErr);
  EXPECT_EQ(testsupport::readFile(dir.file("victim")), "keep");
}

TEST(Files, NewFileIsPrivate) {
  ScratchDir dir;
  FILE* f = nullptr;
  ASSERT_EQ(FSOpenNewFile(dir.file("1.wav").c_str(), 0600, &f), noErr);
  fclose(f);
  struct stat st {};
  ASSERT_EQ(stat(dir.file("1.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Files, TemporaryFilesAreUniqueAndReplaceObjectSwapsInOneStep) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("movie.mov"), "old");
  FSSpec target = specFor(dir.file("movie.mov"));
  FSSpec a{}, b{};
  ASSERT_EQ(FSpCreateTemporary(&target, "movie.mov", &a), noErr);
  ASSERT_EQ(FSpCreateTemporary(&target, "movie.mov", &b), noErr);
  EXPECT_NE(std::memcmp(a.name, b.name, a.name[0] + 1), 0);
  std::string pathA;
  ASSERT_EQ(FSpGetPath(&a, &pathA), noErr);
  testsupport::writeFile(pathA, "new");
  EXPECT_EQ(FSpReplaceObject(&a, &target), noErr);
  EXPECT_EQ(testsupport::readFile(dir.file("movie.mov")), "new");
  EXPECT_EQ(FSpDelete(&b), noErr);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"movie.mov"});
}

TEST(Files, TemporaryItemsFolderFollowsTMPDIR) {
  ScratchDir dir;
  const char* saved = getenv("TMPDIR");
  std::string keep = saved ? saved : "";
  setenv("TMPDIR", dir.path().c_str(), 1);
  FSRef ref;
  ASSERT_EQ(FSFindFolder(kOnSystemDisk, kTemporaryFolderType, kDontCreateFolder, &ref), noErr);
  UInt8 path[256];
  ASSERT_EQ(FSRefMakePath(&ref, path, sizeof path), noErr);
  char real[4096];
  ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(path), real);
  setenv("TMPDIR", (dir.path() + "/missing").c_str(), 1);
  ASSERT_EQ(FSFindFolder(kOnSystemDisk, kTemporaryFolderType, kDontCreateFolder, &ref), noErr);
  EXPECT_EQ(ref.path, "/tmp");
  if (saved) setenv("TMPDIR", keep.c_str(), 1);
  else unsetenv("TMPDIR");
}

TEST(Files, CatalogLookupByIndexEndsWithFileNotFound) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("b"), "");
  ASSERT_EQ(mkdir(dir.file("a").c_str(), 0755), 0);
  FSSpec any = specFor(dir.file("b"));
  Str255 name;
  CInfoPBRec pb{};
  pb.ioNamePtr = name;
  pb.ioVRefNum = any.vRefNum;
  pb.ioDirID = any.parID;
  pb.ioFDirIndex = 1;
  ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name + 1), name[0]), "a");
  EXPECT_TRUE(pb.ioFlAttrib & kioFlAttribDirMask);
  pb.ioDirID = any.parID;
  pb.ioFDirIndex = 3;
  EXPECT_EQ(PBGetCatInfoSync(&pb), fnfErr);
}
