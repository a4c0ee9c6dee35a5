// SPDX-License-Identifier: GPL-2.0-or-later
// Start-up: the program loads only what its commands use. The desktop's bus (GIO) belongs to the
// application's binary, to which "app", "open" and "send" are handed; without it they fail in
// words.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/TestPaths.h"

using testsupport::ScratchDir;

namespace {

struct Output {
  int status = -1;
  std::string text;  // standard output and error together
};

Output run(const std::string& command) {
  Output out;
  std::FILE* pipe = popen((command + " 2>&1 </dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.text.append(buffer, n);
  int status = pclose(pipe);
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// What the dynamic loader maps for a program, listed without running it.
std::string libraries(const std::string& program) { return run("LD_TRACE_LOADED_OBJECTS=1 " + quoted(program)).text; }

}  // namespace

TEST(StartUp, OnlyTheApplicationsBinaryLoadsTheDesktopBus) {
  const std::string program = testsupport::binaryPath();
  const std::string application = (std::filesystem::path(program).parent_path() / "still2mov-app").string();
  const std::string ours = libraries(program), theirs = libraries(application);
  ASSERT_NE(ours.find("libc.so"), std::string::npos) << ours;
  EXPECT_EQ(ours.find("libgio"), std::string::npos) << ours;
  EXPECT_EQ(ours.find("libgobject"), std::string::npos) << ours;
  EXPECT_NE(theirs.find("libgio"), std::string::npos) << theirs;
  // Both answer the same commands the same way.
  EXPECT_EQ(run(quoted(program) + " --help").text, run(quoted(application) + " --help").text);
}

TEST(StartUp, BusCommandsWithoutTheApplicationsBinarySayWhy) {
  ScratchDir dir;
  const std::string alone = dir.file("still2mov");
  std::filesystem::copy_file(testsupport::binaryPath(), alone);
  std::filesystem::permissions(alone, std::filesystem::perms::owner_all);
  for (const char* command : {"app", "open", "send"}) {
    SCOPED_TRACE(command);
    Output out = run(quoted(alone) + " " + command + " " + quoted(dir.file("photo.jpg")));
    EXPECT_EQ(out.status, 1);
    EXPECT_EQ(out.text, "still2mov: the application is not installed beside this program (still2mov-app): No such "
                        "file or directory\n");
  }
  // Every other command needs nothing beside the program.
  EXPECT_EQ(run(quoted(alone) + " --version").status, 0);
}
