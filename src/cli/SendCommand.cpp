// SPDX-License-Identifier: GPL-2.0-or-later
// "send PHOTO...": what the camera import module does, one 'Itnt'/'St2M' event per photograph
// with an alias to it, to the application's bus name (the bus starts the application if needed).
// With --or-convert, a photograph that no application can be reached for is converted here.
#include <cstdio>
#include <string>
#include <vector>

#include "ApplicationKeys.h"
#include "Convert2Mov.h"
#include "cli/Commands.h"
#include "cli/DisplayText.h"
#include "cli/OptionParser.h"
#include "toolbox/AppleEvents/AppleEvents.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
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

struct SendOptions {
  bool noReply = false;
  bool orConvert = false;
  bool verbose = false;
};

cli::CommandSyntax sendSyntax(SendOptions* o) {
  cli::CommandSyntax s = subcommandSyntax("send");
  s.summary =
      "Hand each photograph to the background application, as a camera's import does:\n"
      "one request per photograph over the session bus, which starts the application\n"
      "when needed. The application converts it and answers with what came of it.\n";
  s.options = {
      {0, "no-reply", cli::OptionValue::none, nullptr, "do not wait for the application's answer",
       cli::setFlag(&o->noReply)},
      {0, "or-convert", cli::OptionValue::none, nullptr, "convert here what no application can be reached for",
       cli::setFlag(&o->orConvert)},
      {'v', "verbose", cli::OptionValue::none, nullptr, "add the failure codes to the failures",
       cli::setFlag(&o->verbose)},
  };
  s.notes =
      "Exit status: 0 when every photograph was handed over (and, with an answer,\n"
      "converted), 1 otherwise, 2 for bad usage.\n";
  s.operandCount.fewest = 1;
  return s;
}

void sayFailure(const std::string& photo, const std::string& words, SInt32 code, bool verbose) {
  std::string line = "still2mov: " + cli::displayText(photo) + ": " + cli::displayText(words);
  if (verbose) {
    const int error = code == OSErr(code) ? SystemErrorBehind(OSErr(code)) : 0;
    line += " (" + Convert2Mov::failureName(code, error) + ")";
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

// Prints what the reply reports for the photograph; true when it reports a failure.
bool reportsFailure(const std::string& photo, const AppleEvent* reply, bool verbose) {
  SInt32 number = 0;
  const bool hasNumber =
      AEGetParamPtr(reply, keyErrorNumber, typeSInt32, nullptr, &number, sizeof number, nullptr) == noErr;
  const std::string text = textParam(reply, keyErrorString);
  if (hasNumber || !text.empty()) {
    // The application could not reach the photograph it was sent.
    sayFailure(photo, text.empty() || text == kReplyErrorString ? "the application could not find it" : text, number,
               verbose);
    return true;
  }
  AERecord result;
  if (AEGetParamDesc(reply, keyConversionResult, typeAERecord, &result) != noErr) return false;
  SInt32 status = 0;
  AEGetParamPtr(&result, keyConversionStatus, typeSInt32, nullptr, &status, sizeof status, nullptr);
  std::string message = textParam(&result, keyConversionMessage);
  AEDisposeDesc(&result);
  if (message.empty()) message = "the conversion failed";
  sayFailure(photo, message, status, verbose);
  return true;
}

// Nothing was delivered: no session bus, or no application on it that could take the event.
bool unreachable(OSErr err) { return err == connectionInvalid || err == procNotFound; }

// 0 sent (and, with a reply, served without error), 1 a failure reported for this photograph.
int sendOne(const std::string& photo, const SendOptions& options) {
  // An empty name names no file, as a conversion of it says too.
  if (photo.empty()) {
    sayFailure(photo, "cannot be read (no such file)", fnfErr, options.verbose);
    return 1;
  }
  AliasHandle alias = nullptr;
  OSErr err = NewAliasFromPath(photo.c_str(), &alias);
  if (err != noErr) {
    sayFailure(photo, "cannot be read (" + ResultWords(err) + ")", err, options.verbose);
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

  err = AESend(&event, &reply, (options.noReply ? kAENoReply : kAEWaitReply) | kAENeverInteract);
  AEDisposeDesc(&event);
  int status = 0;
  if (err != noErr && options.orConvert && unreachable(err)) {
    AEDisposeDesc(&reply);
    std::fprintf(stderr, "still2mov: %s: %s; converting it here\n", cli::displayText(photo).c_str(), sendErrorText(err));
    return runConvertCommand(options.verbose ? std::vector<std::string>{"-v", "--", photo}
                                             : std::vector<std::string>{"--", photo});
  }
  if (err != noErr) {
    sayFailure(photo, sendErrorText(err), err, options.verbose);
    status = 1;
  } else if (reportsFailure(photo, &reply, options.verbose)) {
    status = 1;
  }
  AEDisposeDesc(&reply);
  return status;
}

}  // namespace

int runSendCommand(const std::vector<std::string>& args) {
  SendOptions options;
  std::vector<std::string> photos;
  if (std::optional<int> done = cli::parseCommandLine(sendSyntax(&options), args, &photos)) return *done;
  int status = 0;
  for (const std::string& photo : photos)
    if (sendOne(photo, options) != 0) status = 1;
  return status;
}
