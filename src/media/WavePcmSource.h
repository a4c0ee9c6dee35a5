// SPDX-License-Identifier: GPL-2.0-or-later
// A RIFF WAVE recording as decoded PCM: its format judged by the WAVE format table and its data
// decoded by that format's codec a unit at a time, as it is pulled.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "media/Recording.h"
#include "media/WaveFile.h"
#include "media/WaveFormats.h"

namespace media {

// Why a WAVE gives no sound to pull, for callers that tell the kinds apart.
enum class WaveRefusal {
  none,
  noSound,      // not a RIFF WAVE, no format or data chunk, or not one whole frame of data
  unsupported,  // a format no output here carries; problem() names it
  damaged,      // a format chunk that contradicts itself
  tooLong,      // more than kWaveMaxFrames sample frames
};

// The most sample frames a recording may have: what a QuickTime movie's sound track counts, so
// that every output takes the same recordings.
constexpr std::uint64_t kWaveMaxFrames = 2147483647;

class WavePcmSource final : public PcmSource {
 public:
  // Reads the header at once; bytes stays the caller's and must outlive the source.
  explicit WavePcmSource(ByteReader& bytes);

  const PcmLayout& layout() const override { return layout_; }
  std::uint64_t frames() const override { return frames_; }
  std::size_t read(std::uint8_t* out, std::size_t frames) override;
  Status status() const override { return status_; }
  const std::string& problem() const override { return problem_; }

  WaveRefusal refusal() const { return refusal_; }
  // The format in words ("IMA ADPCM", "GSM 6.10"), or "" when the header gives none.
  const std::string& formatWords() const { return words_; }

 private:
  void refuse(WaveRefusal why, std::string words);
  bool decodeUnit();  // the next unit into decoded_; false at the data's end or on failure

  ByteReader& bytes_;
  wave::Layout wave_;
  const wave::Codec* codec_ = nullptr;
  PcmLayout layout_;
  std::uint64_t frames_ = 0;
  std::size_t frameBytes_ = 0;
  Status status_ = Status::ok;
  WaveRefusal refusal_ = WaveRefusal::none;
  std::string problem_, words_;

  std::uint64_t pos_ = 0, remaining_ = 0;  // in the data chunk
  std::uint64_t given_ = 0;                // frames handed out
  std::vector<std::uint8_t> input_, decoded_;
  std::size_t decodedFrames_ = 0, decodedAt_ = 0;
};

}  // namespace media
