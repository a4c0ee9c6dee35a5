// SPDX-License-Identifier: GPL-2.0-or-later
// The movie head reader: a page of the file, the atoms it holds up to the movie atom, a motion
// photo's MP4 found through the still's XMP; a second read only for what the page does not hold.
#include "media/MovieHead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "media/AtomWalk.h"
#include "media/ByteOrder.h"
#include "media/JpegMarkers.h"
#include "media/MotionPhotoXmp.h"

namespace media {
namespace {

// Our movie atoms take a kilobyte or two: one page holds them, and copies no more than it must.
constexpr std::size_t kPage = 4 * 1024;
constexpr std::uint64_t kLargestMovieAtom = 64u << 20;  // far beyond any header we write
// Movies put a handful of atoms before the movie atom; a file with more is not one we wrote.
constexpr int kMostAtomsBeforeMovie = 64;
// A JPEG's header segments hold at most 64 KB each; this many reach past any photograph we read,
// and bound the walk of a file that is all tiny segments.
constexpr std::size_t kMostHeaderSegments = 1 << 15;

bool readAt(int fd, std::uint64_t at, std::uint8_t* into, std::size_t n, std::size_t* got) {
  *got = 0;
  while (*got < n) {
    const ssize_t r = pread(fd, into + *got, n - *got, off_t(at + *got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) break;
    *got += std::size_t(r);
  }
  return true;
}

// Some of the file's bytes: bytes[0] is the file's byte at.
struct Window {
  std::uint64_t at = 0;
  std::vector<std::uint8_t> bytes;
  bool holds(std::uint64_t from, std::uint64_t n) const {
    return from >= at && from - at <= bytes.size() && bytes.size() - (from - at) >= n;
  }
  bool fill(int fd, std::uint64_t from, std::size_t n) {
    bytes.resize(n);
    std::size_t got = 0;
    const bool ok = readAt(fd, from, bytes.data(), n, &got);
    bytes.resize(ok ? got : 0);
    at = from;
    return ok;
  }
};

std::optional<std::uint64_t> regularFileSize(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return std::nullopt;
  return std::uint64_t(st.st_size);
}

bool isXmpBody(const std::uint8_t* body) { return std::memcmp(body, kXmpSignature, sizeof kXmpSignature) == 0; }

}  // namespace

std::optional<std::string> ReadStandardXmp(int fd, std::uint64_t fileSize, std::span<const std::uint8_t> first) {
  if (!StartsWithSOI(first.data(), first.size())) return std::nullopt;
  Window w;
  w.bytes.assign(first.begin(), first.end());
  std::uint64_t pos = 2;
  auto markerAt = [&w](std::uint64_t p) {
    JpegMarkerWalker walk(w.bytes.data(), w.bytes.size(), std::size_t(p - w.at));
    return walk.next();
  };
  auto incomplete = [](const JpegMarker& m) {
    return m.kind == JpegMarker::Kind::end || (m.kind == JpegMarker::Kind::truncated && m.size < 4);
  };
  for (std::size_t n = 0; n < kMostHeaderSegments && pos < fileSize; ++n) {
    // The marker at pos, from the window, else from a page read there.
    if (!w.holds(pos, 4) && !w.fill(fd, pos, kPage)) return std::nullopt;
    JpegMarker m = markerAt(pos);
    if (incomplete(m) && w.at != pos) {
      if (!w.fill(fd, pos, kPage)) return std::nullopt;
      m = markerAt(pos);
    }
    if (incomplete(m)) return std::nullopt;
    const std::uint64_t at = w.at + m.offset;
    if (m.kind == JpegMarker::Kind::standalone) {
      pos = at + m.size;
      continue;
    }
    if (m.kind != JpegMarker::Kind::segment && m.kind != JpegMarker::Kind::truncated) return std::nullopt;
    if (m.code == jpeg::kSOS || at + m.size > fileSize) return std::nullopt;
    // An APP1 is read whole only when its signature (read first) says it is the XMP packet.
    if (m.code == jpeg::kAPP1 && m.bodySize() >= sizeof kXmpSignature) {
      if (!w.holds(at + 4, sizeof kXmpSignature) && !w.fill(fd, at, kPage)) return std::nullopt;
      if (w.holds(at + 4, sizeof kXmpSignature) && isXmpBody(w.bytes.data() + (at + 4 - w.at))) {
        if (!w.holds(at, m.size) && (!w.fill(fd, at, m.size) || w.bytes.size() != m.size)) return std::nullopt;
        const char* body = reinterpret_cast<const char*>(w.bytes.data() + (at - w.at) + 4);
        return std::string(body + sizeof kXmpSignature, m.bodySize() - sizeof kXmpSignature);
      }
    }
    pos = at + m.size;  // the payload itself is never read
  }
  return std::nullopt;
}

std::optional<MovieHead> ReadMovieHead(int fd) {
  Window w;
  if (!w.fill(fd, 0, kPage)) return std::nullopt;
  // The file's size is asked for only when the page does not tell it and something needs it.
  std::optional<std::uint64_t> size;
  if (w.bytes.size() < kPage) size = w.bytes.size();
  auto fileSize = [&]() -> std::optional<std::uint64_t> {
    return size = regularFileSize(fd);
  };
  MovieHead head;
  std::uint64_t total = size ? *size : UINT64_MAX;  // the movie's bytes from movieStart
  if (StartsWithSOI(w.bytes.data(), w.bytes.size())) {
    // A motion photo: its MP4 ends the file, as long as the still's XMP says.
    if (!fileSize()) return std::nullopt;
    const std::optional<std::string> packet = ReadStandardXmp(fd, *size, w.bytes);
    const std::optional<std::uint64_t> length = packet ? XmpMotionPhotoVideoLength(*packet) : std::nullopt;
    if (!length || *length > *size) return std::nullopt;
    head.motionPhoto = true;
    head.movieStart = *size - *length;
    total = *length;
    if (!w.fill(fd, head.movieStart, std::size_t(std::min<std::uint64_t>(kPage, total)))) return std::nullopt;
  }
  const std::uint64_t base = head.movieStart;
  int atoms = 0;
  for (std::uint64_t at = 0; at < total && atoms++ < kMostAtomsBeforeMovie;) {
    std::uint8_t header[16];
    const std::uint8_t* h = header;
    std::size_t avail = 0;
    if (w.holds(base + at, 1)) {
      h = w.bytes.data() + (base + at - w.at);
      avail = w.bytes.size() - std::size_t(base + at - w.at);
    } else if (!readAt(fd, base + at, header, sizeof header, &avail)) {
      return std::nullopt;
    }
    std::optional<AtomHeader> a = ReadAtomHeader(h, avail, total - at);
    if (!a) return std::nullopt;
    if (a->size == total - at && total == UINT64_MAX) {  // "to the end of the file"
      if (!fileSize() || base + at >= *size) return std::nullopt;
      total = *size - base;
      a->size = total - at;
    }
    if (a->type == fourCC("moov")) {
      const std::uint64_t body = a->size - a->headerSize, start = base + at + a->headerSize;
      if (body > kLargestMovieAtom) return std::nullopt;
      if (w.holds(start, body)) {
        const auto from = w.bytes.begin() + long(start - w.at);
        head.moov.assign(from, from + long(body));
      } else {
        // Past the page: a file shorter than the atom says costs no allocation of its size.
        if (!fileSize() || start + body > *size) return std::nullopt;
        head.moov.resize(std::size_t(body));
        std::size_t got = 0;
        if (!readAt(fd, start, head.moov.data(), head.moov.size(), &got) || got != head.moov.size()) return std::nullopt;
      }
      if (head.moov.empty()) return std::nullopt;
      return head;
    }
    at += a->size;
  }
  return std::nullopt;
}

std::optional<MovieHead> ReadMovieHeadAtPath(const std::string& path) {
  // Non-blocking, so that a FIFO under the name is never waited on; a directory fails to read.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::optional<MovieHead> head = ReadMovieHead(fd);
  close(fd);
  return head;
}

TrackDuration MovieTrackDuration(std::span<const std::uint8_t> moov, FourCC mediaType) {
  using Result = TrackDuration::Result;
  TrackDuration out;
  const auto mvhd = ChildAtom(moov, fourCC("mvhd"));
  if (!mvhd || mvhd->size() < 20) return out;
  const std::uint8_t* m = mvhd->data();
  const std::uint32_t scale = m[0] == 1 ? (mvhd->size() >= 24 ? ReadBigEndian32(m + 20) : 0) : ReadBigEndian32(m + 12);
  if (scale == 0 || scale > 0x7FFFFFFF) return out;
  out.movieScale = std::int32_t(scale);
  out.result = Result::noSuchTrack;
  for (std::span<const std::uint8_t> rest = moov;;) {
    const auto trak = ChildAtom(rest, fourCC("trak"));
    if (!trak) return out;
    rest = rest.subspan(std::size_t(trak->data() + trak->size() - rest.data()));
    const auto mdia = ChildAtom(*trak, fourCC("mdia"));
    const auto hdlr = mdia ? ChildAtom(*mdia, fourCC("hdlr")) : std::nullopt;
    if (!hdlr || hdlr->size() < 12 || ReadBigEndian32(hdlr->data() + 8) != mediaType) continue;
    const auto tkhd = ChildAtom(*trak, fourCC("tkhd"));
    out.result = Result::damagedTrack;
    if (!tkhd || tkhd->empty()) return out;
    const bool wide = (*tkhd)[0] == 1;
    if (tkhd->size() < (wide ? 36u : 24u)) return out;
    out.duration = wide ? ReadBigEndian64(tkhd->data() + 28) : ReadBigEndian32(tkhd->data() + 20);
    out.result = Result::found;
    return out;
  }
}

}  // namespace media
