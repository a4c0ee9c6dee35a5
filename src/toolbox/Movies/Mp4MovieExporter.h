// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 exporter component, private to the movie toolbox: a thread that loads the encoders'
// libraries and encodes a movie's sound ahead, while the movie's picture is still being made.
#pragma once
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "media/Mp4Writer.h"
#include "toolbox/Movies/Components.h"

class Mp4MovieExporter final : public ComponentInstanceRecord {
 public:
  Mp4MovieExporter();
  ~Mp4MovieExporter() override;

  // Hands over the sound of the movie named by token (its samples as the MP4 writer takes them);
  // the thread encodes it once the libraries are loaded.
  void startSound(const void* token, const media::PcmLayout& layout, std::uint64_t frames,
                  std::vector<std::uint8_t> samples);
  // A writer with that movie's whole sound encoded, waiting for it when under way; nullptr when
  // none was started for this movie and sound, or its encoding failed (the export then does it).
  std::unique_ptr<media::Mp4Writer> takeWriter(const void* token, const media::PcmLayout& layout,
                                               std::uint64_t frames);

 private:
  struct Job {
    const void* token;
    media::PcmLayout layout;
    std::uint64_t frames;
    std::vector<std::uint8_t> samples;
  };
  void run();

  std::mutex lock_;
  std::condition_variable changed_;
  std::optional<Job> job_;     // handed over, not yet taken by the thread
  bool working_ = false;       // the thread is encoding
  bool closing_ = false;
  std::unique_ptr<media::Mp4Writer> writer_;  // the encoded sound, for ready_
  std::optional<Job> ready_;   // which movie and sound writer_ holds (samples let go)
  std::thread thread_;
};
