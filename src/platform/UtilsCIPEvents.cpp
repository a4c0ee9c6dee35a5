// SPDX-License-Identifier: GPL-2.0-or-later
// Apple events to other applications: open-documents style events and the browser's folder.
// Both are sent without waiting, so a slow receiver never holds the caller up.
#include <cstring>

#include "platform/UtilsCIP.h"
#include "toolbox/AppleEvents/AppleEvents.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Aliases.h"

namespace {

constexpr Size kClassicSpecSize = 70;  // volume (2), folder ID (4), name of up to 63 bytes (64)

// Disposes its descriptors whatever path the function takes.
struct Descs {
  AEDesc target, list, event, reply;
  Descs() {
    AEInitializeDesc(&target);
    AEInitializeDesc(&list);
    AEInitializeDesc(&event);
    AEInitializeDesc(&reply);
  }
  ~Descs() {
    AEDisposeDesc(&target);
    AEDisposeDesc(&list);
    AEDisposeDesc(&event);
    AEDisposeDesc(&reply);
  }
};

OSErr sendWithDirectList(Descs& d, AEEventClass eventClass, AEEventID eventID) {
  OSErr err = AECreateAppleEvent(eventClass, eventID, &d.target, kAutoGenerateReturnID, kAnyTransactionID, &d.event);
  if (err == noErr) err = AEPutParamDesc(&d.event, keyDirectObject, &d.list);
  if (err == noErr) err = AESend(&d.event, &d.reply, kAENoReply | kAENeverInteract, kAENormalPriority, kAEDefaultTimeout);
  return err;
}

}  // namespace

OSErr UtilsCIP::CreateODEvent(FSSpec* files, AEEventClass eventClass, AEEventID eventID, ProcessSerialNumber psn,
                              short count) {
  if (files == nullptr && count > 0) return paramErr;
  Descs d;
  OSErr err = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &d.target);
  if (err == noErr) err = AECreateList(nullptr, 0, false, &d.list);
  for (short k = 0; err == noErr && k < count; ++k) {
    FSRef ref;
    err = FSpMakeFSRef(&files[k], &ref);
    AliasHandle alias = nullptr;
    if (err == noErr) err = FSNewAliasMinimal(&ref, &alias);
    if (err == noErr) {
      err = AEPutPtr(&d.list, 0, typeAlias, *alias, GetAliasSize(alias));
      DisposeAlias(alias);
    }
  }
  if (err != noErr) return err;
  return sendWithDirectList(d, eventClass, eventID);
}

OSErr UtilsCIP::SetDirectory(FSSpec& spec, OSType creator) {
  // The classic record holds 63 bytes of name; a longer one would name some other item.
  if (spec.name[0] > 63) return bdNamErr;
  unsigned char classic[kClassicSpecSize] = {};
  std::memcpy(classic, &spec.vRefNum, sizeof spec.vRefNum);
  std::memcpy(classic + 2, &spec.parID, sizeof spec.parID);
  std::memcpy(classic + 6, spec.name, size_t(spec.name[0]) + 1);
  Descs d;
  OSErr err = AECreateDesc(typeApplSignature, &creator, sizeof creator, &d.target);
  if (err == noErr) err = AECreateList(nullptr, 0, false, &d.list);
  if (err == noErr) err = AEPutPtr(&d.list, 0, typeFSS, classic, kClassicSpecSize);
  if (err != noErr) return err;
  return sendWithDirectList(d, FOUR_CHAR_CODE("Brws"), FOUR_CHAR_CODE("SetD"));
}
