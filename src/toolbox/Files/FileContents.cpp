// SPDX-License-Identifier: GPL-2.0-or-later
// Held file contents: a short list of what conversions hold, matched by the file's identity
// with one stat, so that holding never costs more than the read it saves.
#include "toolbox/Files/FileContents.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "toolbox/Core/MacErrors.h"

namespace {

std::mutex gHeldLock;
std::vector<FSContentsRef>& held() {
  static std::vector<FSContentsRef> contents;
  return contents;
}

bool sameTime(const struct timespec& a, const struct timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

FSContentsRef heldContentsOf(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(gHeldLock);
    if (held().empty()) return nullptr;
  }
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  std::lock_guard<std::mutex> lock(gHeldLock);
  for (const FSContentsRef& c : held())
    if (c->isContentsOf(st)) return c;
  return nullptr;
}

}  // namespace

FSFileContents::FSFileContents(FSBlock bytes, std::size_t size, const struct stat& st, int fd,
                               std::vector<FSByteRange> gaps)
    : bytes_(std::move(bytes)), size_(size), fileSize_(st.st_size > 0 ? UInt64(st.st_size) : 0), fd_(fd), identity_(st),
      gaps_(fd >= 0 ? std::move(gaps) : std::vector<FSByteRange>{}) {
  // Held whole (or the file shrank while it was read): what was read is the file.
  if (fileSize_ <= size_ && gaps_.empty()) {
    fileSize_ = size_;
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
}

FSFileContents::~FSFileContents() {
  if (fd_ >= 0) close(fd_);
}

bool FSFileContents::readAt(UInt64 offset, UInt8* out, std::size_t n) const {
  if (offset > fileSize_ || n > fileSize_ - offset) return false;
  // The first gap that ends past offset; held bytes run up to it.
  auto gap = std::upper_bound(gaps_.begin(), gaps_.end(), offset,
                              [](UInt64 at, const FSByteRange& g) { return at < g.end(); });
  while (n > 0 && offset < size_) {
    const bool inGap = gap != gaps_.end() && gap->offset <= offset;
    const UInt64 stop = std::min<UInt64>(gap == gaps_.end() ? size_ : inGap ? gap->end() : gap->offset, size_);
    const std::size_t part = std::size_t(std::min<UInt64>(n, stop - offset));
    if (inGap) {
      if (fd_ < 0 || !FSReadAt(fd_, offset, out, part)) return false;
      ++gap;
    } else {
      std::memcpy(out, bytes_.get() + offset, part);
    }
    out += part, offset += part, n -= part;
  }
  return n == 0 || (fd_ >= 0 && FSReadAt(fd_, offset, out, n));
}

bool FSFileContents::fillGaps() const {
  std::lock_guard<std::mutex> lock(filling_);
  if (filled_) return true;
  // The block is ours and its gaps are read by no one from data(): writing them changes nothing
  // any reader has seen.
  for (const FSByteRange& g : gaps_)
    if (!FSReadAt(fd_, g.offset, bytes_.get() + g.offset, std::size_t(g.length))) return false;
  filled_ = true;
  return true;
}

bool FSFileContents::isContentsOf(const struct stat& st) const {
  return st.st_dev == identity_.st_dev && st.st_ino == identity_.st_ino && st.st_size == identity_.st_size &&
         UInt64(st.st_size) == fileSize_ && sameTime(st.st_mtim, identity_.st_mtim) &&
         sameTime(st.st_ctim, identity_.st_ctim);
}

OSErr FSReadFileContents(const std::string& path, FSContentsRef* contents, std::string* reason, UInt64 maxBytes,
                         FSHeldLength held, FSUnheldParts unheld) {
  if (contents == nullptr) return paramErr;
  contents->reset();
  FSBlock bytes;
  std::size_t size = 0;
  struct stat st {};
  int fd = -1;
  std::vector<FSByteRange> gaps;
  const OSErr err = held ? FSReadRegularFileStart(path, held, unheld, &bytes, &size, &st, &fd, &gaps, reason, maxBytes)
                         : FSReadRegularFileInto(path, &bytes, &size, &st, reason, maxBytes);
  if (err != noErr) return err;
  *contents = std::make_shared<const FSFileContents>(std::move(bytes), size, st, fd, std::move(gaps));
  return noErr;
}

FSContentsHold::FSContentsHold(FSContentsRef contents) : contents_(std::move(contents)) {
  if (!contents_) return;
  std::lock_guard<std::mutex> lock(gHeldLock);
  held().push_back(contents_);
}

FSContentsHold::FSContentsHold(FSContentsHold&& other) noexcept : contents_(std::move(other.contents_)) {}

FSContentsHold& FSContentsHold::operator=(FSContentsHold&& other) noexcept {
  if (this != &other) {
    release();
    contents_ = std::move(other.contents_);
  }
  return *this;
}

FSContentsHold::~FSContentsHold() { release(); }

void FSContentsHold::release() {
  if (!contents_) return;
  std::lock_guard<std::mutex> lock(gHeldLock);
  auto& list = held();
  // One entry per hold: two holds of the same contents each remove their own.
  auto it = std::find(list.begin(), list.end(), contents_);
  if (it != list.end()) list.erase(it);
  contents_.reset();
}

OSErr FSpReadFileContents(const FSSpec* spec, FSContentsRef* contents, std::string* reason) {
  if (spec == nullptr || contents == nullptr) return paramErr;
  contents->reset();
  std::string path;
  OSErr err = FSpGetPath(spec, &path);
  if (err != noErr) return err;
  if (FSContentsRef c = heldContentsOf(path)) {
    *contents = std::move(c);
    return noErr;
  }
  return FSReadFileContents(path, contents, reason);
}
