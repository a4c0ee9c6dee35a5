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

// TMPDIR pointed at a folder of the test's own while it lives.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& path) {
    const char* old = std::getenv("TMPDIR");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TMPDIR", path.c_str(), 1);
  }
  ~TemporaryFolder() {
    if (had_) setenv("TMPDIR", old_.c_str(), 1);
    else unsetenv("TMPDIR");
  }

 private:
  bool had_ = false;
  std::string old_;
};

mode_t modeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode : 0;
}

std::string ownFolderName() { return "still2mov-" + std::to_string(geteuid()); }

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
  const std::string expected = tmp.path() + "/" + ownFolderName();

  std::string path, reason;
  ASSERT_EQ(FSFindTemporaryItemsFolder(&path, &reason), noErr) << reason;
  EXPECT_EQ(path, expected);
  EXPECT_TRUE(S_ISDIR(modeOf(path)));
  EXPECT_EQ(modeOf(path) & 07777, 0700u);

  // Found again as it is; loosened permissions are tightened, the contents stay.
  testsupport::writeFile(path + "/123.wav", "kept");
  ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  ASSERT_EQ(FSFindTemporaryItemsFolder(&path, &reason), noErr) << reason;
  EXPECT_EQ(modeOf(path) & 07777, 0700u);
  EXPECT_EQ(testsupport::readFile(path + "/123.wav"), "kept");

  // The platform's folder lookup answers the same folder; the plain temporary folder is TMPDIR.
  FSRef ref;
  ASSERT_EQ(FSFindFolder(kOnSystemDisk, kChewableItemsFolderType, kDontCreateFolder, &ref), noErr);
  EXPECT_EQ(ref.path, expected);
  ASSERT_EQ(FSFindFolder(kOnSystemDisk, kTemporaryFolderType, kDontCreateFolder, &ref), noErr);
  EXPECT_EQ(ref.path, tmp.path());
}

TEST(TemporaryItems, APlantedNameIsRefusedAndLeftAlone) {
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
    ScratchDir tmp, elsewhere;
    TemporaryFolder env(tmp.path());
    const std::string planted = tmp.path() + "/" + ownFolderName();
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
