// SPDX-License-Identifier: GPL-2.0-or-later
// The MPEG-4 export of a still and its recording: an MP4 that browsers and phones play (H.264 and
// AAC), or a motion photo (the photograph with that MP4 appended), written into a working file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "media/MotionPhoto.h"
#include "media/StillMp4.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Movies/MediaStatus.h"
#include "toolbox/Movies/Movies.h"

namespace {

OSErr osErrOf(const media::StillMp4Outcome& o) {
  switch (o.failed) {
    case media::StillMp4Step::done: return noErr;
    case media::StillMp4Step::sound: return o.status == media::Status::noMemory ? memFullErr : OSErr(-1);
    case media::StillMp4Step::picture:
      return o.status == media::Status::badArgument ? noVideoTrackInMovieErr : OSErrOf(o.status);
    case media::StillMp4Step::photograph: return codecBadDataErr;
    case media::StillMp4Step::encoding: break;
  }
  switch (o.result) {
    case media::Mp4Result::ok: return noErr;
    case media::Mp4Result::writeFailed: return OSErrFromErrno(o.systemError != 0 ? o.systemError : EIO);
    case media::Mp4Result::noMemory: return memFullErr;
    case media::Mp4Result::encoderMissing: return cantFindHandler;
    case media::Mp4Result::badInput:
    case media::Mp4Result::encoderFailed: return codecErr;
  }
  return codecErr;
}

}  // namespace

OSErr ExportStillToMp4(const FSSpec* working, const media::Still& still, media::PcmSource& sound,
                       const media::StillMp4Request& request, Boolean motionPhoto, std::string* problem) {
  if (problem) problem->clear();
  if (working == nullptr) return paramErr;
  if (motionPhoto && IsMotionPhotoData(still.jpeg.data(), still.jpeg.size())) {
    if (problem) *problem = "the photograph already is a motion photo";
    return badFileFormat;
  }
  int fd = -1;
  if (OSErr err = FSpOpenDescriptor(working, O_RDWR, &fd); err != noErr) return err;
  const media::StillMp4Outcome outcome = motionPhoto ? media::WriteMotionPhoto(fd, still, sound, request)
                                                     : media::WriteStillMp4(fd, still, sound, request);
  OSErr err = osErrOf(outcome);
  if (close(fd) != 0 && err == noErr) err = OSErrFromErrno(errno);
  if (err != noErr && problem) *problem = outcome.problem;
  return err;
}

OSErr FSpOpenByteReader(const FSSpec* spec, std::unique_ptr<media::FdByteReader>* reader) {
  int fd = -1;
  if (OSErr err = FSpOpenDescriptor(spec, O_RDONLY, &fd); err != noErr) return err;
  *reader = std::make_unique<media::FdByteReader>(fd, true);
  return noErr;
}

Boolean IsMotionPhotoData(const UInt8* data, std::size_t size) { return media::IsMotionPhoto(data, size); }
