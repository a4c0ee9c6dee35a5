// SPDX-License-Identifier: GPL-2.0-or-later
// The record a movie carries of what it was made from: written with every movie, read back to
// pass over a photograph whose movie is current (a look at each file, a small read of the
// movie's head, the folder's names as the run read them) and to keep one photograph from taking
// another's movie.
#include <cstring>
#include <filesystem>
#include <set>
#include <vector>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "movie/QuickTimeU.h"
#include "photos/PhotoPairs.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Files/FileAttributes.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/RegularFiles.h"

namespace {

std::string besideOf(const std::string& image, const std::string& name) {
  const std::string folder = NSStringByDeletingLastPathComponent(image);
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::int64_t nanoseconds(const struct timespec& t) { return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

// The path from the root; the working folder is asked once, not for every photograph, and a
// path with nothing to normalise (no "." or ".." part, no doubled or trailing slash) is joined
// as text: a run over a library asks this of every current photograph.
std::string absolute(const std::string& path) {
  static const std::filesystem::path here = [] {
    std::error_code error;
    return std::filesystem::current_path(error);
  }();
  static const std::string hereText = here.string();
  const std::string_view p(path);
  const bool plain = !p.empty() && p.back() != '/' && p.find("//") == std::string_view::npos &&
                     p.find("/./") == std::string_view::npos && p.find("/../") == std::string_view::npos &&
                     !p.starts_with("./") && !p.starts_with("../") && !p.ends_with("/.") && !p.ends_with("/..") &&
                     p != "." && p != "..";
  if (plain && p.front() == '/') return path;
  if (plain && !hereText.empty() && hereText.back() != '/') return hereText + "/" + path;
  const std::filesystem::path fs(path);
  return (fs.is_absolute() ? fs : here / fs).lexically_normal().string();
}

std::optional<media::MadeFrom> recordOf(FSSpec& movie, const outputs::Output& output) {
  std::string path;
  if (FSpGetPath(&movie, &path) != noErr) return std::nullopt;
  return output.readMadeFrom(path);
}

// What a look at a name the lookup examined tells: a regular file's stamp; anything else there
// (a link, a folder), which the lookup refuses whatever it is, or nothing there, as fixed stamps.
media::FileStamp lookAt(const std::string& path) {
  if (std::optional<media::FileStamp> stamp = Convert2Mov::stampOf(path)) return *stamp;
  FSFileAttributes a;
  return media::FileStamp{0, 0, FSFileAttributesAtPath(path, false, &a) == noErr ? -1 : -2};
}

// The digest of the regular file at path (never through a link), when it is still as stamp
// says after the reading: else "", and no digest is kept.
std::string contentDigestOf(const std::string& path, const media::FileStamp& stamp) {
  std::FILE* file = nullptr;
  std::string reason;
  if (FSOpenRegularFileInFolder(NSStringByDeletingLastPathComponent(path), NSStringLastPathComponent(path), &file,
                                &reason) != noErr)
    return {};
  media::ContentDigest digest;
  // On the stack: short of memory, the record goes without a digest rather than the run failing.
  std::uint8_t buffer[64 * 1024];
  bool whole = true;
  for (;;) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file);
    digest.add(buffer, n);
    if (n < sizeof buffer) {
      whole = !std::ferror(file);
      break;
    }
  }
  std::fclose(file);
  const std::optional<media::FileStamp> after = Convert2Mov::stampOf(path);
  return whole && after && *after == stamp ? digest.hex() : std::string();
}

media::RecordedFile recorded(const std::string& path, const media::FileStamp& stamp, bool withContent) {
  return {NSStringLastPathComponent(path), media::StampDigest(stamp), media::LookDigest(stamp),
          withContent ? contentDigestOf(path, stamp) : std::string()};
}

// Whether the file at path is as the record saw it: its stamp the same; or, when only the change
// time moved (a chmod, a chown, another hard link, a restore keeping times), its contents.
bool asRecorded(const std::string& path, const media::RecordedFile& was) {
  const media::FileStamp now = lookAt(path);
  if (media::StampDigest(now) == was.stamp) return true;
  if (was.look.empty() || was.content.empty() || media::LookDigest(now) != was.look) return false;
  return contentDigestOf(path, now) == was.content;
}

// The names in the order the lookup examines them, each once.
std::vector<std::string> examinedOrder(const std::vector<std::string>& names) {
  std::vector<std::string> order;
  std::set<std::string> seen;
  for (const std::string& name : names)
    if (!name.empty() && seen.insert(name).second) order.push_back(name);
  return order;
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
  const media::RecordedFile photograph = recorded(image, *photoStamp, true);
  r.photograph = photograph.name;
  r.photographStamp = photograph.stamp;
  r.photographLook = photograph.look;
  r.photographContent = photograph.content;
  r.lookupKept = true;
  if (!mReport.soundFile.empty()) {
    std::optional<media::FileStamp> stamp = stampOf(mReport.soundFile);
    if (!stamp || mLocated.source == nullptr) return {};
    const media::RecordedFile recording = recorded(mReport.soundFile, *stamp, true);
    r.recording = recording.name;
    r.recordingStamp = recording.stamp;
    r.recordingLook = recording.look;
    r.recordingContent = recording.content;
    r.source = mLocated.source->name;
    if (mLocated.source->namesAsked && mLocated.source->namesNow) {
      r.asked = mLocated.source->namesAsked(photographForSources(image));
      // The files the lookup refused before it came to the recording, as they are: -u takes the
      // recording as current only while the lookup would refuse them again.
      bool reached = false;
      for (const std::string& name : examinedOrder(mLocated.source->namesNow(image, r.asked))) {
        if (name == r.recording) {
          reached = true;
          break;
        }
        r.passedOver.push_back(recorded(besideOf(image, name), lookAt(besideOf(image, name)), false));
      }
      // The folder changed under the lookup: no record, so the movie is never taken as current.
      if (!reached) return {};
    }
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
  if (!asRecorded(image, {r->photograph, r->photographStamp, r->photographLook, r->photographContent})) return false;
  // A recording inside the photograph comes before any beside it: the photograph decides.
  if (r->recording.empty()) return true;
  // An older record does not say what the lookup saw: the movie is made once more, and its new
  // record does.
  if (!r->lookupKept) return false;
  const sources::SoundSource* source = sources::SoundSourceNamed(r->source);
  if (source == nullptr || source->namesNow == nullptr) return false;
  // The lookup as it would run now, from the folder's names: every file it would examine before
  // the recording must be one it refused, as it was then; then the recording, as it was.
  for (const std::string& name : examinedOrder(source->namesNow(image, r->asked))) {
    if (name == r->recording)
      return asRecorded(besideOf(image, name), {name, r->recordingStamp, r->recordingLook, r->recordingContent});
    bool refused = false;
    for (const media::RecordedFile& was : r->passedOver)
      if (was.name == name) refused = asRecorded(besideOf(image, name), was);
    if (!refused) return false;
  }
  return false;
}

bool Convert2Mov::passOverIfCurrent(const std::string& movie, const std::string& image, SInt32 resize) {
  if (!isCurrent(movie, image, resize)) return false;
  passOver(movie);
  return true;
}

std::vector<std::string> Convert2Mov::recordingNamesAskedBy(const std::string& image) {
  Convert2Mov look;
  if (!look.readPhotograph(image)) return {};
  return sources::RecordingNamesAsked(look.photographForSources(image));
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
  // A raw's movie goes to the JPEG of its name once that is there: the two are one photograph.
  const std::vector<std::string> beside = {name};
  if (photos::PicturePartnerOf(besideOf(image, r->photograph), beside) == name) return noErr;
  std::string movieName(reinterpret_cast<const char*>(movie.name) + 1, movie.name[0]);
  mReport.problem = movieName + " is " + r->photograph + "'s movie; " + name + " left alone";
  return dupFNErr;
}
