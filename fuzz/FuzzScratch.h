// SPDX-License-Identifier: GPL-2.0-or-later
// A private folder for targets whose code under test works on files: made once per process
// inside $TMPDIR, emptied after each input so no input sees another's files, removed at exit.
#pragma once
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace fuzzscratch {

class Folder {
 public:
  Folder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/still2mov-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("fuzz scratch folder");
      std::abort();
    }
    path_ = pattern;
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const char* name) const { return path_ + "/" + name; }

  // Removes everything inside the folder, keeping the folder.
  void empty() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(path_, ec)) std::filesystem::remove_all(entry.path(), ec);
  }

  static void write(const std::string& path, const unsigned char* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
      std::perror(path.c_str());
      std::abort();
    }
  }

 private:
  std::string path_;
};

// The process's one folder, made on first use.
inline const Folder& folder() {
  static Folder f;
  return f;
}

}  // namespace fuzzscratch
