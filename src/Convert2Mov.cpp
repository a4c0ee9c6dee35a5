// SPDX-License-Identifier: GPL-2.0-or-later
// The conversion driver: reads the photograph by its kind, finds its recording by the table of
// sources (a WAVE file for outputs that read one), has the output written from both, and removes
// any working WAVE file again.
#include "Convert2Mov.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Core/SystemErrors.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Movies.h"
#include "media/JpegMarkers.h"
#include "media/JpegStructure.h"
#include "photos/PhotoKinds.h"
#include "sources/PhotographReader.h"

namespace {

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

Convert2Mov::Convert2Mov() = default;
Convert2Mov::~Convert2Mov() = default;

std::string Convert2Mov::moviePathFor(const std::string& image, const outputs::Output& output) {
  return output.pathFor(image);
}

std::string Convert2Mov::recordingPathFor(const std::string& image, const sources::SoundSource* source) {
  return NSStringByDeletingPathExtension(image) + (source ? source->extension : ".wav");
}

std::string Convert2Mov::unreadableJpegReason(std::span<const UInt8> bytes) {
  return photos::PhotoKindForBytes(bytes).unreadable(bytes);
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
    {Convert2Mov::kOutputRefused, "output-refused"},
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
  else if (r.soundSource == nullptr)
    r.outcome = ConversionOutcome::noVoice;
  else if (r.skippedExisting)
    r.outcome = ConversionOutcome::skipped;
  else if (r.waveWritten || r.recordingReady)
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
  ExtractedAudio audio = prepareRecording(image, mOutput->takesWaveFile);
  // Without a recording the status is the extraction's (0: nothing to convert).
  SInt32 status = audio.status;
  if (audio.ready) {
    WaveRemover remover{audio.wavePath && audio.working ? *audio.wavePath : std::string()};
    mFacts.madeFrom = madeFromRecord(image, photoStamp, resize);
    status = assembleMovieTracksForMovie(movie, image, audio.wavePath.value_or(std::string()), resize);
  }
  mFacts = PhotoFacts{};
  mStill = media::Still{};
  mLocated = sources::Located{};
  mRecord.reset();
  concludeReport(status);
  return status;
}

bool Convert2Mov::readPhotograph(const std::string& image) {
  // The record may point into the photograph's bytes: it goes first.
  mRecord.reset();
  mPhotograph.release();
  mRecord = std::make_unique<ExImageInfo>();
  mStill = media::Still{};
  mLocated = sources::Located{};
  // Only a regular file is a photograph; the read never waits on anything else under the name.
  if (image.empty()) {
    mReport.unreadable = "no such file";
    return false;
  }
  FSContentsRef bytes;
  if (FSReadFileContents(
          image, &bytes, &mReport.unreadable, kFSMaxWholeFileBytes,
          [](const UInt8* data, std::size_t have) { return photos::PhotographHeldLength(data, have); },
          [](const FSFileReader& read, UInt64 size) {
            std::vector<FSByteRange> parts;
            for (const photos::FileStretch& s : photos::PhotographUnheldParts(read, size))
              parts.push_back({s.offset, s.length});
            return parts;
          }) != noErr)
    return false;
  mReport.imageFound = true;
  const std::span<const UInt8> all(bytes->data(), bytes->size());
  // The record points into the bytes: they are held (mPhotograph) for as long as it lives.
  const photos::ReadPhotograph read = photos::ReadPhotographBytes(image, all, mRecord.get(), true);
  mStill = read.still;
  if (!bytes->holdsWholeFile() && mStill.jpeg.data() == bytes->data()) mStill.file = sources::PhotographReader(bytes);
  mReport.imageReadable = mStill.width != 0;
  if (!mReport.imageReadable) {
    mReport.unreadable = read.kind->unreadable(all);
    mReport.notJpeg = !read.kind->recognizes(all);
  }
  mReport.audioBlocks = mRecord->numAudioBlocks();
  mReport.audioSeconds = mRecord->getAudioSeconds();
  mPhotograph = FSContentsHold(std::move(bytes));
  return true;
}

sources::Photograph Convert2Mov::photographForSources(const std::string& image) const {
  sources::Photograph photo;
  photo.path = image;
  photo.record = mRecord.get();
  if (const FSContentsRef bytes = mPhotograph.contents()) {
    photo.bytes = {bytes->data(), bytes->size()};
    if (!bytes->holdsWholeFile()) photo.file = sources::PhotographReader(bytes);
  }
  photo.readable = mReport.imageReadable;
  return photo;
}

void Convert2Mov::noteFound() {
  mReport.soundSource = mLocated.source;
  mReport.soundFile = mLocated.found.file;
  mReport.passedOverSoundFile = mLocated.found.passedOver;
  mReport.passedOverSoundProblem = mLocated.found.passedOverProblem;
}

OSErr Convert2Mov::checkPicture(std::span<const UInt8> jpeg) {
  media::JpegLayout layout;
  if (media::ParseJpegLayout(jpeg.data(), jpeg.size(), &layout) != media::Status::ok)
    return refuse(codecBadDataErr, "the picture is damaged: its frame header is missing or unreadable");
  if (const char* missing = media::JpegMissingPart(layout))
    return refuse(codecBadDataErr, std::string("the picture is damaged: ") + missing);
  if (!mReport.imageReadable) return refuse(codecBadDataErr, "the picture is damaged: its JPEG header cannot be read");
  return noErr;
}

ExtractedAudio Convert2Mov::extractAudioFromExifForFile(const std::string& image) { return prepareRecording(image, true); }

ExtractedAudio Convert2Mov::prepareRecording(const std::string& image, bool waveFile) {
  if (!readPhotograph(image)) return {};
  mFacts = photoFactsOf(*mRecord);
  const sources::Photograph photo = photographForSources(image);
  mLocated = sources::LocateRecording(photo);
  if (mLocated.source == nullptr) return {};
  noteFound();
  // A damaged recording or photograph makes no movie: nothing is written for it.
  std::string problem;
  OSErr err = mLocated.source->check(photo, &mLocated.found, &problem);
  if (err != noErr) return {refuse(err, problem), std::nullopt};
  mReport.recordingBytes = mLocated.found.bytes;
  err = checkPicture(mStill.jpeg);
  if (err != noErr) return {err, std::nullopt};
  mReport.recordingReady = true;
  if (!waveFile) return {noErr, std::nullopt, true, true};

  sources::WaveFile wave;
  err = mLocated.source->waveFile(photo, mLocated.found, &wave, &problem);
  if (err != noErr) return {refuse(err, problem), std::nullopt};
  if (wave.working) {
    mReport.wavePath = wave.path;
    mReport.waveWritten = true;
  }
  return {noErr, wave.path, wave.working, true};
}

SInt32 Convert2Mov::extractRecording(const std::string& image, std::FILE* out) {
  mReport = ConversionReport{};
  const OSErr err = writeRecordingOf(image, out);
  mPhotograph.release();
  mStill = media::Still{};
  mLocated = sources::Located{};
  mRecord.reset();
  concludeReport(err);
  return err;
}

OSErr Convert2Mov::writeRecordingOf(const std::string& image, std::FILE* out) {
  if (out == nullptr) return refuse(paramErr, "no file to write the recording to");
  if (!readPhotograph(image)) return noErr;
  const sources::Photograph photo = photographForSources(image);
  mLocated = sources::LocateRecording(photo);
  if (mLocated.source == nullptr) return noErr;
  noteFound();
  // The recording does not need the picture: only its own pieces must be whole.
  std::string problem;
  OSErr err = mLocated.source->check(photo, &mLocated.found, &problem);
  if (err != noErr) return refuse(err, problem);
  std::uint64_t written = mLocated.found.bytes;
  err = mLocated.source->extract(photo, mLocated.found, out, &written, &problem);
  if (err != noErr) return refuse(err, problem);
  mReport.recordingBytes = written;
  mReport.waveWritten = true;
  mReport.recordingReady = true;
  return noErr;
}

const sources::SoundSource* Convert2Mov::soundSourceOf(const sources::Photograph& photo, std::string* file) {
  if (file) file->clear();
  const sources::Located located = sources::LocateRecording(photo);
  // What a conversion would refuse is no recording.
  if (located.source == nullptr || !located.found.problem.empty()) return nullptr;
  if (file) *file = located.found.file;
  return located.source;
}

bool Convert2Mov::readForLook(const std::string& image) {
  mReport = ConversionReport{};
  return readPhotograph(image);
}

std::string Convert2Mov::extractedRecordingPathFor(const std::string& image) {
  Convert2Mov look;
  if (!look.readPhotograph(image)) return recordingPathFor(image);
  const sources::Located located = sources::LocateRecording(look.photographForSources(image));
  if (!located.found.extension.empty()) return NSStringByDeletingPathExtension(image) + located.found.extension;
  return recordingPathFor(image, located.source);
}
