// SPDX-License-Identifier: GPL-2.0-or-later
// Whole-file reading and saving for the subcommands, on the file toolbox's regular-file reads
// and its one way of saving a file.
#include "cli/CliFiles.h"

#include <vector>

#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Descriptors.h"
#include "toolbox/Files/RegularFiles.h"
#include "toolbox/Files/SafeSave.h"

namespace cli {

bool readWholeFile(const std::string& path, std::string* bytes, std::string* reason) {
  std::vector<UInt8> data;
  if (FSReadRegularFile(path, &data, reason) != noErr) return false;
  bytes->assign(data.begin(), data.end());
  return true;
}

bool sameFile(const std::string& a, const std::string& b) {
  FSRef first, second;
  return FSPathMakeRef(reinterpret_cast<const UInt8*>(a.c_str()), &first, nullptr) == noErr &&
         FSPathMakeRef(reinterpret_cast<const UInt8*>(b.c_str()), &second, nullptr) == noErr &&
         first.device == second.device && first.inode == second.inode;
}

bool fileToWrite(const std::string& path, FSSpec* spec, std::string* reason) {
  const OSErr err = FSpFromUserPath(path, spec);
  if (err == noErr) return true;
  if (err != dirNFErr) {
    *reason = ResultWords(err);
    return false;
  }
  // The folder part is unknown as a folder: missing, or something else that has its name.
  const std::string folder = NSStringByDeletingLastPathComponent(path);
  FSRef ref;
  const OSErr look = FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), &ref, nullptr);
  if (look == noErr) *reason = "its folder cannot be used";
  else if (look == fnfErr || look == dirNFErr) *reason = "its folder does not exist";
  else *reason = ResultWords(look);
  return false;
}

std::string saveFailure(OSErr err) { return ResultWords(err); }

bool replaceFileWith(const std::string& path, const std::string& bytes, std::string* reason) {
  return replaceFileProducing(path, [&](const FileAppend& append) { return append(bytes.data(), bytes.size()); },
                              reason);
}

bool replaceFileProducing(const std::string& path, const std::function<bool(const FileAppend& append)>& produce,
                          std::string* reason) {
  FSSpec target{};
  if (!fileToWrite(path, &target, reason)) return false;
  OSErr writeErr = noErr;
  const OSErr err = FSpSaveFile(&target, true, [&](int fd) {
    const bool made = produce([&](const char* bytes, std::size_t count) {
      writeErr = FSWriteAll(fd, bytes, count);
      return writeErr == noErr;
    });
    // Given up without a failed write: the producer says why; the working file goes either way.
    return writeErr != noErr ? writeErr : made ? noErr : ioErr;
  });
  if (err != noErr) *reason = saveFailure(err);
  return err == noErr;
}

}  // namespace cli
