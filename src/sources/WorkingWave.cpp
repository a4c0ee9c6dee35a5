// SPDX-License-Identifier: GPL-2.0-or-later
// The sources' WAVE working file: named by the tick count, the next name tried while one is taken
// (conversions running at the same moment), and registered for removal before any interrupt.
#include "sources/WorkingWave.h"

#include <cerrno>
#include <cstring>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/TemporaryItems.h"

namespace sources {
namespace {
constexpr UInt32 kWaveNameTries = 256;
}  // namespace

OSErr NewWorkingWave(std::string* folder, std::string* path, std::FILE** file, std::string* problem) {
  std::string reason;
  OSErr err = FSFindTemporaryItemsFolder(folder, &reason);
  if (err != noErr) {
    *problem = "no place for the recording: " + reason;
    return err;
  }
  err = dupFNErr;
  const UInt32 tick = TickCount();
  {
    // No interrupt falls between making the file and registering it for removal.
    FSInterruptsHeld held;
    for (UInt32 attempt = 0; attempt < kWaveNameTries && err == dupFNErr; ++attempt) {
      char name[32];
      std::snprintf(name, sizeof name, "%d.wav", SInt32(tick + attempt));
      *path = *folder + "/" + name;
      err = FSOpenNewFile(path->c_str(), 0600, file);
    }
    if (err == noErr) FSRemoveOnInterrupt(*path);
  }
  if (err != noErr) {
    const std::string why = err == dupFNErr ? "every name tried is taken" : std::strerror(errno);
    *problem = "no new file for the recording could be made in " + *folder + " (" + why + ")";
  }
  return err;
}

}  // namespace sources
