// SPDX-License-Identifier: GPL-2.0-or-later
// The media layer's outcomes in the toolbox's result codes.
#pragma once
#include "media/Status.h"
#include "toolbox/Core/MacErrors.h"

inline OSErr OSErrOf(media::Status s) {
  switch (s) {
    case media::Status::ok: return noErr;
    case media::Status::badArgument: return paramErr;
    case media::Status::damaged: return codecBadDataErr;
    case media::Status::noMemory: return memFullErr;
    case media::Status::failed: break;
  }
  return codecErr;
}
