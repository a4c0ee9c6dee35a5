// SPDX-License-Identifier: GPL-2.0-or-later
// Choosing and publishing a subcommand's output file through the file toolbox's stamps and its
// publication rules, the ones movies are saved by.
#include "cli/OutputTarget.h"

#include "cli/CliFiles.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Descriptors.h"
#include "toolbox/Files/SafeSave.h"

namespace cli {

bool chooseOutputTarget(const std::string& path, bool overwrite, OutputTarget* target, std::string* reason) {
  *target = OutputTarget{};
  std::string why;
  if (!fileToWrite(path, &target->spec, &why)) {
    *reason = "cannot be written (" + why + ")";
    return false;
  }
  // Stamped before the look that decides: whatever changes after it is not replaced.
  if (FSpGetItemStamp(&target->spec, &target->stamp) != noErr) {
    *reason = "cannot be written (it cannot be looked at)";
    return false;
  }
  if (!target->stamp.present) return true;
  const std::string kind = FSItemKindWords(target->stamp);
  if (kind == "a directory") {
    *reason = "is a directory";
    return false;
  }
  if (!overwrite) {
    *reason = "already exists (-y replaces it)";
    return false;
  }
  // -y is for the user's own files: never a FIFO a reader waits on, a device, or a link's place.
  if (!kind.empty()) {
    *reason = "is " + kind + "; only a regular file is replaced";
    return false;
  }
  if (!target->stamp.ownedByUser) {
    *reason = "belongs to another user; only a file of yours is replaced";
    return false;
  }
  target->rule = FSPublishRule::replaceChecked;
  return true;
}

bool saveOutput(const OutputTarget& target, const std::function<bool(const OutputAppend& append)>& produce,
                std::string* reason) {
  OSErr writeErr = noErr;
  const OSErr err = FSpSaveFileByRule(&target.spec, target.rule, &target.stamp, [&](int fd) {
    const bool made = produce([&](const char* bytes, std::size_t count) {
      writeErr = FSWriteAll(fd, bytes, count);
      return writeErr == noErr;
    });
    // Given up without a failed write: the producer says why; the working file goes either way.
    return writeErr != noErr ? writeErr : made ? noErr : ioErr;
  });
  if (err == dupFNErr)
    *reason = target.rule == FSPublishRule::noReplace ? "already exists (-y replaces it)"
                                                      : "changed while it was written; left as it is";
  else if (err != noErr)
    *reason = "cannot be written (" + saveFailure(err) + ")";
  return err == noErr;
}

}  // namespace cli
