// SPDX-License-Identifier: GPL-2.0-or-later
// Test helpers for paths, scratch folders, file contents and running commands.
// Scratch folders live under $TMPDIR (or /tmp) so parallel test binaries never share one.
#include "support/TestPaths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "photos/PhotoKinds.h"

namespace testsupport {

std::string sourceDir() { return STILL2MOV_SOURCE_DIR; }
std::string binaryPath() { return STILL2MOV_BINARY; }

std::string corpusDir() {
  // A worktree of the repository sits elsewhere than the shared folder: the variable names it.
  const char* named = std::getenv("STILL2MOV_CORPUS");
  std::string dir = named && *named ? std::string(named) : sourceDir() + "/../shared/corpus";
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? dir : std::string();
}

std::vector<std::string> corpusJpegs() {
  std::vector<std::string> files;
  std::string dir = corpusDir();
  if (dir.empty()) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    if (ext == ".jpg" || ext == ".jpeg") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> corpusPhotographs(const std::string& kind) {
  std::vector<std::string> files;
  const std::string dir = corpusDir();
  if (dir.empty()) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
    const photos::PhotoKind* taken = entry.is_regular_file() ? photos::PhotoKindForName(entry.path().string()) : nullptr;
    if (taken != nullptr && kind == taken->name) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool haveTool(const std::string& name) { return run("command -v " + shellQuote(name) + " >/dev/null 2>&1") == 0; }

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  std::string pattern = base + "/still2mov-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) std::abort();
  path_ = buf.data();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> ScratchDir::list() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), std::streamsize(bytes.size()));
}

int run(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  int status = pclose(pipe);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

}  // namespace testsupport
