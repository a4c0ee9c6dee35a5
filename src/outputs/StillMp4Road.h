// SPDX-License-Identifier: GPL-2.0-or-later
// What the outputs written straight from the still and the recording share: the MP4 and the
// motion photo take the source's WAVE bytes or decoded PCM, never a movie taken apart.
#pragma once
#include "outputs/Outputs.h"

namespace outputs {

int WriteStillMp4(const OutputJob& job, bool motionPhoto);

}  // namespace outputs
