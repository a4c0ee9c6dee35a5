// SPDX-License-Identifier: GPL-2.0-or-later
// The safe-save primitive on its own: what each publication rule lets a working file replace,
// unnamed or named, and which names count as working files of ours.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "faults/FaultShim.h"
#include "media/SafeSave.h"
#include "support/TestPaths.h"

using media::FileIdentity;
using media::Publish;
using media::WorkingFile;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

FileIdentity identityOf(const ScratchDir& dir, const std::string& name) {
  FileIdentity id;
  EXPECT_EQ(media::IdentifyName(AT_FDCWD, dir.file(name).c_str(), &id), 0);
  return id;
}

void fill(WorkingFile& w, const ScratchDir& dir, const std::string& bytes) {
  ASSERT_EQ(w.create(dir.path(), "m.mov"), 0);
  ASSERT_EQ(pwrite(w.descriptor(), bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
}

// Unnamed working files, and named ones as where the file system has no unnamed ones.
class SafeSave : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { faultshim_refuse_unnamed(!GetParam()); }
  void TearDown() override { faultshim_refuse_unnamed(0); }
};

TEST_P(SafeSave, EachRuleReplacesOnlyWhatItMay) {
  ScratchDir dir;
  struct Case {
    const char* name;
    Publish how;
    std::function<void()> meanwhile;
    int result;
    std::string after;  // what m.mov then holds
  };
  const Case cases[] = {
      {"a taken name without replacing", Publish::noReplace, [] {}, EEXIST, "ours"},
      {"the checked file, unchanged", Publish::replaceChecked, [] {}, 0, "new"},
      {"the checked file, changed in place", Publish::replaceChecked,
       [&] { std::ofstream(dir.file("m.mov"), std::ios::app) << "+"; }, EEXIST, "ours+"},
      {"the checked file, put aside for another", Publish::replaceChecked,
       [&] {
         writeFile(dir.file("other"), "ours");
         std::filesystem::rename(dir.file("other"), dir.file("m.mov"));
       },
       EEXIST, "ours"},
      {"the checked file, gone", Publish::replaceChecked, [&] { std::filesystem::remove(dir.file("m.mov")); }, 0,
       "new"},
      {"anything", Publish::replaceAny, [&] { writeFile(dir.file("m.mov"), "theirs"); }, 0, "new"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir.file("m.mov"), "ours");
    FileIdentity now = identityOf(dir, "m.mov");
    WorkingFile w;
    fill(w, dir, "new");
    c.meanwhile();
    EXPECT_EQ(w.publish("m.mov", c.how, &now), c.result);
    EXPECT_EQ(readFile(dir.file("m.mov")), c.after);
    EXPECT_EQ(w.open(), c.result != 0) << "a refused working file stays for its owner to discard";
    w.discard();
    EXPECT_EQ(dir.list(), std::vector<std::string>{"m.mov"});
  }
}

INSTANTIATE_TEST_SUITE_P(Media, SafeSave, testing::Bool(), [](const testing::TestParamInfo<bool>& info) {
  return info.param ? "Unnamed" : "Named";
});

TEST(SafeSaveNames, OnlyOurPatternIsAWorkingFile) {
  const std::pair<const char*, bool> cases[] = {
      {".still2mov-AbCd1234-p.mov.part", true},
      {".still2mov-AbCd1234-.part", true},
      {".still2mov-AbCd123-p.mov.part", false},   // short token
      {".still2mov-AbCd12345p.mov.part", false},  // no separator
      {".still2mov-AbCd-234-p.mov.part", false},  // not letters or digits
      {".still2mov-AbCd1234-p.mov.tmp", false},
      {"still2mov-AbCd1234-p.mov.part", false},
      {".tmp.mov.AbCd1234", false},
  };
  for (const auto& [name, ours] : cases) EXPECT_EQ(media::IsWorkingFileName(name), ours) << name;
}

}  // namespace
