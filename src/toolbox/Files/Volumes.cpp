// SPDX-License-Identifier: GPL-2.0-or-later
// Volumes as the mount table lists them; each device's first mount point stands for it.
// Mount points are unescaped (the table writes space, tab, newline and backslash as octal).
#include "toolbox/Files/Volumes.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <set>
#include <sstream>
#include <vector>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/TextConversion.h"

namespace {

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t k = 0; k < s.size(); ++k) {
    if (s[k] == '\\' && k + 3 < s.size() && s[k + 1] >= '0' && s[k + 1] <= '3') {
      out.push_back(char(((s[k + 1] - '0') << 6) | ((s[k + 2] - '0') << 3) | (s[k + 3] - '0')));
      k += 3;
    } else {
      out.push_back(s[k]);
    }
  }
  return out;
}

struct Volume {
  std::string mountPoint;
  UInt64 device;
};

std::vector<Volume> volumes() {
  std::vector<Volume> list;
  std::set<UInt64> seen;
  // Plain reads: a stream would throw on a read error instead of reporting it.
  FILE* table = std::fopen("/proc/self/mounts", "re");
  if (table == nullptr) return list;
  char* raw = nullptr;
  size_t cap = 0;
  while (getline(&raw, &cap, table) > 0) {
    std::istringstream fields{std::string(raw)};
    std::string source, target;
    if (!(fields >> source >> target)) continue;
    target = unescape(target);
    struct stat st {};
    if (stat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    if (!seen.insert(UInt64(st.st_dev)).second) continue;
    list.push_back(Volume{target, UInt64(st.st_dev)});
  }
  std::free(raw);
  std::fclose(table);
  return list;
}

}  // namespace

OSErr FSGetVolumeInfo(SInt16, UInt32 volumeIndex, SInt16* actualVolume, Str255 volumeName, FSRef* rootDirectory) {
  if (volumeIndex == 0) return paramErr;
  std::vector<Volume> list = volumes();
  if (volumeIndex > list.size()) return nsvErr;
  const Volume& v = list[volumeIndex - 1];
  if (volumeName) {
    if (v.mountPoint.size() > 255) return bdNamErr;  // a shortened mount point would name another folder
    CopyTextToPascal(v.mountPoint, volumeName);
  }
  if (actualVolume) *actualVolume = FSVolumeRefNumForDevice(v.device);
  if (rootDirectory) {
    OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8*>(v.mountPoint.c_str()), rootDirectory, nullptr);
    if (err != noErr) return err;
  }
  return noErr;
}

bool FSGetVolumeMountPoint(SInt16 vRefNum, std::string* mountPoint) {
  UInt64 device = 0;
  if (!FSDeviceForVolumeRefNum(vRefNum, &device)) return false;
  for (const Volume& v : volumes()) {
    if (v.device != device) continue;
    if (mountPoint) *mountPoint = v.mountPoint;
    return true;
  }
  return false;
}

OSErr FSCatalogSearchByName(SInt16 vRefNum, const std::string& name, size_t maxMatches, std::vector<FSSpec>* matches) {
  if (matches == nullptr || name.empty()) return paramErr;
  matches->clear();
  std::string root;
  UInt64 device = 0;
  if (!FSGetVolumeMountPoint(vRefNum, &root) || !FSDeviceForVolumeRefNum(vRefNum, &device)) return nsvErr;
  std::vector<std::string> pending{root};
  while (!pending.empty() && matches->size() < maxMatches) {
    std::string folder = pending.back();
    pending.pop_back();
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) continue;  // unreadable folders are not searched
    std::vector<std::string> names;
    while (dirent* d = readdir(dir)) {
      if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) names.emplace_back(d->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    std::vector<std::string> subfolders;
    for (const std::string& n : names) {
      std::string path = folder == "/" ? "/" + n : folder + "/" + n;
      struct stat st {};
      if (lstat(path.c_str(), &st) != 0) continue;
      if (n == name && matches->size() < maxMatches) {
        FSSpec spec{};
        if (FSpFromPath(path, &spec) == noErr) matches->push_back(spec);
      }
      if (S_ISDIR(st.st_mode) && UInt64(st.st_dev) == device) subfolders.push_back(path);
    }
    // Reversed onto the stack so that the first name is searched first.
    for (auto it = subfolders.rbegin(); it != subfolders.rend(); ++it) pending.push_back(*it);
  }
  return noErr;
}
