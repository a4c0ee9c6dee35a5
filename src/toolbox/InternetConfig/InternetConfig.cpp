// SPDX-License-Identifier: GPL-2.0-or-later
// Helper preferences answered from GIO's default handler for a URI scheme.
// The creator comes from the handler's desktop entry, as Launch Services reads it.
#include "toolbox/InternetConfig/InternetConfig.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <cstring>
#include <string>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/TextConversion.h"
#include "toolbox/LaunchServices/LaunchServices.h"

struct ICInstanceRecord {
  OSType signature;
};

OSStatus ICStart(ICInstance* inst, OSType signature) {
  if (inst == nullptr) return paramErr;
  *inst = new ICInstanceRecord{signature};
  return noErr;
}

OSStatus ICStop(ICInstance inst) {
  if (inst == nullptr) return paramErr;
  delete inst;
  return noErr;
}

OSStatus ICGetPref(ICInstance inst, ConstStr255Param key, ICAttr* attr, void* buf, long* ioSize) {
  if (inst == nullptr || key == nullptr || ioSize == nullptr) return paramErr;
  static const char kHelper[] = "Helper\xA5";
  std::string k = PascalText(key);
  if (k.size() <= 7 || k.compare(0, 7, kHelper) != 0) return icPrefNotFoundErr;
  std::string scheme = k.substr(7);
  GAppInfo* app = g_app_info_get_default_for_uri_scheme(scheme.c_str());
  if (app == nullptr) return icPrefNotFoundErr;
  ICAppSpec spec{};
  spec.fCreator = FOUR_CHAR_CODE("????");
  if (G_IS_DESKTOP_APP_INFO(app)) {
    LSApplicationEntry entry;
    const char* file = g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(app));
    if (file && LSCopyApplicationEntry(file, &entry) && entry.creator) spec.fCreator = entry.creator;
  }
  const char* name = g_app_info_get_name(app);
  CopyTextToPascal(name ? name : "", spec.name, sizeof spec.name - 1);
  g_object_unref(app);
  if (attr) *attr = 0;
  long available = *ioSize;
  *ioSize = long(sizeof spec);
  if (buf == nullptr) return noErr;
  if (available < long(sizeof spec)) {
    if (available > 0) std::memcpy(buf, &spec, size_t(available));
    return icTruncatedErr;
  }
  std::memcpy(buf, &spec, sizeof spec);
  return noErr;
}
