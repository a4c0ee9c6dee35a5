// SPDX-License-Identifier: GPL-2.0-or-later
// Finding applications through Launch Services (desktop entries): by creator, volume by volume,
// and telling their signatures and display names. A specification names the entry's .desktop file.
#include <cstring>

#include "platform/UtilsCIP.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Core/TextConversion.h"
#include "toolbox/Files/Volumes.h"
#include "toolbox/LaunchServices/LaunchServices.h"

namespace {

constexpr OSType kAnyCreator = FOUR_CHAR_CODE("????");

bool stripTrailing(std::string* s, const char* tail) {
  size_t n = std::strlen(tail);
  if (s->size() <= n || s->compare(s->size() - n, n, tail) != 0) return false;
  s->resize(s->size() - n);
  return true;
}

}  // namespace

bool UtilsCIP::FindOSXFSRef(OSType creator, FSRef& ref) {
  return LSFindApplicationForInfo(creator, nullptr, nullptr, &ref, nullptr) == noErr;
}

bool UtilsCIP::FindOSXFSSpec(OSType creator, FSSpec* spec) {
  if (spec == nullptr) return false;
  FSRef ref;
  if (!FindOSXFSRef(creator, ref)) return false;
  return FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, spec, nullptr) == noErr;
}

bool UtilsCIP::FindOS9FSSpec(OSType creator, FSSpec* spec) {
  if (spec == nullptr || creator == 0) return false;
  std::vector<LSApplicationEntry> entries = LSCopyApplicationEntries();
  Str255 volumeName;
  short vRefNum = 0;
  for (short index = 1; GetVolumeByNumber(volumeName, index, &vRefNum); ++index) {
    UInt64 device = 0;
    if (!FSDeviceForVolumeRefNum(vRefNum, &device)) continue;
    for (const LSApplicationEntry& e : entries) {
      if (e.creator != creator) continue;
      FSRef ref;
      if (FSPathMakeRef(reinterpret_cast<const UInt8*>(e.path.c_str()), &ref, nullptr) != noErr) continue;
      if (ref.device != device) continue;
      FSSpec found{};
      if (FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &found, nullptr) != noErr) continue;
      if (IsApplication(found, creator)) {
        *spec = found;
        return true;
      }
    }
  }
  return false;
}

bool UtilsCIP::FindAppFspec(OSType creator, FSSpec* spec) {
  if (spec == nullptr) return false;
  std::memset(spec, 0, sizeof *spec);
  SInt32 version = 0;
  Gestalt(gestaltSystemVersion, &version);
  return version >= 0x99A ? FindOSXFSSpec(creator, spec) : FindOS9FSSpec(creator, spec);
}

OSType UtilsCIP::GetSignature(FSSpec& spec) {
  FSRef ref;
  if (FSpMakeFSRef(&spec, &ref) == noErr) {
    LSItemInfoRecord info;
    if (LSCopyItemInfoForRef(&ref, kLSRequestTypeCreator, &info) == noErr && info.creator != 0) return info.creator;
  }
  FInfo finfo{};
  if (FSpGetFInfo(&spec, &finfo) == noErr && finfo.fdCreator != 0) return finfo.fdCreator;
  return kAnyCreator;
}

bool UtilsCIP::GetDisplayName(FSSpec& spec, StringPtr name) {
  if (name == nullptr) return false;
  FSRef ref;
  std::string display;
  LSApplicationEntry entry;
  if (FSpMakeFSRef(&spec, &ref) == noErr && LSCopyDisplayNameForRef(&ref, &display) == noErr) {
    if (!LSCopyApplicationEntry(ref.path, &entry)) stripTrailing(&display, ".app");
  } else {
    display = PascalText(spec.name);
    stripTrailing(&display, ".app");
  }
  CopyTextToPascal(display, name);
  return true;
}

bool UtilsCIP::IsApplication(FSSpec& spec, OSType creator) {
  FSRef ref;
  if (FSpMakeFSRef(&spec, &ref) != noErr) return false;
  LSItemInfoRecord info;
  if (LSCopyItemInfoForRef(&ref, kLSRequestTypeCreator | kLSRequestAppTypeFlags, &info) != noErr) return false;
  return info.filetype == FOUR_CHAR_CODE("APPL") && info.creator == creator;
}
