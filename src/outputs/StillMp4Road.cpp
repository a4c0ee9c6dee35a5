// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 road's writer: the recording as its source hands it (WAVE bytes, or PCM it decoded
// itself) and the photograph kind's still, into QuickTimeU's MP4 writer.
#include "outputs/StillMp4Road.h"

#include "sources/SoundSources.h"
#include "toolbox/Core/MacErrors.h"

namespace outputs {

int WriteStillMp4(const OutputJob& job, bool motionPhoto) {
  sources::Recording* recording = job.recording;
  if (recording == nullptr || job.still == nullptr) return paramErr;
  if (recording->pcm)
    return QuickTimeU::CreateStillMp4(*job.movie, *job.still, *recording->pcm, job.resize, *job.facts, *job.publication,
                                      motionPhoto, job.problem);
  if (recording->wave)
    return QuickTimeU::CreateStillMp4FromWave(*job.movie, *job.still, *recording->wave, job.resize, *job.facts,
                                              *job.publication, motionPhoto, job.problem);
  return paramErr;
}

}  // namespace outputs
