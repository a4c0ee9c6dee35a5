// SPDX-License-Identifier: GPL-2.0-or-later
// Alias records: writing the little-endian layout, checking it strictly, and finding the file again.
// A volume counts as present when some mount in /proc/self/mountinfo carries its device number.
#include "toolbox/Files/Aliases.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"

namespace {

constexpr char kMagic[4] = {'S', '2', 'a', 'l'};

struct AliasFields {
  UInt64 device = 0;
  UInt64 inode = 0;
  std::string path;
};

std::string encode(const AliasFields& f) {
  UInt8 header[kAliasHeaderSize] = {};
  std::memcpy(header, kMagic, 4);
  WriteLittleEndian16(header + 4, kAliasRecordVersion);
  WriteLittleEndian64(header + 8, f.device);
  WriteLittleEndian64(header + 16, f.inode);
  WriteLittleEndian32(header + 24, UInt32(f.path.size()));
  return std::string(reinterpret_cast<const char*>(header), sizeof header) + f.path;
}

// Only ever reads within the handle's size.
bool decode(AliasHandle alias, AliasFields* f) {
  if (alias == nullptr || *alias == nullptr) return false;
  Handle h = reinterpret_cast<Handle>(alias);
  Size size = GetHandleSize(h);
  if (size < kAliasHeaderSize) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(*h);
  if (std::memcmp(p, kMagic, 4) != 0 || ReadLittleEndian16(p + 4) != kAliasRecordVersion) return false;
  UInt64 n = ReadLittleEndian32(p + 24);
  if (n == 0 || n > kAliasMaxPath || Size(n) != size - kAliasHeaderSize) return false;
  f->device = ReadLittleEndian64(p + 8);
  f->inode = ReadLittleEndian64(p + 16);
  f->path.assign(reinterpret_cast<const char*>(p + kAliasHeaderSize), size_t(n));
  return f->path[0] == '/' && f->path.find('\0') == std::string::npos;
}

OSErr store(const AliasFields& f, AliasHandle* inAlias) {
  std::string bytes = encode(f);
  Handle h = nullptr;
  OSErr err = PtrToHand(bytes.data(), &h, long(bytes.size()));
  if (err != noErr) return err;
  *inAlias = reinterpret_cast<AliasHandle>(h);
  return noErr;
}

bool rewrite(AliasHandle alias, const AliasFields& f) {
  std::string bytes = encode(f);
  Handle h = reinterpret_cast<Handle>(alias);
  SetHandleSize(h, Size(bytes.size()));
  if (MemError() != noErr) return false;
  std::memcpy(*h, bytes.data(), bytes.size());
  return true;
}

bool volumeMounted(UInt64 device) {
  std::ifstream in("/proc/self/mountinfo");
  if (!in) return true;  // cannot tell: let the file lookup decide
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, majmin;
    if (!(fields >> id >> parent >> majmin)) continue;
    unsigned maj = 0, min = 0;
    if (std::sscanf(majmin.c_str(), "%u:%u", &maj, &min) == 2 && makedev(maj, min) == device) return true;
  }
  return false;
}

bool sameFile(const std::string& path, const AliasFields& f) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && UInt64(st.st_dev) == f.device && UInt64(st.st_ino) == f.inode;
}

// The entry of folder whose device and inode are the alias's, or "".
std::string findByInode(const std::string& folder, const AliasFields& f) {
  DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
  if (dir == nullptr) return {};
  std::string found;
  while (dirent* e = readdir(dir)) {
    if (UInt64(e->d_ino) != f.inode || std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    std::string candidate = folder + "/" + e->d_name;
    if (sameFile(candidate, f)) {
      found = candidate;
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

OSErr FSNewAlias(const FSRef*, const FSRef* target, AliasHandle* inAlias) {
  if (target == nullptr || inAlias == nullptr || target->path.empty() || target->path[0] != '/' ||
      target->path.size() > kAliasMaxPath)
    return paramErr;
  *inAlias = nullptr;
  return store(AliasFields{target->device, target->inode, target->path}, inAlias);
}

OSErr FSNewAliasMinimal(const FSRef* target, AliasHandle* inAlias) { return FSNewAlias(nullptr, target, inAlias); }

OSErr NewAliasFromPath(const char* path, AliasHandle* inAlias) {
  FSRef ref;
  OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8*>(path), &ref, nullptr);
  if (err != noErr) return err;
  return FSNewAlias(nullptr, &ref, inAlias);
}

Size GetAliasSize(AliasHandle alias) { return alias ? GetHandleSize(reinterpret_cast<Handle>(alias)) : 0; }

void DisposeAlias(AliasHandle alias) {
  if (alias) DisposeHandle(reinterpret_cast<Handle>(alias));
}

OSErr FSResolveAliasWithMountFlags(const FSRef*, AliasHandle alias, FSRef* target, Boolean* wasChanged,
                                   unsigned long) {
  if (wasChanged) *wasChanged = false;
  AliasFields f;
  if (target == nullptr || !decode(alias, &f)) return paramErr;
  std::string found;
  bool moved = false;
  if (sameFile(f.path, f)) {
    found = f.path;
  } else if (!volumeMounted(f.device)) {
    return nsvErr;
  } else {
    std::string folder = NSStringByDeletingLastPathComponent(f.path);
    found = findByInode(folder, f);
    if (found.empty()) return fnfErr;
    moved = true;
  }
  FSRef ref;
  OSErr err = FSPathMakeRef(reinterpret_cast<const UInt8*>(found.c_str()), &ref, nullptr);
  if (err != noErr) return err;
  *target = ref;
  if (moved) {
    f.path = found;
    if (rewrite(alias, f) && wasChanged) *wasChanged = true;
  }
  return noErr;
}

OSErr FSResolveAlias(const FSRef* fromFile, AliasHandle alias, FSRef* target, Boolean* wasChanged) {
  return FSResolveAliasWithMountFlags(fromFile, alias, target, wasChanged, kResolveAliasFileNoUI);
}
