// SPDX-License-Identifier: GPL-2.0-or-later
// Folder listings, subfolders, paths, parents, volumes, catalog searches, file and folder
// creation with their modes, and the photo-library plug-in.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/UtilsCIP.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"

using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {
std::string str(ConstStr255Param p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

void pset(Str255 p, const std::string& s) {
  p[0] = UInt8(s.size());
  std::memcpy(p + 1, s.data(), s.size());
}

FSSpec specOf(const std::string& path) {
  FSSpec s{};
  EXPECT_EQ(FSpFromPath(path, &s), noErr) << path;
  return s;
}

std::string pathOf(const FSSpec& s) {
  std::string p;
  EXPECT_EQ(FSpGetPath(&s, &p), noErr);
  return p;
}

// A folder described the way the listing calls want it: its own ID in parID.
FSSpec folderOf(const std::string& path) {
  FSSpec s{};
  s.vRefNum = specOf(path).vRefNum;
  s.parID = FSDirIDForFolder(path);
  return s;
}

unsigned modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

struct Umask {
  mode_t old;
  explicit Umask(mode_t m) : old(umask(m)) {}
  ~Umask() { umask(old); }
};

struct VersionReset {
  ~VersionReset() { SetEmulatedSystemVersion(0); }
};

struct EnvSet {
  std::string name;
  std::string old;
  bool had;
  EnvSet(const char* n, const std::string& v) : name(n) {
    const char* o = std::getenv(n);
    had = o != nullptr;
    if (had) old = o;
    setenv(n, v.c_str(), 1);
  }
  ~EnvSet() {
    if (had) setenv(name.c_str(), old.c_str(), 1);
    else unsetenv(name.c_str());
  }
};
}  // namespace

TEST(DirectoryList, ListsFilesOrFoldersUpToCapacityAndEndsCleanly) {
  ScratchDir dir;
  for (const char* f : {"c.jpg", "a.jpg", "b.jpg"}) writeFile(dir.file(f), "x");
  mkdir(dir.file("d2").c_str(), 0755);
  mkdir(dir.file("d1").c_str(), 0755);
  FSSpec folder = folderOf(dir.path());
  FSSpec items[8];
  short count = -1;

  ASSERT_EQ(UtilsCIP::GetDirectoryList(&folder, items, 8, &count, true), noErr);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(str(items[0].name), "a.jpg");
  EXPECT_EQ(str(items[2].name), "c.jpg");
  EXPECT_EQ(pathOf(items[1]), dir.file("b.jpg"));

  ASSERT_EQ(UtilsCIP::GetDirectoryList(&folder, items, 8, &count, false), noErr);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(str(items[0].name), "d1");
  EXPECT_EQ(str(items[1].name), "d2");

  ASSERT_EQ(UtilsCIP::GetDirectoryList(&folder, items, 2, &count, true), noErr);
  EXPECT_EQ(count, 2);

  FSSpec empty = folderOf(dir.file("d1"));
  ASSERT_EQ(UtilsCIP::GetDirectoryList(&empty, items, 8, &count, true), noErr);
  EXPECT_EQ(count, 0);

  FSSpec gone = folderOf(dir.file("d2"));
  rmdir(dir.file("d2").c_str());
  EXPECT_EQ(UtilsCIP::GetDirectoryList(&gone, items, 8, &count, true), dirNFErr);
}

// A link is an item of its folder wherever it leads: one that leads nowhere or round in a
// circle is listed as a file, and the listing goes on past it.
TEST(DirectoryList, LinksThatLeadNowhereAreListedAndTheListingGoesOn) {
  ScratchDir dir;
  writeFile(dir.file("a.jpg"), "x");
  ASSERT_EQ(symlink(dir.file("missing").c_str(), dir.file("b-dangling").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("c-loop").c_str(), dir.file("c-loop").c_str()), 0);
  ASSERT_EQ(mkdir(dir.file("d-folder").c_str(), 0755), 0);
  ASSERT_EQ(symlink(dir.file("d-folder").c_str(), dir.file("e-to-folder").c_str()), 0);
  writeFile(dir.file("f.jpg"), "x");
  FSSpec folder = folderOf(dir.path());
  FSSpec items[8];
  short count = 0;

  ASSERT_EQ(UtilsCIP::GetDirectoryList(&folder, items, 8, &count, true), noErr);
  std::vector<std::string> names;
  for (short k = 0; k < count; ++k) names.push_back(str(items[k].name));
  EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "b-dangling", "c-loop", "f.jpg"}));

  ASSERT_EQ(UtilsCIP::GetDirectoryList(&folder, items, 8, &count, false), noErr);
  names.clear();
  for (short k = 0; k < count; ++k) names.push_back(str(items[k].name));
  EXPECT_EQ(names, (std::vector<std::string>{"d-folder", "e-to-folder"}));
}

// Another program changes the folder while it is being listed. Every item that stays is listed
// exactly once and in name order, whatever came or went ahead of the place the listing had reached.
TEST(DirectoryList, ItemsThatStayAreListedOnceWhileOthersComeAndGo) {
  for (bool removing : {true, false}) {
    SCOPED_TRACE(removing ? "items removed" : "items added");
    ScratchDir dir;
    char name[16];
    std::set<std::string> stayers;
    for (int k = 0; k < 100; ++k) {
      std::snprintf(name, sizeof name, "m%03d", k);
      writeFile(dir.file(name), "");
      stayers.insert(name);
    }
    std::vector<std::string> comers;
    for (int k = 0; k < 150; ++k) {
      std::snprintf(name, sizeof name, "a%03d", k);
      comers.push_back(dir.file(name));
      if (removing) writeFile(comers.back(), "");
    }

    // The change starts once the listing is under way: after the folder has been read a few times.
    int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_OPEN), 0);
    std::thread other([&] {
      alignas(inotify_event) char buf[4096];
      for (int opens = 0; opens < 10;) {
        pollfd p{watch, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) break;
        ssize_t n = read(watch, buf, sizeof buf);
        for (ssize_t at = 0; at < n;) {
          const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
          if (e->mask & IN_OPEN) ++opens;
          at += ssize_t(sizeof *e + e->len);
        }
      }
      for (const std::string& f : comers) {
        if (removing) unlink(f.c_str());
        else writeFile(f, "");
      }
    });
    FSSpec folder = folderOf(dir.path());
    std::vector<FSSpec> items(400);
    short count = 0;
    OSErr err = UtilsCIP::GetDirectoryList(&folder, items.data(), short(items.size()), &count, true);
    other.join();
    close(watch);

    ASSERT_EQ(err, noErr);
    std::set<std::string> listed;
    std::string previous;
    for (short k = 0; k < count; ++k) {
      std::string n = str(items[size_t(k)].name);
      EXPECT_LT(previous, n) << "listed out of order or twice, at " << k;
      previous = n;
      if (n[0] == 'm') listed.insert(n);
    }
    EXPECT_EQ(listed, stayers) << count << " listed";
  }
}

TEST(SubDirectory, MovesIntoAFolderButNotAFile) {
  ScratchDir dir;
  mkdir(dir.file("sub").c_str(), 0755);
  writeFile(dir.file("sub/inner.txt"), "x");
  writeFile(dir.file("file"), "x");
  FSSpec spec = folderOf(dir.path());
  Str255 name;
  pset(name, "sub");
  ASSERT_EQ(UtilsCIP::GetSubDirectory(name, &spec), noErr);
  EXPECT_EQ(spec.parID, FSDirIDForFolder(dir.file("sub")));
  EXPECT_EQ(str(spec.name), "sub");
  FSSpec items[2];
  short count = 0;
  ASSERT_EQ(UtilsCIP::GetDirectoryList(&spec, items, 2, &count, true), noErr);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(str(items[0].name), "inner.txt");

  FSSpec before = folderOf(dir.path());
  FSSpec other = before;
  pset(name, "file");
  EXPECT_EQ(UtilsCIP::GetSubDirectory(name, &other), dirNFErr);
  EXPECT_EQ(other.parID, before.parID) << "left as it was";
  pset(name, "missing");
  EXPECT_EQ(UtilsCIP::GetSubDirectory(name, &other), fnfErr);
}

TEST(Paths, FullPathValidityAndParents) {
  ScratchDir dir;
  writeFile(dir.file("photo.jpg"), "x");
  FSSpec spec = specOf(dir.file("photo.jpg"));
  Str255 path;
  ASSERT_EQ(UtilsCIP::GetFullPath(path, &spec), noErr);
  EXPECT_EQ(str(path), dir.file("photo.jpg"));
  EXPECT_TRUE(UtilsCIP::ValidFile(spec));

  FSSpec parent{};
  ASSERT_TRUE(UtilsCIP::GetParentSpec(spec, parent));
  EXPECT_EQ(pathOf(parent), dir.path());

  FSSpec root = specOf("/");
  FSSpec rootParent{};
  ASSERT_TRUE(UtilsCIP::GetParentSpec(root, rootParent));
  EXPECT_EQ(pathOf(rootParent), "/");

  unlink(dir.file("photo.jpg").c_str());
  EXPECT_FALSE(UtilsCIP::ValidFile(spec));
  EXPECT_EQ(UtilsCIP::GetFullPath(path, &spec), fnfErr);
  EXPECT_EQ(str(path), dir.file("photo.jpg")) << "the path is given even for a missing item";

  // Too long for a Pascal string: an error and no path, never a shortened one.
  std::string deep = dir.path();
  while (deep.size() < 250) {
    deep += "/abcdefghijklmnopqrstuvwxyz";
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
  }
  writeFile(deep + "/file.jpg", "x");
  FSSpec longSpec = specOf(deep + "/file.jpg");
  path[0] = 9;
  EXPECT_EQ(UtilsCIP::GetFullPath(path, &longSpec), pathTooLongErr);
  EXPECT_EQ(path[0], 0);
  EXPECT_TRUE(UtilsCIP::ValidFile(longSpec));
}

// A link's folder is its parent wherever the link leads, onto another file system too; only a
// folder mounted in its place starts a volume of its own.
TEST(Paths, ALinkToAnotherFileSystemHasItsFolderAsParent) {
  ScratchDir dir;
  struct stat here {}, proc {};
  ASSERT_EQ(stat(dir.path().c_str(), &here), 0);
  ASSERT_EQ(stat("/proc", &proc), 0);
  ASSERT_NE(here.st_dev, proc.st_dev) << "/proc is a file system of its own";
  ASSERT_EQ(symlink("/proc", dir.file("to-folder").c_str()), 0);
  ASSERT_EQ(symlink("/proc/self/status", dir.file("to-file").c_str()), 0);
  ASSERT_EQ(symlink("/proc/no-such-item", dir.file("to-nothing").c_str()), 0);
  for (const char* link : {"to-folder", "to-file", "to-nothing"}) {
    FSSpec spec = specOf(dir.file(link));
    FSSpec parent{};
    ASSERT_TRUE(UtilsCIP::GetParentSpec(spec, parent)) << link;
    EXPECT_EQ(pathOf(parent), dir.path()) << link;
  }

  FSSpec mounted = specOf("/proc");
  FSSpec parent{};
  ASSERT_TRUE(UtilsCIP::GetParentSpec(mounted, parent));
  EXPECT_EQ(pathOf(parent), "/proc");
}

TEST(Paths, AMountPointIsItsOwnParent) {
  struct stat shm {}, dev {};
  if (stat("/dev/shm", &shm) != 0 || stat("/dev", &dev) != 0 || shm.st_dev == dev.st_dev)
    GTEST_SKIP() << "/dev/shm is not a file system of its own here";
  FSSpec spec = specOf("/dev/shm");
  FSSpec parent{};
  ASSERT_TRUE(UtilsCIP::GetParentSpec(spec, parent));
  EXPECT_EQ(pathOf(parent), "/dev/shm");
}

TEST(Volumes, IndexedVolumesAreDistinctAndIncludeOurs) {
  ScratchDir dir;
  FSSpec here = specOf(dir.file("x"));
  std::set<short> seen;
  bool foundOurs = false;
  Str255 name;
  short vRefNum = 0;
  short index = 1;
  for (; UtilsCIP::GetVolumeByNumber(name, index, &vRefNum); ++index) {
    EXPECT_TRUE(seen.insert(vRefNum).second) << "volume " << index << " repeated";
    EXPECT_GT(name[0], 0);
    EXPECT_EQ(name[1], '/') << "named by its mount point";
    if (vRefNum == here.vRefNum) foundOurs = true;
  }
  EXPECT_GT(index, 1);
  EXPECT_TRUE(foundOurs);
  EXPECT_FALSE(UtilsCIP::GetVolumeByNumber(name, 0, &vRefNum));
}

TEST(CreateFiles, ReplacesTheFileWithTypeCreatorAndUmaskMode) {
  ScratchDir dir;
  Umask mask(022);
  writeFile(dir.file("out.mov"), "old contents");
  chmod(dir.file("out.mov").c_str(), 0444);  // locked files go too
  FSSpec spec = specOf(dir.file("out.mov"));
  ASSERT_EQ(UtilsCIP::CreateOSIndFile(spec, FOUR_CHAR_CODE("TVOD"), FOUR_CHAR_CODE("MooV"), nullptr), noErr);
  EXPECT_EQ(testsupport::readFile(dir.file("out.mov")), "");
  EXPECT_EQ(modeOf(dir.file("out.mov")), unsigned(S_IFREG | 0644));
  FInfo info{};
  ASSERT_EQ(FSpGetFInfo(&spec, &info), noErr);
  if (info.fdType != 0) {  // where the file system records codes at all
    EXPECT_EQ(info.fdType, FOUR_CHAR_CODE("MooV"));
    EXPECT_EQ(info.fdCreator, FOUR_CHAR_CODE("TVOD"));
  }

  Umask open(0);
  Str255 name;
  pset(name, "named.mov");
  ASSERT_EQ(UtilsCIP::CreateOSIndFile(spec, FOUR_CHAR_CODE("TVOD"), FOUR_CHAR_CODE("MooV"), name), noErr);
  EXPECT_EQ(str(spec.name), "named.mov") << "the specification follows the new name";
  EXPECT_EQ(modeOf(dir.file("named.mov")), unsigned(S_IFREG | 0666));
  EXPECT_TRUE(FSFileExistsAtPath(dir.file("out.mov"))) << "only the file being replaced is removed";

  // A folder in the way is never removed.
  mkdir(dir.file("folder.mov").c_str(), 0755);
  pset(name, "folder.mov");
  EXPECT_EQ(UtilsCIP::CreateOSIndFile(spec, FOUR_CHAR_CODE("TVOD"), FOUR_CHAR_CODE("MooV"), name), dupFNErr);
  EXPECT_TRUE(S_ISDIR(modeOf(dir.file("folder.mov"))));
}

TEST(CreateFiles, OlderSystemsIgnoreTheNameAndKeepTheSpecification) {
  ScratchDir dir;
  VersionReset reset;
  SetEmulatedSystemVersion(0x0900);
  FSSpec spec = specOf(dir.file("classic.mov"));
  Str255 name;
  pset(name, "other.mov");
  ASSERT_EQ(UtilsCIP::CreateOSIndFile(spec, FOUR_CHAR_CODE("TVOD"), FOUR_CHAR_CODE("MooV"), name), noErr);
  EXPECT_EQ(str(spec.name), "classic.mov");
  EXPECT_TRUE(FSFileExistsAtPath(dir.file("classic.mov")));
  EXPECT_FALSE(FSFileExistsAtPath(dir.file("other.mov")));
}

TEST(CreateFolders, ModeUnderUmaskAndExistingFolders) {
  ScratchDir dir;
  Umask mask(027);
  FSSpec spec = specOf(dir.file("anything"));
  Str255 name;
  pset(name, "Movies");
  SInt32 id = 0;
  ASSERT_EQ(UtilsCIP::CreateOSIndDirectory(spec, name, &id), noErr);
  EXPECT_EQ(modeOf(dir.file("Movies")), unsigned(S_IFDIR | 0750));
  EXPECT_EQ(id, FSDirIDForFolder(dir.file("Movies")));

  SInt32 again = 0;
  ASSERT_EQ(UtilsCIP::CreateOSIndDirectory(spec, name, &again), noErr);
  EXPECT_EQ(again, id) << "an existing folder answers its own ID";

  writeFile(dir.file("plain"), "x");
  pset(name, "plain");
  SInt32 untouched = 77;
  EXPECT_EQ(UtilsCIP::CreateOSIndDirectory(spec, name, &untouched), dupFNErr);
  EXPECT_EQ(untouched, 77);

  Umask open(0);
  pset(name, "Shared");
  ASSERT_EQ(UtilsCIP::CreateOSIndDirectory(spec, name, &id), noErr);
  EXPECT_EQ(modeOf(dir.file("Shared")), unsigned(S_IFDIR | 0777));
}

// A folder's name is one name in the given folder: nothing that reaches out of it, into a
// subfolder or is cut short by a zero byte.
TEST(CreateFolders, NamesThatAreNotASingleNameAreRefused) {
  ScratchDir outer;
  ASSERT_EQ(mkdir(outer.file("in").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(outer.file("in/sub").c_str(), 0755), 0);
  FSSpec spec = specOf(outer.file("in/anything"));
  const std::string names[] = {"../escaped", "sub/../../escaped", "sub/nested", "/",
                               ".",          "..",                std::string("cut\0short", 9), ""};
  for (const std::string& bad : names) {
    Str255 name;
    pset(name, bad);
    SInt32 id = 77;
    EXPECT_EQ(UtilsCIP::CreateOSIndDirectory(spec, name, &id), bdNamErr) << bad;
    EXPECT_EQ(id, 77) << bad;
  }
  EXPECT_EQ(outer.list(), std::vector<std::string>{"in"});
  EXPECT_EQ(testsupport::run("test -z \"$(ls -A " + testsupport::shellQuote(outer.file("in/sub")) + ")\""), 0);
  struct stat st {};
  EXPECT_NE(stat(outer.file("in/cut").c_str(), &st), 0);
}

TEST(CatalogSearch, FindsApplicationsAndBundlesByExactName) {
  struct stat shm {};
  if (stat("/dev/shm", &shm) != 0 || access("/dev/shm", W_OK) != 0) GTEST_SKIP() << "no /dev/shm";
  // A small volume of its own keeps the search short.
  char tmpl[] = "/dev/shm/utilscip-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string base = tmpl;
  struct Cleanup {
    std::string p;
    // Not through a shell: a folder left on the shared volume would be found by every later run.
    ~Cleanup() {
      std::error_code ec;
      std::filesystem::remove_all(p, ec);
    }
  } cleanup{base};
  FSSpec baseSpec = specOf(base);
  if (FSVolumeRefNumForDevice(shm.st_dev) != baseSpec.vRefNum) GTEST_SKIP();

  for (const char* d : {"/a", "/b", "/c", "/c/Viewer.app", "/d", "/d/Plugin"}) mkdir((base + d).c_str(), 0755);
  const std::string entry = "[Desktop Entry]\nType=Application\nName=Viewer\nExec=/bin/true\nX-Creator-Code=";
  writeFile(base + "/a/viewer.desktop", entry + "Othr\n");
  writeFile(base + "/b/viewer.desktop", entry + "Tst9\n");
  symlink((base + "/b/viewer.desktop").c_str(), (base + "/0link").c_str());
  mkdir((base + "/0link.d").c_str(), 0755);
  symlink((base + "/b/viewer.desktop").c_str(), (base + "/0link.d/viewer.desktop").c_str());

  FSSpec found{};
  Str255 name;
  pset(name, "viewer.desktop");
  ASSERT_TRUE(UtilsCIP::FindFileByName(name, found, baseSpec.vRefNum, FOUR_CHAR_CODE("Tst9")));
  EXPECT_EQ(pathOf(found), base + "/b/viewer.desktop") << "the link to it is an alias and does not count";
  EXPECT_FALSE(UtilsCIP::FindFileByName(name, found, baseSpec.vRefNum, FOUR_CHAR_CODE("None")));

  pset(name, "Viewer.app");
  ASSERT_TRUE(UtilsCIP::FindFileByName(name, found, baseSpec.vRefNum, FOUR_CHAR_CODE("Tst9")));
  EXPECT_EQ(pathOf(found), base + "/c/Viewer.app") << "any folder whose name ends in .app";

  pset(name, "Plugin");
  EXPECT_FALSE(UtilsCIP::FindFileByName(name, found, baseSpec.vRefNum, 0));
  FSSpec plugin = specOf(base + "/d/Plugin");
  FInfo bundle{};
  bundle.fdFlags = kHasBundle;
  ASSERT_EQ(FSpSetFInfo(&plugin, &bundle), noErr);
  CInfoPBRec pb{};
  Str255 buffer;
  std::memcpy(buffer, plugin.name, plugin.name[0] + 1u);
  pb.ioNamePtr = buffer;
  pb.ioVRefNum = plugin.vRefNum;
  pb.ioDirID = plugin.parID;
  ASSERT_EQ(PBGetCatInfoSync(&pb), noErr);
  if ((pb.ioFlFndrInfo.fdFlags & kHasBundle) == 0) GTEST_SKIP() << "no Finder flags on this file system";
  ASSERT_TRUE(UtilsCIP::FindFileByName(name, found, baseSpec.vRefNum, 0));
  EXPECT_EQ(pathOf(found), base + "/d/Plugin") << "a folder flagged has-bundle";
}

TEST(PhotoBridge, MissingPluginOrFunctionIsMinusOne) {
  ScratchDir dir;
  EnvSet home("XDG_DATA_HOME", dir.file("home"));
  EnvSet dirs("XDG_DATA_DIRS", dir.file("sys"));
  writeFile(dir.file("photo.jpg"), "x");
  FSSpec photo = specOf(dir.file("photo.jpg"));
  EXPECT_EQ(UtilsCIP::SendToIPhoto(&photo, 0), -1);

  // A file that is not a library at all.
  testsupport::run("mkdir -p " + testsupport::shellQuote(dir.file("home/vantor/photo-support")));
  writeFile(dir.file("home/vantor/photo-support/vantor2ipho.so"), "not a library");
  EXPECT_EQ(UtilsCIP::SendToIPhoto(&photo, 0), -1);
}

TEST(PhotoBridge, CallsSubmit2OfTheFirstPluginFound) {
  REQUIRE_TOOL("cc");
  ScratchDir dir;
  EnvSet home("XDG_DATA_HOME", dir.file("home"));
  EnvSet dirs("XDG_DATA_DIRS", dir.file("sys1") + ":" + dir.file("sys2"));
  EnvSet out("UTILSCIP_PLUGIN_OUT", dir.file("received"));
  writeFile(dir.file("plugin.c"),
            "#include <stdio.h>\n#include <stdlib.h>\n"
            "int submit2(const char* path, long flags) {\n"
            "  FILE* f = fopen(getenv(\"UTILSCIP_PLUGIN_OUT\"), \"w\");\n"
            "  if (!f) return -2;\n"
            "  fprintf(f, \"%s %ld\", path, flags);\n  fclose(f);\n  return 42;\n}\n");
  writeFile(dir.file("nosymbol.c"), "int other(void) { return 1; }\n");
  std::string sys2 = dir.file("sys2/vantor/photo-support");
  std::string sys1 = dir.file("sys1/vantor/photo-support");
  ASSERT_EQ(testsupport::run("mkdir -p " + testsupport::shellQuote(sys1) + " " + testsupport::shellQuote(sys2) +
                             " && cc -shared -fPIC -o " + testsupport::shellQuote(sys2 + "/vantor2ipho.so") + " " +
                             testsupport::shellQuote(dir.file("plugin.c")) + " 2>&1"),
            0);
  writeFile(dir.file("photo.jpg"), "x");
  FSSpec photo = specOf(dir.file("photo.jpg"));
  EXPECT_EQ(UtilsCIP::SendToIPhoto(&photo, 7), 42);
  EXPECT_EQ(testsupport::readFile(dir.file("received")), dir.file("photo.jpg") + " 7");

  // An earlier folder's plug-in without the function hides the later one: -1, nothing sent.
  unlink(dir.file("received").c_str());
  ASSERT_EQ(testsupport::run("cc -shared -fPIC -o " + testsupport::shellQuote(sys1 + "/vantor2ipho.so") + " " +
                             testsupport::shellQuote(dir.file("nosymbol.c")) + " 2>&1"),
            0);
  EXPECT_EQ(UtilsCIP::SendToIPhoto(&photo, 7), -1);
  EXPECT_FALSE(FSFileExistsAtPath(dir.file("received")));
}
