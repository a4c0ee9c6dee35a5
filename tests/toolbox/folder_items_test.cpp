// SPDX-License-Identifier: GPL-2.0-or-later
// Folder listings for walks that must stay in their tree: each item told as what it is itself
// (a link to a folder is a link, not a folder), in name order, and a listing that fails in words.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/FolderItems.h"

using testsupport::ScratchDir;
namespace fs = std::filesystem;

TEST(FolderItems, LinksAreToldFromWhatTheyLeadTo) {
  ScratchDir dir;
  fs::create_directory(dir.file("b-folder"));
  testsupport::writeFile(dir.file("a.jpg"), "x");
  testsupport::writeFile(dir.file("B.JPG"), "y");
  fs::create_directory_symlink(dir.file("b-folder"), dir.file("c-to-folder"));
  fs::create_symlink(dir.file("a.jpg"), dir.file("d-to-file"));
  fs::create_symlink(dir.file("nowhere"), dir.file("e-dead"));
  fs::create_symlink(dir.file("f-loop"), dir.file("f-loop"));
  fs::create_directory_symlink(dir.path(), dir.file("g-up"));
  ASSERT_EQ(mkfifo(dir.file("h-fifo").c_str(), 0600), 0);

  std::vector<FSFolderItem> items;
  std::string reason;
  ASSERT_EQ(FSListFolder(dir.path() + "/", &items, &reason), noErr) << reason;
  std::vector<std::pair<std::string, FSItemKind>> seen;
  for (const FSFolderItem& item : items) seen.emplace_back(item.name, item.kind);
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, FSItemKind>>{{"B.JPG", FSItemKind::file},
                                                                    {"a.jpg", FSItemKind::file},
                                                                    {"b-folder", FSItemKind::folder},
                                                                    {"c-to-folder", FSItemKind::link},
                                                                    {"d-to-file", FSItemKind::link},
                                                                    {"e-dead", FSItemKind::link},
                                                                    {"f-loop", FSItemKind::link},
                                                                    {"g-up", FSItemKind::link},
                                                                    {"h-fifo", FSItemKind::other}}));
  // A folder's identity is its own, a link's is the link's.
  struct stat folder {};
  ASSERT_EQ(stat(dir.file("b-folder").c_str(), &folder), 0);
  EXPECT_EQ(items[2].inode, UInt64(folder.st_ino));
  EXPECT_NE(items[3].inode, UInt64(folder.st_ino));

  FSFolderItem one;
  ASSERT_EQ(FSDescribeItem(dir.file("c-to-folder"), &one), noErr);
  EXPECT_EQ(one.kind, FSItemKind::link);
  EXPECT_EQ(one.name, "c-to-folder");
  EXPECT_EQ(FSDescribeItem(dir.file("nothing"), &one, &reason), fnfErr);
  EXPECT_EQ(reason, "no such file");
}

TEST(FolderItems, AListingThatFailsSaysWhy) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("file"), "x");
  std::vector<FSFolderItem> items{{"stale", FSItemKind::file, 0, 0}};
  std::string reason;
  EXPECT_EQ(FSListFolder(dir.file("missing"), &items, &reason), fnfErr);
  EXPECT_EQ(reason, "no such file");
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(FSListFolder(dir.file("file"), &items, &reason), dirNFErr);
  EXPECT_NE(reason.find("not a folder"), std::string::npos) << reason;
}
