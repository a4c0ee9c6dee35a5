// SPDX-License-Identifier: GPL-2.0-or-later
// The conversion driver: reads the photograph, writes its voice annotation to a new WAVE file
// in the user's private temporary-items folder, has the movie assembled from both, and removes
// the WAVE file again.
#include "Convert2Mov.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "media/MotionPhoto.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Files/TemporaryItems.h"
#include "toolbox/Movies/Movies.h"
#include "media/JpegMarkers.h"
#include "media/JpegStructure.h"

namespace {

// Names taken in the folder (conversions running at the same moment) are passed over; this
// many tick numbers are tried before giving up.
constexpr UInt32 kWaveNameTries = 256;

void removeWave(const std::string& path) {
  FSSpec spec;
  if (FSpFromPath(path, &spec) == noErr) FSpDelete(&spec);
}

// The recording is working material: it goes when the conversion ends, however it ends.
struct WaveRemover {
  std::string path;
  ~WaveRemover() {
    if (!path.empty()) removeWave(path);
  }
};

}  // namespace

std::string Convert2Mov::moviePathFor(const std::string& image, MovieFormat format) {
  if (format == MovieFormat::motion) {
    std::string name = image;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    return media::MotionPhotoName(name);
  }
  return NSStringByDeletingPathExtension(image) + (format == MovieFormat::mp4 ? ".mp4" : ".mov");
}

std::string Convert2Mov::recordingPathFor(const std::string& image) {
  return NSStringByDeletingPathExtension(image) + ".wav";
}

std::string Convert2Mov::unreadableJpegReason(std::span<const UInt8> bytes) {
  if (bytes.empty()) return "empty file";
  if (!media::StartsWithSOI(bytes.data(), bytes.size())) return "not a JPEG file";
  return "damaged JPEG header";
}

OSErr Convert2Mov::refuse(OSErr status, const std::string& problem) {
  mReport.problem = problem;
  return status;
}

// A failure no step put into words: the system's words when a system error stands behind it;
// the code's name is for -v and JSON, not for the sentence.
static std::string failureInWords(int systemError) {
  if (systemError != 0) return "the conversion failed: " + ErrnoWords(systemError);
  return "the conversion failed";
}

namespace {
struct FailureNameRow {
  SInt32 code;
  const char* name;
};
// Codes no system error stands behind, by what they mean for a conversion.
constexpr FailureNameRow kFailureNames[] = {
    {badFileFormat, "damaged-recording"},
    {noCodecErr, "unsupported-recording"},
    {codecBadDataErr, "damaged-picture"},
    {noVideoTrackInMovieErr, "damaged-picture"},
    {-1, "no-sound"},
    {paramErr, "internal-error"},
};
}  // namespace

std::string Convert2Mov::failureName(SInt32 failure, int systemError) {
  if (systemError != 0) return ErrnoName(systemError);
  for (const FailureNameRow& row : kFailureNames)
    if (row.code == failure) return row.name;
  return "failed";
}

void Convert2Mov::concludeReport(SInt32 status) {
  ConversionReport& r = mReport;
  r.status = status;
  if (r.audioBlocks > 0) r.soundSource = SoundSource::embedded;
  auto fail = [&r](SInt32 failure, const std::string& problem) {
    r.outcome = ConversionOutcome::failed;
    r.failure = failure;
    r.problem = problem;
    r.systemError = failure == OSErr(failure) ? SystemErrorBehind(OSErr(failure)) : 0;
    r.failureName = failureName(failure, r.systemError);
  };
  if (status == noErr && r.upToDate)
    r.outcome = ConversionOutcome::upToDate;
  else if (status != noErr)
    fail(status, r.problem.empty() ? failureInWords(status == OSErr(status) ? SystemErrorBehind(OSErr(status)) : 0)
                                   : r.problem);
  // The driver's status is 0 for a photograph it could not read at all; its callers count that
  // as a failure all the same.
  else if (!r.imageFound)
    fail(fnfErr, "cannot be read (" + r.unreadable + ")");
  else if (r.audioBlocks == 0 && !r.imageReadable) {
    fail(codecBadDataErr, "cannot be read (" + r.unreadable + ")");
    if (r.notJpeg) r.failureName = "not-a-jpeg";
  }
  else if (r.soundSource == SoundSource::none)
    r.outcome = ConversionOutcome::noVoice;
  else if (r.skippedExisting)
    r.outcome = ConversionOutcome::skipped;
  else if (r.waveWritten || r.soundSource == SoundSource::sidecar)
    r.outcome = ConversionOutcome::converted;
  else
    fail(ioErr, "voice annotation found but no sound file could be written");
}

SInt32 Convert2Mov::createMovie(const std::string& movie, const std::string& image, SInt32 resize) {
  mReport = ConversionReport{};
  ForgetSystemError();
  // Whatever happens, the photograph's bytes are let go when the conversion ends.
  struct Release {
    FSContentsHold& hold;
    ~Release() { hold.release(); }
  } release{mPhotograph};
  if (passOverIfCurrent(movie, image, resize)) return noErr;
  // Looked at before the photograph is read: a change after this makes the record stale.
  const std::optional<media::FileStamp> photoStamp = stampOf(image);
  ExtractedAudio audio = extractAudioFromExifForFile(image);
  // Without a WAVE file the status is the extraction's (0: nothing to convert).
  SInt32 status = audio.status;
  if (audio.wavePath) {
    WaveRemover remover{audio.working ? *audio.wavePath : std::string()};
    mFacts.madeFrom = madeFromRecord(image, photoStamp, resize);
    status = assembleMovieTracksForMovie(movie, image, *audio.wavePath, resize);
  }
  mFacts = PhotoFacts{};
  concludeReport(status);
  return status;
}

bool Convert2Mov::readPhotograph(const std::string& image, ExImageInfo* record) {
  mPhotograph.release();
  // Only a regular file is a photograph; the read never waits on anything else under the name.
  if (image.empty()) {
    mReport.unreadable = "no such file";
    return false;
  }
  FSContentsRef bytes;
  if (FSReadFileContents(image, &bytes, &mReport.unreadable) != noErr) return false;
  mReport.imageFound = true;
  {
    JpegTagReader reader;
    reader.readTags(image, bytes->data(), bytes->size(), record);
  }
  mReport.imageReadable = record->getPixelWidth() != 0;
  if (!mReport.imageReadable) {
    mReport.unreadable = unreadableJpegReason({bytes->data(), bytes->size()});
    mReport.notJpeg = !media::StartsWithSOI(bytes->data(), bytes->size());
  }
  mReport.audioBlocks = record->numAudioBlocks();
  mReport.audioSeconds = record->getAudioSeconds();
  mPhotograph = FSContentsHold(std::move(bytes));
  return true;
}

OSErr Convert2Mov::checkPicture(const FSFileContents& bytes) {
  media::JpegLayout layout;
  if (media::ParseJpegLayout(bytes.data(), bytes.size(), &layout) != media::Status::ok)
    return refuse(codecBadDataErr, "the picture is damaged: its frame header is missing or unreadable");
  if (const char* missing = media::JpegMissingPart(layout))
    return refuse(codecBadDataErr, std::string("the picture is damaged: ") + missing);
  if (!mReport.imageReadable) return refuse(codecBadDataErr, "the picture is damaged: its JPEG header cannot be read");
  return noErr;
}

ExtractedAudio Convert2Mov::extractAudioFromExifForFile(const std::string& image) {
  ExImageInfo record;
  if (!readPhotograph(image, &record)) return {};
  mFacts = photoFactsOf(record);
  // The blocks decide, not the length: a recording of unknown length is still written.
  if (record.numAudioBlocks() == 0) return audioBesidePhotograph(image, record);
  // A damaged photograph makes no movie: nothing is written for it.
  OSErr err = checkRecording(record);
  if (err == noErr) err = checkPicture(*mPhotograph.contents());
  if (err != noErr) return {err, std::nullopt};

  std::string folder, reason;
  err = FSFindTemporaryItemsFolder(&folder, &reason);
  if (err != noErr) return {refuse(err, "no place for the recording: " + reason), std::nullopt};

  // Created exclusively and never through a link.
  std::string wavePath;
  std::FILE* file = nullptr;
  err = dupFNErr;
  const UInt32 tick = TickCount();
  {
    // Gone however the run is stopped, as the working files beside the movie are: no interrupt
    // falls between making the file and saying so.
    FSInterruptsHeld held;
    for (UInt32 attempt = 0; attempt < kWaveNameTries && err == dupFNErr; ++attempt) {
      char name[32];
      std::snprintf(name, sizeof name, "%d.wav", SInt32(tick + attempt));
      wavePath = folder + "/" + name;
      err = FSOpenNewFile(wavePath.c_str(), 0600, &file);
    }
    if (err == noErr) FSRemoveOnInterrupt(wavePath);
  }
  if (err != noErr) {
    const std::string why = err == dupFNErr ? "every name tried is taken" : std::strerror(errno);
    return {refuse(err, "no new file for the recording could be made in " + folder + " (" + why + ")"), std::nullopt};
  }

  err = writeRecording(file, record);
  int writeErrno = errno;
  if (std::fclose(file) != 0 && err == noErr) {
    err = ioErr;
    writeErrno = errno;
  }
  if (err != noErr) {
    // A truncated recording must not become a movie.
    removeWave(wavePath);
    return {refuse(err, "the recording could not be written to " + folder + " (" + std::strerror(writeErrno) + ")"),
            std::nullopt};
  }
  mReport.wavePath = wavePath;
  mReport.waveWritten = true;
  return {noErr, wavePath};
}

SInt32 Convert2Mov::extractRecording(const std::string& image, std::FILE* out) {
  mReport = ConversionReport{};
  const OSErr err = writeRecordingOf(image, out);
  mPhotograph.release();
  concludeReport(err);
  return err;
}

OSErr Convert2Mov::writeRecordingOf(const std::string& image, std::FILE* out) {
  ExImageInfo record;
  if (out == nullptr) return refuse(paramErr, "no file to write the recording to");
  if (!readPhotograph(image, &record)) return noErr;
  if (record.numAudioBlocks() == 0) return mReport.imageReadable ? copyRecordingBeside(image, record, out) : noErr;
  // The recording does not need the picture: only its own pieces must be whole.
  OSErr err = checkRecording(record);
  if (err != noErr) return err;
  err = writeRecording(out, record);
  if (err != noErr)
    return refuse(err, std::string("the recording could not be written (") + std::strerror(errno) + ")");
  mReport.waveWritten = true;
  return noErr;
}
