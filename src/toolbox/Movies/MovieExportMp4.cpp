// SPDX-License-Identifier: GPL-2.0-or-later
// The MPEG-4 movie exporter: a movie of one still frame and a sound track, written as an MP4 that
// browsers and phones play (H.264 and AAC), or as a motion photo (the photograph with that MP4
// appended). The frame is turned upright as the track's matrix shows it and the sound starts at 0.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>
#include <cstring>
#include <memory>
#include <vector>

#include "media/JpegCodec.h"
#include "media/JpegStructure.h"
#include "media/MotionPhoto.h"
#include "media/Mp4Writer.h"
#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Descriptors.h"
#include "toolbox/Files/FileContents.h"
#include "toolbox/Files/SafeSave.h"
#include "toolbox/Movies/MediaStatus.h"
#include "toolbox/Movies/MovieModel.h"
#include "toolbox/Movies/Mp4MetadataKeys.h"
#include "toolbox/Movies/Movies.h"
#include "toolbox/Movies/Mp4MovieExporter.h"

using namespace movies;

namespace {

constexpr std::size_t kSoundPieceBytes = 64 * 1024;
// A sound up to this long is copied for the exporter to encode ahead (about 4 minutes of 16 kHz
// mono); a longer one is encoded at export, a piece at a time.
constexpr UInt64 kSoundAheadBytes = 8u << 20;

// The EXIF orientation whose picture the matrix stands upright (the inverse of the placements
// the movie assembly sets); 1 for any other matrix.
int orientationOf(const MatrixRecord& m) {
  auto sign = [](Fixed v) { return v > 0 ? 1 : v < 0 ? -1 : 0; };
  const int a = sign(m.matrix[0][0]), b = sign(m.matrix[0][1]), c = sign(m.matrix[1][0]), d = sign(m.matrix[1][1]);
  struct Row {
    int a, b, c, d, orientation;
  } static constexpr kRows[] = {{1, 0, 0, 1, 1},  {-1, 0, 0, 1, 2}, {-1, 0, 0, -1, 3}, {1, 0, 0, -1, 4},
                                {0, 1, 1, 0, 5},  {0, 1, -1, 0, 6}, {0, -1, -1, 0, 7}, {0, -1, 1, 0, 8}};
  for (const Row& r : kRows)
    if (r.a == a && r.b == b && r.c == c && r.d == d) return r.orientation;
  return 1;
}

TrackType* trackOf(MovieType& m, OSType type) {
  for (auto& t : m.tracks)
    if (t->media && t->media->type == type && !t->media->chunks.empty()) return t.get();
  return nullptr;
}

// The sound media's linear PCM as the MP4 writer takes it; false for anything else.
bool pcmLayoutOf(const MediaType& media, media::PcmLayout* out, bool* bigEndian) {
  if (media.descriptions.empty()) return false;
  const std::vector<UInt8>& d = media.descriptions[0];
  if (d.size() < 36) return false;
  const OSType format = ReadBigEndian32(d.data() + 4);
  const UInt16 version = ReadBigEndian16(d.data() + 16);
  *bigEndian = false;
  if (version == 0 || version == 1) {
    out->channels = ReadBigEndian16(d.data() + 24);
    out->bits = ReadBigEndian16(d.data() + 26);
    out->rate = int(ReadBigEndian32(d.data() + 32) >> 16);
    out->isFloat = false;
    out->isSigned = format != kSoundFormat8BitOffsetBinary;
    *bigEndian = format == kSoundFormatTwos;
    return format == kSoundFormatTwosLittleEndian || format == kSoundFormatTwos || format == kSoundFormat8BitOffsetBinary;
  }
  if (version != 2 || d.size() < 72 || format != kAudioFormatLinearPCM) return false;
  UInt64 rateBits = (UInt64(ReadBigEndian32(d.data() + 40)) << 32) | ReadBigEndian32(d.data() + 44);
  double rate = 0;
  std::memcpy(&rate, &rateBits, sizeof rate);
  const UInt32 flags = ReadBigEndian32(d.data() + 60);
  out->rate = int(rate + 0.5);
  out->channels = int(ReadBigEndian32(d.data() + 48));
  out->bits = int(ReadBigEndian32(d.data() + 56));
  out->isFloat = (flags & kAudioFormatFlagIsFloat) != 0;
  out->isSigned = (flags & kAudioFormatFlagIsSignedInteger) != 0 || out->isFloat;
  *bigEndian = (flags & kAudioFormatFlagIsBigEndian) != 0;
  return true;
}

// The movie's sound as the MP4 writer takes it.
struct SoundOfMovie {
  media::PcmLayout layout;
  bool bigEndian = false;
  UInt64 frames = 0;
  std::size_t frameBytes = 0;
};

// noErr and the sound when the movie has a sound track of linear PCM with samples.
OSErr soundOf(MovieType& m, TrackType** track, SoundOfMovie* out) {
  *track = trackOf(m, SoundMediaType);
  if (*track == nullptr) return noMediaHandler;
  if (!pcmLayoutOf(*(*track)->media, &out->layout, &out->bigEndian)) return noCodecErr;
  for (const Chunk& c : (*track)->media->chunks) out->frames += c.sampleCount;
  out->frameBytes = std::size_t(out->layout.channels) * std::size_t(out->layout.bits / 8);
  return out->frameBytes == 0 || out->frames == 0 ? noMediaHandler : noErr;
}

// Hands the track's samples to take a piece at a time, little-endian, in order.
template <typename Take>
OSErr readSound(MovieType& m, const TrackType& track, const SoundOfMovie& sound, Take take) {
  std::vector<UInt8> piece;
  const std::size_t framesPerPiece = std::max<std::size_t>(1, kSoundPieceBytes / sound.frameBytes);
  for (const Chunk& c : track.media->chunks) {
    for (UInt64 done = 0; done < c.sampleCount;) {
      const std::size_t n = std::size_t(std::min<UInt64>(framesPerPiece, c.sampleCount - done));
      piece.resize(n * sound.frameBytes);
      if (OSErr err = m.store->read(c.offset + done * sound.frameBytes, piece.data(), piece.size()); err != noErr)
        return err;
      if (sound.bigEndian && sound.layout.bits > 8) {
        const std::size_t width = std::size_t(sound.layout.bits / 8);
        for (std::size_t i = 0; i + width <= piece.size(); i += width) std::reverse(&piece[i], &piece[i + width]);
      }
      if (OSErr err = take(piece.data(), n); err != noErr) return err;
      done += n;
    }
  }
  return noErr;
}

// The frame's rows go to the writer as the decoder delivers them; the writer starts once the
// decoded size is known.
class FrameRows final : public media::PixelRowSink {
 public:
  FrameRows(media::Mp4Writer& writer, const media::Mp4Picture& picture, const media::PcmLayout& sound,
            UInt64 frames)
      : writer_(writer), picture_(picture), sound_(sound), frames_(frames) {}
  media::Status begin(int width, int height, int channels) override {
    picture_.sourceWidth = width;
    picture_.sourceHeight = height;
    picture_.channels = channels;
    row_.resize(std::size_t(width) * std::size_t(channels));
    result_ = writer_.beginPicture(picture_, sound_, frames_);
    return result_ == media::Mp4Result::ok ? media::Status::ok : media::Status::badArgument;
  }
  std::uint8_t* rowBuffer(int) override { return row_.data(); }
  void rowFilled(int) override {
    if (result_ == media::Mp4Result::ok) result_ = writer_.addPictureRows(row_.data(), row_.size(), 1);
  }
  media::Mp4Result result() const { return result_; }

 private:
  media::Mp4Writer& writer_;
  media::Mp4Picture picture_;
  media::PcmLayout sound_;
  UInt64 frames_;
  std::vector<std::uint8_t> row_;
  media::Mp4Result result_ = media::Mp4Result::badInput;
};

OSErr osErrOf(const media::Mp4Writer& writer, media::Mp4Result result) {
  switch (result) {
    case media::Mp4Result::ok: return noErr;
    case media::Mp4Result::writeFailed: return OSErrFromErrno(writer.systemError() != 0 ? writer.systemError() : EIO);
    case media::Mp4Result::noMemory: return memFullErr;
    case media::Mp4Result::encoderMissing: return cantFindHandler;
    case media::Mp4Result::badInput:
    case media::Mp4Result::encoderFailed: return codecErr;
  }
  return codecErr;
}

// The movie's creation time and user data as MP4 metadata.
void addMetadata(const MovieType& m, media::Mp4Writer& writer) {
  // Seconds since 1904 as ISO 8601.
  const std::time_t unix = std::time_t(m.creationTime) - std::time_t(2082844800);
  char date[32];
  std::tm utc{};
  if (gmtime_r(&unix, &utc) != nullptr && std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc) > 0)
    writer.setMetadata("creation_time", date);
  for (const UserDataRecord::Item& item : m.userData.items) {
    if (item.body.size() < 4) continue;
    const std::size_t length = std::min<std::size_t>(ReadBigEndian16(item.body.data()), item.body.size() - 4);
    const std::string text(reinterpret_cast<const char*>(item.body.data()) + 4, length);
    // The mark is the writer's own; the place also goes where 3GPP readers look.
    if (item.type == FOUR_CHAR_CODE("\xA9swr")) continue;
    if (item.type == FOUR_CHAR_CODE("\xA9xyz")) writer.setMetadata("location", text);
    writer.setMetadata(Mp4KeyForUserDataType(item.type), text);
  }
}

// Writes the MP4 of the movie to fd (open for reading and writing, at 0); with the sound already
// encoded when the exporter holds it.
OSErr writeMp4(MovieType& m, int fd, ComponentInstance exporter) {
  TrackType* video = trackOf(m, VideoMediaType);
  if (video == nullptr) return noVideoTrackInMovieErr;
  TrackType* soundTrack = nullptr;
  SoundOfMovie sound;
  if (OSErr err = soundOf(m, &soundTrack, &sound); err != noErr) return err;
  const media::PcmLayout& layout = sound.layout;
  const UInt64 frames = sound.frames;

  // The frame: the video media's one sample, a JPEG.
  const Chunk& sample = video->media->chunks.front();
  std::vector<UInt8> ownCopy;
  const UInt8* jpeg = m.store->view(sample.offset, sample.sampleSize);
  if (jpeg == nullptr) {
    ownCopy.resize(sample.sampleSize);
    if (OSErr err = m.store->read(sample.offset, ownCopy.data(), ownCopy.size()); err != noErr) return err;
    jpeg = ownCopy.data();
  }
  media::JpegLayout jpegLayout;
  if (media::ParseJpegLayout(jpeg, sample.sampleSize, &jpegLayout) != media::Status::ok) return codecBadDataErr;

  media::Mp4Picture picture;
  picture.orientation = orientationOf(video->matrix);
  const bool turned = picture.orientation >= 5;
  const int trackWidth = video->width >> 16, trackHeight = video->height >> 16;
  media::Mp4FrameSize(int(jpegLayout.width), int(jpegLayout.height), picture.orientation,
                      turned ? trackHeight : trackWidth, turned ? trackWidth : trackHeight, &picture.outWidth,
                      &picture.outHeight);

  media::Mp4Writer writer(fd);
  addMetadata(m, writer);
  FrameRows rows(writer, picture, layout, frames);
  // Decoded no larger than the frame needs (in its stored orientation).
  const int storedWidth = turned ? picture.outHeight : picture.outWidth;
  const int storedHeight = turned ? picture.outWidth : picture.outHeight;
  OSErr err = OSErrOf(media::JpegDecodeScaled(jpeg, sample.sampleSize, UInt32(storedWidth), UInt32(storedHeight), &rows));
  if (rows.result() != media::Mp4Result::ok) return osErrOf(writer, rows.result());
  if (err != noErr) return err;

  // The sound as the exporter encoded it meanwhile, else a piece at a time now.
  auto* ahead = dynamic_cast<Mp4MovieExporter*>(exporter);
  if (std::unique_ptr<media::Mp4Writer> encoded = ahead ? ahead->takeWriter(&m, layout, frames) : nullptr) {
    if (const media::Mp4Result r = writer.adoptSound(*encoded); r != media::Mp4Result::ok) return osErrOf(writer, r);
  } else {
    if (const media::Mp4Result r = writer.beginSound(layout, frames); r != media::Mp4Result::ok)
      return osErrOf(writer, r);
    err = readSound(m, *soundTrack, sound, [&](const UInt8* samples, std::size_t n) {
      const media::Mp4Result r = writer.addSound(samples, n);
      return r == media::Mp4Result::ok ? noErr : osErrOf(writer, r);
    });
    if (err != noErr) return err;
  }
  return osErrOf(writer, writer.finish());
}

// Copies everything in fd from its start to out.
OSErr copyAll(int fd, int out) {
  std::vector<UInt8> buffer(256 * 1024);
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, buffer.data(), buffer.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return OSErrFromErrno(errno);
    if (n == 0) return noErr;
    if (OSErr err = FSWriteAll(out, buffer.data(), std::size_t(n)); err != noErr) return err;
    at += n;
  }
}

}  // namespace

OSErr ConvertMovieToFile(Movie theMovie, Track, FSSpec* outputFile, OSType fileType, OSType creator, ScriptCode,
                         short*, long flags, ComponentInstance userComp) {
  MovieType* m = get(theMovie);
  if (m == nullptr || outputFile == nullptr) return invalidMovie;
  if (fileType != kQTFileTypeMP4) return badComponentType;
  FInfo info{};
  info.fdType = kQTFileTypeMP4;
  info.fdCreator = creator;
  const bool replace = (flags & createMovieFileDeleteCurFile) != 0;
  return FSpSaveFile(outputFile, replace, [&](int fd) { return writeMp4(*m, fd, userComp); }, &info);
}

OSErr ConvertMovieToMotionPhoto(Movie theMovie, const FSSpec* photograph, const FSSpec* outputFile, long flags,
                                ComponentInstance userComp) {
  MovieType* m = get(theMovie);
  if (m == nullptr || photograph == nullptr || outputFile == nullptr) return paramErr;
  // The conversion's own bytes of the photograph when it holds them: read once, as they were.
  FSContentsRef photo;
  std::string why;
  OSErr err = FSpReadFileContents(photograph, &photo, &why);
  if (err != noErr) return err;
  if (IsMotionPhotoData(photo->data(), photo->size())) return badFileFormat;

  // The MP4 first, into a working file of its own: its length goes into the still's XMP.
  FSSpec working{};
  err = FSpCreateTemporary(outputFile, "motion.mp4", &working);
  if (err != noErr) return err;
  int fd = -1;
  err = FSpOpenDescriptor(&working, O_RDWR, &fd);
  if (err == noErr) err = writeMp4(*m, fd, userComp);
  off_t videoLength = err == noErr ? lseek(fd, 0, SEEK_END) : -1;
  if (err == noErr && videoLength <= 0) err = ioErr;
  std::optional<std::string> still;
  std::string tail;  // what followed the photograph's picture, written after the movie
  if (err == noErr) {
    still = media::MotionPhotoStill(photo->data(), photo->size(), UInt64(videoLength), &why, &tail);
    if (!still) err = codecBadDataErr;
  }
  if (err == noErr) {
    FInfo info{};
    info.fdType = kQTFileTypeJPEG;
    err = FSpSaveFile(
        outputFile, (flags & createMovieFileDeleteCurFile) != 0,
        [&](int out) {
          OSErr e = FSWriteAll(out, still->data(), still->size());
          if (e == noErr) e = copyAll(fd, out);
          return e != noErr ? e : FSWriteAll(out, tail.data(), tail.size());
        },
        &info);
  }
  if (fd >= 0) close(fd);
  FSpDelete(&working);
  return err;
}

Boolean IsMotionPhotoData(const UInt8* data, std::size_t size) { return media::IsMotionPhoto(data, size); }

OSErr MovieExportStartSound(ComponentInstance exporter, Movie theMovie) {
  auto* ahead = dynamic_cast<Mp4MovieExporter*>(exporter);
  MovieType* m = get(theMovie);
  if (ahead == nullptr || m == nullptr) return paramErr;
  TrackType* track = nullptr;
  SoundOfMovie sound;
  if (soundOf(*m, &track, &sound) != noErr || sound.frames > kSoundAheadBytes / sound.frameBytes) return noErr;
  std::vector<UInt8> samples;
  samples.reserve(std::size_t(sound.frames * sound.frameBytes));
  const OSErr err = readSound(*m, *track, sound, [&](const UInt8* piece, std::size_t n) {
    samples.insert(samples.end(), piece, piece + n * sound.frameBytes);
    return noErr;
  });
  if (err == noErr) ahead->startSound(m, sound.layout, sound.frames, std::move(samples));
  return err;
}
