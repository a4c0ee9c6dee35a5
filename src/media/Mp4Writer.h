// SPDX-License-Identifier: GPL-2.0-or-later
// An MP4 of one still picture lasting as long as a recording: H.264 (libx264) and AAC-LC through
// libavcodec, libswscale and libswresample, in our own boxes with the index first.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "media/Recording.h"

namespace media {

// How the writer ended; the words are in problem().
enum class Mp4Result {
  ok,
  badInput,       // sizes, sample layout or call order the writer cannot take
  encoderMissing, // libavcodec has no H.264 or AAC encoder
  encoderFailed,  // an encoder or a converter refused or failed
  writeFailed,    // the file could not be written; systemError() has the errno
  noMemory,
};

// The picture's rows arrive as stored (sourceWidth × sourceHeight, grey or RGB); the movie shows
// it turned upright by its EXIF orientation, at outWidth × outHeight (upright, even).
struct Mp4Picture {
  int sourceWidth = 0;
  int sourceHeight = 0;
  int channels = 0;  // 1 grey, 3 RGB
  int orientation = 1;
  int outWidth = 0;
  int outHeight = 0;
};

// Upright output size of a picture stored at width × height with that orientation: fitted into
// box (0 × 0: no box) keeping its shape, then into the largest size hardware decoders commonly
// take, with both sides even. Never enlarges.
void Mp4FrameSize(int width, int height, int orientation, int boxWidth, int boxHeight, int* outWidth,
                  int* outHeight);
// The sides beyond which a picture is scaled down (long × short).
constexpr int kMp4MaxLongSide = 4096;
constexpr int kMp4MaxShortSide = 2304;
// The recordings the sound is made from: resampled to an AAC rate, mixed down to at most stereo.
constexpr int kMp4MaxChannels = 8;
constexpr int kMp4MinRate = 1000;
constexpr int kMp4MaxRate = 384000;

// The encoder settings, named once: what the README and the bench report. For the one intra frame
// a photograph makes, veryfast gave a smaller file at a higher PSNR than medium on camera
// pictures, 2.5 times as fast; crf 20 keeps 44 dB and more; stillimage tunes for still content.
struct Mp4Settings {
  static constexpr const char* preset = "veryfast";
  static constexpr const char* tune = "stillimage";
  static constexpr int crf = 20;
  // twoloop keeps tones above 20 dB SNR from 11 kHz up, where "fast" falls below; at 8 kHz (camera
  // voice notes) "fast" kept 44-52 dB against twoloop's 22-30 dB, at half its cost.
  static constexpr const char* aacCoder = "twoloop";
  static constexpr const char* aacCoderNarrow = "fast";  // at aacNarrowRate and below
  static constexpr int aacNarrowRate = 8000;
  static constexpr int aacBitsPerChannel = 96000;  // at most; 4 bits a sample below 24 kHz
};

// Writes to a file descriptor open for reading and writing, positioned at 0 (a working file the
// caller publishes once finish() succeeds). Call order: begin, the picture's rows top to bottom,
// then the sound in any number of pieces, then finish. Either part may also be encoded first and
// kept in memory until the other is there: beginPicture and the rows, then beginSound and the
// sound's pieces (or adoptSound, taking the sound another writer encoded ahead with beginSound
// and its pieces, before any file was known), then finish. The first failure sticks.
class Mp4Writer {
 public:
  explicit Mp4Writer(int fd = -1);
  void setOutput(int fd);
  ~Mp4Writer();
  Mp4Writer(const Mp4Writer&) = delete;
  Mp4Writer& operator=(const Mp4Writer&) = delete;

  // Text items for the file's metadata, each under its key ("creation_time" in ISO 8601 also
  // dates the headers, "location" in ISO 6709 also gives the 3GPP location; any other key is
  // kept as it is). Set before begin; the program's mark goes in as "encoder" always.
  void setMetadata(const std::string& key, const std::string& value);

  // totalFrames: the recording's length in sample frames; the picture lasts exactly that long.
  Mp4Result begin(const Mp4Picture& picture, const PcmLayout& sound, std::uint64_t totalFrames);
  // The picture alone, for a recording of that layout and length that comes later.
  Mp4Result beginPicture(const Mp4Picture& picture, const PcmLayout& sound, std::uint64_t totalFrames);
  // The sound alone, before or after the picture.
  Mp4Result beginSound(const PcmLayout& sound, std::uint64_t totalFrames);
  // The sound ahead encoded by beginSound and addSound, all of it given; ahead is left empty.
  Mp4Result adoptSound(Mp4Writer& ahead);
  // count rows of sourceWidth × channels bytes, stride bytes apart.
  Mp4Result addPictureRows(const std::uint8_t* rows, std::size_t stride, int count);
  Mp4Result addSound(const std::uint8_t* samples, std::size_t frames);
  Mp4Result finish();

  const std::string& problem() const;
  int systemError() const;

  // The mark every file written here carries as its encoder item (ffprobe's "encoder").
  static const char* mark();
  static bool isMark(const std::string& text);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace media
