// SPDX-License-Identifier: GPL-2.0-or-later
// The conversion driver: photograph in (by its kind), recording found (by its source), output
// beside the photograph out (by its row).
// One instance lives as long as the application; each call is one self-contained conversion.
#pragma once
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "media/MadeFrom.h"
#include "media/Still.h"
#include "movie/PhotoFacts.h"
#include "outputs/Outputs.h"
#include "sources/SoundSources.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/FileContents.h"

class ExImageInfo;

// What came of one photograph, as every caller reports it.
enum class ConversionOutcome {
  converted,  // the movie (for an extraction: the recording) was written
  noVoice,    // a readable photograph without a voice annotation: nothing to convert
  skipped,    // a file already had the movie's name and the rule said keep it
  failed,     // nothing written; the report's failure and problem say why
  upToDate,   // asked to convert only what changed: its movie is there and current
};

// What the last conversion found and did, for callers that say more than the status.
struct ConversionReport {
  bool imageFound = false;     // a regular file was read at the image path
  bool imageReadable = false;  // its JPEG header was read (the pixel size is known)
  std::string unreadable;      // when not found or not readable: why, in words ("no such file" ...)
  UInt32 audioBlocks = 0;      // pieces of the voice annotation found
  UInt32 audioSeconds = 0;     // the recording's length from its WAVE headers
  UInt64 recordingBytes = 0;   // the recording's size, once its pieces were found whole
  const sources::SoundSource* soundSource = nullptr;  // where the recording was found; none: nullptr
  std::string soundFile;       // the recording's own file beside the photograph, when it has one
  std::string passedOverSoundFile;     // a recording named first that did not serve, and why
  std::string passedOverSoundProblem;  // (RelatedSoundFile's, when the photograph's own name did)
  std::string wavePath;        // the temporary WAVE file, when one was written (gone once the
  bool waveWritten = false;    // conversion has ended)
  bool recordingReady = false;  // the recording was found whole and handed on (for an extraction: written)
  bool assembled = false;      // the movie assembly ran
  std::string moviePath;       // where the movie was written
  double soundSeconds = 0;     // duration of the movie's sound track
  SInt32 status = 0;           // what createMovie (or extractRecording) returned
  bool skippedExisting = false;  // a file had the movie's name and the rule said keep it
  bool refusedExisting = false;  // a file had the movie's name and the rule did not allow replacing it
  bool upToDate = false;         // only what changed was to be converted, and its movie is current

  ConversionOutcome outcome = ConversionOutcome::failed;
  SInt32 failure = 0;    // when failed: a code that is never 0 (the status, or why nothing was read)
  std::string problem;   // when failed: what went wrong, in words
  int systemError = 0;   // when failed: the system's error number behind it, 0 for none
  std::string failureName;  // when failed: a stable word for scripts ("ENOSPC", "damaged-recording")
  bool notJpeg = false;  // the file read at the image path does not start as a JPEG
};

// What a conversion may do with a file that already has the movie's name.
enum class ExistingMovie {
  replaceOwn,  // replace a movie that still2mov made, refuse anything else (the default)
  replaceAny,  // replace whatever file is there
  keep,        // leave any existing file and make no movie
};

// The extraction's result: a WAVE file written (its path), nothing to write (no path, noErr), or
// a failure (its code; the report says it in words).
struct ExtractedAudio {
  OSErr status = noErr;
  std::optional<std::string> wavePath;
  bool working = true;  // the file is the conversion's own, removed when it ends; a recording
                        // beside the photograph is the user's and stays
  bool ready = false;   // a recording was found whole (for an output that takes no WAVE file, no
                        // path is given)
};

class Convert2Mov {
 public:
  Convert2Mov();
  ~Convert2Mov();
  Convert2Mov(const Convert2Mov&) = delete;
  Convert2Mov& operator=(const Convert2Mov&) = delete;

  // Where the output of the photograph at image goes, by the output's rule: beside it, under its
  // name with the last component's extension replaced (a motion photo keeps it).
  static std::string moviePathFor(const std::string& image, const outputs::Output& output = outputs::DefaultOutput());
  // Where its recording goes when extracted, by the same rule, with the source's extension
  // (a WAVE's when the source is not known).
  static std::string recordingPathFor(const std::string& image, const sources::SoundSource* source = nullptr);
  // Why bytes read from a photograph give no picture, in its kind's words: "empty file", "not a
  // JPEG file", "damaged JPEG header".
  static std::string unreadableJpegReason(std::span<const UInt8> bytes);
  // The stable word for a failure: the system's name for the error behind it (ENOSPC, ELOOP ...),
  // else the conversion's own name for the code (damaged-recording, not-a-jpeg ...).
  static std::string failureName(SInt32 failure, int systemError);
  // The code of a photograph the chosen output cannot be made of (a motion photo of one that
  // already is one): nothing is damaged and no system error stands behind it.
  static constexpr SInt32 kOutputRefused = -2;

  // 0 when no failure was reported (movie written, or nothing to convert), else the failure
  // code of the assembly, kept whole so that no failure reads as 0. The temporary WAVE file
  // is removed when the conversion ends, whatever the outcome. The report's outcome says what
  // came of it.
  SInt32 createMovie(const std::string& movie, const std::string& image, SInt32 resize);

  // The WAVE file written from the photograph's voice annotation into the user's private
  // temporary-items folder, or nothing; the caller removes it. A damaged recording or picture
  // is refused (its status here, its words in the report) before anything is written.
  ExtractedAudio extractAudioFromExifForFile(const std::string& image);

  SInt32 assembleMovieTracksForMovie(const std::string& movie, const std::string& image, const std::string& audio,
                                     SInt32 resize);

  // Writes the photograph's recording, byte for byte the WAVE file the camera stored, into out
  // (a new, empty file open for writing), by the same rules as a conversion. 0 when it was
  // written or when there is none (the report's outcome tells which); else the failure, with
  // the problem in the report.
  SInt32 extractRecording(const std::string& image, std::FILE* out);

  const ConversionReport& lastReport() const { return mReport; }

  void setExistingMovieRule(ExistingMovie rule) { mExistingMovie = rule; }
  // The kind of file conversions write (a QuickTime movie unless set).
  void setOutput(const outputs::Output& output) { mOutput = &output; }
  const outputs::Output& output() const { return *mOutput; }
  // Whether movies carry the capture time, the camera's make and model and the position the
  // photograph records (off unless asked: a movie carries no metadata by default).
  void setCaptureMetadata(bool on) { mCaptureMetadata = on; }
  // Whether a photograph whose movie still2mov made from it, as it is now, is passed over: the
  // movie records the photograph, its recording, the format and the choices it was made with.
  void setUpdateOnly(bool on) { mUpdateOnly = on; }
  bool updateOnly() const { return mUpdateOnly; }
  // With update only, whether the movie at movie is current for the photograph at image: a look
  // at each file and a read of the movie's head; the photograph is not read. Safe to ask on
  // several threads at once, as it changes nothing.
  bool isCurrent(const std::string& movie, const std::string& image, SInt32 resize) const;
  // Makes the report say the movie at movie is up to date.
  void passOver(const std::string& movie);
  // Both: true, with the report saying so, when the movie is current.
  bool passOverIfCurrent(const std::string& movie, const std::string& image, SInt32 resize);
  // What a look at the regular file at path (never through a link) tells of its contents; the
  // record compares it, and watchers of folders without notifications see changes by it.
  static std::optional<media::FileStamp> stampOf(const std::string& path);
  // The names of recordings beside the photograph at image that its lookup asks for (a read of
  // it): a recording arriving under one of them may be its recording now.
  static std::vector<std::string> recordingNamesAskedBy(const std::string& image);

  // Reads the photograph at image as a conversion reads it (its start through the picture held,
  // the rest read from the file where asked), for a look at it: false, with why in the report's
  // unreadable, when no regular file could be read there. What was read stays until the next
  // look or conversion.
  bool readForLook(const std::string& image);
  // What the last look read: the record (nullptr before any), and the photograph as its sources
  // look at it.
  const ExImageInfo* lookedAtRecord() const { return mRecord.get(); }
  sources::Photograph lookedAtPhotograph(const std::string& image) const { return photographForSources(image); }
  // Where the recording of the photograph comes from, by the table of sources, and its own file
  // when it has one; nullptr when it has none a conversion would use. What --info shows.
  static const sources::SoundSource* soundSourceOf(const sources::Photograph& photo, std::string* file = nullptr);
  // Where extract writes the recording of the photograph at image by default: beside it, with the
  // extension of the recording its source found (".m4a" for an AAC note), else its source's; a
  // read of the photograph.
  static std::string extractedRecordingPathFor(const std::string& image);

 private:
  // Reads the photograph whole by its kind into mRecord, and its still; false when no regular
  // file could be read at image. Its bytes are held for the rest of the conversion: the movie's
  // picture is taken from them, not from a second read.
  bool readPhotograph(const std::string& image);
  // The photograph as the sources look at it.
  sources::Photograph photographForSources(const std::string& image) const;
  // Reads the photograph and finds its recording by the table of sources, checked whole with the
  // picture; with waveFile, the recording as a WAVE file too.
  ExtractedAudio prepareRecording(const std::string& image, bool waveFile);
  // The picture must be readable and whole, judged from its structure.
  OSErr checkPicture(std::span<const UInt8> jpeg);
  // extractRecording's work, before the report is settled.
  OSErr writeRecordingOf(const std::string& image, std::FILE* out);
  // The problem in words for the report; returns status.
  OSErr refuse(OSErr status, const std::string& problem);
  // Settles the report once a conversion or an extraction has ended with status.
  void concludeReport(SInt32 status);
  // Puts what the source found into the report.
  void noteFound();
  // What the movie takes from the photograph: its orientation always, the capture facts when
  // asked for.
  PhotoFacts photoFactsOf(const ExImageInfo& record) const;

  // The record the movie will carry of what it is made from; photoStamp is the photograph's
  // as looked at before it was read (a change after that makes the record stale, never wrong).
  std::string madeFromRecord(const std::string& image, const std::optional<media::FileStamp>& photoStamp,
                             SInt32 resize) const;

  // A movie of ours under the movie's name that another photograph in the folder made is that
  // one's: refused in words (dupFNErr), else noErr.
  OSErr checkMovieOwner(FSSpec& movie, const std::string& image);

  ConversionReport mReport;
  FSContentsHold mPhotograph;  // the photograph's bytes while a conversion needs them
  std::unique_ptr<ExImageInfo> mRecord;  // what was read of it (its audio blocks point into them)
  media::Still mStill;                   // its picture, as its kind hands it over
  sources::Located mLocated;             // its recording's source and what that found
  ExistingMovie mExistingMovie = ExistingMovie::replaceOwn;
  bool mCaptureMetadata = false;
  const outputs::Output* mOutput = &outputs::DefaultOutput();
  bool mUpdateOnly = false;
  PhotoFacts mFacts;  // of the photograph being converted
};
