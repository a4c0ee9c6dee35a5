// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the made-from record out of a movie's head: the top-level atoms up to the movie atom
// (ftyp, wide, free...), then moov/udta/s2mf; one read of the head serves most movies whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "media/ByteOrder.h"
#include "media/MadeFrom.h"
#include "media/MovieAtoms.h"

namespace media {
namespace {

// Our movie atoms take a kilobyte or two; a longer one is read in a second go.
constexpr std::size_t kHeadRead = 8 * 1024;
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

// The body of the first child of that type within [p, p + n), or nothing.
std::optional<std::pair<const unsigned char*, std::uint64_t>> child(const unsigned char* p, std::uint64_t n,
                                                                     std::uint32_t type) {
  for (std::uint64_t at = 0; at < n;) {
    Atom a;
    if (!atomAt(p + at, n - at, n - at, &a)) return std::nullopt;
    if (a.type == type) return std::make_pair(p + at + a.header, a.size - a.header);
    at += a.size;
  }
  return std::nullopt;
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
  // The file's size is asked for only when the head read does not tell it and an atom needs it.
  std::vector<unsigned char> head(kHeadRead);
  std::size_t got = 0;
  if (!readAt(fd, 0, head.data(), head.size(), &got)) return std::nullopt;
  head.resize(got);
  std::uint64_t total = got < kHeadRead ? got : UINT64_MAX;
  auto learnSize = [&] {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    total = std::uint64_t(st.st_size);
    return true;
  };
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
    } else if (readAt(fd, at, header, sizeof header, &got)) {
      avail = got;
    }
    Atom a;
    if (!atomAt(h, avail, total - at, &a)) return std::nullopt;
    if (a.size == total - at && total == UINT64_MAX) {  // "to the end of the file"
      if (!learnSize() || at >= total) return std::nullopt;
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
        if (!readAt(fd, start, moov.data(), moov.size(), &got) || got != moov.size()) return std::nullopt;
      }
      break;
    }
    at += a.size;
  }
  if (moov.empty()) return std::nullopt;
  const auto udta = child(moov.data(), moov.size(), fourCC("udta"));
  if (!udta) return std::nullopt;
  const auto item = child(udta->first, udta->second, kMadeFromItemType);
  // A text item: its length, its language, the text.
  if (!item || item->second < 4) return std::nullopt;
  const std::size_t length = ReadBigEndian16(item->first);
  if (length > item->second - 4) return std::nullopt;
  return DecodeMadeFrom(std::string_view(reinterpret_cast<const char*>(item->first + 4), length));
}

}  // namespace media
