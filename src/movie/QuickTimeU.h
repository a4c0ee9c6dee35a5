// SPDX-License-Identifier: GPL-2.0-or-later
// Movie utilities: assembling the movie's sound and video tracks, sizing and scaling the image,
// and reading an image file's data and description. All static; no state between calls.
#pragma once
#include <string>

#include "media/Recording.h"
#include "media/Still.h"
#include "movie/PhotoFacts.h"
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Components.h"
#include "toolbox/Movies/ImageCompression.h"
#include "toolbox/Movies/Movies.h"

// The box that AdjustImageInt fits an image into.
struct SDimension32 {
  SInt32 width;
  SInt32 height;
};

enum SCALE_TYPE { SCALE_AUTO = 0, SCALE_FIT_WIDTH = 1, SCALE_FIT_HEIGHT = 2 };

// How the finished movie takes its name, and how readable it may be.
struct MoviePublication {
  FSPublishRule rule = FSPublishRule::replaceAny;
  FSItemStamp checked;             // for replaceChecked: what the caller found under the name
  UInt16 permissionCeiling = 0777;  // permission bits the movie never goes beyond
};

class QuickTimeU {
 public:
  // The creator code of the movie files made here: QuickTime Player's, so desktops that read
  // it open them there.
  static constexpr OSType kMovieCreator = FOUR_CHAR_CODE("TVOD");

  // Movie assembly.
  // facts: how the picture stands and what else the movie carries of the photograph. publication:
  // how the finished file may take the movie's name. still: the frame's picture when it is not the
  // image file itself (a raw's preview), standing upright by its own orientation.
  static int CreateMovie(FSSpec& movie, FSSpec& image, FSSpec& audio, int resize, const PhotoFacts& facts = {},
                         const MoviePublication& publication = {}, const media::Still* still = nullptr);
  // The MP4 (or, with motionPhoto, the motion photo) of a still and its recording, written straight
  // from the JPEG and the PCM into a working file beside movie and published as CreateMovie
  // publishes. resize: the frame's width in the stored orientation, 0 for the picture's own size.
  // problem, when given, receives the failure in words (an encoder's refusal, say).
  static int CreateStillMp4(FSSpec& movie, const media::Still& still, media::PcmSource& sound, int resize,
                            const PhotoFacts& facts, const MoviePublication& publication, bool motionPhoto,
                            std::string* problem = nullptr);
  // CreateStillMp4 of a still and a recording stored as a WAVE file (its bytes at wave): the
  // WAVE's faults are said as the movie's sound import says them.
  static int CreateStillMp4FromWave(FSSpec& movie, const media::Still& still, media::ByteReader& wave, int resize,
                                    const PhotoFacts& facts, const MoviePublication& publication, bool motionPhoto,
                                    std::string* problem = nullptr);
  // importErr, when given, receives the import's own result.
  static long CreateSoundTrack(Movie movie, FSSpec& audio, OSErr* importErr = nullptr);
  // The recording's format in words ("GSM 6.10"), or "" when it is no readable WAVE file.
  static std::string SoundFormatName(FSSpec& audio);
  // The picture is the still's when one is given, else the image file's; so in every call below.
  static int CreateVideoTrack(Movie movie, FSSpec& image, long duration, int resize,
                              const media::Still* still = nullptr);
  static bool AddImageToMedia(Media media, ImageDescriptionHandle desc, char* data, long duration);
  static long ImportWAVDataFromMemory(Movie movie, char* data, long length);
  static long GetMediaFromPtr(char* data, long length, Media* media);
  // The mark CreateMovie writes into every movie, and whether the file at movie carries it (a
  // regular file only, never read through a link).
  static OSErr MarkMovie(Movie movie);
  static bool IsMarkedMovie(FSSpec& movie);
  // Sets the video track's matrix so that a picture stored with that EXIF orientation shows
  // upright; the track keeps the stored picture's size. The facts' capture time and camera
  // items go into the movie's headers and user data.
  static OSErr OrientVideoTrack(Movie movie, UInt16 orientation);
  static OSErr AddPhotoFacts(Movie movie, const PhotoFacts& facts);
  // The position as ISO 6709 text, as QuickTime's location item holds it: "+48.858370+002.294481/".
  static std::string ISO6709Text(const GeoPosition& position);

  // Image scaling and descriptions.
  static int GetScaledDimension(FSSpec& image, short* width, short* height, short target,
                                const media::Still* still = nullptr);
  static OSErr AdjustImageInt(ComponentInstanceRecord* importer, unsigned short rotation, SDimension32 box,
                              SCALE_TYPE scaleType);
  // Writes the scaled copy to a new, uniquely named file beside the source and names it in
  // destination; the caller deletes it.
  static bool CreateScaledImageFile(FSSpec& source, FSSpec& destination, short width, short height);
  // The same scaled copy made in memory, with what GetImageDataFromFile and GetImageDescFromFile
  // would read from it: a NewPtr block and a description, both the caller's. On failure both
  // are null and the result says why (a damaged photograph's decoding error, say).
  static OSErr CreateScaledImage(FSSpec& source, short width, short height, char** data, ImageDescriptionHandle* desc,
                                 const media::Still* still = nullptr);
  // A pointer block (GetPtrSize gives its length) that the caller releases with DisposePtr; it
  // shares the image's bytes with whoever holds them rather than copying them.
  static char* GetImageDataFromFile(FSSpec& image, const media::Still* still = nullptr);
  static ImageDescriptionHandle GetImageDescFromFile(FSSpec& image, const media::Still* still = nullptr);
  static ImageDescriptionHandle GetImageDescForImage(char* data, unsigned long length);
};
