// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 and the motion photo, written straight from the still and the recording's PCM into one
// private working file, then given the movie's name by the caller's rule, as every movie is.
#include <algorithm>
#include <cstdint>
#include <ctime>

#include "media/JpegStructure.h"
#include "media/MadeFrom.h"
#include "media/WavePcmSource.h"
#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/FileContents.h"
#include "toolbox/Files/SafeSave.h"
#include "toolbox/Movies/Mp4MetadataKeys.h"
#include "toolbox/Processes/WorkerProcesses.h"

namespace {

constexpr std::int64_t kMacEpochOffset = 2082844800;  // seconds from 1904 to 1970

void report(const char* message) {
  Str255 text;
  CopyCStringToPascal(message, text);
  DebugStr(text);
}

// The MP4 items the movie's header and user data carry, under the keys the movie file reader
// reads them back by.
std::map<std::string, std::string> metadataOf(const PhotoFacts& facts) {
  std::map<std::string, std::string> items;
  const std::int64_t macTime = facts.creationTime ? std::int64_t(*facts.creationTime)
                                                  : std::int64_t(std::time(nullptr)) + kMacEpochOffset;
  const std::time_t unix = std::time_t(macTime - kMacEpochOffset);
  std::tm utc{};
  char date[32];
  if (gmtime_r(&unix, &utc) != nullptr && std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc) > 0)
    items["creation_time"] = date;
  auto add = [&](OSType type, const std::string& text) {
    if (!text.empty()) items[Mp4KeyForUserDataType(type)] = text;
  };
  add(FOUR_CHAR_CODE("\xA9" "day"), facts.localTime);
  add(FOUR_CHAR_CODE("\xA9mak"), facts.make);
  add(FOUR_CHAR_CODE("\xA9mod"), facts.model);
  if (facts.position) {
    const std::string place = QuickTimeU::ISO6709Text(*facts.position);
    add(FOUR_CHAR_CODE("\xA9xyz"), place);
    items["location"] = place;  // where 3GPP readers look
  }
  add(OSType(media::kMadeFromItemType), facts.madeFrom);
  return items;
}

// The box a resize to width target fits the frame into, in the stored orientation: the size the
// movie's scaled copy is given (the height in proportion, at least 1, both in 16 bits).
void resizedBox(int width, int height, int target, int* frameWidth, int* frameHeight) {
  *frameWidth = *frameHeight = 0;
  if (target <= 0 || width <= 0 || height <= 0) return;
  *frameWidth = std::min(target, 32767);
  *frameHeight = int(std::clamp<std::int64_t>(std::int64_t(height) * *frameWidth / width, 1, 32767));
}

}  // namespace

int QuickTimeU::CreateStillMp4(FSSpec& movie, const media::Still& still, media::PcmSource& sound, int resize,
                               const PhotoFacts& facts, const MoviePublication& publication, bool motionPhoto,
                               std::string* problem) {
  media::StillMp4Request request;
  resizedBox(still.width, still.height, resize, &request.boxWidth, &request.boxHeight);
  request.metadata = metadataOf(facts);
  // A worker among several has no processor to spare: it encodes the sound in line.
  request.soundAhead = !IsWorkerProcess();

  // A private working file beside the target, without a name where the file system allows: no
  // file of the user's is touched, and a killed conversion leaves nothing behind.
  FSSpec working;
  OSErr err = FSpCreateTemporary(&movie, motionPhoto ? "motion.jpg" : "mp4", &working);
  if (err != noErr) {
    report("Image Convert: CreateMovieFile failed");
    return err;
  }
  std::string words;
  const OSErr written = ExportStillToMp4(&working, still, sound, request, motionPhoto, &words);
  if (written != noErr) {
    report(motionPhoto ? "Image Convert: the motion photo could not be written" : "Image Convert: the MP4 could not be written");
    if (!words.empty()) report(words.c_str());
  }
  if (problem) *problem = words;
  err = written;

  UInt16 permissions = 0;
  if (err == noErr) err = FSpPermissionsForSaving(&movie, &permissions);
  if (err == noErr) err = FSpSetPermissions(&working, permissions & publication.permissionCeiling);
  if (err == noErr) err = FSpPublishTemporaryByRule(&working, &movie, publication.rule, &publication.checked);
  if (err != noErr && err != dupFNErr && written == noErr)
    report("Image Convert: the movie could not be saved");
  if (err != noErr) FSpDelete(&working);
  return err;
}

int QuickTimeU::CreateStillMp4FromWave(FSSpec& movie, const media::Still& still, media::ByteReader& wave, int resize,
                                       const PhotoFacts& facts, const MoviePublication& publication, bool motionPhoto,
                                       std::string* problem) {
  media::WavePcmSource sound(wave);
  OSErr soundErr = noErr;
  switch (sound.refusal()) {
    case media::WaveRefusal::none: break;
    case media::WaveRefusal::noSound: soundErr = -1; break;
    case media::WaveRefusal::unsupported: soundErr = noCodecErr; break;
    case media::WaveRefusal::damaged: soundErr = invalidSampleDescription; break;
    case media::WaveRefusal::tooLong: soundErr = invalidDuration; break;
  }
  if (soundErr != noErr) {
    if (soundErr != noCodecErr) report("Image Convert: CreateSoundTrack failed");
    if (soundErr == noCodecErr && problem) *problem = "recording format " + sound.formatWords() + " not supported";
    return soundErr;
  }
  return CreateStillMp4(movie, still, sound, resize, facts, publication, motionPhoto, problem);
}
