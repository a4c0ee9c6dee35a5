// SPDX-License-Identifier: GPL-2.0-or-later
// File manager: specifications, folder IDs, exclusive creation, working files and publishing them,
// and a file's bytes held for whoever reads the same file again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "faults/FaultShim.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/FileContents.h"
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

TEST(Files, WorkingFilesHaveNoNameUntilTheyArePublished) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("movie.mov"), "old");
  FSSpec target = specFor(dir.file("movie.mov"));
  FSSpec a{}, b{};
  ASSERT_EQ(FSpCreateTemporary(&target, "movie.mov", &a), noErr);
  ASSERT_EQ(FSpCreateTemporary(&target, "movie.mov", &b), noErr);
  // Nothing shows in the folder, so nothing is left behind should the process be killed.
  EXPECT_EQ(dir.list(), std::vector<std::string>{"movie.mov"});
  EXPECT_NE(std::memcmp(a.name, b.name, a.name[0] + 1), 0);
  EXPECT_EQ(FSpDelete(&a), noErr);
  EXPECT_EQ(FSpDelete(&b), noErr);
}

// Publishing, with unnamed working files and with the named ones used where the file system
// has none: the target changes in one step, or not at all.
class Publishing : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { faultshim_refuse_unnamed(!GetParam()); }
  void TearDown() override { faultshim_refuse_unnamed(0); }

  static FSSpec working(const FSSpec& near, const std::string& bytes) {
    FSSpec w{};
    EXPECT_EQ(FSpCreateTemporary(&near, "w", &w), noErr);
    int fd = -1;
    EXPECT_EQ(FSpOpenDescriptor(&w, O_WRONLY, &fd), noErr);
    EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    close(fd);
    return w;
  }
};

TEST_P(Publishing, ReplacesOrCreatesInOneStepAndNeverThroughALink) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("movie.mov"), "old");
  testsupport::writeFile(dir.file("elsewhere"), "keep");
  ASSERT_EQ(symlink(dir.file("elsewhere").c_str(), dir.file("link.mov").c_str()), 0);
  FSSpec movie = specFor(dir.file("movie.mov")), fresh = specFor(dir.file("fresh.mov")),
         link = specFor(dir.file("link.mov"));

  FSSpec w = working(movie, "new");
  EXPECT_EQ(dir.list().size(), GetParam() ? 3u : 4u);  // a named one shows until it is published
  EXPECT_EQ(testsupport::readFile(dir.file("movie.mov")), "old");
  EXPECT_EQ(FSpPublishTemporary(&w, &movie, false), dupFNErr);
  EXPECT_EQ(testsupport::readFile(dir.file("movie.mov")), "old");
  EXPECT_EQ(FSpPublishTemporary(&w, &movie, true), noErr);
  EXPECT_EQ(testsupport::readFile(dir.file("movie.mov")), "new");

  w = working(movie, "fresh");
  EXPECT_EQ(FSpPublishTemporary(&w, &fresh, false), noErr);
  EXPECT_EQ(testsupport::readFile(dir.file("fresh.mov")), "fresh");

  w = working(movie, "instead of the link");
  EXPECT_EQ(FSpPublishTemporary(&w, &link, true), noErr);
  struct stat st {};
  ASSERT_EQ(lstat(dir.file("link.mov").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(testsupport::readFile(dir.file("elsewhere")), "keep");

  // A working file that is discarded leaves nothing; one published over another working file
  // hands it its contents.
  FSSpec scratch = working(movie, "scratch");
  w = working(movie, "contents");
  EXPECT_EQ(FSpPublishTemporary(&w, &scratch, true), noErr);
  std::string path;
  ASSERT_EQ(FSpGetPath(&scratch, &path), noErr);
  EXPECT_EQ(testsupport::readFile(path), "contents");
  EXPECT_EQ(FSpDelete(&scratch), noErr);
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"elsewhere", "fresh.mov", "link.mov", "movie.mov"}));
}

INSTANTIATE_TEST_SUITE_P(Files, Publishing, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
  return info.param ? "Unnamed" : "NamedWhereUnnamedAreRefused";
});

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

// Held bytes stand for their file only while it is the same, unchanged file: a file written
// anew, changed in place, or another file with the same bytes is read afresh, and so is the
// file once the hold is let go. Two holds of one file each keep it until their own release.
TEST(FileContents, HeldBytesStandOnlyForTheSameUnchangedFile) {
  ScratchDir dir;
  const std::string path = dir.file("photo.jpg");
  testsupport::writeFile(path, "first bytes");
  testsupport::writeFile(dir.file("twin.jpg"), "first bytes");
  FSSpec spec = specFor(path), twin = specFor(dir.file("twin.jpg"));
  auto text = [](const FSContentsRef& c) { return std::string(reinterpret_cast<const char*>(c->data()), c->size()); };

  FSContentsRef read;
  ASSERT_EQ(FSReadFileContents(path, &read, nullptr), noErr);
  FSContentsRef again;
  ASSERT_EQ(FSpReadFileContents(&spec, &again), noErr);
  EXPECT_NE(again, read) << "nothing held, so the file is read";
  {
    FSContentsHold hold(read), second(read);
    ASSERT_EQ(FSpReadFileContents(&spec, &again), noErr);
    EXPECT_EQ(again, read);
    ASSERT_EQ(FSpReadFileContents(&twin, &again), noErr);
    EXPECT_NE(again, read);
    second.release();
    ASSERT_EQ(FSpReadFileContents(&spec, &again), noErr);
    EXPECT_EQ(again, read) << "the other hold still has it";

    // Changed in place with the same length, its modification time put back: the change
    // time still tells.
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "FIRST", 5, 0), 5);
    close(fd);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ASSERT_EQ(FSpReadFileContents(&spec, &again), noErr);
    EXPECT_EQ(text(again), "FIRST bytes");

    // Replaced by a new file under the name.
    testsupport::writeFile(dir.file("new.jpg"), "other bytes");
    ASSERT_EQ(rename(dir.file("new.jpg").c_str(), path.c_str()), 0);
    ASSERT_EQ(FSpReadFileContents(&spec, &again), noErr);
    EXPECT_EQ(text(again), "other bytes");
  }
  testsupport::writeFile(path, "first bytes");
  FSContentsRef fresh;
  ASSERT_EQ(FSReadFileContents(path, &fresh, nullptr), noErr);
  FSContentsHold hold(fresh);
  hold = FSContentsHold();
  ASSERT_EQ(FSpReadFileContents(&spec, &again), noErr);
  EXPECT_NE(again, fresh) << "a released hold answers nothing";
}

// Only the start a reader asks for is held (up to a mark here, as a photograph's picture ends at
// its end of image); the rest of the file is read where asked, across the boundary too. A start
// longer than the first read is read in further steps, one past the limit is refused in words,
// and a file whose start never ends is held whole.
TEST(FileContents, OnlyTheStartAskedForIsHeldAndTheRestIsReadWhereAsked) {
  ScratchDir dir;
  const auto toMark = [](const UInt8* data, std::size_t have) -> std::size_t {
    const void* mark = std::memchr(data, '|', have);
    return mark ? std::size_t(static_cast<const UInt8*>(mark) - data) + 1 : 0;
  };
  const std::string longStart = std::string(9u << 20, 's') + "|";
  const struct {
    const char* name;
    std::string file;
    UInt64 limit;
    OSErr err;
    std::size_t held;
  } rows[] = {
      {"short start, long rest", "head|" + std::string(5u << 20, 'r'), kFSMaxWholeFileBytes, noErr, 5},
      {"start past the first read", longStart + "rest", kFSMaxWholeFileBytes, noErr, longStart.size()},
      {"no mark: all of it", std::string(100000, 'x'), kFSMaxWholeFileBytes, noErr, 100000},
      {"empty", "", kFSMaxWholeFileBytes, noErr, 0},
      {"start past the limit", longStart + "rest", 2u << 20, memFullErr, 0},
      {"start within the limit, file past it", "head|" + std::string(5u << 20, 'r'), 2u << 20, noErr, 5},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = dir.file("photo.jpg");
    testsupport::writeFile(path, r.file);
    FSContentsRef contents;
    std::string reason;
    ASSERT_EQ(FSReadFileContents(path, &contents, &reason, r.limit, toMark), r.err);
    if (r.err != noErr) {
      EXPECT_EQ(reason, "larger than 2 MB");
      continue;
    }
    EXPECT_EQ(contents->size(), r.held);
    EXPECT_EQ(contents->fileSize(), r.file.size());
    EXPECT_EQ(contents->holdsWholeFile(), r.held == r.file.size());
    EXPECT_EQ(std::memcmp(contents->data(), r.file.data(), r.held), 0);
    // Across the held start's end, at the file's end, and one byte past it.
    const std::size_t from = r.held > 2 ? r.held - 2 : 0, n = std::min<std::size_t>(r.file.size() - from, 7);
    std::string got(n, '\0');
    EXPECT_TRUE(contents->readAt(from, reinterpret_cast<UInt8*>(got.data()), n));
    EXPECT_EQ(got, r.file.substr(from, n));
    UInt8 past = 0;
    EXPECT_FALSE(contents->readAt(r.file.size(), &past, 1));
    // Held, it stands for its file as a whole read does.
    FSContentsHold hold(contents);
    FSSpec spec = specFor(path);
    FSContentsRef again;
    ASSERT_EQ(FSpReadFileContents(&spec, &again), noErr);
    EXPECT_EQ(again, contents);
  }
}

// Stretches a reader takes from the file are not held: the whole pages inside them are never
// read nor made (they read as zeros and are not resident), and readAt gives their bytes from the
// file, across every edge, as fillGaps does into the held bytes. Stretches out of order,
// overlapping or past the file are not trusted.
TEST(FileContents, StretchesLeftInTheFileAreNeitherReadNorHeld) {
  const std::size_t page = std::size_t(sysconf(_SC_PAGESIZE));
  static std::vector<FSByteRange> stretches;
  const FSUnheldParts unheld = [](const FSFileReader&, UInt64) { return stretches; };
  // The held start's length, told without reading it (a scan would map the gaps' pages).
  static std::size_t held = 0;
  held = 12 * page + 1;
  const auto toMark = [](const UInt8*, std::size_t have) -> std::size_t { return have >= held ? held : 0; };
  std::string file;
  for (std::size_t k = 0; k < 12 * page; ++k) file += char('a' + k % 23);
  file += "|" + std::string(3 * page, 't');  // a trailer past the held start
  const UInt64 p = page;
  const struct {
    const char* name;
    std::vector<FSByteRange> stretches;
    std::vector<FSByteRange> gaps;  // the whole pages left unread
  } rows[] = {
      {"one stretch", {{p + 100, 4 * p}}, {{2 * p, 3 * p}}},
      {"two, and one within a page", {{10, 100}, {3 * p, 2 * p}, {7 * p - 1, 2 * p + 2}}, {{3 * p, 2 * p}, {7 * p, 2 * p}}},
      {"overlapping and out of order", {{4 * p, 3 * p}, {5 * p, 3 * p}, {p, 2 * p}}, {{4 * p, 3 * p}}},
      {"past the file", {{p, UInt64(file.size())}}, {}},
  };
  ScratchDir dir;
  const std::string path = dir.file("photo.jpg");
  testsupport::writeFile(path, file);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    stretches = r.stretches;
    FSContentsRef contents;
    ASSERT_EQ(FSReadFileContents(path, &contents, nullptr, kFSMaxWholeFileBytes, toMark, unheld), noErr);
    ASSERT_EQ(contents->size(), 12 * page + 1);
    ASSERT_EQ(contents->gaps().size(), r.gaps.size());
    for (std::size_t g = 0; g < r.gaps.size(); ++g) {
      EXPECT_EQ(contents->gaps()[g].offset, r.gaps[g].offset);
      EXPECT_EQ(contents->gaps()[g].length, r.gaps[g].length);
    }
    EXPECT_EQ(contents->holdsWholeFile(), false);
    for (const FSByteRange& g : r.gaps) {
      std::vector<unsigned char> resident(std::size_t((g.length + page - 1) / page));
      ASSERT_EQ(mincore(const_cast<UInt8*>(contents->data()) + g.offset, std::size_t(g.length), resident.data()), 0);
      EXPECT_EQ(std::count(resident.begin(), resident.end(), 0), std::ptrdiff_t(resident.size()));
    }
    for (std::size_t at = 0; at < contents->size(); at += page / 2) {
      const bool inGap = std::any_of(r.gaps.begin(), r.gaps.end(),
                                     [&](const FSByteRange& g) { return at >= g.offset && at < g.end(); });
      EXPECT_EQ(contents->data()[at], inGap ? 0 : UInt8(file[at])) << at;
    }
    // Every edge: across gaps, the held start's end and the file's end.
    for (std::size_t from : {std::size_t(0), page - 3, 2 * page - 1, 5 * page - 2, 9 * page + 1, 12 * page - 5}) {
      const std::size_t n = std::min(file.size() - from, 3 * page + 7);
      std::string got(n, '\0');
      ASSERT_TRUE(contents->readAt(from, reinterpret_cast<UInt8*>(got.data()), n)) << from;
      EXPECT_TRUE(got == file.substr(from, n)) << from;
    }
    // For a reader that needs the start whole, the gaps are read in.
    ASSERT_TRUE(contents->fillGaps());
    EXPECT_EQ(std::memcmp(contents->data(), file.data(), contents->size()), 0);
  }
}

