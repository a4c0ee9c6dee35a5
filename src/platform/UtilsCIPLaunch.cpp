// Finding applications and their creators and names through Launch Services (desktop entries).
// A specification names the entry's .desktop file; launching it runs the entry's Exec line.
#include <cstring>

#include "platform/UtilsCIP.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/Volumes.h"
#include "toolbox/LaunchServices/LaunchServices.h"

namespace {

constexpr OSType kAnyCreator = FOUR_CHAR_CODE("????");

void copyName(const std::string& s, StringPtr out) {
  size_t n = s.size();
  if (n > 255) {
    n = 255;
    while (n > 0 && (UInt8(s[n]) & 0xC0) == 0x80) --n;  // keep whole UTF-8 characters
  }
  std::memcpy(out + 1, s.data(), n);
  out[0] = UInt8(n);
}

bool stripTrailing(std::string* s, const char* tail) {
  size_t n = std::strlen(tail);
  if (s->size() <= n || s->compare(s->size() - n, n, tail) != 0) return false;
  s->resize(s->size() - n);
  return true;
}

}  // namespace

OSStatus UtilsCIP::LaunchAppByRef(FSRef ref) { return LSOpenFSRef(&ref, nullptr); }

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
    display.assign(reinterpret_cast<const char*>(spec.name + 1), spec.name[0]);
    stripTrailing(&display, ".app");
  }
  copyName(display, name);
  return true;
}

bool UtilsCIP::IsApplication(FSSpec& spec, OSType creator) {
  FSRef ref;
  if (FSpMakeFSRef(&spec, &ref) != noErr) return false;
  LSItemInfoRecord info;
  if (LSCopyItemInfoForRef(&ref, kLSRequestTypeCreator | kLSRequestAppTypeFlags, &info) != noErr) return false;
  return info.filetype == FOUR_CHAR_CODE("APPL") && info.creator == creator;
}
