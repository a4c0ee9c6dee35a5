// SPDX-License-Identifier: GPL-2.0-or-later
// The file manager over POSIX: paths, folder IDs, creation, deletion and Finder information.
// Folder IDs come from a process-wide registry keyed by device and inode.
#include "toolbox/Files/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <stdio.h>  // renameat2
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Core/TextConversion.h"
#include "toolbox/Files/FolderNames.h"
#include "toolbox/Files/TemporaryItems.h"
#include "media/SafeSave.h"

namespace {

struct FolderEntry {
  std::string path;
  UInt64 device;
  UInt64 inode;
};

struct Registry {
  std::map<UInt64, SInt16> volumeOfDevice;
  std::map<SInt16, UInt64> deviceOfVolume;
  std::map<std::pair<UInt64, UInt64>, SInt32> idOfFolder;
  std::map<SInt32, FolderEntry> folderOfId;
  SInt32 nextId = 16;
};

Registry& registry() {
  static Registry r;
  return r;
}

constexpr const char* kFinderInfoAttribute = "user.com.apple.FinderInfo";

// Working files, by the specification that names them for this process (an unnamed one has a
// name here only). Removing one from the table discards it.
struct WorkingFiles {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<media::WorkingFile>> files;
};

WorkingFiles& workingFiles() {
  static WorkingFiles w;
  return w;
}

std::string workingKey(const FSSpec& spec) {
  return std::to_string(spec.vRefNum) + ":" + std::to_string(spec.parID) + ":" +
         std::string(reinterpret_cast<const char*>(spec.name + 1), spec.name[0]);
}

// The working file that spec names, or none.
std::shared_ptr<media::WorkingFile> workingFile(const FSSpec* spec) {
  if (spec == nullptr) return nullptr;
  WorkingFiles& w = workingFiles();
  std::lock_guard<std::mutex> hold(w.lock);
  auto it = w.files.find(workingKey(*spec));
  return it == w.files.end() ? nullptr : it->second;
}

// Takes the working file out of the table; the caller now owns it.
std::shared_ptr<media::WorkingFile> takeWorkingFile(const FSSpec* spec) {
  WorkingFiles& w = workingFiles();
  std::lock_guard<std::mutex> hold(w.lock);
  auto it = w.files.find(workingKey(*spec));
  if (it == w.files.end()) return nullptr;
  auto file = std::move(it->second);
  w.files.erase(it);
  return file;
}

// A name for an unnamed working file in the table: base, then 8 random letters or digits.
std::string hiddenName(const std::string& baseName) {
  static std::mt19937_64 rng{std::random_device{}()};
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string name = "." + baseName.substr(0, UTF8PrefixLength(baseName, 200)) + ".";
  for (int k = 0; k < 8; ++k) name += kAlphabet[rng() % (sizeof kAlphabet - 1)];
  return name;
}

// Makes a rename or link in the folder durable; a folder that cannot be flushed changes nothing
// about the result, which is already in place.
void flushFolder(const std::string& folder) {
  int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder == "/") return "/" + name;
  return folder + "/" + name;
}

std::string leafOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool validLeafName(const std::string& name) {
  return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

void writeFinderInfo(const std::string& path, OSType type, OSType creator, UInt16 flags) {
  UInt8 info[32] = {};
  WriteBigEndian32(info, type);
  WriteBigEndian32(info + 4, creator);
  WriteBigEndian16(info + 8, flags);
  // Where the file system keeps no user attributes the codes are simply not recorded.
  (void)setxattr(path.c_str(), kFinderInfoAttribute, info, sizeof info, 0);
}

bool readFinderInfo(const std::string& path, FInfo* out) {
  UInt8 info[32] = {};
  ssize_t n = getxattr(path.c_str(), kFinderInfoAttribute, info, sizeof info);
  std::memset(out, 0, sizeof *out);
  if (n < 10) return false;
  out->fdType = ReadBigEndian32(info);
  out->fdCreator = ReadBigEndian32(info + 4);
  out->fdFlags = ReadBigEndian16(info + 8);
  return true;
}

}  // namespace

SInt16 FSVolumeRefNumForDevice(UInt64 device) {
  Registry& r = registry();
  auto it = r.volumeOfDevice.find(device);
  if (it != r.volumeOfDevice.end()) return it->second;
  SInt16 v = SInt16(-1 - SInt16(r.volumeOfDevice.size()));
  r.volumeOfDevice[device] = v;
  r.deviceOfVolume[v] = device;
  return v;
}

bool FSDeviceForVolumeRefNum(SInt16 vRefNum, UInt64* device) {
  Registry& r = registry();
  auto it = r.deviceOfVolume.find(vRefNum);
  if (it == r.deviceOfVolume.end()) return false;
  if (device) *device = it->second;
  return true;
}

SInt32 FSDirIDForFolder(const std::string& absoluteFolderPath) {
  struct stat st {};
  if (stat(absoluteFolderPath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  const std::string resolved = FSResolvedPath(absoluteFolderPath);
  if (resolved.empty()) return 0;
  Registry& r = registry();
  FSVolumeRefNumForDevice(st.st_dev);
  auto key = std::make_pair(UInt64(st.st_dev), UInt64(st.st_ino));
  auto it = r.idOfFolder.find(key);
  if (it != r.idOfFolder.end()) {
    r.folderOfId[it->second].path = resolved;  // follow a folder that moved
    return it->second;
  }
  SInt32 id = resolved == "/" ? fsRtDirID : r.nextId++;
  r.idOfFolder[key] = id;
  r.folderOfId[id] = FolderEntry{resolved, UInt64(st.st_dev), UInt64(st.st_ino)};
  return id;
}

bool FSFolderForDirID(SInt16 vRefNum, SInt32 dirID, std::string* path) {
  Registry& r = registry();
  if (dirID == fsRtDirID && r.folderOfId.find(dirID) == r.folderOfId.end()) FSDirIDForFolder("/");
  auto it = r.folderOfId.find(dirID);
  if (it == r.folderOfId.end()) return false;
  UInt64 device = 0;
  if (vRefNum != 0 && (!FSDeviceForVolumeRefNum(vRefNum, &device) || device != it->second.device)) return false;
  struct stat st {};
  if (stat(it->second.path.c_str(), &st) != 0 || UInt64(st.st_ino) != it->second.inode ||
      UInt64(st.st_dev) != it->second.device)
    return false;
  if (path) *path = it->second.path;
  return true;
}

OSErr FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
  if (path == nullptr || ref == nullptr || path[0] == '\0') return paramErr;
  char resolved[PATH_MAX];
  if (realpath(reinterpret_cast<const char*>(path), resolved) == nullptr) return OSErrFromErrno(errno);
  struct stat st {};
  if (stat(resolved, &st) != 0) return OSErrFromErrno(errno);
  ref->path = resolved;
  ref->device = st.st_dev;
  ref->inode = st.st_ino;
  if (isDirectory) *isDirectory = S_ISDIR(st.st_mode);
  return noErr;
}

OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
  if (ref == nullptr || path == nullptr || ref->path.empty()) return paramErr;
  if (ref->path.size() + 1 > maxPathSize) return pathTooLongErr;
  std::memcpy(path, ref->path.c_str(), ref->path.size() + 1);
  return noErr;
}

OSErr FSFindFolder(SInt16, OSType folderType, Boolean createFolder, FSRef* foundRef) {
  if (foundRef == nullptr) return paramErr;
  std::string folder;
  auto envFolder = [](const char* name) -> std::string {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : std::string();
  };
  if (folderType == kChewableItemsFolderType) {
    // The self-emptying temporary items become the user's private folder in $TMPDIR.
    std::string items;
    OSErr err = FSFindTemporaryItemsFolder(&items, nullptr);
    return err != noErr ? err : FSPathMakeRef(reinterpret_cast<const UInt8*>(items.c_str()), foundRef, nullptr);
  }
  if (folderType == kTemporaryFolderType) {
    folder = envFolder("TMPDIR");
    struct stat st {};
    if (folder.empty() || stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) folder = "/tmp";
  } else if (folderType == kCurrentUserFolderType) {
    folder = envFolder("HOME");
  } else if (folderType == kApplicationSupportFolderType) {
    folder = envFolder("XDG_DATA_HOME");
    if (folder.empty() && !envFolder("HOME").empty()) folder = envFolder("HOME") + "/.local/share";
  } else {
    return fnfErr;
  }
  if (folder.empty()) return fnfErr;
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    if (!createFolder || mkdir(folder.c_str(), 0700) != 0) return fnfErr;
  }
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), foundRef, nullptr);
}

OSErr FSMakeFSSpec(SInt16 vRefNum, SInt32 dirID, ConstStr255Param fileName, FSSpec* spec) {
  if (spec == nullptr) return paramErr;
  std::string folder;
  if (!FSFolderForDirID(vRefNum, dirID, &folder)) {
    UInt64 device;
    return vRefNum != 0 && !FSDeviceForVolumeRefNum(vRefNum, &device) ? nsvErr : dirNFErr;
  }
  std::string name = PascalText(fileName);
  std::memset(spec, 0, sizeof *spec);
  if (name.empty()) {
    // An empty name names the folder itself.
    if (folder == "/") {
      spec->vRefNum = vRefNum ? vRefNum : FSVolumeRefNumForDevice(0);
      spec->parID = fsRtParID;
      return noErr;
    }
    return FSpFromPath(folder, spec);
  }
  if (!validLeafName(name)) return bdNamErr;
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) return dirNFErr;
  spec->vRefNum = FSVolumeRefNumForDevice(st.st_dev);
  spec->parID = dirID;
  CopyTextToPascal(name, spec->name);
  struct stat item {};
  if (lstat(joinPath(folder, name).c_str(), &item) != 0) return OSErrFromErrno(errno);
  return noErr;
}

OSErr FSpGetPath(const FSSpec* spec, std::string* path) {
  if (spec == nullptr || path == nullptr) return paramErr;
  if (auto file = workingFile(spec)) {
    *path = file->path();
    return noErr;
  }
  std::string name = PascalText(spec->name);
  if (spec->parID == fsRtParID) {
    *path = "/";
    return noErr;
  }
  std::string folder;
  if (!FSFolderForDirID(spec->vRefNum, spec->parID, &folder)) return dirNFErr;
  *path = name.empty() ? folder : joinPath(folder, name);
  return noErr;
}

OSErr FSpFromPath(const std::string& path, FSSpec* spec) {
  if (spec == nullptr || path.empty() || path[0] != '/') return paramErr;
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::memset(spec, 0, sizeof *spec);
  if (trimmed == "/") {
    struct stat st {};
    if (stat("/", &st) != 0) return ioErr;
    spec->vRefNum = FSVolumeRefNumForDevice(st.st_dev);
    spec->parID = fsRtParID;
    return noErr;
  }
  std::string leaf = leafOf(trimmed);
  if (leaf.size() > 255) return bdNamErr;
  SInt32 dirID = FSDirIDForFolder(NSStringByDeletingLastPathComponent(trimmed));
  if (dirID == 0) return dirNFErr;
  struct stat st {};
  stat(NSStringByDeletingLastPathComponent(trimmed).c_str(), &st);
  spec->vRefNum = FSVolumeRefNumForDevice(st.st_dev);
  spec->parID = dirID;
  CopyTextToPascal(leaf, spec->name);
  return noErr;
}

OSErr FSpFromUserPath(const std::string& path, FSSpec* spec) {
  if (path.empty()) return paramErr;
  std::error_code ec;
  const std::string absolute = std::filesystem::absolute(path, ec).lexically_normal().string();
  if (ec) return OSErrFromErrno(ec.value());
  return FSpFromPath(absolute, spec);
}

OSErr FSpMakeFSRef(const FSSpec* spec, FSRef* ref) {
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), ref, nullptr);
}

OSErr FSGetCatalogInfo(const FSRef* ref, FSCatalogInfoBitmap, FSCatalogInfo* catalogInfo, void*, FSSpec* fsSpec,
                       FSRef* parentRef) {
  if (ref == nullptr || ref->path.empty()) return paramErr;
  struct stat st {};
  if (stat(ref->path.c_str(), &st) != 0) return OSErrFromErrno(errno);
  if (UInt64(st.st_ino) != ref->inode || UInt64(st.st_dev) != ref->device) return fnfErr;
  if (catalogInfo) {
    catalogInfo->nodeFlags = S_ISDIR(st.st_mode) ? kFSNodeIsDirectoryMask : 0;
    catalogInfo->dataLogicalSize = UInt64(st.st_size);
  }
  if (fsSpec) {
    OSErr err = FSpFromPath(ref->path, fsSpec);
    if (err != noErr) return err;
  }
  if (parentRef) {
    std::string parent = NSStringByDeletingLastPathComponent(ref->path);
    OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8*>(parent.c_str()), parentRef, nullptr);
    if (err != noErr) return err;
  }
  return noErr;
}

OSErr PBGetCatInfoSync(CInfoPBPtr pb) {
  if (pb == nullptr) return paramErr;
  std::string folder;
  if (!FSFolderForDirID(pb->ioVRefNum, pb->ioDirID, &folder)) return pb->ioResult = dirNFErr;
  std::string path;
  struct stat st {};
  bool isLink = false;
  if (pb->ioFDirIndex > 0) {
    std::vector<std::string> names;
    if (OSErr err = FSListFolderNames(folder, &names); err != noErr) return pb->ioResult = err;
    // fnfErr must mean "past the last item", or a listing would end early. An item removed since
    // the folder was read is passed over (the n-th item is now the one after it); a link that
    // leads nowhere is described as itself, a file.
    const size_t wanted = size_t(pb->ioFDirIndex) - 1;
    if (wanted >= names.size()) return pb->ioResult = fnfErr;
    // Selecting the n-th name is linear; a listing asks once per item, so sorting would not be.
    std::nth_element(names.begin(), names.begin() + std::ptrdiff_t(wanted), names.end());
    for (size_t k = wanted;; ++k) {
      if (k >= names.size()) return pb->ioResult = fnfErr;
      if (k == wanted + 1) std::sort(names.begin() + std::ptrdiff_t(k), names.end());  // the rest, once needed
      path = joinPath(folder, names[k]);
      struct stat link {};
      if (lstat(path.c_str(), &link) != 0) {
        if (errno == ENOENT) continue;
        return pb->ioResult = OSErrFromErrno(errno);
      }
      isLink = S_ISLNK(link.st_mode);
      if (stat(path.c_str(), &st) == 0) break;
      if (isLink) {
        st = link;
        break;
      }
      if (errno != ENOENT) return pb->ioResult = OSErrFromErrno(errno);
    }
    if (pb->ioNamePtr) CopyTextToPascal(leafOf(path), pb->ioNamePtr);
  } else {
    if (pb->ioFDirIndex < 0) {
      path = folder;
    } else {
      std::string name = PascalText(pb->ioNamePtr);
      if (name.empty()) {
        path = folder;
      } else {
        if (!validLeafName(name)) return pb->ioResult = bdNamErr;
        path = joinPath(folder, name);
      }
    }
    if (stat(path.c_str(), &st) != 0) return pb->ioResult = OSErrFromErrno(errno);
    struct stat link {};
    isLink = lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  }
  pb->ioFlAttrib = S_ISDIR(st.st_mode) ? kioFlAttribDirMask : 0;
  if (access(path.c_str(), W_OK) != 0 && errno == EACCES) pb->ioFlAttrib |= kioFlAttribLockedMask;
  readFinderInfo(path, &pb->ioFlFndrInfo);
  if (isLink) pb->ioFlFndrInfo.fdFlags |= kIsAlias;
  pb->ioFlParID = path == "/" ? fsRtParID : FSDirIDForFolder(NSStringByDeletingLastPathComponent(path));
  pb->ioFlLgLen = S_ISDIR(st.st_mode) ? 0 : UInt64(st.st_size);
  pb->ioFlMode = UInt32(st.st_mode);
  if (S_ISDIR(st.st_mode)) pb->ioDirID = FSDirIDForFolder(path);
  if (pb->ioFDirIndex < 0 && pb->ioNamePtr) CopyTextToPascal(leafOf(path), pb->ioNamePtr);
  return pb->ioResult = noErr;
}

OSErr FSpCreate(const FSSpec* spec, OSType creator, OSType fileType, ScriptCode) {
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  if (spec->name[0] == 0) return bdNamErr;
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return OSErrFromErrno(errno);
  close(fd);
  writeFinderInfo(path, fileType, creator, 0);
  return noErr;
}

OSErr FSpDirCreate(const FSSpec* spec, ScriptCode, SInt32* createdDirID) {
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  // One name in the specification's folder: never a path out of it, nor one a zero byte cuts short.
  std::string name = PascalText(spec->name);
  if (!validLeafName(name) || name.find('\0') != std::string::npos) return bdNamErr;
  if (mkdir(path.c_str(), 0777) != 0) return OSErrFromErrno(errno);
  if (createdDirID) *createdDirID = FSDirIDForFolder(path);
  return noErr;
}

OSErr FSpDelete(const FSSpec* spec) {
  if (spec != nullptr) {
    if (auto file = takeWorkingFile(spec)) {
      file->discard();
      return noErr;
    }
  }
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return OSErrFromErrno(errno);
  int rc = S_ISDIR(st.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str());
  if (rc == 0) FSKeepOnInterrupt(path);
  return rc == 0 ? noErr : OSErrFromErrno(errno);
}

OSErr FSpGetFInfo(const FSSpec* spec, FInfo* fndrInfo) {
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  if (fndrInfo == nullptr) return paramErr;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return OSErrFromErrno(errno);
  if (S_ISDIR(st.st_mode)) return notAFileErr;
  readFinderInfo(path, fndrInfo);
  return noErr;
}

OSErr FSpSetFInfo(const FSSpec* spec, const FInfo* fndrInfo) {
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  if (fndrInfo == nullptr) return paramErr;
  if (access(path.c_str(), F_OK) != 0) return OSErrFromErrno(errno);
  writeFinderInfo(path, fndrInfo->fdType, fndrInfo->fdCreator, fndrInfo->fdFlags);
  return noErr;
}

OSErr FSpCreateTemporary(const FSSpec* near, const char* baseName, FSSpec* out) {
  if (near == nullptr || out == nullptr || baseName == nullptr) return paramErr;
  std::string folder;
  if (!FSFolderForDirID(near->vRefNum, near->parID, &folder)) return dirNFErr;
  auto file = std::make_shared<media::WorkingFile>();
  if (int e = file->create(folder, baseName); e != 0) return OSErrFromErrno(e);
  WorkingFiles& w = workingFiles();
  std::lock_guard<std::mutex> hold(w.lock);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *out = *near;
    // A named one is known by its own name; an unnamed one gets one for this table only.
    const std::string path = file->path();
    CopyTextToPascal(file->named() ? leafOf(path) : hiddenName(baseName), out->name);
    if (w.files.emplace(workingKey(*out), file).second) return noErr;
  }
  return dupFNErr;
}

OSErr FSpGetItemStamp(const FSSpec* spec, FSItemStamp* stamp) {
  if (spec == nullptr || stamp == nullptr) return paramErr;
  *stamp = FSItemStamp{};
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  const int e = media::identifyName(AT_FDCWD, path.c_str(), stamp);
  return e == 0 ? noErr : OSErrFromErrno(e);
}

namespace {

media::Publish publishFor(FSPublishRule rule) {
  switch (rule) {
    case FSPublishRule::replaceChecked: return media::Publish::replaceChecked;
    case FSPublishRule::replaceAny: return media::Publish::replaceAny;
    case FSPublishRule::noReplace: break;
  }
  return media::Publish::noReplace;
}

}  // namespace

OSErr FSpPublishTemporary(const FSSpec* temporary, const FSSpec* target, Boolean replaceExisting) {
  return FSpPublishTemporaryByRule(temporary, target,
                                   replaceExisting ? FSPublishRule::replaceAny : FSPublishRule::noReplace, nullptr);
}

OSErr FSpPublishTemporaryByRule(const FSSpec* temporary, const FSSpec* target, FSPublishRule rule,
                                const FSItemStamp* checked) {
  if (temporary == nullptr || target == nullptr) return paramErr;
  auto file = workingFile(temporary);

  // One working file taking over another's contents: nothing outside has a name to change.
  if (file && workingFile(target)) {
    if (rule != FSPublishRule::replaceAny) return dupFNErr;
    WorkingFiles& w = workingFiles();
    std::lock_guard<std::mutex> hold(w.lock);
    w.files[workingKey(*target)] = file;
    w.files.erase(workingKey(*temporary));
    return noErr;
  }

  std::string to;
  OSErr err = FSpGetPath(target, &to);
  if (err != noErr) return err;
  if (target->name[0] == 0) return bdNamErr;
  const std::string folder = NSStringByDeletingLastPathComponent(to);
  const bool replaceExisting = rule == FSPublishRule::replaceAny;

  if (file) {
    // Working files are made beside their target; one elsewhere has no one step to it.
    if (folder != file->folder()) return paramErr;
    const int e = file->publish(leafOf(to), publishFor(rule), checked);
    if (e != 0) return e == EEXIST ? dupFNErr : OSErrFromErrno(e);
    takeWorkingFile(temporary);
    return noErr;
  }
  if (rule == FSPublishRule::replaceChecked) return paramErr;

  std::string from;
  err = FSpGetPath(temporary, &from);
  if (err != noErr) return err;
  int named = open(from.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (named < 0) return OSErrFromErrno(errno);
  int syncRc = fsync(named);
  int syncErr = errno;
  close(named);
  if (syncRc != 0) return OSErrFromErrno(syncErr);
  if (replaceExisting) {
    if (rename(from.c_str(), to.c_str()) != 0) return OSErrFromErrno(errno);
  } else if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return OSErrFromErrno(errno);
    // A file system without that kind of rename: a link fails on a taken name just the same.
    if (link(from.c_str(), to.c_str()) != 0) return OSErrFromErrno(errno);
    unlink(from.c_str());
  }
  flushFolder(folder);
  return noErr;
}

OSErr FSpOpenDescriptor(const FSSpec* spec, int openFlags, int* fd) {
  if (spec == nullptr || fd == nullptr) return paramErr;
  *fd = -1;
  if (auto file = workingFile(spec)) {
    // A fresh open of the same file, with the access asked for and an offset of its own.
    int flags = (openFlags & ~(O_CREAT | O_EXCL | O_NOFOLLOW)) | O_CLOEXEC;
    *fd = open(file->path().c_str(), flags);
    return *fd >= 0 ? noErr : OSErrFromErrno(errno);
  }
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  *fd = open(path.c_str(), openFlags | O_NOFOLLOW | O_CLOEXEC, 0666);
  return *fd >= 0 ? noErr : OSErrFromErrno(errno);
}

OSErr FSOpenNewFile(const char* path, unsigned mode, FILE** stream) {
  if (path == nullptr || stream == nullptr) return paramErr;
  *stream = nullptr;
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return OSErrFromErrno(errno);
  *stream = fdopen(fd, "wb");
  if (*stream == nullptr) {
    int e = errno;
    close(fd);
    unlink(path);
    return OSErrFromErrno(e);
  }
  return noErr;
}

bool FSFileExistsAtPath(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

std::string FSResolvedPath(const std::string& path) {
  char buf[PATH_MAX];
  return !path.empty() && realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool FSIsInterpreterScript(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  char head[2] = {};
  ssize_t n = pread(fd, head, 2, 0);
  close(fd);
  return n == 2 && head[0] == '#' && head[1] == '!';
}

std::size_t FSRemoveStaleWorkingFiles(const std::string& folderPath) {
  return media::removeStaleWorkingFiles(folderPath);
}

namespace {

struct InterruptTable {
  std::mutex lock;
  std::map<std::string, int> handles;
};

// Never destroyed: exit handlers (the private folder's release) still use it after statics go.
InterruptTable& interruptTable() {
  static InterruptTable* t = new InterruptTable;
  return *t;
}

}  // namespace

void FSRemoveOnInterrupt(const std::string& path) {
  InterruptTable& t = interruptTable();
  std::lock_guard<std::mutex> hold(t.lock);
  if (t.handles.count(path) == 0) t.handles[path] = media::removeOnSignal(path);
}

void FSKeepOnInterrupt(const std::string& path) {
  InterruptTable& t = interruptTable();
  std::lock_guard<std::mutex> hold(t.lock);
  auto it = t.handles.find(path);
  if (it == t.handles.end()) return;
  media::forgetOnSignal(it->second);
  t.handles.erase(it);
}
