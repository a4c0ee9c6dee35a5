// "send PHOTO...": what the camera import module does, one 'Itnt'/'St2M' event per photograph
// with an alias to it, to the application's bus name (the bus starts the application if needed).
// With --or-convert, a photograph that no application can be reached for is converted here.
#include <cstdio>
#include <string>
#include <vector>

#include "Controller.h"
#include "cli/Commands.h"
#include "toolbox/AppleEvents/AppleEvents.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Aliases.h"

namespace {

const char* sendErrorText(OSErr err) {
  switch (err) {
    case procNotFound: return "the application is not running and could not be started";
    case connectionInvalid: return "no session bus";
    case errAETimeout: return "the application did not answer in time";
    case errAEEventNotHandled: return "the application does not take this request";
    default: return "the request could not be sent";
  }
}

// The reply's text parameter, or "" when it has none.
std::string textParam(const AERecord* reply, AEKeyword key) {
  std::string text;
  AEDesc desc;
  if (AEGetParamDesc(reply, key, typeUTF8Text, &desc) == noErr) {
    text.resize(size_t(AEGetDescDataSize(&desc)));
    if (!text.empty()) AEGetDescData(&desc, text.data(), Size(text.size()));
    AEDisposeDesc(&desc);
  }
  return text;
}

// Prints what the reply reports for the photograph; true when it reports a failure.
bool reportsFailure(const std::string& photo, const AppleEvent* reply) {
  SInt32 number = 0;
  const bool hasNumber =
      AEGetParamPtr(reply, keyErrorNumber, typeSInt32, nullptr, &number, sizeof number, nullptr) == noErr;
  const std::string text = textParam(reply, keyErrorString);
  if (hasNumber || !text.empty()) {
    std::fprintf(stderr, "still2mov: %s: errn %d, errs \"%s\"\n", photo.c_str(), int(number), text.c_str());
    return true;
  }
  AERecord result;
  if (AEGetParamDesc(reply, keyConversionResult, typeAERecord, &result) != noErr) return false;
  SInt32 status = 0;
  AEGetParamPtr(&result, keyConversionStatus, typeSInt32, nullptr, &status, sizeof status, nullptr);
  std::string message = textParam(&result, keyConversionMessage);
  AEDisposeDesc(&result);
  if (message.empty()) message = "the conversion failed";
  std::fprintf(stderr, "still2mov: %s: %s (error %d)\n", photo.c_str(), message.c_str(), int(status));
  return true;
}

// Nothing was delivered: no session bus, or no application on it that could take the event.
bool unreachable(OSErr err) { return err == connectionInvalid || err == procNotFound; }

// 0 sent (and, with a reply, served without error), 1 a failure reported for this photograph.
int sendOne(const std::string& photo, bool wantReply, bool orConvert) {
  AliasHandle alias = nullptr;
  OSErr err = NewAliasFromPath(photo.c_str(), &alias);
  if (err != noErr) {
    std::fprintf(stderr, "still2mov: %s: %s (error %d)\n", photo.c_str(),
                 err == fnfErr ? "no such file" : "cannot refer to it", int(err));
    return 1;
  }
  AEAddressDesc target;
  const std::string app = kStill2movApplicationID;
  AECreateDesc(typeApplicationBundleID, app.data(), Size(app.size()), &target);
  AppleEvent event, reply;
  AECreateAppleEvent(kPTPEventClass, kPTPConvertEventID, &target, kAutoGenerateReturnID, kAnyTransactionID, &event);
  AEDisposeDesc(&target);
  AEPutParamPtr(&event, keyDirectObject, typeAlias, *reinterpret_cast<Handle>(alias), GetAliasSize(alias));
  DisposeAlias(alias);

  err = AESend(&event, &reply, (wantReply ? kAEWaitReply : kAENoReply) | kAENeverInteract);
  AEDisposeDesc(&event);
  int status = 0;
  if (err != noErr && orConvert && unreachable(err)) {
    AEDisposeDesc(&reply);
    std::fprintf(stderr, "still2mov: %s: %s; converting it here\n", photo.c_str(), sendErrorText(err));
    return runConvertCommand({"--", photo});
  }
  if (err != noErr) {
    std::fprintf(stderr, "still2mov: %s: %s (error %d)\n", photo.c_str(), sendErrorText(err), int(err));
    status = 1;
  } else if (reportsFailure(photo, &reply)) {
    status = 1;
  }
  AEDisposeDesc(&reply);
  return status;
}

}  // namespace

int runSendCommand(const std::vector<std::string>& args) {
  bool wantReply = true, orConvert = false, optionsDone = false;
  std::vector<std::string> photos;
  for (const std::string& a : args) {
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && a == "--no-reply") {
      wantReply = false;
    } else if (!optionsDone && a == "--or-convert") {
      orConvert = true;
    } else if (!optionsDone && !a.empty() && a[0] == '-') {
      std::fprintf(stderr, "still2mov: unknown option %s\n", a.c_str());
      return 2;
    } else {
      photos.push_back(a);
    }
  }
  if (photos.empty()) {
    std::fprintf(stderr, "Usage: still2mov send [--no-reply] [--or-convert] PHOTO...\n");
    return 2;
  }
  int status = 0;
  for (const std::string& photo : photos)
    if (sendOne(photo, wantReply, orConvert) != 0) status = 1;
  return status;
}
