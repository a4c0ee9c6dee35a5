// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 exporter's thread: the encoders' libraries take tens of milliseconds to load and a
// recording's AAC as long again to encode, which it spends while the photograph is read and scaled.
#include "toolbox/Movies/Mp4MovieExporter.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "media/Libav.h"
#include "toolbox/Processes/WorkerProcesses.h"

namespace {
constexpr std::size_t kPieceBytes = 64 * 1024;  // between looks at whether the exporter is closing
}

Mp4MovieExporter::Mp4MovieExporter() {
  // A worker among several has no processor to spare: the export does all of it in line.
  if (IsWorkerProcess()) return;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No thread: the export loads the libraries and encodes the sound itself.
  }
}

// Whatever the thread does ends within the exporter's life: nothing is half-loaded when the
// process forks or ends.
Mp4MovieExporter::~Mp4MovieExporter() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Mp4MovieExporter::startSound(const void* token, const media::PcmLayout& layout, std::uint64_t frames,
                                  std::vector<std::uint8_t> samples) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (!thread_.joinable() || closing_) return;
    job_ = Job{token, layout, frames, std::move(samples)};
    writer_.reset();
    ready_.reset();
  }
  changed_.notify_all();
}

std::unique_ptr<media::Mp4Writer> Mp4MovieExporter::takeWriter(const void* token, const media::PcmLayout& layout,
                                                               std::uint64_t frames) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return !job_ && !working_; });
  const bool same = ready_ && ready_->token == token && ready_->frames == frames &&
                    ready_->layout.channels == layout.channels && ready_->layout.rate == layout.rate &&
                    ready_->layout.bits == layout.bits && ready_->layout.isFloat == layout.isFloat &&
                    ready_->layout.isSigned == layout.isSigned;
  ready_.reset();
  std::unique_ptr<media::Mp4Writer> writer = std::move(writer_);
  return same ? std::move(writer) : nullptr;
}

void Mp4MovieExporter::run() {
  std::string why;  // a failure is told when the export asks for the libraries itself
  media::LoadLibav(&why);
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return closing_ || job_; });
    if (closing_) {
      job_.reset();
      return;
    }
    Job job = std::move(*job_);
    job_.reset();
    working_ = true;
    hold.unlock();

    auto writer = std::make_unique<media::Mp4Writer>();
    const std::size_t frameBytes = std::size_t(job.layout.channels) * std::size_t(job.layout.bits / 8);
    bool ok = frameBytes > 0 && job.samples.size() == job.frames * frameBytes &&
              writer->beginSound(job.layout, job.frames) == media::Mp4Result::ok;
    const std::size_t framesPerPiece = std::max<std::size_t>(1, kPieceBytes / std::max<std::size_t>(frameBytes, 1));
    for (std::uint64_t done = 0; ok && done < job.frames;) {
      {
        std::lock_guard<std::mutex> look(lock_);
        if (closing_) ok = false;
      }
      const std::size_t n = std::size_t(std::min<std::uint64_t>(framesPerPiece, job.frames - done));
      if (ok) ok = writer->addSound(job.samples.data() + done * frameBytes, n) == media::Mp4Result::ok;
      done += n;
    }
    job.samples = {};

    hold.lock();
    working_ = false;
    if (ok) {
      writer_ = std::move(writer);
      ready_ = std::move(job);
    }
    changed_.notify_all();
  }
}

ComponentInstance NewMp4MovieExporter() { return new Mp4MovieExporter; }
