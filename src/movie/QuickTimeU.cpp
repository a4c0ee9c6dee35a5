// SPDX-License-Identifier: GPL-2.0-or-later
// Movie assembly: the sound track from the WAVE file, the photograph as one still frame lasting as
// long as the sound, built in a private working file and flattened into the target movie.
#include <cstring>
#include <string>

#include "media/MadeFrom.h"
#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/SafeSave.h"

namespace {

// Every movie names its maker in its user data: the software item ('©swr'), which readers show
// as the encoder. The creator code cannot serve: it is QuickTime Player's, shared by every Mac
// movie, and file systems and copies drop it.
constexpr OSType kMarkType = FOUR_CHAR_CODE("\xA9swr");
constexpr short kMarkRegion = 0;  // English
constexpr const char* kMarkPrefix = "still2mov";
constexpr const char* kMark = "still2mov " STILL2MOV_VERSION;
// The record of the files a movie was made from: a private user-data item, which players pass over.
constexpr OSType kMadeFromType = media::kMadeFromItemType;
constexpr long kReplaceDataForkOnly = createMovieFileDeleteCurFile | createMovieFileDontCreateResFile;
constexpr TimeScale kVideoTimeScale = 600;

void report(const char* message) {
  Str255 text;
  CopyCStringToPascal(message, text);
  DebugStr(text);
}

int sign16(long err) { return int(SInt16(err)); }

bool isWriteFailure(OSErr err) {
  return err == ioErr || err == dskFulErr || err == wPrErr || err == permErr || err == wrPermErr;
}

long importWave(ComponentInstance importer, Handle dataRef, Movie movie, Track* usedTrack) {
  TimeValue added = 0;
  long outFlags = 0;
  MovieImportDataRef(importer, dataRef, HandleDataHandlerSubType, movie, nullptr, usedTrack, 0, &added,
                     movieImportCreateTrack, &outFlags);
  return added;
}

// A handle data reference over a copy of the bytes; used and released within the import.
long importWaveBytes(Movie movie, char* data, long length, Track* usedTrack) {
  Handle bytes = NewHandleClear(length > 0 ? length : 0);
  if (bytes == nullptr) return 0;
  if (length > 0 && data != nullptr) std::memcpy(*bytes, data, size_t(length));
  Handle dataRef = NewHandleClear(sizeof(Handle));
  long added = 0;
  if (dataRef != nullptr) {
    std::memcpy(*dataRef, &bytes, sizeof bytes);
    ComponentInstance importer = OpenDefaultComponent(MovieImportType, kQTFileTypeWave);
    if (importer != nullptr) {
      added = importWave(importer, dataRef, movie, usedTrack);
      CloseComponent(importer);
    }
    DisposeHandle(dataRef);
  }
  // The importer copied the samples into the movie; nothing refers to these bytes any more.
  DisposeHandle(bytes);
  return added;
}

}  // namespace

int QuickTimeU::CreateMovie(FSSpec& movie, FSSpec& image, FSSpec& audio, int resize, const PhotoFacts& facts,
                            const MoviePublication& publication, const media::Still* still) {
  OSErr err = EnterMovies();
  if (err != noErr) {
    report("Image Convert: CreateMovieFile failed");
    return err;
  }

  // A private working file beside the target, without a name where the file system allows:
  // no file of the user's is touched, and a killed conversion leaves nothing behind.
  FSSpec working;
  err = FSpCreateTemporary(&movie, "tmp.mov", &working);
  short resRefNum = 0;
  Movie theMovie = nullptr;
  if (err == noErr) {
    err = CreateMovieFile(&working, kMovieCreator, smCurrentScript, kReplaceDataForkOnly, &resRefNum, &theMovie);
    if (err != noErr) FSpDelete(&working);
  }
  if (err != noErr) {
    report("Image Convert: CreateMovieFile failed");
    return err;
  }
  auto discard = [&]() {
    if (resRefNum != 0) CloseMovieFile(resRefNum);
    DisposeMovie(theMovie);
    FSpDelete(&working);
  };

  OSErr importErr = noErr;
  long duration = CreateSoundTrack(theMovie, audio, &importErr);
  if (duration == 0) {
    discard();
    // A kind of recording no movie can carry is said in words by the caller.
    if (importErr != noCodecErr) report("Image Convert: CreateSoundTrack failed");
    // A disk that fails while the sound is stored is not a recording without sound, nor is a
    // recording of a kind no movie here can carry, a damaged header, one too long for a movie,
    // or a lack of memory.
    return isWriteFailure(importErr) || importErr == noCodecErr || importErr == invalidSampleDescription ||
                   importErr == invalidDuration || importErr == memFullErr
               ? importErr
               : -1;
  }

  // A movie without its still frame is no movie: nothing is written.
  int videoErr = CreateVideoTrack(theMovie, image, duration, resize, still);
  if (videoErr != noErr) {
    discard();
    report("Image Convert: CreateVideoTrack failed");
    return videoErr;
  }

  // A still of its own stands upright by its orientation, which the photograph's record may not
  // hold (a raw's orientation is LibRaw's reading where the raw is not TIFF-based).
  PhotoFacts shown = facts;
  if (still != nullptr) shown.orientation = UInt16(still->orientation >= 1 && still->orientation <= 8 ? still->orientation : 1);
  err = AddPhotoFacts(theMovie, shown);
  if (err == noErr) err = MarkMovie(theMovie);
  if (err == noErr && !facts.madeFrom.empty()) {
    Handle text = nullptr;
    err = PtrToHand(facts.madeFrom.data(), &text, long(facts.madeFrom.size()));
    if (err == noErr && text == nullptr) err = memFullErr;
    if (err == noErr) err = AddUserDataText(GetMovieUserData(theMovie), text, kMadeFromType, 1, kMarkRegion);
    if (text != nullptr) DisposeHandle(text);
  }
  short resId = movieInDataForkResID;
  if (err == noErr) err = AddMovieResource(theMovie, resRefNum, &resId, nullptr);
  if (err != noErr) {
    report("Image Convert: CreateMovieFile failed");
    discard();
    return err;
  }
  if (resRefNum != 0) CloseMovieFile(resRefNum);

  // Written into a second working file, which gets the movie's name only once complete and only
  // as the caller's rule allows: an earlier movie stays until then.
  FSSpec finished;
  err = FSpCreateTemporary(&movie, "mov", &finished);
  const bool made = err == noErr;
  if (made) {
    Movie flattened = FlattenMovieData(theMovie, flattenAddMovieToDataFork, &finished, kMovieCreator, smSystemScript,
                                       kReplaceDataForkOnly);
    err = GetMoviesError();
    if (err != noErr) report("Image Convert: FlattenMovieData failed");
    if (flattened != nullptr) DisposeMovie(flattened);
  }
  DisposeMovie(theMovie);
  FSpDelete(&working);

  UInt16 permissions = 0;
  if (err == noErr) err = FSpPermissionsForSaving(&movie, &permissions);
  if (err == noErr) err = FSpSetPermissions(&finished, permissions & publication.permissionCeiling);
  if (err == noErr) err = FSpPublishTemporaryByRule(&finished, &movie, publication.rule, &publication.checked);
  // A name taken meanwhile is the caller's to tell; anything else is a failed save.
  if (err != noErr && err != dupFNErr) report("Image Convert: FlattenMovieData failed");
  if (err != noErr && made) FSpDelete(&finished);
  return err;
}

long QuickTimeU::CreateSoundTrack(Movie movie, FSSpec& audio, OSErr* importErr) {
  if (importErr) *importErr = noErr;
  ComponentInstance importer = OpenDefaultComponent(MovieImportType, kQTFileTypeWave);
  if (importer == nullptr) return 0;
  Track usedTrack = nullptr;
  TimeValue added = 0;
  long outFlags = 0;
  ComponentResult result =
      MovieImportFile(importer, &audio, movie, nullptr, &usedTrack, 0, &added, movieImportCreateTrack, &outFlags);
  if (importErr) *importErr = OSErr(result);
  CloseComponent(importer);
  return added;
}

std::string QuickTimeU::SoundFormatName(FSSpec& audio) {
  std::string name;
  ComponentInstance importer = OpenDefaultComponent(MovieImportType, kQTFileTypeWave);
  if (importer == nullptr) return name;
  Boolean valid = false;
  MovieImportValidate(importer, &audio, nullptr, &valid, &name);
  CloseComponent(importer);
  return name;
}

int QuickTimeU::CreateVideoTrack(Movie movie, FSSpec& image, long duration, int resize, const media::Still* still) {
  short width = 0, height = 0;
  GetScaledDimension(image, &width, &height, short(resize), still);

  Track track = NewMovieTrack(movie, IntToFixed(width), IntToFixed(height), kNoVolume);
  OSErr err = GetMoviesError();
  if (err != noErr) return sign16(err);
  Media media = NewTrackMedia(track, VideoMediaType, kVideoTimeScale, nullptr, 0);
  err = GetMoviesError();
  if (err != noErr) return sign16(err);
  err = BeginMediaEdits(media);
  if (err != noErr) return sign16(err);

  char* data = nullptr;
  ImageDescriptionHandle desc = nullptr;
  if (resize != 0) {
    // Nothing but this step reads the scaled copy, so it is made in memory, not in a file.
    CreateScaledImage(image, width, height, &data, &desc, still);
  } else {
    data = GetImageDataFromFile(image, still);
    desc = GetImageDescFromFile(image, still);
  }
  // The frame is the movie's picture: without it (unreadable, or not stored) the track fails.
  OSErr frameErr = noErr;
  if (data == nullptr || desc == nullptr || width <= 0 || height <= 0) {
    frameErr = noVideoTrackInMovieErr;
  } else if (!AddImageToMedia(media, desc, data, duration)) {
    frameErr = GetMoviesError() != noErr ? GetMoviesError() : noVideoTrackInMovieErr;
  }
  if (data != nullptr) DisposePtr(data);
  if (desc != nullptr) DisposeHandle(reinterpret_cast<Handle>(desc));

  err = EndMediaEdits(media);
  if (frameErr != noErr) return sign16(frameErr);
  if (err != noErr) return sign16(err);
  return sign16(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1));
}

OSErr QuickTimeU::MarkMovie(Movie movie) {
  Handle text = nullptr;
  OSErr err = PtrToHand(kMark, &text, long(std::strlen(kMark)));
  if (err != noErr || text == nullptr) return err != noErr ? err : memFullErr;
  err = AddUserDataText(GetMovieUserData(movie), text, kMarkType, 1, kMarkRegion);
  DisposeHandle(text);
  return err;
}

bool QuickTimeU::IsMarkedMovie(FSSpec& movie) {
  std::string text;
  return GetMovieFileUserDataText(&movie, kMarkType, &text) == noErr &&
         text.compare(0, std::strlen(kMarkPrefix), kMarkPrefix) == 0;
}

// data is a pointer block, so its length bounds the sample whatever the description claims. The
// media takes the bytes from the block itself: the photograph's bytes, which the block shares,
// stay where they are until the movie is flattened; any other block is copied.
bool QuickTimeU::AddImageToMedia(Media media, ImageDescriptionHandle desc, char* data, long duration) {
  if (data == nullptr || desc == nullptr || *desc == nullptr || media == nullptr) return false;
  long size = (*desc)->dataSize;
  long available = GetPtrSize(data);
  if (size > available) size = available;
  if (size <= 0) return false;
  OSErr err = AddMediaSample2(media, reinterpret_cast<const UInt8*>(data), ByteCount(size), duration, 0,
                              reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr);
  return err == noErr;
}

long QuickTimeU::ImportWAVDataFromMemory(Movie movie, char* data, long length) {
  Track usedTrack = nullptr;
  return importWaveBytes(movie, data, length, &usedTrack);
}

long QuickTimeU::GetMediaFromPtr(char* data, long length, Media* media) {
  if (media) *media = nullptr;
  // The movie stays alive: the media returned belongs to it (GetTrackMovie(GetMediaTrack(m))
  // finds it for release).
  Movie movie = NewMovie(0);
  if (movie == nullptr) return 0;
  Track usedTrack = nullptr;
  long added = importWaveBytes(movie, data, length, &usedTrack);
  if (added == 0 || usedTrack == nullptr) {
    DisposeMovie(movie);
    return 0;
  }
  if (media) *media = GetTrackMedia(usedTrack);
  return added;
}
