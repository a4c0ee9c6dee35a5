// SPDX-License-Identifier: GPL-2.0-or-later
// Where tests find the source tree, the built program, the shared corpus and a scratch folder.
// A scratch folder is made fresh per test and removed afterwards.
#pragma once
#include <string>
#include <vector>

#include "support/RequireTool.h"  // checks whose judge is missing fail

namespace testsupport {
std::string sourceDir();
std::string binaryPath();      // the built still2mov executable
std::string corpusDir();       // $STILL2MOV_CORPUS, else ../shared/corpus beside the source tree; "" when absent
std::vector<std::string> corpusJpegs();  // every .jpg/.jpeg below corpusDir(), sorted
// Every file below corpusDir() that the photograph kind of that name ("raw") takes by its name,
// sorted.
std::vector<std::string> corpusPhotographs(const std::string& kind);
bool haveTool(const std::string& name);  // the command is on PATH

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::vector<std::string> list() const;  // names in the folder, sorted

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// Runs a shell command; returns its exit status and fills out with its standard output.
int run(const std::string& command, std::string* out = nullptr);
std::string shellQuote(const std::string& s);
}  // namespace testsupport
