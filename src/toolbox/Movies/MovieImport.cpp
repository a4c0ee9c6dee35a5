// SPDX-License-Identifier: GPL-2.0-or-later
// Movie import entry points: open the file or the handle as a source and hand it to the importer.
// The importer copies what it takes into the movie, so nothing refers to the source afterwards.
#include "toolbox/Movies/MovieImport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <vector>

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"

namespace {

// Reads through a window of the file, so importers can take small blocks cheaply.
class FileSource : public ImportSource {
 public:
  FileSource(int fd, UInt64 size) : fd_(fd), size_(size) {}
  ~FileSource() override { close(fd_); }
  UInt64 size() const override { return size_; }
  size_t readAt(UInt64 offset, void* bytes, size_t count) const override {
    auto* p = static_cast<UInt8*>(bytes);
    size_t done = 0;
    while (done < count && offset + done < size_) {
      UInt64 at = offset + done;
      if (at < windowStart_ || at >= windowStart_ + windowLength_) {
        if (!fill(at)) break;
      }
      size_t from = size_t(at - windowStart_);
      size_t n = std::min(count - done, windowLength_ - from);
      std::memcpy(p + done, window_.data() + from, n);
      done += n;
    }
    return done;
  }

 private:
  bool fill(UInt64 at) const {
    window_.resize(kWindow);
    windowStart_ = at;
    windowLength_ = 0;
    while (windowLength_ < kWindow) {
      ssize_t n = pread(fd_, window_.data() + windowLength_, kWindow - windowLength_, off_t(at + windowLength_));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      windowLength_ += size_t(n);
    }
    return windowLength_ > 0;
  }

  static constexpr size_t kWindow = 64 * 1024;
  int fd_;
  UInt64 size_;
  mutable std::vector<UInt8> window_;
  mutable UInt64 windowStart_ = 0;
  mutable size_t windowLength_ = 0;
};

class MemorySource : public ImportSource {
 public:
  MemorySource(const char* bytes, UInt64 size) : bytes_(bytes), size_(size) {}
  UInt64 size() const override { return size_; }
  size_t readAt(UInt64 offset, void* bytes, size_t count) const override {
    if (offset >= size_) return 0;
    size_t n = UInt64(count) < size_ - offset ? count : size_t(size_ - offset);
    std::memcpy(bytes, bytes_ + offset, n);
    return n;
  }

 private:
  const char* bytes_;
  UInt64 size_;
};

ComponentResult importFrom(MovieImportComponent ci, const ImportSource& source, Movie theMovie, Track targetTrack,
                           Track* usedTrack, TimeValue atTime, TimeValue* addedDuration, long inFlags,
                           long* outFlags) {
  auto* importer = dynamic_cast<MovieImporterRecord*>(ci);
  if (importer == nullptr) return badComponentType;
  // A container that cannot grow is a memory failure like any other: said as one, never thrown
  // through the caller. What the importer built is the caller's movie's, disposed with it.
  try {
    return importer->importSource(source, theMovie, targetTrack, usedTrack, atTime, addedDuration, inFlags, outFlags);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}

void clearOutputs(Track* usedTrack, TimeValue* addedDuration, long* outFlags) {
  if (usedTrack) *usedTrack = nullptr;
  if (addedDuration) *addedDuration = 0;
  if (outFlags) *outFlags = 0;
}

// The file opened for importing, or why it cannot be: only a regular file is read.
ComponentResult withFileSource(const FSSpec* theFile, const std::function<ComponentResult(const ImportSource&)>& use) {
  // Non-blocking, so that a FIFO under the name is refused below instead of waited on; never
  // through a link, so that what is imported is the folder's own file.
  int fd = -1;
  if (OSErr err = FSpOpenDescriptor(theFile, O_RDONLY | O_NONBLOCK | O_NOCTTY, &fd); err != noErr) return err;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return notAFileErr;
  }
  FileSource source(fd, UInt64(st.st_size));
  return use(source);
}

}  // namespace

ComponentResult MovieImportFile(MovieImportComponent ci, const FSSpec* theFile, Movie theMovie, Track targetTrack,
                                Track* usedTrack, TimeValue atTime, TimeValue* addedDuration, long inFlags,
                                long* outFlags) {
  clearOutputs(usedTrack, addedDuration, outFlags);
  if (ci == nullptr || theFile == nullptr || theMovie == nullptr) return paramErr;
  return withFileSource(theFile, [&](const ImportSource& source) {
    return importFrom(ci, source, theMovie, targetTrack, usedTrack, atTime, addedDuration, inFlags, outFlags);
  });
}

ComponentResult MovieImportValidate(MovieImportComponent ci, const FSSpec* theFile, Handle theData, Boolean* valid,
                                    std::string* formatName) {
  if (valid) *valid = false;
  if (formatName) formatName->clear();
  auto* importer = dynamic_cast<MovieImporterRecord*>(ci);
  if (importer == nullptr) return ci == nullptr ? paramErr : badComponentType;
  if (valid == nullptr || (theFile == nullptr) == (theData == nullptr)) return paramErr;
  auto validate = [&](const ImportSource& source) { return importer->validateSource(source, valid, formatName); };
  if (theFile != nullptr) return withFileSource(theFile, validate);
  if (*theData == nullptr) return paramErr;
  return validate(MemorySource(*theData, UInt64(GetHandleSize(theData))));
}

ComponentResult MovieImportDataRef(MovieImportComponent ci, Handle dataRef, OSType dataRefType, Movie theMovie,
                                   Track targetTrack, Track* usedTrack, TimeValue atTime, TimeValue* addedDuration,
                                   long inFlags, long* outFlags) {
  clearOutputs(usedTrack, addedDuration, outFlags);
  if (ci == nullptr || dataRef == nullptr || theMovie == nullptr) return paramErr;
  if (dataRefType != HandleDataHandlerSubType) return noDataHandler;
  if (GetHandleSize(dataRef) < Size(sizeof(Handle))) return invalidDataRef;
  Handle data = nullptr;
  std::memcpy(&data, *dataRef, sizeof data);
  if (data == nullptr || *data == nullptr) return invalidDataRef;
  MemorySource source(*data, UInt64(GetHandleSize(data)));
  return importFrom(ci, source, theMovie, targetTrack, usedTrack, atTime, addedDuration, inFlags, outFlags);
}
