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

// The most decoded sound held from one recording (it is decoded whole before the movie is
// written): 16-bit PCM of about 12 minutes of stereo at 48 kHz, an hour of mono at 8 kHz. What a
// conversion holds stays within its memory bound; a longer recording is refused in words.
constexpr std::uint64_t kMaxDecodedRecordingBytes = 40u << 20;

// The whole recording decoded; nullptr with the status and why in words when libav cannot be
// loaded, finds no sound in the bytes, or the sound would pass the bound above. The stored bytes
// are read where asked, never held whole.
std::unique_ptr<PcmSource> DecodeRecording(std::unique_ptr<ByteReader> bytes, Status* status, std::string* why);
std::unique_ptr<PcmSource> DecodeRecording(std::vector<std::uint8_t> bytes, Status* status, std::string* why);

}  // namespace media
