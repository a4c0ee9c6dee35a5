// SPDX-License-Identifier: GPL-2.0-or-later
// Building the output from the photograph and its recording: resolve both to file
// specifications, name the output in the photograph's folder, and have its row's writer write it.
#include <cstring>
#include <initializer_list>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "toolbox/Core/SystemErrors.h"
#include "movie/QuickTimeU.h"
#include "platform/UtilsCIP.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/Files.h"
#include "media/MotionPhoto.h"
#include "toolbox/Movies/Movies.h"

namespace {

constexpr OSType kUnknownFileType = FOUR_CHAR_CODE("????");

// An unresolved path leaves the specification naming nothing (folder ID 0), never stale bytes.
bool resolve(const std::string& path, FSSpec* spec) {
  std::memset(spec, 0, sizeof *spec);
  FSRef ref;
  if (FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr) != noErr) return false;
  if (!UtilsCIP::GetFSSpecFromFSRef(ref, *spec)) {
    std::memset(spec, 0, sizeof *spec);
    return false;
  }
  return true;
}

// The same for a file whose folder is resolved but whose own name is kept: a link put in its
// place since it was checked is then refused by the import, not followed out of the folder.
void resolveInFolder(const std::string& path, FSSpec* spec) {
  std::memset(spec, 0, sizeof *spec);
  const std::string folder = NSStringByDeletingLastPathComponent(path);
  FSRef ref;
  if (FSPathMakeRef(reinterpret_cast<const UInt8*>(folder.c_str()), &ref, nullptr) != noErr) return;
  const std::string name = NSStringLastPathComponent(path);
  if (FSpFromPath(ref.path == "/" ? "/" + name : ref.path + "/" + name, spec) != noErr) std::memset(spec, 0, sizeof *spec);
}

// What stands under the movie's name, looked at without following a link.
enum class Occupant { none, ownMovie, folder, other };

Occupant occupantOf(FSSpec& spec) {
  CInfoPBRec pb{};
  Str255 name;
  std::memcpy(name, spec.name, size_t(spec.name[0]) + 1);
  pb.ioNamePtr = name;
  pb.ioVRefNum = spec.vRefNum;
  pb.ioDirID = spec.parID;
  // A dangling link cannot be looked up, and a link is never ours, whatever it points to.
  if (PBGetCatInfoSync(&pb) != noErr || (pb.ioFlFndrInfo.fdFlags & kIsAlias)) return Occupant::other;
  if (pb.ioFlAttrib & kioFlAttribDirMask) return Occupant::folder;
  if (QuickTimeU::IsMarkedMovie(spec)) return Occupant::ownMovie;
  // The empty file that earlier releases created before writing the movie, left by a failure.
  bool placeholder = pb.ioFlLgLen == 0 && pb.ioFlFndrInfo.fdType == kUnknownFileType &&
                     pb.ioFlFndrInfo.fdCreator == QuickTimeU::kMovieCreator;
  return placeholder ? Occupant::ownMovie : Occupant::other;
}

// The movie shows what its sources show, to no one else: a class of users (owner, group,
// others) that cannot read one of them gets no access to the movie either.
UInt16 permissionCeiling(std::initializer_list<const FSSpec*> sources) {
  UInt16 ceiling = 0777;
  for (const FSSpec* source : sources) {
    CInfoPBRec pb{};
    Str255 name;
    std::memcpy(name, source->name, size_t(source->name[0]) + 1);
    pb.ioNamePtr = name;
    pb.ioVRefNum = source->vRefNum;
    pb.ioDirID = source->parID;
    if (PBGetCatInfoSync(&pb) != noErr) continue;
    for (int shift : {6, 3, 0})
      if ((pb.ioFlMode & (04u << shift)) == 0) ceiling &= UInt16(~(07u << shift));
  }
  return ceiling;
}

// What went wrong in the assembly, in the user's words.
std::string reasonFor(SInt32 status) {
  // A system error other than the code's usual cause is said in the system's words.
  if (const int error = SystemErrorBehind(OSErr(status)); error != 0 && error != ErrnoFromOSErr(OSErr(status)))
    return ErrnoWords(error);
  switch (status) {
    case -1: return "the recording gives no sound";
    case codecErr: return "the encoder failed";
    case cantFindHandler: return "libav* or its H.264 or AAC encoder cannot be loaded";
    case invalidSampleDescription: return "the recording's WAVE header is damaged";
    case invalidDuration: return "the recording is too long for a QuickTime movie (at most 2,147,483,647 sample frames)";
    case noVideoTrackInMovieErr: return "the picture could not be read for the movie's frame";
    case dskFulErr: return "the disk is full";
    case permErr:
    case wrPermErr:
    case fLckdErr: return "no permission to write in its folder";
    case wPrErr:
    case vLckdErr: return "the disk is read-only";
    case ioErr: return "a read or write error on the disk";
    case memFullErr: return "not enough memory";
    case fnfErr:
    case dirNFErr: return "a file or folder it needs has gone";
    default: return "the movie could not be assembled";
  }
}

}  // namespace

SInt32 Convert2Mov::assembleMovieTracksForMovie(const std::string& movie, const std::string& image,
                                                const std::string& audio, SInt32 resize) {
  mReport.assembled = true;
  mReport.moviePath.clear();
  mReport.soundSeconds = 0;

  // A WAVE file that does not resolve goes on as a specification of no file, so the sound
  // import fails and the assembly reports it. An output that reads the recording from its source
  // has none: the recording beside the photograph stands for it (the movie's permissions, its name).
  FSSpec audioSpec;
  resolveInFolder(audio.empty() ? mReport.soundFile : audio, &audioSpec);
  FSSpec imageSpec;
  // The movie's folder is the photograph's: without it there is nowhere to put the movie.
  if (!resolve(image, &imageSpec)) {
    mReport.problem = "the photograph's folder cannot be found; no movie written";
    return fnfErr;
  }

  // Only the name counts: the movie goes into the photograph's folder. The root has none.
  std::string name = NSStringLastPathComponent(movie);
  if (name.empty() || name == "/" || name.size() > 255) {
    mReport.problem = "the movie's name is not usable; no movie written";
    return bdNamErr;
  }
  Str255 movieName;
  CopyCStringToPascal(name.c_str(), movieName);

  FSSpec movieSpec;
  std::memset(&movieSpec, 0, sizeof movieSpec);
  OSErr err = FSMakeFSSpec(imageSpec.vRefNum, imageSpec.parID, movieName, &movieSpec);
  if (err != noErr && err != fnfErr) {
    mReport.problem = "the movie's folder cannot be used; no movie written";
    return err;
  }
  const bool exists = err == noErr;
  // A photograph (or recording) that already carries the movie's name must not be replaced by it.
  std::string moviePath, imagePath, audioPath;
  FSpGetPath(&movieSpec, &moviePath);
  FSpGetPath(&imageSpec, &imagePath);
  FSpGetPath(&audioSpec, &audioPath);
  if (moviePath == imagePath || moviePath == audioPath) {
    mReport.problem = "the movie would replace its own photograph or recording; no movie written";
    return dupFNErr;
  }
  mReport.moviePath = moviePath;

  // The movie file is created only once it is complete (the assembly names it then), so none is
  // made here. What decides here is the file that may already have its name: a movie of ours
  // is replaced, anything else only when the rule says so.
  // Stamped before it is looked at: a change after the stamp keeps it from being replaced.
  MoviePublication publication;
  FSpGetItemStamp(&movieSpec, &publication.checked);
  const Occupant occupant = exists ? occupantOf(movieSpec) : Occupant::none;
  if (occupant != Occupant::none && mExistingMovie == ExistingMovie::keep) {
    mReport.skippedExisting = true;
    return noErr;
  }
  if (occupant == Occupant::ownMovie)
    if (const OSErr err = checkMovieOwner(movieSpec, image); err != noErr) return err;
  if (occupant == Occupant::folder) {
    mReport.problem = moviePath + " is a folder; no movie written";
    return notAFileErr;
  }
  if (occupant == Occupant::other && mExistingMovie != ExistingMovie::replaceAny) {
    mReport.refusedExisting = true;
    mReport.problem = moviePath + " exists and is not a movie still2mov made; left as it is";
    return dupFNErr;
  }

  // Some outputs cannot be made of every photograph (a motion photo of one that already is one).
  if (mOutput->refusal != nullptr && mPhotograph.contents() != nullptr) {
    const std::string why = mOutput->refusal({mPhotograph.contents()->data(), mPhotograph.contents()->size()});
    if (!why.empty()) {
      mReport.problem = why + "; nothing written";
      return kOutputRefused;
    }
  }

  // Nothing there is taken only while still nothing is there; a movie of ours only while it is
  // the very file looked at; anything at all only with the rule that says so.
  if (mExistingMovie == ExistingMovie::replaceAny) publication.rule = FSPublishRule::replaceAny;
  else if (occupant == Occupant::ownMovie) publication.rule = FSPublishRule::replaceChecked;
  else publication.rule = FSPublishRule::noReplace;
  // A recording of the user's, beside the photograph, bounds the movie's readers too.
  if (!mReport.soundFile.empty()) publication.permissionCeiling = permissionCeiling({&imageSpec, &audioSpec});
  else publication.permissionCeiling = permissionCeiling({&imageSpec});

  // An output that reads the recording itself gets it from its source, opened only now.
  sources::Recording recording;
  if (!mOutput->takesWaveFile) {
    if (mLocated.source == nullptr || mRecord == nullptr) {
      mReport.problem = "no recording to write the movie from";
      return paramErr;
    }
    std::string problem;
    if (const OSErr err = mLocated.source->open(photographForSources(image), mLocated.found, &recording, &problem);
        err != noErr) {
      mReport.problem = "no movie written: " + problem;
      return err;
    }
  }
  outputs::OutputJob job;
  job.movie = &movieSpec;
  job.image = &imageSpec;
  job.audio = &audioSpec;
  job.still = &mStill;
  job.recording = &recording;
  job.facts = &mFacts;
  job.resize = resize;
  job.publication = &publication;
  std::string refusal;  // an encoder's own words
  job.problem = &refusal;
  int status = mOutput->write(job);
  if (status == dupFNErr && publication.rule != FSPublishRule::replaceAny) {
    // Something appeared or changed under the name while the movie was made: it stays. A new
    // file there that is a movie of ours is another run's of this photograph, which leaves
    // nothing to do; our old movie changed in place is the user's doing.
    FSItemStamp now;
    FSpGetItemStamp(&movieSpec, &now);
    const bool anotherFile = now.present && (!publication.checked.present || now.inode != publication.checked.inode ||
                                             now.device != publication.checked.device);
    if (mExistingMovie == ExistingMovie::keep || (anotherFile && occupantOf(movieSpec) == Occupant::ownMovie)) {
      mReport.skippedExisting = true;
      return noErr;
    }
    mReport.refusedExisting = true;
    mReport.problem = moviePath + " appeared or changed while the movie was made; left as it is";
    return dupFNErr;
  }
  if (status != noErr) {
    // A writer that read the recording itself says its refusal in its own words, and so does one
    // that refused to hold more than its cap.
    const bool ownWords = (status == codecErr || status == noCodecErr || status == memFullErr) && !refusal.empty();
    const std::string reason = ownWords              ? refusal
                               : status == noCodecErr ? "recording format " + QuickTimeU::SoundFormatName(audioSpec) +
                                                            " not supported"
                                                      : reasonFor(status);
    mReport.problem = "no movie written: " + reason;
    if (occupant != Occupant::none) mReport.problem += "; " + moviePath + " is as it was";
    return status;
  }
  // Read back from the written file: the duration the user gets, and proof that it is a movie.
  double seconds = 0;
  if (const OSErr readErr = mOutput->readSoundSeconds(&movieSpec, &seconds); readErr != noErr) {
    mReport.problem = "the movie written cannot be read back";
    return readErr;
  }
  mReport.soundSeconds = seconds;
  return status;
}
