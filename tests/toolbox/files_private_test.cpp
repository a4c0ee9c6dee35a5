// SPDX-License-Identifier: GPL-2.0-or-later
// The file calls that keep a photograph's reading and the working files safe: regular files
// only and never a wait, the user's private temporary-items folder, and renames that never
// replace.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "support/Fifo.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/FileContents.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/RegularFiles.h"
#include "toolbox/Files/TemporaryItems.h"

using testsupport::ScratchDir;

namespace {

// An environment variable set (or unset, for "") while it lives.
class Variable {
 public:
  Variable(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value.empty()) unsetenv(name);
    else setenv(name, value.c_str(), 1);
  }
  ~Variable() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

// TMPDIR pointed at a folder of the test's own while it lives, and no session runtime folder.
struct TemporaryFolder {
  explicit TemporaryFolder(const std::string& path) : tmp("TMPDIR", path), runtime("XDG_RUNTIME_DIR", "") {}
  Variable tmp, runtime;
};

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

// The name the folder had when it was the same for every run of the user's.
std::string predictableName() { return "still2mov-" + std::to_string(geteuid()); }

}  // namespace

TEST(RegularFiles, OnlyRegularFilesAreReadAndNothingElseIsWaitedOn) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("photo.jpg"), "\xFF\xD8 bytes");
  ASSERT_EQ(symlink(dir.file("photo.jpg").c_str(), dir.file("link.jpg").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("gone.jpg").c_str(), dir.file("dangling.jpg").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("folder.jpg").c_str(), 0755), 0);
  ASSERT_TRUE(testsupport::makeFifo(dir.file("fifo.jpg")));
  int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socketPath = dir.file("socket.jpg");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  struct Case {
    std::string path;
    OSErr err;
    std::string reason;  // "" when it reads
  };
  const Case cases[] = {
      {dir.file("photo.jpg"), noErr, ""},
      {dir.file("link.jpg"), noErr, ""},
      {dir.file("gone.jpg"), fnfErr, "no such file"},
      {dir.file("dangling.jpg"), fnfErr, "no such file"},
      {"", fnfErr, "no such file"},
      {dir.file("folder.jpg"), notAFileErr, "is a directory"},
      {dir.file("fifo.jpg"), notAFileErr, "not a regular file"},
      {socketPath, notAFileErr, "not a regular file"},
      {"/dev/null", notAFileErr, "not a regular file"},
      {dir.file("photo.jpg/inside"), dirNFErr, "no such file (a folder on its path is not a folder)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::vector<UInt8> bytes{1, 2, 3};
    std::string reason;
    OSErr err = paramErr;
    ASSERT_TRUE(testsupport::returnsWithin(dir.file("fifo.jpg"), [&] { err = FSReadRegularFile(c.path, &bytes, &reason); }));
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(reason, c.reason);
    if (c.err == noErr) EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "\xFF\xD8 bytes");
    else EXPECT_TRUE(bytes.empty());

    FSContentsRef contents;
    reason.clear();
    ASSERT_TRUE(testsupport::returnsWithin(dir.file("fifo.jpg"), [&] { err = FSReadFileContents(c.path, &contents, &reason); }));
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(contents != nullptr, c.err == noErr);
    if (contents) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(contents->data()), contents->size()), "\xFF\xD8 bytes");
    }

    std::FILE* stream = reinterpret_cast<std::FILE*>(1);
    reason.clear();
    ASSERT_TRUE(testsupport::returnsWithin(dir.file("fifo.jpg"), [&] { err = FSOpenRegularFile(c.path, &stream, &reason); }));
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(stream != nullptr, c.err == noErr);
    if (stream) {
      char head[2];
      EXPECT_EQ(std::fread(head, 1, 2, stream), 2u);  // an ordinary, blocking stream
      std::fclose(stream);
    }
  }
  close(sock);

  std::vector<UInt8> bytes;
  std::string reason;
  EXPECT_EQ(FSReadRegularFile(dir.file("photo.jpg"), &bytes, &reason, 4), memFullErr);
  EXPECT_EQ(reason.rfind("larger than", 0), 0u) << reason;
  EXPECT_TRUE(bytes.empty());
  FSContentsRef contents;
  reason.clear();
  EXPECT_EQ(FSReadFileContents(dir.file("photo.jpg"), &contents, &reason, 4), memFullErr);
  EXPECT_EQ(reason.rfind("larger than", 0), 0u) << reason;
  EXPECT_EQ(contents, nullptr);
}

TEST(TemporaryItems, TheFolderIsTheUsersOwnAndPrivate) {
  ScratchDir tmp;
  TemporaryFolder env(tmp.path());

  std::string path, reason;
  ASSERT_EQ(FSFindTemporaryItemsFolder(&path, &reason), noErr) << reason;
  EXPECT_EQ(path.rfind(tmp.path() + "/still2mov-", 0), 0u) << path;
  EXPECT_EQ(path.size(), tmp.path().size() + std::string("/still2mov-XXXXXX").size()) << path;
  EXPECT_TRUE(S_ISDIR(modeOf(path)));
  EXPECT_EQ(modeOf(path) & 07777, 0700u);

  // Found again as it is; loosened permissions are tightened, the contents stay.
  testsupport::writeFile(path + "/123.wav", "kept");
  ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  std::string again;
  ASSERT_EQ(FSFindTemporaryItemsFolder(&again, &reason), noErr) << reason;
  EXPECT_EQ(again, path);
  EXPECT_EQ(modeOf(path) & 07777, 0700u);
  EXPECT_EQ(testsupport::readFile(path + "/123.wav"), "kept");

  // The platform's folder lookup answers the same folder; the plain temporary folder is TMPDIR.
  FSRef ref;
  ASSERT_EQ(FSFindFolder(kOnSystemDisk, kChewableItemsFolderType, kDontCreateFolder, &ref), noErr);
  EXPECT_EQ(ref.path, path);
  ASSERT_EQ(FSFindFolder(kOnSystemDisk, kTemporaryFolderType, kDontCreateFolder, &ref), noErr);
  EXPECT_EQ(ref.path, tmp.path());

  // Emptied, it goes when the process ends.
  ASSERT_EQ(unlink((path + "/123.wav").c_str()), 0);
  FSReleaseTemporaryItemsFolder();
  EXPECT_EQ(modeOf(path), 0u);
}

// In a shared temporary folder, names planted by someone else (the name the folder once always
// had, links, other users' folders) block nothing: the folder's name cannot be guessed.
TEST(TemporaryItems, NoPlantedNameBlocksIt) {
  ScratchDir tmp, elsewhere;
  TemporaryFolder env(tmp.path());
  const std::string planted = tmp.path() + "/" + predictableName();
  ASSERT_EQ(mkdir(planted.c_str(), 0777), 0);
  if (geteuid() == 0) ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
  ASSERT_EQ(symlink(elsewhere.path().c_str(), (tmp.path() + "/still2mov-000000").c_str()), 0);
  std::string path, reason;
  ASSERT_EQ(FSFindTemporaryItemsFolder(&path, &reason), noErr) << reason;
  EXPECT_NE(path, planted);
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  FSReleaseTemporaryItemsFolder();
}

// With a session runtime folder (private by definition), the folder is "still2mov" there, and
// what sits under that name must be the user's own folder.
TEST(TemporaryItems, LivesInTheRuntimeFolderWhereThereIsOne) {
  ScratchDir tmp, runtime;
  TemporaryFolder env(tmp.path());
  ASSERT_EQ(chmod(runtime.path().c_str(), 0700), 0);
  {
    Variable session("XDG_RUNTIME_DIR", runtime.path());
    std::string path, reason;
    ASSERT_EQ(FSFindTemporaryItemsFolder(&path, &reason), noErr) << reason;
    EXPECT_EQ(path, runtime.path() + "/still2mov");
    EXPECT_EQ(modeOf(path) & 07777, 0700u);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
  }
  // A runtime folder others may enter is no runtime folder: the temporary folder serves.
  ASSERT_EQ(chmod(runtime.path().c_str(), 0755), 0);
  Variable session("XDG_RUNTIME_DIR", runtime.path());
  std::string path, reason;
  ASSERT_EQ(FSFindTemporaryItemsFolder(&path, &reason), noErr) << reason;
  EXPECT_EQ(path.rfind(tmp.path() + "/still2mov-", 0), 0u) << path;
  FSReleaseTemporaryItemsFolder();
}

TEST(TemporaryItems, APlantedNameInTheRuntimeFolderIsRefusedAndLeftAlone) {
  struct Case {
    const char* name;
    std::string reasonEnd;
  };
  const Case cases[] = {
      {"link to a folder", "is a symbolic link, not a folder of this user's"},
      {"dangling link", "is a symbolic link, not a folder of this user's"},
      {"file", "is not a folder"},
      {"another user's folder", "belongs to another user"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir tmp, runtime, elsewhere;
    TemporaryFolder env(tmp.path());
    ASSERT_EQ(chmod(runtime.path().c_str(), 0700), 0);
    Variable session("XDG_RUNTIME_DIR", runtime.path());
    const std::string planted = runtime.path() + "/still2mov";
    const std::string name = c.name;
    ASSERT_EQ(chmod(elsewhere.path().c_str(), 0755), 0);
    if (name == "link to a folder") {
      ASSERT_EQ(symlink(elsewhere.path().c_str(), planted.c_str()), 0);
    } else if (name == "dangling link") {
      ASSERT_EQ(symlink(elsewhere.file("none").c_str(), planted.c_str()), 0);
    } else if (name == "file") {
      testsupport::writeFile(planted, "not a folder");
    } else {
      // Only the superuser can give a folder away; others cannot plant this case either.
      if (geteuid() != 0) continue;
      ASSERT_EQ(mkdir(planted.c_str(), 0777), 0);
      ASSERT_EQ(chown(planted.c_str(), 65534, 65534), 0);
    }
    const mode_t before = modeOf(planted);
    std::string path = "unchanged", reason;
    EXPECT_NE(FSFindTemporaryItemsFolder(&path, &reason), noErr);
    EXPECT_EQ(path, "");
    EXPECT_EQ(reason, "the temporary folder " + planted + " " + c.reasonEnd);
    EXPECT_EQ(modeOf(planted), before);
    EXPECT_EQ(modeOf(elsewhere.path()) & 07777, 0755u) << "the link's target was changed";
    FSRef ref;
    EXPECT_NE(FSFindFolder(kOnSystemDisk, kChewableItemsFolderType, kDontCreateFolder, &ref), noErr);
  }
}

TEST(Publishing, ARenameNeverReplacesWhatIsThere) {
  ScratchDir dir;
  auto spec = [&](const std::string& name) {
    FSSpec s{};
    EXPECT_EQ(FSpFromPath(dir.file(name), &s), noErr);
    return s;
  };
  testsupport::writeFile(dir.file("new"), "new");
  testsupport::writeFile(dir.file("taken"), "the user's");
  ASSERT_EQ(symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);
  FSSpec source = spec("new");
  for (const char* name : {"taken", "dangling"}) {
    FSSpec target = spec(name);
    EXPECT_EQ(FSpPublishTemporary(&source, &target, false), dupFNErr) << name;
  }
  EXPECT_EQ(testsupport::readFile(dir.file("taken")), "the user's");
  EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
  FSSpec free = spec("free");
  EXPECT_EQ(FSpPublishTemporary(&source, &free, false), noErr);
  EXPECT_EQ(testsupport::readFile(dir.file("free")), "new");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"dangling", "free", "taken"}));
}
