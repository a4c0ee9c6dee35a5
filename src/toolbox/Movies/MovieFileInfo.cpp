// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a movie file back through its head: a track's duration by media type, and a user-data
// text item. Doubles as a check that the file on disk is a movie at all.
#include <fcntl.h>
#include <unistd.h>

#include <optional>

#include "media/MovieHead.h"
#include "media/MovieUserData.h"

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Descriptors.h"
#include "toolbox/Movies/Movies.h"
#include "toolbox/Movies/Mp4MetadataKeys.h"

namespace {

// The movie head of the file, opened without following a link and without waiting on a FIFO.
OSErr readHead(const FSSpec* file, std::optional<media::MovieHead>* head) {
  int fd = -1;
  const OSErr err = FSpOpenDescriptor(file, O_RDONLY | O_NONBLOCK, &fd);
  if (err != noErr) return err == fnfErr ? fnfErr : invalidMovie;
  *head = media::ReadMovieHead(fd);
  close(fd);
  return *head ? noErr : invalidMovie;
}

}  // namespace

OSErr GetMovieFileTrackDuration(const FSSpec* file, OSType mediaType, TimeValue* duration, TimeScale* movieScale) {
  if (file == nullptr || duration == nullptr) return paramErr;
  *duration = 0;
  if (movieScale) *movieScale = 0;
  std::optional<media::MovieHead> head;
  if (OSErr err = readHead(file, &head); err != noErr) return err;
  using Result = media::TrackDuration::Result;
  const media::TrackDuration track = media::MovieTrackDuration(head->moov, mediaType);
  if (track.result == Result::damagedMovie) return invalidMovie;
  if (movieScale) *movieScale = track.movieScale;
  if (track.result == Result::noSuchTrack) return noMediaHandler;
  if (track.result == Result::damagedTrack) return invalidTrack;
  if (track.duration > 0x7FFFFFFF) return invalidDuration;
  *duration = TimeValue(track.duration);
  return noErr;
}

OSErr GetMovieFileUserDataText(const FSSpec* file, OSType udType, std::string* text) {
  if (file == nullptr || text == nullptr) return paramErr;
  text->clear();
  std::optional<media::MovieHead> head;
  if (OSErr err = readHead(file, &head); err != noErr) return err;
  const std::optional<std::string> found = media::MovieUserDataText(head->moov, udType, Mp4KeyForUserDataType(udType));
  if (!found) return userDataItemNotFound;
  *text = *found;
  return noErr;
}
