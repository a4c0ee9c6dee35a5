// SPDX-License-Identifier: GPL-2.0-or-later
// The program this process runs is read from /proc/self/exe, so the companion is found however
// the program was started (a relative path, a link, $PATH).
#include "toolbox/Processes/ProgramImage.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"

OSErr ExecProgramBesideThisOne(const std::vector<std::string>& places, char* const argv[], std::string* reason) {
  int error = ENOENT;
  const std::string self = FSResolvedPath("/proc/self/exe");
  if (!self.empty()) {
    const std::string folder = NSStringByDeletingLastPathComponent(self);
    for (const std::string& place : places) {
      const std::string program = !place.empty() && place[0] == '/' ? place : folder + "/" + place;
      execv(program.c_str(), argv);
      // A program that is there but will not run says more than one that is missing elsewhere.
      if (errno != ENOENT) error = errno;
    }
  }
  if (reason != nullptr) *reason = std::strerror(error);
  return OSErrFromErrno(error);
}
