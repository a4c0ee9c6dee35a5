// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the made-from record out of a movie's head: the top-level atoms up to the movie atom
// (ftyp, wide, free...), then its user data; one read of the head serves most movies whole, and
// a motion photo's MP4 is found after a read of the still's header segments.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "media/ByteOrder.h"
#include "media/MadeFrom.h"
#include "media/MotionPhoto.h"
#include "media/MovieAtoms.h"
#include "media/MovieUserData.h"

namespace media {
namespace {

// Our movie atoms take a kilobyte or two: one page holds them, and copies no more than it must;
// a longer one is read in a second go.
constexpr std::size_t kHeadRead = 4 * 1024;
constexpr std::uint64_t kLargestMovieAtom = 16u << 20;  // far beyond any header we write


struct Atom {
  std::uint32_t type = 0;
  std::uint64_t header = 0, size = 0;  // size includes the header
};

// The atom at p within avail bytes (of which the file has total after p); false when no whole
// header is there or the sizes make no sense.
bool atomAt(const unsigned char* p, std::uint64_t avail, std::uint64_t total, Atom* a) {
  if (avail < 8) return false;
  a->type = ReadBigEndian32(p + 4);
  a->size = ReadBigEndian32(p);
  a->header = 8;
  if (a->size == 1) {
    if (avail < 16) return false;
    a->size = ReadBigEndian64(p + 8);
    a->header = 16;
  } else if (a->size == 0) {
    a->size = total;
  }
  return a->size >= a->header && a->size <= total;
}

bool readAt(int fd, std::uint64_t at, unsigned char* into, std::size_t n, std::size_t* got) {
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

}  // namespace

std::optional<MadeFrom> ReadMadeFromMovie(const std::string& path) {
  // Non-blocking, so that a FIFO under the name is never waited on; a directory fails to read.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  std::vector<unsigned char> head(kHeadRead);
  std::size_t got = 0;
  if (!readAt(fd, 0, head.data(), head.size(), &got)) return std::nullopt;
  head.resize(got);
  auto fileSize = [&]() -> std::optional<std::uint64_t> {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return std::uint64_t(st.st_size);
  };
  std::uint64_t base = 0;
  // The file's size is asked for only when the head read does not tell it and an atom needs it.
  std::uint64_t total = got < kHeadRead ? got : UINT64_MAX;
  if (got >= 2 && head[0] == 0xFF && head[1] == 0xD8) {
    // A motion photo: its MP4 ends the file, as long as the still's XMP says. The XMP follows the
    // Exif segment, which a camera's thumbnail can take past the first read.
    std::optional<std::uint64_t> length = MotionPhotoVideoLength(head.data(), head.size());
    if (!length && got == kHeadRead) {
      head.resize(kMotionPhotoXmpReach);
      if (!readAt(fd, 0, head.data(), head.size(), &got)) return std::nullopt;
      head.resize(got);
      length = MotionPhotoVideoLength(head.data(), head.size());
    }
    const std::optional<std::uint64_t> size = length ? fileSize() : std::nullopt;
    if (!size || *length > *size) return std::nullopt;
    base = *size - *length;
    total = *length;
    head.resize(std::size_t(std::min<std::uint64_t>(kHeadRead, total)));
    if (!readAt(fd, base, head.data(), head.size(), &got)) return std::nullopt;
    head.resize(got);
  }
  std::vector<unsigned char> moov;
  // Movies put a handful of atoms before the movie atom; a file with more is not one we wrote.
  int atoms = 0;
  for (std::uint64_t at = 0; at < total && atoms++ < 64;) {
    unsigned char header[16];
    const unsigned char* h = header;
    std::uint64_t avail = 0;
    if (at < head.size()) {
      h = head.data() + at;
      avail = head.size() - at;
    } else if (readAt(fd, base + at, header, sizeof header, &got)) {
      avail = got;
    }
    Atom a;
    if (!atomAt(h, std::min(avail, total - at), total - at, &a)) return std::nullopt;
    if (a.size == total - at && total == UINT64_MAX) {  // "to the end of the file"
      const std::optional<std::uint64_t> size = fileSize();
      if (!size || at >= *size) return std::nullopt;
      total = *size;
      a.size = total - at;
    }
    if (a.type == fourCC("moov")) {
      const std::uint64_t body = a.size - a.header;
      if (body > kLargestMovieAtom) return std::nullopt;
      const std::uint64_t start = at + a.header;
      if (start + body <= head.size()) {
        moov.assign(head.begin() + long(start), head.begin() + long(start + body));
      } else {
        moov.resize(std::size_t(body));
        if (!readAt(fd, base + start, moov.data(), moov.size(), &got) || got != moov.size()) return std::nullopt;
      }
      break;
    }
    at += a.size;
  }
  if (moov.empty()) return std::nullopt;
  // An MP4 carries the record as a metadata item under the item type's four characters.
  const char key[] = {char(kMadeFromItemType >> 24), char(kMadeFromItemType >> 16), char(kMadeFromItemType >> 8),
                      char(kMadeFromItemType)};
  const std::optional<std::string> text =
      MovieUserDataText(std::span<const std::uint8_t>(moov), kMadeFromItemType, std::string_view(key, 4));
  if (!text) return std::nullopt;
  return DecodeMadeFrom(*text);
}

}  // namespace media
