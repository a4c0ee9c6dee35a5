// SPDX-License-Identifier: GPL-2.0-or-later
// Decoding a stored recording with libavformat and libavcodec from memory: the container found by
// probing the bytes, the first sound stream decoded whole and resampled only in format.
#include "media/RecordingDecoder.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "media/ByteReaders.h"
#include "media/Libav.h"

namespace media {

namespace {

constexpr int kIoBuffer = 32 * 1024;
constexpr int kMaxChannels = 16;

struct Memory {
  std::unique_ptr<ByteReader> bytes;
  std::uint64_t position = 0;
};

int readPacket(void* opaque, std::uint8_t* out, int n) {
  auto* m = static_cast<Memory*>(opaque);
  const std::uint64_t left = m->bytes->size() - m->position;
  if (left == 0) return AVERROR_EOF;
  const std::size_t taken = std::size_t(std::min<std::uint64_t>(left, std::uint64_t(n)));
  if (!m->bytes->read(m->position, out, taken)) return AVERROR(EIO);
  m->position += taken;
  return int(taken);
}

std::int64_t seekTo(void* opaque, std::int64_t offset, int whence) {
  auto* m = static_cast<Memory*>(opaque);
  const auto size = std::int64_t(m->bytes->size());
  std::int64_t to;
  switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE: return size;
    case SEEK_SET: to = offset; break;
    case SEEK_CUR: to = std::int64_t(m->position) + offset; break;
    case SEEK_END: to = size + offset; break;
    default: return -1;
  }
  if (to < 0 || to > size) return -1;
  m->position = std::uint64_t(to);
  return to;
}

class DecodedPcm final : public PcmSource {
 public:
  DecodedPcm(PcmLayout layout, std::deque<std::int16_t> samples) : layout_(layout), samples_(std::move(samples)) {}
  const PcmLayout& layout() const override { return layout_; }
  std::uint64_t frames() const override { return samples_.size() / std::size_t(layout_.channels); }
  std::size_t read(std::uint8_t* out, std::size_t frames) override {
    const std::size_t channels = std::size_t(layout_.channels);
    const std::size_t n = std::min<std::size_t>(frames, this->frames() - next_);
    // Little-endian as handed over, whatever the machine.
    for (std::size_t i = 0; i < n * channels; ++i) {
      const auto v = std::uint16_t(samples_[next_ * channels + i]);
      out[2 * i] = std::uint8_t(v & 0xFF);
      out[2 * i + 1] = std::uint8_t(v >> 8);
    }
    next_ += n;
    return n;
  }
  Status status() const override { return Status::ok; }
  const std::string& problem() const override { return problem_; }

 private:
  PcmLayout layout_;
  std::deque<std::int16_t> samples_;
  std::size_t next_ = 0;
  std::string problem_;
};

// Everything one decoding holds, let go of in the right order whatever way it ends.
struct Session {
  const Libav* av = nullptr;
  Memory memory;
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* swr = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  ~Session() {
    if (frame != nullptr) av->av_frame_free(&frame);
    if (packet != nullptr) av->av_packet_free(&packet);
    if (swr != nullptr) av->swr_free(&swr);
    if (codec != nullptr) av->avcodec_free_context(&codec);
    if (format != nullptr) av->avformat_close_input(&format);
    if (io != nullptr) {
      av->av_freep(&io->buffer);
      av->avio_context_free(&io);
    }
  }
};

}  // namespace

std::unique_ptr<PcmSource> DecodeRecording(std::unique_ptr<ByteReader> bytes, Status* status, std::string* why) {
  auto fail = [&](Status s, const std::string& words) -> std::unique_ptr<PcmSource> {
    *status = s;
    if (why != nullptr) *why = words;
    return nullptr;
  };
  std::string loadWhy;
  const Libav* av = LoadLibavWithFormats(&loadWhy);
  if (av == nullptr) return fail(Status::failed, "the recording cannot be decoded: " + loadWhy);
  if (bytes == nullptr) return fail(Status::badArgument, "no recording to decode");
  av->av_log_set_level(AV_LOG_QUIET);

  Session s;
  s.av = av;
  s.memory.bytes = std::move(bytes);
  auto* buffer = static_cast<unsigned char*>(av->av_malloc(kIoBuffer));
  if (buffer == nullptr) return fail(Status::noMemory, "no memory to decode the recording");
  s.io = av->avio_alloc_context(buffer, kIoBuffer, 0, &s.memory, readPacket, nullptr, seekTo);
  if (s.io == nullptr) {
    av->av_free(buffer);
    return fail(Status::noMemory, "no memory to decode the recording");
  }
  s.format = av->avformat_alloc_context();
  if (s.format == nullptr) return fail(Status::noMemory, "no memory to decode the recording");
  s.format->pb = s.io;
  s.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  if (av->avformat_open_input(&s.format, nullptr, nullptr, nullptr) < 0) {
    s.format = nullptr;  // freed by the failed open
    return fail(Status::damaged, "the recording is not a sound file libav knows");
  }
  if (av->avformat_find_stream_info(s.format, nullptr) < 0) return fail(Status::damaged, "the recording's streams cannot be read");
  const AVCodec* decoder = nullptr;
  const int stream = av->av_find_best_stream(s.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (stream < 0 || decoder == nullptr) return fail(Status::damaged, "the recording holds no sound libav can decode");
  s.codec = av->avcodec_alloc_context3(decoder);
  if (s.codec == nullptr) return fail(Status::noMemory, "no memory to decode the recording");
  if (av->avcodec_parameters_to_context(s.codec, s.format->streams[stream]->codecpar) < 0 ||
      av->avcodec_open2(s.codec, decoder, nullptr) < 0)
    return fail(Status::failed, "the recording's decoder cannot be opened");
  const int channels = s.codec->ch_layout.nb_channels, rate = s.codec->sample_rate;
  if (channels < 1 || channels > kMaxChannels || rate < 1 || rate > 768000)
    return fail(Status::damaged, "the recording's rate or channels are out of range");
  AVChannelLayout layout{};
  if (s.codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) av->av_channel_layout_default(&layout, channels);
  else av->av_channel_layout_copy(&layout, &s.codec->ch_layout);
  const int made = av->swr_alloc_set_opts2(&s.swr, &layout, AV_SAMPLE_FMT_S16, rate, &layout, s.codec->sample_fmt, rate, 0, nullptr);
  av->av_channel_layout_uninit(&layout);
  if (made < 0 || av->swr_init(s.swr) < 0) return fail(Status::failed, "the recording's samples cannot be converted");
  s.packet = av->av_packet_alloc();
  s.frame = av->av_frame_alloc();
  if (s.packet == nullptr || s.frame == nullptr) return fail(Status::noMemory, "no memory to decode the recording");

  const std::string tooLong = "the decoded recording would need more than " +
                              std::to_string(kMaxDecodedRecordingBytes >> 20) + " MB, the most one is decoded into";
  // In blocks: a growing array would hold twice the sound (and three times while it moves).
  std::deque<std::int16_t> samples;
  std::vector<std::int16_t> piece;
  auto drain = [&]() -> bool {  // false when past the bound
    while (av->avcodec_receive_frame(s.codec, s.frame) == 0) {
      const int room = av->swr_get_out_samples(s.swr, s.frame->nb_samples);
      if (room > 0) {
        piece.resize(std::size_t(room) * std::size_t(channels));
        auto* out = reinterpret_cast<std::uint8_t*>(piece.data());
        const int got = av->swr_convert(s.swr, &out, room, const_cast<const std::uint8_t**>(s.frame->extended_data), s.frame->nb_samples);
        if (got > 0) {
          if ((samples.size() + std::size_t(got) * std::size_t(channels)) * 2 > kMaxDecodedRecordingBytes) return false;
          samples.insert(samples.end(), piece.begin(), piece.begin() + std::ptrdiff_t(got) * channels);
        }
      }
      av->av_frame_unref(s.frame);
    }
    return true;
  };
  // A packet the decoder refuses is skipped: a damaged frame in a voice note costs its few milliseconds.
  while (av->av_read_frame(s.format, s.packet) >= 0) {
    if (s.packet->stream_index == stream) av->avcodec_send_packet(s.codec, s.packet);
    av->av_packet_unref(s.packet);
    if (!drain()) return fail(Status::noMemory, tooLong);
  }
  av->avcodec_send_packet(s.codec, nullptr);
  if (!drain()) return fail(Status::noMemory, tooLong);
  if (samples.empty()) return fail(Status::damaged, "the recording holds no sound that decodes");
  *status = Status::ok;
  PcmLayout pcm;
  pcm.channels = channels;
  pcm.rate = rate;
  pcm.bits = 16;
  return std::make_unique<DecodedPcm>(pcm, std::move(samples));
}

std::unique_ptr<PcmSource> DecodeRecording(std::vector<std::uint8_t> bytes, Status* status, std::string* why) {
  // The reader owns the bytes it reads.
  class Owned final : public ByteReader {
   public:
    explicit Owned(std::vector<std::uint8_t> b) : bytes_(std::move(b)), reader_(bytes_) {}
    std::uint64_t size() const override { return reader_.size(); }
    bool read(std::uint64_t offset, std::uint8_t* out, std::size_t n) override { return reader_.read(offset, out, n); }

   private:
    std::vector<std::uint8_t> bytes_;
    MemoryByteReader reader_;
  };
  return DecodeRecording(std::make_unique<Owned>(std::move(bytes)), status, why);
}

}  // namespace media
