// SPDX-License-Identifier: GPL-2.0-or-later
// The record a movie carries of what it was made from: written with every movie, read back to
// pass over a photograph whose movie is current (a look at each file, a small read of the
// movie's head) and to keep one photograph from taking another's movie.
#include <cstring>
#include <filesystem>

#include "Convert2Mov.h"
#include "movie/QuickTimeU.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Files/FileAttributes.h"
#include "toolbox/Files/Files.h"

namespace {



std::string besideOf(const std::string& image, const std::string& name) {
  const std::string folder = NSStringByDeletingLastPathComponent(image);
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::int64_t nanoseconds(const struct timespec& t) { return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

// The path from the root; the working folder is asked once, not for every photograph.
std::string absolute(const std::string& path) {
  static const std::filesystem::path here = [] {
    std::error_code error;
    return std::filesystem::current_path(error);
  }();
  const std::filesystem::path p(path);
  return (p.is_absolute() ? p : here / p).lexically_normal().string();
}

std::optional<media::MadeFrom> recordOf(FSSpec& movie, const outputs::Output& output) {
  std::string path;
  if (FSpGetPath(&movie, &path) != noErr) return std::nullopt;
  return output.readMadeFrom(path);
}

}  // namespace

std::optional<media::FileStamp> Convert2Mov::stampOf(const std::string& path) {
  FSFileAttributes a;
  if (FSFileAttributesAtPath(path, false, &a) != noErr || !a.regularFile) return std::nullopt;
  // The size catches appends; the modification time, most rewrites; the change time, what the
  // modification time cannot: a rewrite of the same size whose time was set back, or another
  // file renamed over this one. The inode and device are left out: neither survives a card or
  // network volume being mounted again, and a file put in another's place changes the change time.
  return media::FileStamp{a.size, nanoseconds(a.modificationDate), nanoseconds(a.changeDate)};
}

std::string Convert2Mov::madeFromRecord(const std::string& image, const std::optional<media::FileStamp>& photoStamp,
                                        SInt32 resize) const {
  // A photograph that could not be looked at gets no record: its movie is never taken as current.
  if (!photoStamp) return {};
  media::MadeFrom r;
  r.photograph = NSStringLastPathComponent(image);
  r.photographStamp = media::StampDigest(*photoStamp);
  if (!mReport.soundFile.empty()) {
    std::optional<media::FileStamp> recording = stampOf(mReport.soundFile);
    if (!recording) return {};
    r.recording = NSStringLastPathComponent(mReport.soundFile);
    r.recordingStamp = media::StampDigest(*recording);
  }
  r.format = mOutput->name;
  r.resize = resize;
  r.metadata = mCaptureMetadata;
  return media::EncodeMadeFrom(r);
}

bool Convert2Mov::isCurrent(const std::string& movie, const std::string& image, SInt32 resize) const {
  if (!mUpdateOnly) return false;
  const std::optional<media::MadeFrom> r = mOutput->readMadeFrom(movie);
  if (!r || r->photograph != NSStringLastPathComponent(image) || r->format != mOutput->name || r->resize != resize ||
      r->metadata != mCaptureMetadata)
    return false;
  const std::optional<media::FileStamp> photo = stampOf(image);
  if (!photo || media::StampDigest(*photo) != r->photographStamp) return false;
  if (!r->recording.empty()) {
    const std::optional<media::FileStamp> recording = stampOf(besideOf(image, r->recording));
    if (!recording || media::StampDigest(*recording) != r->recordingStamp) return false;
  }
  return true;
}

bool Convert2Mov::passOverIfCurrent(const std::string& movie, const std::string& image, SInt32 resize) {
  if (!isCurrent(movie, image, resize)) return false;
  passOver(movie);
  return true;
}

void Convert2Mov::passOver(const std::string& movie) {
  mReport = ConversionReport{};
  mReport.moviePath = absolute(movie);
  mReport.imageFound = true;
  mReport.upToDate = true;
  concludeReport(noErr);
}

OSErr Convert2Mov::checkMovieOwner(FSSpec& movie, const std::string& image) {
  const std::optional<media::MadeFrom> r = recordOf(movie, *mOutput);
  const std::string name = NSStringLastPathComponent(image);
  if (!r || r->photograph == name || !stampOf(besideOf(image, r->photograph))) return noErr;
  std::string movieName(reinterpret_cast<const char*>(movie.name) + 1, movie.name[0]);
  mReport.problem = movieName + " is " + r->photograph + "'s movie; " + name + " left alone";
  return dupFNErr;
}
