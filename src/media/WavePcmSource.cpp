// SPDX-License-Identifier: GPL-2.0-or-later
// Pulling a WAVE's decoded samples: the same units, the same codecs and the same stopping rules
// as the movie's sound track is made by, so every output carries the same samples.
#include "media/WavePcmSource.h"

#include <algorithm>
#include <cstring>

namespace media {

WavePcmSource::WavePcmSource(ByteReader& bytes) : bytes_(bytes) {
  const std::uint64_t size = bytes_.size();
  const wave::Found found = wave::Locate(
      [this, size](std::uint64_t offset, void* out, std::size_t count) -> std::size_t {
        if (offset >= size) return 0;
        const std::size_t n = std::size_t(std::min<std::uint64_t>(count, size - offset));
        return bytes_.read(offset, static_cast<std::uint8_t*>(out), n) ? n : 0;
      },
      size, &wave_);
  if (found == wave::Found::damagedFormat) {
    refuse(WaveRefusal::damaged, "the recording's WAVE header is damaged");
    return;
  }
  if (found != wave::Found::ok) {
    refuse(WaveRefusal::noSound, "the recording gives no sound");
    return;
  }
  const wave::Verdict verdict = wave::Judge(wave_.format);
  words_ = verdict.words;
  if (verdict.fit == wave::Fit::damaged) {
    refuse(WaveRefusal::damaged, "the recording's WAVE header is damaged");
    return;
  }
  if (verdict.fit != wave::Fit::fits) {
    refuse(WaveRefusal::unsupported, "recording format " + verdict.words + " not supported");
    return;
  }
  codec_ = verdict.codec;
  const wave::SampleLayout out = codec_->output(wave_.format);
  layout_ = {int(wave_.format.channels), int(wave_.format.rate), int(out.bits), out.isFloat, out.isSigned};
  frameBytes_ = std::size_t(layout_.channels) * std::size_t(out.bits / 8);
  frames_ = wave::PlayedFrames(*codec_, wave_);
  if (frames_ > kWaveMaxFrames) {
    refuse(WaveRefusal::tooLong,
           "the recording is too long for a QuickTime movie (at most 2,147,483,647 sample frames)");
    return;
  }
  if (frames_ == 0 || frameBytes_ == 0) {
    refuse(WaveRefusal::noSound, "the recording gives no sound");
    return;
  }
  const std::uint32_t unit = codec_->unitBytes(wave_.format);
  input_.resize(unit);
  decoded_.resize(std::size_t(codec_->framesIn(wave_.format, unit)) * frameBytes_);
  pos_ = wave_.dataOffset;
  remaining_ = wave_.dataLength;
}

void WavePcmSource::refuse(WaveRefusal why, std::string words) {
  refusal_ = why;
  status_ = why == WaveRefusal::unsupported ? Status::failed : Status::damaged;
  problem_ = std::move(words);
  frames_ = 0;
}

bool WavePcmSource::decodeUnit() {
  if (remaining_ == 0 || status_ != Status::ok) return false;
  const std::uint32_t want = std::uint32_t(std::min<std::uint64_t>(input_.size(), remaining_));
  if (!bytes_.read(pos_, input_.data(), want)) {
    status_ = Status::damaged;
    problem_ = "the recording could not be read";
    return false;
  }
  decodedFrames_ = codec_->framesIn(wave_.format, want);
  decodedAt_ = 0;
  if (decodedFrames_ == 0) {
    remaining_ = 0;
    return false;
  }
  codec_->decode(wave_.format, input_.data(), want, decoded_.data());
  pos_ += want;
  remaining_ -= want;
  return true;
}

std::size_t WavePcmSource::read(std::uint8_t* out, std::size_t frames) {
  std::size_t done = 0;
  while (done < frames && given_ < frames_) {
    if (decodedAt_ == decodedFrames_ && !decodeUnit()) break;
    const std::size_t n = std::min({frames - done, decodedFrames_ - decodedAt_, std::size_t(frames_ - given_)});
    std::memcpy(out + done * frameBytes_, decoded_.data() + decodedAt_ * frameBytes_, n * frameBytes_);
    decodedAt_ += n;
    done += n;
    given_ += n;
  }
  // Fewer frames than the header promised, with nothing wrong said yet: the data ended early.
  if (done == 0 && given_ < frames_ && status_ == Status::ok && frames > 0) {
    status_ = Status::damaged;
    problem_ = "the recording ends before its header says";
  }
  return done;
}

}  // namespace media
