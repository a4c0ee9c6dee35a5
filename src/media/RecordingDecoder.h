// SPDX-License-Identifier: GPL-2.0-or-later
// A stored recording that is not a WAVE (AAC in MP4 or ADTS, AMR, MP3...) decoded through libav
// into 16-bit linear PCM of its own rate and channels.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/Recording.h"
#include "media/Status.h"

namespace media {

// The most decoded sound taken from one recording: hours of a voice note, far from memory's end.
constexpr std::uint64_t kMaxDecodedRecordingBytes = 512u << 20;

// The whole recording decoded; nullptr with the status and why in words when libav cannot be
// loaded, finds no sound in the bytes, or the sound would pass the bound above.
std::unique_ptr<PcmSource> DecodeRecording(std::vector<std::uint8_t> bytes, Status* status, std::string* why);

}  // namespace media
