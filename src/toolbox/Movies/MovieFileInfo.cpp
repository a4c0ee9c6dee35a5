// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a movie file back through its atoms: a track's duration by media type, and a user-data
// text item. Doubles as a check that the file on disk is a movie at all.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "media/MotionPhoto.h"
#include "media/MovieUserData.h"

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Descriptors.h"
#include "toolbox/Movies/Movies.h"
#include "toolbox/Movies/Mp4MetadataKeys.h"

namespace {

constexpr UInt64 kMaxMovieAtom = 64ULL << 20;  // far beyond any header this program writes

struct Span {
  const UInt8* begin;
  const UInt8* end;
};

// The body of the first child atom of that type, or an empty span.
Span child(Span parent, OSType type) {
  const UInt8* p = parent.begin;
  while (parent.end - p >= 8) {
    UInt64 size = ReadBigEndian32(p);
    size_t header = 8;
    if (size == 1) {
      if (parent.end - p < 16) break;
      size = ReadBigEndian64(p + 8);
      header = 16;
    } else if (size == 0) {
      size = UInt64(parent.end - p);
    }
    if (size < header || size > UInt64(parent.end - p)) break;
    if (ReadBigEndian32(p + 4) == type) return Span{p + header, p + size};
    p += size;
  }
  return Span{nullptr, nullptr};
}

bool empty(Span s) { return s.begin == nullptr; }
size_t length(Span s) { return size_t(s.end - s.begin); }

bool readAt(int fd, UInt64 at, void* bytes, size_t count) { return FSReadAt(fd, at, bytes, count) == noErr; }

// The body of the file's movie atom, found among the top-level atoms without reading samples.
// Only a regular file is opened, without following a link and without waiting on a FIFO.
OSErr readMovieAtom(const FSSpec* file, std::vector<UInt8>* moov) {
  moov->clear();
  int fd = -1;
  OSErr err = FSpOpenDescriptor(file, O_RDONLY | O_NONBLOCK, &fd);
  if (err != noErr) return err;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return invalidMovie;
  }
  UInt8 header[16];
  UInt64 at = 0;
  // A motion photo: the movie follows the photograph, as long as its XMP says.
  if (readAt(fd, 0, header, 2) && header[0] == 0xFF && header[1] == 0xD8) {
    std::vector<UInt8> head(size_t(std::min<UInt64>(UInt64(st.st_size), UInt64(media::kMotionPhotoXmpReach))));
    const auto length = readAt(fd, 0, head.data(), head.size()) ? media::MotionPhotoVideoLength(head.data(), head.size())
                                                                : std::nullopt;
    if (!length || *length > UInt64(st.st_size)) {
      close(fd);
      return invalidMovie;
    }
    at = UInt64(st.st_size) - *length;
  }
  while (readAt(fd, at, header, 8)) {
    UInt64 size = ReadBigEndian32(header);
    size_t headerSize = 8;
    if (size == 1) {
      if (!readAt(fd, at + 8, header + 8, 8)) break;
      size = ReadBigEndian64(header + 8);
      headerSize = 16;
    } else if (size == 0) {
      size = UInt64(st.st_size) - at;
    }
    if (size < headerSize) break;
    if (ReadBigEndian32(header + 4) == FOUR_CHAR_CODE("moov")) {
      if (size - headerSize > kMaxMovieAtom) break;
      moov->resize(size_t(size - headerSize));
      if (!readAt(fd, at + headerSize, moov->data(), moov->size())) moov->clear();
      break;
    }
    at += size;
  }
  close(fd);
  return moov->empty() ? invalidMovie : noErr;
}

}  // namespace

OSErr GetMovieFileTrackDuration(const FSSpec* file, OSType mediaType, TimeValue* duration, TimeScale* movieScale) {
  if (file == nullptr || duration == nullptr) return paramErr;
  *duration = 0;
  if (movieScale) *movieScale = 0;
  std::vector<UInt8> moov;
  OSErr err = readMovieAtom(file, &moov);
  if (err != noErr) return err == fnfErr ? fnfErr : invalidMovie;

  Span root{moov.data(), moov.data() + moov.size()};
  Span mvhd = child(root, FOUR_CHAR_CODE("mvhd"));
  if (empty(mvhd) || length(mvhd) < 20) return invalidMovie;
  TimeScale scale = TimeScale(mvhd.begin[0] == 1 ? (length(mvhd) >= 24 ? ReadBigEndian32(mvhd.begin + 20) : 0)
                                                 : ReadBigEndian32(mvhd.begin + 12));
  if (scale <= 0) return invalidMovie;
  if (movieScale) *movieScale = scale;

  for (Span rest = root; !empty(rest);) {
    Span trak = child(rest, FOUR_CHAR_CODE("trak"));
    if (empty(trak)) break;
    rest = Span{trak.end, root.end};
    Span hdlr = child(child(trak, FOUR_CHAR_CODE("mdia")), FOUR_CHAR_CODE("hdlr"));
    if (empty(hdlr) || length(hdlr) < 12 || ReadBigEndian32(hdlr.begin + 8) != mediaType) continue;
    Span tkhd = child(trak, FOUR_CHAR_CODE("tkhd"));
    if (empty(tkhd)) return invalidTrack;
    if (tkhd.begin[0] == 1) {
      if (length(tkhd) < 36) return invalidTrack;
      UInt64 d = ReadBigEndian64(tkhd.begin + 28);
      if (d > 0x7FFFFFFF) return invalidDuration;
      *duration = TimeValue(d);
    } else {
      if (length(tkhd) < 24) return invalidTrack;
      *duration = TimeValue(ReadBigEndian32(tkhd.begin + 20));
    }
    return noErr;
  }
  return noMediaHandler;
}

OSErr GetMovieFileUserDataText(const FSSpec* file, OSType udType, std::string* text) {
  if (file == nullptr || text == nullptr) return paramErr;
  text->clear();
  std::vector<UInt8> moov;
  OSErr err = readMovieAtom(file, &moov);
  if (err != noErr) return err == fnfErr ? fnfErr : invalidMovie;
  const std::optional<std::string> found =
      media::MovieUserDataText(std::span<const UInt8>(moov), udType, Mp4KeyForUserDataType(udType));
  if (!found) return userDataItemNotFound;
  *text = *found;
  return noErr;
}
