// SPDX-License-Identifier: GPL-2.0-or-later
// Writing the MP4 straight from the still and the PCM: the JPEG decoded once at the smallest scale
// that still covers the frame, its rows scaled by libswscale into the encoder's frame and turned
// upright there; the sound pulled from its source, on a second thread when asked.
#include "media/StillMp4.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "media/ByteReaders.h"
#include "media/JpegCodec.h"
#include "media/JpegStructure.h"
#include "media/Libav.h"
#include "media/MotionPhoto.h"

namespace media {

namespace {

constexpr std::size_t kSoundPieceBytes = 64 * 1024;
// A sound encoded ahead is kept as AAC until the picture is there: about 1.5 MB for 2 minutes.
// A longer one is encoded after the picture, a piece at a time, so memory stays bounded.
constexpr std::uint64_t kSoundAheadSeconds = 120;
constexpr std::size_t kCopyBytes = 256 * 1024;

// The decoder's rows go to the writer as they come; the writer starts once the decoded size is
// known. While the libraries are still loading on the sound's thread, the first rows are held
// (up to kHoldBytes) rather than waiting: decoding and loading then overlap.
class FrameRows final : public PixelRowSink {
 public:
  FrameRows(Mp4Writer& writer, const Mp4Picture& picture, const PcmLayout& sound, std::uint64_t frames,
            const std::atomic<bool>* librariesReady)
      : writer_(writer), picture_(picture), sound_(sound), frames_(frames), ready_(librariesReady) {}
  Status begin(int width, int height, int channels) override {
    picture_.sourceWidth = width;
    picture_.sourceHeight = height;
    picture_.channels = channels;
    rowBytes_ = std::size_t(width) * std::size_t(channels);
    row_.resize(rowBytes_);
    begun_ = true;
    if (ready_ != nullptr && !ready_->load() && rowBytes_ > 0) {
      holdRows_ = std::min<std::size_t>(std::size_t(height), std::max<std::size_t>(1, kHoldBytes / rowBytes_));
      held_.resize(holdRows_ * rowBytes_);
      return Status::ok;
    }
    return start() == Mp4Result::ok ? Status::ok : Status::badArgument;
  }
  std::uint8_t* rowBuffer(int) override {
    return holding() ? held_.data() + heldRows_ * rowBytes_ : row_.data();
  }
  void rowFilled(int) override {
    if (holding()) {
      ++heldRows_;
      if (heldRows_ == holdRows_ || ready_->load()) start();
      return;
    }
    if (result_ == Mp4Result::ok) result_ = writer_.addPictureRows(row_.data(), row_.size(), 1);
  }
  // Starts the writer, if the decoder ended while rows were still held.
  void flush() {
    if (holding()) start();
  }
  Mp4Result result() const { return result_; }
  bool begun() const { return begun_; }

 private:
  bool holding() const { return holdRows_ > 0 && !started_; }
  Mp4Result start() {
    started_ = true;
    result_ = writer_.beginPicture(picture_, sound_, frames_);
    if (result_ == Mp4Result::ok && heldRows_ > 0)
      result_ = writer_.addPictureRows(held_.data(), rowBytes_, int(heldRows_));
    held_ = {};
    return result_;
  }

  static constexpr std::size_t kHoldBytes = 1u << 20;
  Mp4Writer& writer_;
  Mp4Picture picture_;
  PcmLayout sound_;
  std::uint64_t frames_;
  const std::atomic<bool>* ready_;
  std::vector<std::uint8_t> row_, held_;
  std::size_t rowBytes_ = 0, holdRows_ = 0, heldRows_ = 0;
  Mp4Result result_ = Mp4Result::ok;
  bool begun_ = false, started_ = false;
};

StillMp4Outcome writerFailed(const Mp4Writer& writer, Mp4Result result) {
  StillMp4Outcome o;
  o.failed = StillMp4Step::encoding;
  o.result = result;
  o.problem = writer.problem();
  o.systemError = writer.systemError();
  return o;
}

StillMp4Outcome soundFailed(const PcmSource& sound) {
  StillMp4Outcome o;
  o.failed = StillMp4Step::sound;
  o.status = sound.status() == Status::ok ? Status::damaged : sound.status();
  o.problem = sound.problem().empty() ? "the recording ends before its header says" : sound.problem();
  return o;
}

// Pulls the whole recording into the writer, whose sound is begun.
StillMp4Outcome pumpSound(Mp4Writer& writer, PcmSource& sound) {
  const PcmLayout& layout = sound.layout();
  const std::size_t frameBytes = std::size_t(layout.channels) * std::size_t(layout.bits / 8);
  std::vector<std::uint8_t> piece(std::max<std::size_t>(1, kSoundPieceBytes / frameBytes) * frameBytes);
  for (std::uint64_t done = 0; done < sound.frames();) {
    const std::size_t want = std::size_t(std::min<std::uint64_t>(piece.size() / frameBytes, sound.frames() - done));
    const std::size_t got = sound.read(piece.data(), want);
    if (got == 0) return soundFailed(sound);
    if (const Mp4Result r = writer.addSound(piece.data(), got); r != Mp4Result::ok) return writerFailed(writer, r);
    done += got;
  }
  return {};
}

// The sound encoded on a thread of its own into a writer of its own, taken over once the picture is in.
class SoundAhead {
 public:
  SoundAhead(PcmSource& sound) : sound_(sound) {
    try {
      thread_ = std::thread([this] {
        LoadLibav(nullptr);  // its failure is said by the writer, which asks again
        ready_ = true;
        const Mp4Result r = writer_.beginSound(sound_.layout(), sound_.frames());
        outcome_ = r == Mp4Result::ok ? pumpSound(writer_, sound_) : writerFailed(writer_, r);
      });
    } catch (const std::system_error&) {
      started_ = false;  // no thread to be had: the sound is encoded after the picture
    }
  }
  ~SoundAhead() { join(); }
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  bool started() const { return started_; }
  Mp4Writer& writer() { return writer_; }
  const StillMp4Outcome& outcome() const { return outcome_; }
  const std::atomic<bool>* librariesReady() const { return &ready_; }

 private:
  PcmSource& sound_;
  std::atomic<bool> ready_{false};
  Mp4Writer writer_;
  StillMp4Outcome outcome_;
  bool started_ = true;
  std::thread thread_;
};

}  // namespace

StillMp4Outcome WriteStillMp4(int fd, const Still& still, PcmSource& sound, const StillMp4Request& request) {
  if (sound.status() != Status::ok || sound.frames() == 0) return soundFailed(sound);
  JpegLayout jpeg;
  if (ParseJpegLayout(still.jpeg.data(), still.jpeg.size(), &jpeg) != Status::ok || jpeg.width == 0 ||
      jpeg.height == 0) {
    StillMp4Outcome o;
    o.failed = StillMp4Step::picture;
    o.status = Status::badArgument;
    o.problem = "the picture could not be read for the movie's frame";
    return o;
  }

  const PcmLayout layout = sound.layout();
  const std::uint64_t frames = sound.frames();
  const int layoutSeconds = layout.rate > 0 ? int(std::min<std::uint64_t>(frames / std::uint64_t(layout.rate), 1u << 30)) : 0;
  std::unique_ptr<SoundAhead> ahead;
  if (request.soundAhead && std::uint64_t(layoutSeconds) <= kSoundAheadSeconds) {
    ahead = std::make_unique<SoundAhead>(sound);
    if (!ahead->started()) ahead.reset();
  }

  Mp4Picture picture;
  picture.orientation = still.orientation >= 1 && still.orientation <= 8 ? still.orientation : 1;
  const bool turned = picture.orientation >= 5;
  Mp4FrameSize(int(jpeg.width), int(jpeg.height), picture.orientation, turned ? request.boxHeight : request.boxWidth,
               turned ? request.boxWidth : request.boxHeight, &picture.outWidth, &picture.outHeight);

  Mp4Writer writer(fd);
  for (const auto& [key, value] : request.metadata) writer.setMetadata(key, value);
  FrameRows rows(writer, picture, layout, frames, ahead ? ahead->librariesReady() : nullptr);
  // Decoded no larger than the frame needs, in its stored orientation.
  const Status decoded =
      JpegDecodeScaled(still.jpeg.data(), still.jpeg.size(), std::uint32_t(turned ? picture.outHeight : picture.outWidth),
                       std::uint32_t(turned ? picture.outWidth : picture.outHeight), &rows);
  if (decoded == Status::ok) rows.flush();
  if (rows.result() != Mp4Result::ok) return writerFailed(writer, rows.result());
  if (decoded != Status::ok || !rows.begun()) {
    StillMp4Outcome o;
    o.failed = StillMp4Step::picture;
    o.status = decoded != Status::ok ? decoded : Status::damaged;
    o.problem = decoded == Status::noMemory ? "the picture would need more than " +
                                                  std::to_string(kMaxJpegDecodeBytes >> 20) +
                                                  " MB to decode (a progressive JPEG is held whole while it is decoded)"
                                            : "the picture is damaged";
    return o;
  }

  if (ahead) {
    ahead->join();
    if (ahead->outcome().failed != StillMp4Step::done) return ahead->outcome();
    if (const Mp4Result r = writer.adoptSound(ahead->writer()); r != Mp4Result::ok) return writerFailed(writer, r);
  } else {
    if (const Mp4Result r = writer.beginSound(layout, frames); r != Mp4Result::ok) return writerFailed(writer, r);
    if (StillMp4Outcome o = pumpSound(writer, sound); o.failed != StillMp4Step::done) return o;
  }
  if (const Mp4Result r = writer.finish(); r != Mp4Result::ok) return writerFailed(writer, r);
  return {};
}

namespace {

StillMp4Outcome writeFailed(int error) {
  StillMp4Outcome o;
  o.failed = StillMp4Step::encoding;
  o.result = Mp4Result::writeFailed;
  o.systemError = error != 0 ? error : EIO;
  o.problem = std::string("cannot write: ") + std::strerror(o.systemError);
  return o;
}

bool writeAllAt(int fd, const std::uint8_t* bytes, std::size_t n, off_t at, int* error) {
  while (n > 0) {
    const ssize_t done = pwrite(fd, bytes, n, at);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      *error = done < 0 ? errno : ENOSPC;
      return false;
    }
    bytes += done;
    n -= std::size_t(done);
    at += done;
  }
  return true;
}

// Moves the first length bytes of fd up by by bytes, from the end down so nothing is overwritten
// before it is read.
bool shiftUp(int fd, off_t length, off_t by, int* error) {
  std::vector<std::uint8_t> buffer(kCopyBytes);
  for (off_t end = length; end > 0;) {
    const off_t start = std::max<off_t>(0, end - off_t(buffer.size()));
    const std::size_t n = std::size_t(end - start);
    for (std::size_t got = 0; got < n;) {
      const ssize_t r = pread(fd, buffer.data() + got, n - got, start + off_t(got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        *error = r < 0 ? errno : EIO;
        return false;
      }
      got += std::size_t(r);
    }
    if (!writeAllAt(fd, buffer.data(), n, start + by, error)) return false;
    end = start;
  }
  return true;
}

}  // namespace

namespace {

// Copies the file's [from, to) to fd at at, in steps: a photograph's trailer may be as long as
// the file allows, and is never held.
bool copyRangeAt(int fd, ByteReader& file, std::uint64_t from, std::uint64_t to, off_t at, int* error) {
  std::vector<std::uint8_t> buffer(std::size_t(std::min<std::uint64_t>(kCopyBytes, to > from ? to - from : 1)));
  for (; from < to;) {
    const std::size_t n = std::size_t(std::min<std::uint64_t>(buffer.size(), to - from));
    if (!file.read(from, buffer.data(), n)) {
      *error = EIO;
      return false;
    }
    if (!writeAllAt(fd, buffer.data(), n, at, error)) return false;
    from += n;
    at += off_t(n);
  }
  return true;
}

}  // namespace

StillMp4Outcome WriteMotionPhoto(int fd, const Still& still, PcmSource& sound, const StillMp4Request& request) {
  MemoryByteReader held(still.jpeg);
  ByteReader& file = still.file ? *still.file : held;
  if (IsMotionPhoto(still.jpeg.data(), still.jpeg.size(), &file)) {
    StillMp4Outcome o;
    o.failed = StillMp4Step::photograph;
    o.problem = "the photograph already is a motion photo";
    return o;
  }
  // The MP4 first: its length goes into the still's XMP. Then it moves up to make room for the
  // still in front of it, in the same file.
  StillMp4Outcome o = WriteStillMp4(fd, still, sound, request);
  if (o.failed != StillMp4Step::done) return o;
  const off_t videoLength = lseek(fd, 0, SEEK_END);
  if (videoLength <= 0) return writeFailed(errno);
  std::string why;
  const std::optional<MotionPhotoParts> parts =
      MotionPhotoPartsOf(still.jpeg.data(), still.jpeg.size(), file.size(), std::uint64_t(videoLength), &why);
  if (!parts) {
    o.failed = StillMp4Step::photograph;
    o.problem = why;
    return o;
  }
  // The still: the photograph's start, the XMP segment, the rest of the still; then what
  // followed the picture, after the movie.
  const off_t front = off_t(parts->stillSize());
  const off_t segmentAt = off_t(parts->replaceFrom), restAt = segmentAt + off_t(parts->segment.size());
  const off_t tailAt = front + videoLength;
  int error = 0;
  if (!shiftUp(fd, videoLength, front, &error) || !copyRangeAt(fd, file, 0, parts->replaceFrom, 0, &error) ||
      !writeAllAt(fd, reinterpret_cast<const std::uint8_t*>(parts->segment.data()), parts->segment.size(), segmentAt,
                  &error) ||
      !copyRangeAt(fd, file, parts->replaceTo, parts->keepTo, restAt, &error))
    return writeFailed(error);
  if (parts->tailSize() > 0 &&
      (!writeAllAt(fd, reinterpret_cast<const std::uint8_t*>(parts->tailHeader.data()), parts->tailHeader.size(), tailAt,
                   &error) ||
       !copyRangeAt(fd, file, parts->tailFrom, parts->tailTo, tailAt + off_t(parts->tailHeader.size()), &error)))
    return writeFailed(error);
  return {};
}

}  // namespace media
