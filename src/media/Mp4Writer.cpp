// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 writer: the picture scaled into H.264's colours as its rows arrive, turned upright in its
// pixels, one frame lasting the whole recording; the recording resampled and encoded to AAC-LC.
#include "media/Mp4Writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <span>
#include <utility>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "media/ByteOrder.h"
#include "media/Libav.h"
#include "media/MovieAtoms.h"
#include "media/Mp4Boxes.h"
#include "media/PlaneOrientation.h"

namespace media {

namespace {

// The loaded functions; begin() has loaded them before anything here calls one.
const Libav& av() { return *LoadLibav(nullptr); }

constexpr const char* kMarkPrefix = "still2mov";
constexpr const char* kMark = "still2mov " STILL2MOV_VERSION;
constexpr int kRowsPerSlice = 16;
// libswscale reads its source rows in vectors of up to 64 bytes and may run past a row's end and
// the last row's: each row of the slice starts at a multiple of this, with as much again after.
constexpr std::size_t kScalerPadding = 64;

// The AAC sampling rates phones and browsers decode; a recording at another rate is resampled up
// to the next, one above 48 kHz down to 48 kHz.
constexpr int kAacRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

int aacRateFor(int rate) {
  for (int r : kAacRates)
    if (r >= rate) return r;
  return 48000;
}

// Bits per second for each channel: the settings' rate, less for narrow-band recordings, which
// carry less (AAC-LC allows at most 6 bits a sample).
std::int64_t aacBitsPerChannel(int rate) { return std::min<std::int64_t>(Mp4Settings::aacBitsPerChannel, 4LL * rate); }

std::string avWords(int err) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av().av_strerror(err, text, sizeof text);
  return text;
}

// The file as it is laid out: ftyp, the moov box and a free box in room reserved for them, then
// mdat with the picture's one sample and the sound's packets in one chunk. The sound's sample
// sizes go into their place in the reserved room as they come, so nothing grows with the
// recording but the file; the rest of the moov box is written last, into the same room.
struct Layout {
  std::uint64_t moovAt = 0;
  std::size_t headBytes = 0;     // the moov box but for the sound's sizes
  std::uint64_t room = 0;        // for moov and free together
  std::uint64_t mdatAt = 0;
  std::uint32_t mdatHeader = 8;  // 16 when mdat may pass 4 GiB
  std::uint32_t packetBound = 0;  // the most sound packets the room holds sizes for
};

constexpr std::size_t kWriteBytes = 64 * 1024;
constexpr std::size_t kSizesBatch = 4096;
// AAC-LC codes at most 6144 bits for each channel in a frame.
constexpr std::uint32_t kAacMaxPacketBytesPerChannel = 768;

}  // namespace

struct Mp4Writer::State {
  int fd = -1;
  int error = 0;  // errno of the first failed write
  std::map<std::string, std::string> metadata;
  Mp4Result result = Mp4Result::ok;
  std::string problem;
  bool begun = false, finished = false;  // begun: the picture's
  bool soundKnown = false;     // sound and totalFrames say what the recording is
  bool soundBegun = false;     // the AAC encoder is open
  bool fileStarted = false;    // packets go to the file; before, they are kept in memory
  bool loaded = false;  // libav* is there: what is below was made with it

  Mp4Picture picture;
  PcmLayout sound;
  std::uint64_t totalFrames = 0;

  AVCodecContext* video = nullptr;
  AVCodecContext* audio = nullptr;
  SwsContext* sws = nullptr;
  SwrContext* swr = nullptr;
  AVAudioFifo* fifo = nullptr;
  AVFrame* stored = nullptr;   // the picture scaled, as stored
  AVFrame* frame = nullptr;    // upright, handed to the encoder
  AVFrame* audioFrame = nullptr;
  AVPacket* packet = nullptr;
  AVSampleFormat inFormat = AV_SAMPLE_FMT_NONE;

  std::vector<std::uint8_t> slice;  // rows waiting to be scaled together, sliceStride apart
  std::size_t sliceStride = 0;
  int sliceRows = 0, rowsIn = 0;
  std::vector<std::uint8_t> widened;  // 24-bit, signed 8-bit or clipped float samples, as swresample takes them
  std::int64_t audioPts = 0;          // in output samples, from the encoder's priming on

  // The picture's sample, length-prefixed, and its decoder configuration, once encoded.
  std::vector<std::uint8_t> videoSample, avcConfig;
  bool videoDone = false;
  // The sound's packets: kept here until the file starts, then gathered for writing.
  std::vector<std::uint8_t> soundBytes;
  std::vector<std::uint32_t> keptSizes;  // of the packets kept before the file started
  std::uint32_t packets = 0, lastDuration = 0;
  bool unevenDurations = false;  // a packet before the last lasted other than a frame
  std::uint64_t soundTotal = 0;  // bytes
  // The file: where the next sound bytes go, and sizes waiting for their place.
  Layout layout;
  Mp4Facts facts;
  std::uint64_t at = 0;
  std::vector<std::uint8_t> sizes;
  std::uint64_t sizesWritten = 0;

  ~State() {
    if (!loaded) return;
    av().sws_freeContext(sws);
    av().swr_free(&swr);
    if (fifo) av().av_audio_fifo_free(fifo);
    av().av_frame_free(&stored);
    av().av_frame_free(&frame);
    av().av_frame_free(&audioFrame);
    av().av_packet_free(&packet);
    av().avcodec_free_context(&video);
    av().avcodec_free_context(&audio);
  }

  Mp4Result fail(Mp4Result r, const std::string& words) {
    if (result == Mp4Result::ok) {
      result = r;
      problem = words;
    }
    return result;
  }
  Mp4Result failWrite(int err) {
    if (error == 0) error = err;
    return fail(Mp4Result::writeFailed, std::string("cannot write: ") + std::strerror(error));
  }
  Mp4Result failAv(int err, const std::string& step) {
    if (err == AVERROR(ENOMEM)) return fail(Mp4Result::noMemory, "not enough memory");
    return fail(Mp4Result::encoderFailed, step + ": " + avWords(err));
  }

  Mp4Result load();
  // The recording's layout and length, checked once and then held to.
  Mp4Result knowSound(const PcmLayout& layout, std::uint64_t frames);
  Mp4Result startSound(const PcmLayout& layout, std::uint64_t frames);
  Mp4Result startPicture(const Mp4Picture& p);
  Mp4Result openVideo();
  Mp4Result openAudio();
  Mp4Result openEncoder(AVCodecContext* codec, const AVCodec* encoder, AVDictionary** options, const char* refused);
  Mp4Result scaleSlice();
  // Drains the encoder's packets: the picture's kept, the sound's written or kept.
  Mp4Result takePackets(AVCodecContext* codec);
  Mp4Result takeSoundPacket(const std::uint8_t* data, std::uint32_t size, std::uint32_t duration);
  Mp4Result encodeAudio(bool flushing);
  // Once the picture is encoded and the sound begun: the room laid out, the picture's sample
  // and the sound kept so far written.
  Mp4Result startFile();
  Mp4Result writeAt(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n);
  Mp4Result flushSound();
  Mp4Result flushSizes();
  Mp4Result finishFile();
};

Mp4Writer::Mp4Writer(int fd) : s_(std::make_unique<State>()) { s_->fd = fd; }
Mp4Writer::~Mp4Writer() = default;

const char* Mp4Writer::mark() { return kMark; }
bool Mp4Writer::isMark(const std::string& text) { return text.compare(0, std::strlen(kMarkPrefix), kMarkPrefix) == 0; }
const std::string& Mp4Writer::problem() const { return s_->problem; }
int Mp4Writer::systemError() const { return s_->error; }

void Mp4Writer::setMetadata(const std::string& key, const std::string& value) { s_->metadata[key] = value; }

void Mp4FrameSize(int width, int height, int orientation, int boxWidth, int boxHeight, int* outWidth,
                  int* outHeight) {
  const bool turned = orientation >= 5 && orientation <= 8;
  double w = turned ? height : width, h = turned ? width : height;
  auto fit = [&](double bw, double bh) {
    if (bw <= 0 || bh <= 0) return;
    const double k = std::min({1.0, bw / w, bh / h});
    w *= k;
    h *= k;
  };
  fit(boxWidth, boxHeight);
  if (w >= h)
    fit(kMp4MaxLongSide, kMp4MaxShortSide);
  else
    fit(kMp4MaxShortSide, kMp4MaxLongSide);
  // Even sides for 4:2:0, never below 2.
  *outWidth = std::max(2, int(w + 0.5) & ~1);
  *outHeight = std::max(2, int(h + 0.5) & ~1);
}

Mp4Result Mp4Writer::State::openEncoder(AVCodecContext* codec, const AVCodec* encoder, AVDictionary** options,
                                        const char* refused) {
  // The decoder configuration goes once into the sample description, not into every packet.
  codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  int err = av().avcodec_open2(codec, encoder, options);
  av().av_dict_free(options);
  return err < 0 ? failAv(err, refused) : Mp4Result::ok;
}

Mp4Result Mp4Writer::State::openVideo() {
  const AVCodec* codec = av().avcodec_find_encoder_by_name("libx264");
  if (codec == nullptr) return fail(Mp4Result::encoderMissing, "no H.264 encoder (libx264) in libavcodec");
  video = av().avcodec_alloc_context3(codec);
  if (video == nullptr) return fail(Mp4Result::noMemory, "not enough memory");
  video->width = picture.outWidth;
  video->height = picture.outHeight;
  video->pix_fmt = AV_PIX_FMT_YUV420P;
  video->time_base = AVRational{1, sound.rate};
  video->framerate = AVRational{1, 1};
  video->sample_aspect_ratio = AVRational{1, 1};
  // Limited range, BT.709 colours: what browsers and hardware decoders assume and show right.
  video->color_range = AVCOL_RANGE_MPEG;
  video->colorspace = AVCOL_SPC_BT709;
  video->color_primaries = AVCOL_PRI_BT709;
  video->color_trc = AVCOL_TRC_BT709;
  video->gop_size = 1;
  video->max_b_frames = 0;
  video->thread_count = 1;
  AVDictionary* options = nullptr;
  av().av_dict_set(&options, "preset", Mp4Settings::preset, 0);
  av().av_dict_set(&options, "tune", Mp4Settings::tune, 0);
  av().av_dict_set_int(&options, "crf", Mp4Settings::crf, 0);
  // High profile at a level every decoder since phones of 2012 takes; no lookahead for one frame.
  av().av_dict_set(&options, "profile", "high", 0);
  av().av_dict_set(&options, "x264-params", "rc-lookahead=0:sync-lookahead=0:keyint=1", 0);
  if (openEncoder(video, codec, &options, "the H.264 encoder refused the picture") != Mp4Result::ok) return result;
  avcConfig = Mp4AvcConfig({video->extradata, std::size_t(std::max(0, video->extradata_size))});
  if (avcConfig.empty()) return fail(Mp4Result::encoderFailed, "the H.264 encoder gave no decoder configuration");

  stored = av().av_frame_alloc();
  frame = av().av_frame_alloc();
  if (stored == nullptr || frame == nullptr) return fail(Mp4Result::noMemory, "not enough memory");
  const bool turned = picture.orientation >= 5 && picture.orientation <= 8;
  stored->width = turned ? picture.outHeight : picture.outWidth;
  stored->height = turned ? picture.outWidth : picture.outHeight;
  stored->format = AV_PIX_FMT_YUV420P;
  if (av().av_frame_get_buffer(stored, 0) < 0) return fail(Mp4Result::noMemory, "not enough memory");
  // The picture comes decoded at a DCT scale near the frame's, not at the frame's own: Lanczos, and
  // chroma taken from every input pixel, keep the frame closer to the upright photograph (by PSNR)
  // than bicubic or area averaging, and closer than a scaled JPEG decoded again did.
  constexpr int kScaling = SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP | SWS_FULL_CHR_H_INT;
  sws = av().sws_getContext(picture.sourceWidth, picture.sourceHeight, picture.channels == 1 ? AV_PIX_FMT_GRAY8 : AV_PIX_FMT_RGB24,
                            stored->width, stored->height, AV_PIX_FMT_YUV420P, kScaling, nullptr, nullptr, nullptr);
  if (sws == nullptr) return fail(Mp4Result::encoderFailed, "the picture cannot be scaled to the frame's size");
  // Full-range pixels in, limited-range BT.709 out.
  const int* bt709 = av().sws_getCoefficients(SWS_CS_ITU709);
  av().sws_setColorspaceDetails(sws, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
  const std::size_t rowBytes = std::size_t(picture.sourceWidth) * picture.channels;
  sliceStride = (rowBytes + kScalerPadding - 1) / kScalerPadding * kScalerPadding;
  slice.assign(sliceStride * kRowsPerSlice + kScalerPadding, 0);
  return Mp4Result::ok;
}

Mp4Result Mp4Writer::State::openAudio() {
  const AVCodec* codec = av().avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (codec == nullptr) return fail(Mp4Result::encoderMissing, "no AAC encoder in libavcodec");
  audio = av().avcodec_alloc_context3(codec);
  if (audio == nullptr) return fail(Mp4Result::noMemory, "not enough memory");
  const int channels = std::min(sound.channels, 2);
  av().av_channel_layout_default(&audio->ch_layout, channels);
  audio->sample_rate = aacRateFor(sound.rate);
  audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
  audio->bit_rate = aacBitsPerChannel(audio->sample_rate) * channels;
  audio->profile = FF_PROFILE_AAC_LOW;
  audio->time_base = AVRational{1, audio->sample_rate};
  AVDictionary* options = nullptr;
  const bool narrow = audio->sample_rate <= Mp4Settings::aacNarrowRate;
  av().av_dict_set(&options, "aac_coder", narrow ? Mp4Settings::aacCoderNarrow : Mp4Settings::aacCoder, 0);
  if (openEncoder(audio, codec, &options, "the AAC encoder refused the recording") != Mp4Result::ok) return result;
  if (audio->extradata_size <= 0 || audio->frame_size <= 0)
    return fail(Mp4Result::encoderFailed, "the AAC encoder gave no decoder configuration");

  switch (sound.bits) {
    case 8: inFormat = AV_SAMPLE_FMT_U8; break;
    case 16: inFormat = AV_SAMPLE_FMT_S16; break;
    case 24:
    case 32: inFormat = sound.isFloat ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_S32; break;
    case 64: inFormat = AV_SAMPLE_FMT_DBL; break;
  }
  AVChannelLayout inLayout;
  av().av_channel_layout_default(&inLayout, sound.channels);
  int err = av().swr_alloc_set_opts2(&swr, &audio->ch_layout, AV_SAMPLE_FMT_FLTP, audio->sample_rate, &inLayout,
                                     inFormat, sound.rate, 0, nullptr);
  av().av_channel_layout_uninit(&inLayout);
  if (err >= 0) err = av().swr_init(swr);
  if (err < 0) return failAv(err, "the recording cannot be converted for AAC");
  fifo = av().av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, channels, audio->frame_size * 4);
  audioFrame = av().av_frame_alloc();
  if (fifo == nullptr || audioFrame == nullptr) return fail(Mp4Result::noMemory, "not enough memory");
  return Mp4Result::ok;
}

namespace {

bool pictureFits(const Mp4Picture& picture) {
  return picture.sourceWidth > 0 && picture.sourceHeight > 0 && (picture.channels == 1 || picture.channels == 3) &&
         picture.outWidth >= 2 && picture.outHeight >= 2 && picture.outWidth % 2 == 0 && picture.outHeight % 2 == 0 &&
         picture.sourceWidth <= 65535 && picture.sourceHeight <= 65535 && picture.outWidth <= 16384 &&
         picture.outHeight <= 16384;
}

bool sameLayout(const PcmLayout& a, const PcmLayout& b) {
  return a.channels == b.channels && a.rate == b.rate && a.bits == b.bits && a.isFloat == b.isFloat &&
         a.isSigned == b.isSigned;
}

}  // namespace

// The libraries, the muxer (not yet writing) and a packet to receive into.
Mp4Result Mp4Writer::State::load() {
  if (loaded) return Mp4Result::ok;
  std::string why;
  if (LoadLibav(&why) == nullptr) return fail(Mp4Result::encoderMissing, "libav* cannot be used: " + why);
  loaded = true;
  // Failures are said in the program's own words; the libraries' chatter would only confuse.
  av().av_log_set_level(AV_LOG_QUIET);
  packet = av().av_packet_alloc();
  return packet == nullptr ? fail(Mp4Result::noMemory, "not enough memory") : Mp4Result::ok;
}

Mp4Result Mp4Writer::State::knowSound(const PcmLayout& layout, std::uint64_t frames) {
  if (soundKnown) {
    if (!sameLayout(layout, sound) || frames != totalFrames)
      return fail(Mp4Result::badInput, "the recording is not the one whose sound was begun");
    return Mp4Result::ok;
  }
  // Each limit is said in its own words: the user sees which one the recording is beyond.
  if (layout.channels < 1 || layout.channels > kMp4MaxChannels)
    return fail(Mp4Result::badInput, "the recording has " + std::to_string(layout.channels) +
                                         " channels; an MP4's sound takes 1 to " + std::to_string(kMp4MaxChannels));
  if (layout.rate < kMp4MinRate || layout.rate > kMp4MaxRate)
    return fail(Mp4Result::badInput, "the recording's rate, " + std::to_string(layout.rate) +
                                         " Hz, is outside the " + std::to_string(kMp4MinRate) + " to " +
                                         std::to_string(kMp4MaxRate) + " Hz an MP4's sound is made from");
  const bool bitsOk = (!layout.isFloat && (layout.bits == 8 || layout.bits == 16 || layout.bits == 24 || layout.bits == 32)) ||
                      (layout.isFloat && (layout.bits == 32 || layout.bits == 64));
  if (!bitsOk)
    return fail(Mp4Result::badInput, "the recording's samples of " + std::to_string(layout.bits) +
                                         " bits cannot be encoded");
  if (frames == 0) return fail(Mp4Result::badInput, "the recording gives no sound");
  sound = layout;
  totalFrames = frames;
  soundKnown = true;
  return Mp4Result::ok;
}

Mp4Result Mp4Writer::State::startSound(const PcmLayout& layout, std::uint64_t frames) {
  if (knowSound(layout, frames) != Mp4Result::ok || load() != Mp4Result::ok) return result;
  if (openAudio() != Mp4Result::ok) return result;
  soundBegun = true;
  return Mp4Result::ok;
}

Mp4Result Mp4Writer::State::startPicture(const Mp4Picture& p) {
  if (load() != Mp4Result::ok) return result;
  picture = p;
  if (picture.orientation < 1 || picture.orientation > 8) picture.orientation = 1;
  return openVideo();
}

// Seconds since 1904 of an ISO 8601 UTC time ("2024-05-01T12:00:00Z"); 0 when it is none.
std::uint64_t macTimeOf(const std::string& iso) {
  std::tm t{};
  const char* end = strptime(iso.c_str(), "%Y-%m-%dT%H:%M:%S", &t);
  if (end == nullptr) return 0;
  const std::int64_t unix = std::int64_t(timegm(&t));
  constexpr std::int64_t kFrom1904 = 2082844800;
  return unix + kFrom1904 > 0 ? std::uint64_t(unix + kFrom1904) : 0;
}

Mp4Result Mp4Writer::State::startFile() {
  if (!videoDone || !soundBegun || fileStarted || result != Mp4Result::ok) return result;
  fileStarted = true;
  if (fd < 0) return fail(Mp4Result::badInput, "the writer was given no file");
  // The facts known now; the sound's counts are filled in at the end, in room sized for the most
  // packets the recording can give: its frames resampled, with some to spare, and the priming.
  const std::uint64_t frameSamples = std::uint64_t(audio->frame_size);
  const std::uint64_t samplesBound = totalFrames * std::uint64_t(audio->sample_rate) / std::uint64_t(sound.rate) + 4096;
  const std::uint64_t packetBound = (samplesBound + std::uint64_t(std::max(0, audio->initial_padding))) / frameSamples + 2;
  if (packetBound > UINT32_MAX / 4) return fail(Mp4Result::badInput, "the recording is too long for an MP4");
  layout.packetBound = std::uint32_t(packetBound);

  Mp4Facts& f = facts;
  for (const auto& [key, value] : metadata) f.items.emplace_back(key, value);
  f.items.emplace_back("encoder", kMark);
  if (auto it = metadata.find("creation_time"); it != metadata.end()) f.creationTime = macTimeOf(it->second);
  if (auto it = metadata.find("location"); it != metadata.end()) f.place = it->second;
  f.durationMs = std::int64_t((totalFrames * 1000 + std::uint64_t(sound.rate) - 1) / std::uint64_t(sound.rate));
  f.wideTimes = f.creationTime > UINT32_MAX || packetBound * frameSamples > UINT32_MAX;
  f.video.width = picture.outWidth;
  f.video.height = picture.outHeight;
  f.video.timeScale = sound.rate;
  f.video.sampleDuration = std::uint32_t(totalFrames);
  f.video.sampleSize = std::uint32_t(videoSample.size());
  f.video.avcConfig = avcConfig;
  f.sound.channels = audio->ch_layout.nb_channels;
  f.sound.rate = audio->sample_rate;
  f.sound.audioConfig.assign(audio->extradata, audio->extradata + audio->extradata_size);
  f.sound.frameSamples = std::uint32_t(frameSamples);
  f.sound.priming = std::max(0, audio->initial_padding);
  f.sound.packets = layout.packetBound;

  const std::vector<std::uint8_t> fileType = BuildMp4FileType();
  const std::uint64_t mdatBound = 16 + videoSample.size() + packetBound * kAacMaxPacketBytesPerChannel * std::uint64_t(f.sound.channels);
  layout.mdatHeader = mdatBound > UINT32_MAX ? 16 : 8;
  layout.moovAt = fileType.size();
  // The head's size depends on no count, only on the widths fixed here.
  f.wideOffsets = true;
  layout.headBytes = BuildMp4MovieHead(f).size();
  layout.room = layout.headBytes + 4 * packetBound + 8;  // and at least a free box's header
  layout.mdatAt = layout.moovAt + layout.room;
  f.wideOffsets = layout.mdatAt + mdatBound > UINT32_MAX;
  layout.headBytes = BuildMp4MovieHead(f).size();
  f.video.sampleOffset = layout.mdatAt + layout.mdatHeader;
  f.sound.offset = f.video.sampleOffset + videoSample.size();

  if (writeAt(0, fileType.data(), fileType.size()) != Mp4Result::ok) return result;
  at = layout.mdatAt + layout.mdatHeader;
  if (writeAt(at, videoSample.data(), videoSample.size()) != Mp4Result::ok) return result;
  at += videoSample.size();
  videoSample = {};
  // The sound kept so far, and its sizes.
  for (std::uint32_t size : keptSizes) {
    std::uint8_t b[4];
    WriteBigEndian32(b, size);
    sizes.insert(sizes.end(), b, b + 4);
  }
  keptSizes = {};
  return flushSound();
}

Mp4Result Mp4Writer::State::writeAt(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
  while (n > 0) {
    const ssize_t done = pwrite(fd, bytes, n, off_t(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return failWrite(done < 0 ? errno : ENOSPC);
    bytes += done;
    n -= std::size_t(done);
    offset += std::uint64_t(done);
  }
  return Mp4Result::ok;
}

Mp4Result Mp4Writer::State::flushSound() {
  if (writeAt(at, soundBytes.data(), soundBytes.size()) != Mp4Result::ok) return result;
  at += soundBytes.size();
  soundBytes.clear();
  return flushSizes();
}

Mp4Result Mp4Writer::State::flushSizes() {
  if (sizes.empty()) return Mp4Result::ok;
  if (sizesWritten + sizes.size() / 4 > layout.packetBound)
    return fail(Mp4Result::encoderFailed, "the AAC encoder gave more packets than the recording can");
  if (writeAt(layout.moovAt + layout.headBytes + 4 * sizesWritten, sizes.data(), sizes.size()) != Mp4Result::ok)
    return result;
  sizesWritten += sizes.size() / 4;
  sizes.clear();
  return Mp4Result::ok;
}

Mp4Result Mp4Writer::State::takeSoundPacket(const std::uint8_t* data, std::uint32_t size, std::uint32_t duration) {
  if (packets > 0 && lastDuration != std::uint32_t(audio->frame_size)) unevenDurations = true;
  ++packets;
  lastDuration = duration;
  soundTotal += size;
  soundBytes.insert(soundBytes.end(), data, data + size);
  if (!fileStarted) {
    keptSizes.push_back(size);
    return Mp4Result::ok;
  }
  std::uint8_t b[4];
  WriteBigEndian32(b, size);
  sizes.insert(sizes.end(), b, b + 4);
  if (soundBytes.size() >= kWriteBytes) return flushSound();
  if (sizes.size() >= 4 * kSizesBatch) return flushSizes();
  return Mp4Result::ok;
}

// The moov box into its room, a free box over what is left of it, and mdat's size.
Mp4Result Mp4Writer::State::finishFile() {
  if (flushSound() != Mp4Result::ok) return result;
  if (packets == 0 || unevenDurations || sizesWritten != packets)
    return fail(Mp4Result::encoderFailed, "the AAC encoder gave packets an MP4 cannot index");
  facts.sound.packets = packets;
  facts.sound.lastDuration = lastDuration;
  facts.sound.averageBitRate = std::uint32_t(std::min<std::uint64_t>(
      UINT32_MAX, soundTotal * 8 * std::uint64_t(sound.rate) / std::max<std::uint64_t>(1, totalFrames)));
  facts.sound.maxBitRate = std::max(facts.sound.averageBitRate, std::uint32_t(audio->bit_rate));
  const std::vector<std::uint8_t> head = BuildMp4MovieHead(facts);
  if (head.size() != layout.headBytes) return fail(Mp4Result::encoderFailed, "the MP4's index did not keep its size");
  if (writeAt(layout.moovAt, head.data(), head.size()) != Mp4Result::ok) return result;
  const std::uint64_t moovBytes = head.size() + 4ULL * packets;
  const std::vector<std::uint8_t> free = BuildAtomHeader(MakeFourCC("free"), layout.room - moovBytes - 8);
  if (writeAt(layout.moovAt + moovBytes, free.data(), free.size()) != Mp4Result::ok) return result;
  const std::uint64_t mdatBody = at - layout.mdatAt - layout.mdatHeader;
  BigEndianBytes mdat;
  if (layout.mdatHeader == 16) {
    mdat.u32(1);
    mdat.u32(MakeFourCC("mdat"));
    mdat.u64(mdatBody + 16);
  } else {
    mdat.u32(std::uint32_t(mdatBody + 8));
    mdat.u32(MakeFourCC("mdat"));
  }
  return writeAt(layout.mdatAt, mdat.bytes.data(), mdat.bytes.size());
}

void Mp4Writer::setOutput(int fd) { s_->fd = fd; }

Mp4Result Mp4Writer::beginSound(const PcmLayout& sound, std::uint64_t totalFrames) {
  State& s = *s_;
  if (s.result != Mp4Result::ok) return s.result;
  if (s.soundBegun) return s.fail(Mp4Result::badInput, "the writer's sound was already begun");
  if (s.startSound(sound, totalFrames) != Mp4Result::ok) return s.result;
  return s.startFile();
}

Mp4Result Mp4Writer::beginPicture(const Mp4Picture& picture, const PcmLayout& sound, std::uint64_t totalFrames) {
  State& s = *s_;
  if (s.result != Mp4Result::ok) return s.result;
  if (s.begun) return s.fail(Mp4Result::badInput, "the writer was already begun");
  s.begun = true;
  if (!pictureFits(picture)) return s.fail(Mp4Result::badInput, "the picture's size cannot be encoded");
  if (s.knowSound(sound, totalFrames) != Mp4Result::ok || s.startPicture(picture) != Mp4Result::ok) return s.result;
  return s.startFile();
}

Mp4Result Mp4Writer::begin(const Mp4Picture& picture, const PcmLayout& sound, std::uint64_t totalFrames) {
  State& s = *s_;
  // Both at once: the sound's encoder opens first, unless the sound was begun ahead.
  if (s.result == Mp4Result::ok && !s.begun && !s.soundBegun && pictureFits(picture) &&
      s.startSound(sound, totalFrames) != Mp4Result::ok)
    return s.result;
  return beginPicture(picture, sound, totalFrames);
}

Mp4Result Mp4Writer::adoptSound(Mp4Writer& ahead) {
  State& s = *s_;
  State& a = *ahead.s_;
  if (s.result != Mp4Result::ok) return s.result;
  if (s.soundBegun) return s.fail(Mp4Result::badInput, "the writer's sound was already begun");
  if (!a.soundBegun || a.result != Mp4Result::ok || a.begun)
    return s.fail(Mp4Result::badInput, "the sound to take was not begun on its own");
  if (s.knowSound(a.sound, a.totalFrames) != Mp4Result::ok || s.load() != Mp4Result::ok) return s.result;
  s.audioPts = a.audioPts;
  s.audio = std::exchange(a.audio, nullptr);
  s.swr = std::exchange(a.swr, nullptr);
  s.fifo = std::exchange(a.fifo, nullptr);
  s.audioFrame = std::exchange(a.audioFrame, nullptr);
  s.inFormat = a.inFormat;
  s.soundBytes = std::move(a.soundBytes);
  s.keptSizes = std::move(a.keptSizes);
  s.packets = a.packets;
  s.lastDuration = a.lastDuration;
  s.unevenDurations = a.unevenDurations;
  s.soundTotal = a.soundTotal;
  a.soundBegun = false;
  s.soundBegun = true;
  return s.startFile();
}

Mp4Result Mp4Writer::State::scaleSlice() {
  if (sliceRows == 0) return Mp4Result::ok;
  const uint8_t* src[4] = {slice.data(), nullptr, nullptr, nullptr};
  const int stride[4] = {int(sliceStride), 0, 0, 0};
  av().sws_scale(sws, src, stride, rowsIn - sliceRows, sliceRows, stored->data, stored->linesize);
  sliceRows = 0;
  return Mp4Result::ok;
}

Mp4Result Mp4Writer::addPictureRows(const std::uint8_t* rows, std::size_t stride, int count) {
  State& s = *s_;
  if (s.result != Mp4Result::ok) return s.result;
  if (!s.begun || s.sws == nullptr || count < 0 || s.rowsIn + count > s.picture.sourceHeight)
    return s.fail(Mp4Result::badInput, "more picture rows than the picture has");
  const std::size_t rowBytes = std::size_t(s.picture.sourceWidth) * s.picture.channels;
  for (int y = 0; y < count; ++y) {
    std::memcpy(s.slice.data() + s.sliceStride * s.sliceRows, rows + stride * y, rowBytes);
    ++s.sliceRows;
    ++s.rowsIn;
    if (s.sliceRows == kRowsPerSlice || s.rowsIn == s.picture.sourceHeight) s.scaleSlice();
  }
  if (s.rowsIn < s.picture.sourceHeight) return Mp4Result::ok;

  // The whole picture is in: turn it upright, encode it, and keep its one packet for the file.
  // Each buffer goes as soon as it has served: the encoder's own copies of a large frame are
  // what bounds the memory.
  s.slice = {};
  av().sws_freeContext(s.sws);
  s.sws = nullptr;
  if (s.picture.orientation == 1) {
    std::swap(s.frame, s.stored);  // already upright: encoded as it is
  } else {
    s.frame->width = s.picture.outWidth;
    s.frame->height = s.picture.outHeight;
    s.frame->format = AV_PIX_FMT_YUV420P;
    if (av().av_frame_get_buffer(s.frame, 0) < 0) return s.fail(Mp4Result::noMemory, "not enough memory");
    for (int plane = 0; plane < 3; ++plane) {
      const int shift = plane == 0 ? 0 : 1;
      OrientPlane(s.stored->data[plane], s.stored->linesize[plane], s.stored->width >> shift,
                  s.stored->height >> shift, s.picture.orientation, s.frame->data[plane], s.frame->linesize[plane]);
    }
  }
  av().av_frame_free(&s.stored);
  s.frame->pts = 0;
  s.frame->pict_type = AV_PICTURE_TYPE_I;
  s.frame->color_range = AVCOL_RANGE_MPEG;
  s.frame->colorspace = AVCOL_SPC_BT709;
  s.frame->color_primaries = AVCOL_PRI_BT709;
  s.frame->color_trc = AVCOL_TRC_BT709;
  int err = av().avcodec_send_frame(s.video, s.frame);
  if (err < 0) return s.failAv(err, "the H.264 encoder failed");
  av().av_frame_free(&s.frame);
  err = av().avcodec_send_frame(s.video, nullptr);
  if (err < 0) return s.failAv(err, "the H.264 encoder failed");
  if (s.takePackets(s.video) != Mp4Result::ok) return s.result;
  av().avcodec_free_context(&s.video);  // its frames stay allocated until it is closed
  if (s.videoSample.empty()) return s.fail(Mp4Result::encoderFailed, "the H.264 encoder gave no picture");
  s.videoDone = true;
  return s.startFile();
}

Mp4Result Mp4Writer::State::takePackets(AVCodecContext* codec) {
  for (;;) {
    int err = av().avcodec_receive_packet(codec, packet);
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return Mp4Result::ok;
    if (err < 0) return failAv(err, "the encoder failed");
    const std::span<const std::uint8_t> data(packet->data, std::size_t(std::max(0, packet->size)));
    if (codec == video) {
      const std::vector<std::uint8_t> units = Mp4LengthPrefixed(data);
      videoSample.insert(videoSample.end(), units.begin(), units.end());
    } else if (takeSoundPacket(data.data(), std::uint32_t(data.size()), std::uint32_t(std::max<std::int64_t>(0, packet->duration))) !=
               Mp4Result::ok) {
      return result;
    }
    av().av_packet_unref(packet);
  }
}

Mp4Result Mp4Writer::State::encodeAudio(bool flushing) {
  const int size = audio->frame_size;
  while (av().av_audio_fifo_size(fifo) >= size || (flushing && av().av_audio_fifo_size(fifo) > 0)) {
    const int n = std::min(size, av().av_audio_fifo_size(fifo));
    av().av_frame_unref(audioFrame);
    audioFrame->nb_samples = n;
    audioFrame->format = AV_SAMPLE_FMT_FLTP;
    audioFrame->sample_rate = audio->sample_rate;
    if (av().av_channel_layout_copy(&audioFrame->ch_layout, &audio->ch_layout) < 0 || av().av_frame_get_buffer(audioFrame, 0) < 0)
      return fail(Mp4Result::noMemory, "not enough memory");
    av().av_audio_fifo_read(fifo, reinterpret_cast<void**>(audioFrame->data), n);
    audioFrame->pts = audioPts;
    audioPts += n;
    int err = av().avcodec_send_frame(audio, audioFrame);
    if (err < 0) return failAv(err, "the AAC encoder failed");
    if (takePackets(audio) != Mp4Result::ok) return result;
  }
  if (flushing) {
    int err = av().avcodec_send_frame(audio, nullptr);
    if (err < 0) return failAv(err, "the AAC encoder failed");
    return takePackets(audio);
  }
  return Mp4Result::ok;
}

namespace {
// Float samples may hold any value. Far outside the nominal -1 to 1 (where every player clips),
// the AAC encoder's search never ends, so such samples are clipped, and NaN is silence. In-range
// samples are handed on as they are, uncopied.
template <typename T>
const std::uint8_t* clipped(const std::uint8_t* samples, std::size_t values, std::vector<std::uint8_t>* copy) {
  auto outside = [](T v) { return !(v >= T(-1) && v <= T(1)); };
  std::size_t i = 0;
  for (T v; i < values; ++i) {
    std::memcpy(&v, samples + i * sizeof(T), sizeof(T));
    if (outside(v)) break;
  }
  if (i == values) return samples;
  copy->assign(samples, samples + values * sizeof(T));
  for (; i < values; ++i) {
    T v;
    std::memcpy(&v, copy->data() + i * sizeof(T), sizeof(T));
    if (!outside(v)) continue;
    v = v != v ? T(0) : v > 0 ? T(1) : T(-1);
    std::memcpy(copy->data() + i * sizeof(T), &v, sizeof(T));
  }
  return copy->data();
}

const std::uint8_t* clippedFloats(const std::uint8_t* samples, std::size_t values, bool wide,
                                  std::vector<std::uint8_t>* copy) {
  return wide ? clipped<double>(samples, values, copy) : clipped<float>(samples, values, copy);
}
}  // namespace

Mp4Result Mp4Writer::addSound(const std::uint8_t* samples, std::size_t frames) {
  State& s = *s_;
  if (s.result != Mp4Result::ok) return s.result;
  if (!s.soundBegun || s.swr == nullptr) return s.fail(Mp4Result::badInput, "sound before the writer was begun");
  if (frames == 0) return Mp4Result::ok;
  const std::size_t values = frames * std::size_t(s.sound.channels);
  const uint8_t* in = samples;
  // 24-bit samples go up into 32-bit ones, signed 8-bit ones to the unsigned form.
  if (s.sound.bits == 24 || (s.sound.bits == 8 && s.sound.isSigned)) {
    const std::size_t width = s.sound.bits == 24 ? 4 : 1;
    s.widened.resize(values * width);
    for (std::size_t i = 0; i < values; ++i) {
      if (width == 4) {
        const uint8_t* p = samples + 3 * i;
        const std::uint32_t v = (std::uint32_t(p[0]) << 8) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 24);
        std::memcpy(s.widened.data() + 4 * i, &v, 4);
      } else {
        s.widened[i] = uint8_t(samples[i] ^ 0x80);
      }
    }
    in = s.widened.data();
  } else if (s.sound.isFloat) {
    in = clippedFloats(samples, values, s.sound.bits == 64, &s.widened);
  }
  const int outMax = av().swr_get_out_samples(s.swr, int(frames));
  if (outMax < 0) return s.failAv(outMax, "the recording cannot be resampled");
  std::vector<uint8_t*> planes(std::size_t(s.audio->ch_layout.nb_channels));
  if (av().av_samples_alloc(planes.data(), nullptr, s.audio->ch_layout.nb_channels, outMax, AV_SAMPLE_FMT_FLTP, 0) < 0)
    return s.fail(Mp4Result::noMemory, "not enough memory");
  const uint8_t* inPlanes[1] = {in};
  const int got = av().swr_convert(s.swr, planes.data(), outMax, inPlanes, int(frames));
  int err = got < 0 ? got : av().av_audio_fifo_write(s.fifo, reinterpret_cast<void**>(planes.data()), got);
  av().av_freep(&planes[0]);
  if (err < 0) return s.failAv(err, "the recording cannot be resampled");
  return s.encodeAudio(false);
}

Mp4Result Mp4Writer::finish() {
  State& s = *s_;
  if (s.result != Mp4Result::ok) return s.result;
  if (!s.begun || s.finished) return s.fail(Mp4Result::badInput, "finish without a begun writer");
  s.finished = true;
  if (s.rowsIn < s.picture.sourceHeight) return s.fail(Mp4Result::badInput, "the picture was not given whole");
  if (!s.fileStarted) return s.fail(Mp4Result::badInput, "finish without the recording");
  // What the resampler still holds.
  const int outMax = av().swr_get_out_samples(s.swr, 0);
  if (outMax > 0) {
    std::vector<uint8_t*> planes(std::size_t(s.audio->ch_layout.nb_channels));
    if (av().av_samples_alloc(planes.data(), nullptr, s.audio->ch_layout.nb_channels, outMax, AV_SAMPLE_FMT_FLTP, 0) < 0)
      return s.fail(Mp4Result::noMemory, "not enough memory");
    const int got = av().swr_convert(s.swr, planes.data(), outMax, nullptr, 0);
    if (got > 0) av().av_audio_fifo_write(s.fifo, reinterpret_cast<void**>(planes.data()), got);
    av().av_freep(&planes[0]);
  }
  if (s.encodeAudio(true) != Mp4Result::ok) return s.result;
  return s.finishFile();
}

}  // namespace media
