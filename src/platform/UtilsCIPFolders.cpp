// SPDX-License-Identifier: GPL-2.0-or-later
// Volumes, paths, folder listings, catalog searches and file and folder creation.
// Everything goes through the file manager; nothing here touches a path directly.
#include <cstring>
#include <string>
#include <vector>

#include "platform/UtilsCIP.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Core/TextConversion.h"
#include "toolbox/Files/Volumes.h"

namespace {

// A lookup by name in spec's folder; the name buffer is ours, so the caller's stays untouched.
OSErr lookUp(const FSSpec& spec, CInfoPBRec* pb, Str255 nameBuffer) {
  std::memcpy(nameBuffer, spec.name, size_t(spec.name[0]) + 1);
  std::memset(pb, 0, sizeof *pb);
  pb->ioNamePtr = nameBuffer;
  pb->ioVRefNum = spec.vRefNum;
  pb->ioFDirIndex = 0;
  pb->ioDirID = spec.parID;
  return PBGetCatInfoSync(pb);
}

// The folder's index-th item (folder->parID names the folder), with its name as a string too.
OSErr itemAt(const FSSpec& folder, SInt16 index, CInfoPBRec* pb, Str255 name, std::string* text) {
  std::memset(pb, 0, sizeof *pb);
  pb->ioNamePtr = name;
  pb->ioVRefNum = folder.vRefNum;
  pb->ioFDirIndex = index;
  pb->ioDirID = folder.parID;  // the lookup overwrites it for a folder, so it is set every time
  OSErr err = PBGetCatInfoSync(pb);
  if (err == noErr) *text = PascalText(name);
  return err;
}

bool endsWith(ConstStr255Param name, const char* tail) {
  size_t n = std::strlen(tail);
  return name[0] >= n && std::memcmp(name + 1 + name[0] - n, tail, n) == 0;
}

}  // namespace

bool UtilsCIP::GetVolumeByNumber(StringPtr volumeName, short index, short* vRefNum) {
  if (index <= 0) return false;
  SInt16 volume = 0;
  if (FSGetVolumeInfo(0, UInt32(index), &volume, volumeName, nullptr) != noErr) return false;
  if (vRefNum) *vRefNum = volume;
  return true;
}

OSErr UtilsCIP::GetFullPath(StringPtr path, FSSpec* spec) {
  if (path == nullptr || spec == nullptr) return paramErr;
  path[0] = 0;
  std::string full;
  OSErr err = FSpGetPath(spec, &full);
  if (err != noErr) return err;
  if (full.size() > 255) return pathTooLongErr;
  CopyTextToPascal(full, path);
  FSRef ref;
  return FSpMakeFSRef(spec, &ref) == noErr ? noErr : fnfErr;
}

bool UtilsCIP::GetParentSpec(FSSpec& spec, FSSpec& parent) {
  if (spec.parID == fsRtParID) {  // the root folder
    parent = spec;
    return true;
  }
  std::string path;
  if (FSpGetPath(&spec, &path) != noErr) return false;
  const std::string folder = NSStringByDeletingLastPathComponent(path);
  FSRef holder;
  if (FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), &holder, nullptr) != noErr) return false;
  // Only a folder mounted here starts a volume; a link belongs to its folder wherever it leads.
  CInfoPBRec pb;
  Str255 buffer;
  bool isLink = lookUp(spec, &pb, buffer) == noErr && (pb.ioFlFndrInfo.fdFlags & kIsAlias) != 0;
  FSRef item;
  if (!isLink && FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &item, nullptr) == noErr &&
      item.device != holder.device) {
    parent = spec;
    return true;
  }
  return FSpFromPath(folder, &parent) == noErr;
}

bool UtilsCIP::ValidFile(FSSpec& spec) {
  CInfoPBRec pb;
  Str255 name;
  return lookUp(spec, &pb, name) == noErr;
}

OSErr UtilsCIP::GetDirectoryList(FSSpec* folder, FSSpec* items, short capacity, short* count, bool filesWanted) {
  if (folder == nullptr || count == nullptr || (items == nullptr && capacity > 0)) return paramErr;
  *count = 0;
  // An item's index is its place in name order, and places shift when another program adds or
  // removes items ahead of the one reached. The last name listed keeps the walk on track: the
  // next item is the first whose name sorts after it. The place before is checked after the
  // item is read, so that removals made meanwhile are seen.
  std::string last;
  bool started = false;
  SInt16 index = 1;
  while (*count < capacity) {
    CInfoPBRec pb;
    Str255 name;
    std::string here;
    OSErr err = itemAt(*folder, index, &pb, name, &here);
    if (err != noErr && err != fnfErr) return err;
    bool pastEnd = err == fnfErr;
    if (!pastEnd && started && here <= last) {  // pushed here by additions behind us: seen already
      if (index == 0x7FFF) return noErr;
      ++index;
      continue;
    }
    if (started && index > 1) {
      CInfoPBRec before;
      Str255 beforeName;
      std::string previous;
      err = itemAt(*folder, SInt16(index - 1), &before, beforeName, &previous);
      if (err == fnfErr || (err == noErr && previous > last)) {  // removals behind us: step back
        --index;
        continue;
      }
      if (err != noErr) return err;
    }
    if (pastEnd) return noErr;
    last = here;
    started = true;
    bool isFolder = (pb.ioFlAttrib & kioFlAttribDirMask) != 0;
    if (isFolder != filesWanted) {
      FSSpec& out = items[*count];
      out.vRefNum = folder->vRefNum;
      out.parID = folder->parID;
      std::memcpy(out.name, name, size_t(name[0]) + 1);
      ++*count;
    }
    if (index == 0x7FFF) return noErr;  // the index cannot go further
    ++index;
  }
  return noErr;
}

OSErr UtilsCIP::GetSubDirectory(ConstStr255Param name, FSSpec* spec) {
  if (name == nullptr || spec == nullptr) return paramErr;
  FSSpec sub = *spec;
  PStrCpy(sub.name, name);
  CInfoPBRec pb;
  Str255 buffer;
  OSErr err = lookUp(sub, &pb, buffer);
  if (err != noErr) return err;
  if ((pb.ioFlAttrib & kioFlAttribDirMask) == 0) return dirNFErr;
  sub.parID = pb.ioDirID;
  *spec = sub;
  return noErr;
}

bool UtilsCIP::FindFileByName(ConstStr255Param name, FSSpec& spec, short vRefNum, OSType creator) {
  if (name == nullptr || name[0] == 0) return false;
  std::vector<FSSpec> matches;
  const std::string wanted = PascalText(name);
  if (FSCatalogSearchByName(vRefNum, wanted, 20, &matches) != noErr) return false;
  bool appName = endsWith(name, ".app");
  for (FSSpec& m : matches) {
    CInfoPBRec pb;
    Str255 buffer;
    if (lookUp(m, &pb, buffer) != noErr) continue;
    bool isFolder = (pb.ioFlAttrib & kioFlAttribDirMask) != 0;
    bool isAlias = (pb.ioFlFndrInfo.fdFlags & kIsAlias) != 0;
    if (isAlias) continue;
    bool found = isFolder ? (appName || (pb.ioFlFndrInfo.fdFlags & kHasBundle) != 0) : IsApplication(m, creator);
    if (found) {
      spec = m;
      return true;
    }
  }
  return false;
}

OSErr UtilsCIP::CreateOSIndFile(FSSpec& spec, OSType creator, OSType fileType, ConstStr255Param name) {
  SInt32 version = 0;
  Gestalt(gestaltSystemVersion, &version);
  bool modern = version >= 0x99A;
  FSSpec target = spec;
  if (modern && name != nullptr && name[0] != 0) PStrCpy(target.name, name);
  if (target.name[0] == 0) return bdNamErr;

  // Only the file about to be replaced goes, whether or not it is locked; a folder never does.
  CInfoPBRec pb;
  Str255 buffer;
  OSErr err = lookUp(target, &pb, buffer);
  if (err == noErr) {
    if (pb.ioFlAttrib & kioFlAttribDirMask) return dupFNErr;
    err = FSpDelete(&target);
    if (err != noErr) return err;
  } else if (err != fnfErr) {
    return err;
  }
  err = FSpCreate(&target, creator, fileType, smSystemScript);
  if (err != noErr) return err;
  if (modern) spec = target;
  return noErr;
}

OSErr UtilsCIP::CreateOSIndDirectory(FSSpec& spec, ConstStr255Param name, SInt32* dirID) {
  if (name == nullptr || name[0] == 0) return bdNamErr;
  FSSpec folder = spec;
  PStrCpy(folder.name, name);
  SInt32 created = 0;
  OSErr err = FSpDirCreate(&folder, smSystemScript, &created);
  if (err == dupFNErr) {
    CInfoPBRec pb;
    Str255 buffer;
    if (lookUp(folder, &pb, buffer) != noErr || (pb.ioFlAttrib & kioFlAttribDirMask) == 0) return dupFNErr;
    created = pb.ioDirID;
    err = noErr;
  }
  if (err != noErr) return err;
  if (dirID) *dirID = created;
  return noErr;
}
