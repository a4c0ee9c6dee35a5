// SPDX-License-Identifier: GPL-2.0-or-later
// Internet Config preferences read as the running application, and the user's mail program.
// The caller's signature is our own process's creator.
#include <cstring>

#include "platform/UtilsCIP.h"
#include "toolbox/Core/MacErrors.h"

bool UtilsCIP::GetICPref(ConstStr255Param key, ICAppSpec* app) {
  if (key == nullptr || app == nullptr) return false;
  ProcessSerialNumber self;
  ProcessInfoRec info{};
  info.processInfoLength = sizeof info;
  OSType signature = FOUR_CHAR_CODE("????");
  if (GetCurrentProcess(&self) == noErr && GetProcessInformation(&self, &info) == noErr)
    signature = info.processSignature;
  ICInstance inst = nullptr;
  if (ICStart(&inst, signature) != noErr) return false;
  ICAttr attr = 0;
  long size = long(sizeof *app);
  OSStatus st = ICGetPref(inst, key, &attr, app, &size);
  ICStop(inst);
  return st == noErr;
}

OSType UtilsCIP::GetSignatureForUsersDefaultEmail() {
  static const unsigned char kKey[] = "\x0DHelper\xA5mailto";
  ICAppSpec app{};
  if (!GetICPref(kKey, &app) || app.fCreator == FOUR_CHAR_CODE("????")) return FOUR_CHAR_CODE("emal");
  return app.fCreator;
}
