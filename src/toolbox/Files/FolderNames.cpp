// SPDX-License-Identifier: GPL-2.0-or-later
// Folder listing through opendir/readdir: one pass, names only, nothing looked up per item;
// and the run's readings, indexed by lower-case name so that a look-up costs no more than one.
#include "toolbox/Files/FolderNames.h"

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"

namespace {

std::atomic<UInt64> gReads{0};

std::string lowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

// One spelling of a folder per path: "a/" and "a" are one folder, "" is ".".
std::string folderKey(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder.empty() ? "." : folder;
}

// A folder's names by their lower-case form; an unreadable folder is kept as one without names.
using NameIndex = std::unordered_map<std::string, std::vector<std::string>>;

NameIndex indexOf(const std::vector<std::string>& names) {
  NameIndex index;
  index.reserve(names.size());
  for (const std::string& name : names) index[lowerAscii(name)].push_back(name);
  for (auto& [lower, spellings] : index) std::sort(spellings.begin(), spellings.end());
  return index;
}

struct Readings {
  std::mutex lock;
  bool running = false;
  std::unordered_map<std::string, std::shared_ptr<const NameIndex>> folders;
};

Readings& readings() {
  static Readings r;
  return r;
}

}  // namespace

OSErr FSListFolderNames(const std::string& folder, std::vector<std::string>* names, std::string* reason) {
  return FSListFolderNames(folder, names, nullptr, reason);
}

OSErr FSListFolderNames(const std::string& folder, std::vector<std::string>* names, std::vector<bool>* regular,
                        std::string* reason) {
  if (names == nullptr) return paramErr;
  names->clear();
  if (regular != nullptr) regular->clear();
  ++gReads;
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) {
    const int error = errno;
    if (reason) *reason = ErrnoWords(error);
    return OSErrFromErrno(error);
  }
  errno = 0;
  while (dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      names->emplace_back(e->d_name);
      if (regular != nullptr) regular->push_back(e->d_type == DT_REG);
    }
    errno = 0;
  }
  // A listing cut short by an error would pass for a folder without the name looked for.
  const int error = errno;
  closedir(dir);
  if (error != 0) {
    names->clear();
    if (regular != nullptr) regular->clear();
    if (reason) *reason = ErrnoWords(error);
    return OSErrFromErrno(error);
  }
  return noErr;
}

std::vector<std::string> FSNamesIgnoringCase(const std::string& folder, const std::string& wanted) {
  Readings& r = readings();
  const std::string key = folderKey(folder);
  std::shared_ptr<const NameIndex> index;
  {
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.running)
      if (auto it = r.folders.find(key); it != r.folders.end()) index = it->second;
  }
  if (!index) {
    std::vector<std::string> names;
    FSListFolderNames(folder, &names);
    index = std::make_shared<const NameIndex>(indexOf(names));
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.running) r.folders.emplace(key, index);
  }
  auto it = index->find(lowerAscii(wanted));
  return it == index->end() ? std::vector<std::string>() : it->second;
}

void FSRememberFolderNames(const std::string& folder, const std::vector<std::string>& names) {
  Readings& r = readings();
  {
    std::lock_guard<std::mutex> hold(r.lock);
    if (!r.running) return;
  }
  auto index = std::make_shared<const NameIndex>(indexOf(names));
  std::lock_guard<std::mutex> hold(r.lock);
  r.folders[folderKey(folder)] = std::move(index);
}

FSListingRun::FSListingRun() {
  Readings& r = readings();
  std::lock_guard<std::mutex> hold(r.lock);
  r.running = true;
  r.folders.clear();
}

FSListingRun::~FSListingRun() {
  Readings& r = readings();
  std::lock_guard<std::mutex> hold(r.lock);
  r.running = false;
  r.folders.clear();
}

UInt64 FSFolderReadCount() { return gReads.load(); }
