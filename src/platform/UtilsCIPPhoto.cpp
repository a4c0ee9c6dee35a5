// SPDX-License-Identifier: GPL-2.0-or-later
// Handing a photograph to the photo-library bridge, a plug-in installed in an XDG data folder.
// The first folder that holds the plug-in wins, as with every other XDG data file.
#include "platform/UtilsCIP.h"
#include "toolbox/Bundles/CFBundle.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/LaunchServices/LaunchServices.h"

namespace {
constexpr const char* kBridgeLibrary = "/vantor/photo-support/vantor2ipho.so";
using Submit2 = int (*)(const char* path, long flags);
}  // namespace

OSStatus UtilsCIP::SendToIPhoto(FSSpec* spec, long flags) {
  if (spec == nullptr) return paramErr;
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  for (const std::string& folder : LSCopyDataFolders()) {
    CFBundleRef bridge = CFBundleCreateFromPath(folder + kBridgeLibrary);
    if (bridge == nullptr) continue;
    auto submit = reinterpret_cast<Submit2>(CFBundleGetFunctionPointerForName(bridge, "submit2"));
    if (submit == nullptr) {
      CFBundleRelease(bridge);
      return -1;
    }
    OSStatus result = submit(path.c_str(), flags);
    CFBundleRelease(bridge);
    return result;
  }
  return -1;
}
