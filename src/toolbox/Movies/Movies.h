// SPDX-License-Identifier: GPL-2.0-or-later
// The movie toolbox: movies, tracks, media, samples, import and flattening into a movie file.
// Movies live in memory; CreateMovieFile and FlattenMovieData write QuickTime files.
#pragma once
#include <memory>
#include <string>

#include "media/ByteReaders.h"
#include "media/StillMp4.h"
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Components.h"
#include "toolbox/Movies/ImageCompression.h"

struct MovieType;
struct TrackType;
struct MediaType;
struct UserDataRecord;
using UserData = UserDataRecord*;
using Movie = MovieType**;
using Track = TrackType**;
using Media = MediaType**;
using TimeValue = SInt32;
using TimeValue64 = SInt64;
using ByteCount = unsigned long;
using ItemCount = unsigned long;
using MediaSampleFlags = UInt32;
using TimeScale = SInt32;
using ComponentResult = SInt32;
using MovieImportComponent = ComponentInstance;

inline constexpr OSErr badFileFormat = -208;  // the file's contents are not of the expected kind

constexpr OSType VideoMediaType = FOUR_CHAR_CODE("vide");
constexpr OSType SoundMediaType = FOUR_CHAR_CODE("soun");
constexpr OSType HandleDataHandlerSubType = FOUR_CHAR_CODE("hndl");
constexpr OSType kSoundFormatTwosLittleEndian = FOUR_CHAR_CODE("sowt");
constexpr OSType kSoundFormat8BitOffsetBinary = FOUR_CHAR_CODE("raw ");
constexpr OSType kSoundFormatTwos = FOUR_CHAR_CODE("twos");
constexpr OSType kAudioFormatLinearPCM = FOUR_CHAR_CODE("lpcm");
constexpr SInt16 kFullVolume = 0x0100;
constexpr SInt16 kNoVolume = 0;
constexpr TimeScale kDefaultMovieTimeScale = 600;

// CreateMovieFile / FlattenMovieData flags.
constexpr long createMovieFileDeleteCurFile = 1L << 31;
constexpr long createMovieFileDontCreateResFile = 1L << 28;
constexpr long flattenAddMovieToDataFork = 1L << 0;
constexpr short movieInDataForkResID = -1;

// Movie import flags.
constexpr long movieImportCreateTrack = 1;

// Sample flags.
constexpr short mediaSampleNotSync = 1;

// What every sample description starts with; the full record depends on the media type.
struct SampleDescription {
  SInt32 descSize;
  OSType dataFormat;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
};
using SampleDescriptionPtr = SampleDescription*;
using SampleDescriptionHandle = SampleDescription**;

// A version-0 sound description: one sample is one frame of all channels.
struct SoundDescription {
  SInt32 descSize;
  OSType dataFormat;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt16 version;
  SInt16 revlevel;
  SInt32 vendor;
  SInt16 numChannels;
  SInt16 sampleSize;  // bits
  SInt16 compressionID;
  SInt16 packetSize;
  UInt32 sampleRate;  // unsigned 16.16
};
using SoundDescriptionHandle = SoundDescription**;

// A version-2 sound description: any rate, channel count and linear PCM layout ('lpcm'). The
// fields named always... hold fixed values that keep version-0 readers away. Extension atoms
// (such as the channel layout, 'chan') follow the structure in its handle, as the file stores them.
struct SoundDescriptionV2 {
  SInt32 descSize;  // the structure and its extensions
  OSType dataFormat;
  SInt32 resvd1;
  SInt16 resvd2;
  SInt16 dataRefIndex;
  SInt16 version;  // 2
  SInt16 revlevel;
  SInt32 vendor;
  SInt16 always3;
  SInt16 always16;
  SInt16 alwaysMinus2;
  SInt16 always0;
  UInt32 always65536;
  UInt32 sizeOfStructOnly;  // 72
  double audioSampleRate;
  UInt32 numAudioChannels;
  SInt32 always7F000000;
  UInt32 constBitsPerChannel;
  UInt32 formatSpecificFlags;  // kAudioFormatFlag... for 'lpcm'
  UInt32 constBytesPerAudioPacket;
  UInt32 constLPCMFramesPerAudioPacket;
};

// What a stream of linear PCM sound is (mFormatID kAudioFormatLinearPCM): one packet is one frame
// of all channels, samples interleaved.
struct AudioStreamBasicDescription {
  double mSampleRate;
  UInt32 mFormatID;
  UInt32 mFormatFlags;
  UInt32 mBytesPerPacket;
  UInt32 mFramesPerPacket;
  UInt32 mBytesPerFrame;
  UInt32 mChannelsPerFrame;
  UInt32 mBitsPerChannel;
  UInt32 mReserved;
};
constexpr UInt32 kAudioFormatFlagIsFloat = 1u << 0;
constexpr UInt32 kAudioFormatFlagIsBigEndian = 1u << 1;
constexpr UInt32 kAudioFormatFlagIsSignedInteger = 1u << 2;
constexpr UInt32 kAudioFormatFlagIsPacked = 1u << 3;

// Which speaker each channel feeds. Only the bitmap form is offered: bit 0 left, 1 right, 2 centre,
// 3 LFE, 4 left and 5 right surround, ... in the order a WAVE file's channel mask uses.
struct AudioChannelLayout {
  UInt32 mChannelLayoutTag;
  UInt32 mChannelBitmap;
  UInt32 mNumberChannelDescriptions;  // 0
};
constexpr UInt32 kAudioChannelLayoutTag_UseChannelBitmap = 1u << 16;

using QTSoundDescriptionKind = OSType;
constexpr QTSoundDescriptionKind kQTSoundDescriptionKind_Movie_LowestPossibleVersion = FOUR_CHAR_CODE("mvlo");

// A new sound description handle for linear PCM, of the lowest version that holds it: version 0
// ('raw ', 'twos' or 'sowt') for 8- or 16-bit integers, one or two channels and a whole rate up
// to 65535 Hz; else version 2 'lpcm', with the channel layout as an extension when one is given.
// The caller disposes of it. paramErr for anything but packed linear PCM of one frame per packet;
// no magic cookie is taken.
OSStatus QTSoundDescriptionCreate(const AudioStreamBasicDescription* inASBD, const AudioChannelLayout* inLayout,
                                  UInt32 inLayoutSize, const void* inMagicCookie, UInt32 inMagicCookieSize,
                                  QTSoundDescriptionKind inRequestedKind, SoundDescriptionHandle* outSndDesc);

OSErr EnterMovies();
OSErr GetMoviesError();  // the result of the last movie toolbox call

Movie NewMovie(long flags);
void DisposeMovie(Movie movie);
TimeValue GetMovieDuration(Movie movie);
long GetMovieTrackCount(Movie movie);
Track GetMovieIndTrack(Movie movie, long index);  // 1-based

// The file is created (replaced with createMovieFileDeleteCurFile) and stays open. The new
// movie's samples stay in memory (copies, or references to bytes kept alive elsewhere) until
// FlattenMovieData writes them out.
OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, ScriptCode scriptTag, long createMovieFileFlags,
                      short* resRefNum, Movie* newmovie);
OSErr CloseMovieFile(short resRefNum);
// Files the movie's header with the open movie file it was made with. Its samples are in memory,
// so nothing is written: the movie reaches a disk whole, by FlattenMovieData.
OSErr AddMovieResource(Movie movie, short resRefNum, short* resId, ConstStr255Param resName);
// Writes a self-contained copy of the movie. The target is replaced in one step once the copy is
// complete and flushed; on failure it is left as it was. Returns the new movie, or nullptr with
// GetMoviesError set.
Movie FlattenMovieData(Movie movie, long movieFlattenFlags, const FSSpec* theFile, OSType creator,
                       ScriptCode scriptTag, long createMovieFileFlags);

// Writes the MP4 of a still and its recording into the working file (empty, never named by the
// caller yet): H.264 of the picture turned upright, AAC of the sound, the request's metadata. With
// motionPhoto, the photograph's own JPEG with the XMP that marks it a motion photo comes first.
// badFileFormat for a photograph that already is one, codecBadDataErr when its header is damaged,
// noVideoTrackInMovieErr when the JPEG is no picture, cantFindHandler when libavcodec lacks an
// encoder, codecErr when an encoder refuses or fails, the system's error when the disk does.
// problem, when given, receives the failure in words.
OSErr ExportStillToMp4(const FSSpec* working, const media::Still& still, media::PcmSource& sound,
                       const media::StillMp4Request& request, Boolean motionPhoto, std::string* problem = nullptr);
// A byte reader over the file a specification names (never through a link), owning its descriptor.
OSErr FSpOpenByteReader(const FSSpec* spec, std::unique_ptr<media::FdByteReader>* reader);
// Whether a photograph's bytes already make a motion photo.
Boolean IsMotionPhotoData(const UInt8* data, std::size_t size);

// The movie's user data, written into its header with the tracks.
UserData GetMovieUserData(Movie movie);
// Adds the handle's bytes as text to the index-th item (from 1) of that type, one entry per
// region code: an entry of the same region is replaced. Index one past the last adds an item.
OSErr AddUserDataText(UserData theUserData, Handle data, OSType udType, long index, short itlRegionTag);

// When the movie was made, in seconds since 1904 (UTC): its header and those of its tracks and
// media carry it. A new movie is made now; its modification time stays the time it was made.
void SetMovieCreationTime(Movie movie, UInt64 creationTime);  // seconds since 1904, any year

Track NewMovieTrack(Movie movie, Fixed width, Fixed height, short trackVolume);
void DisposeMovieTrack(Track track);
Movie GetTrackMovie(Track track);
TimeValue GetTrackDuration(Track track);  // movie time units
void GetTrackDimensions(Track track, Fixed* width, Fixed* height);
// How the track's picture (width by height) is placed in the movie: turned, mirrored, moved.
// A new track's matrix is the identity; nullptr sets the identity.
void SetTrackMatrix(Track track, const MatrixRecord* matrix);
Media NewTrackMedia(Track track, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType dataRefType);
Media GetTrackMedia(Track track);
Track GetMediaTrack(Media media);
TimeScale GetMediaTimeScale(Media media);
TimeValue GetMediaDuration(Media media);  // media time units
long GetMediaSampleCount(Media media);
OSType GetMediaType(Media media);

OSErr BeginMediaEdits(Media media);
OSErr EndMediaEdits(Media media);
// Copies size bytes from dataIn at inOffset: numberOfSamples samples of equal size and duration.
OSErr AddMediaSample(Media media, Handle dataIn, long inOffset, unsigned long size, TimeValue durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, long numberOfSamples, short sampleFlags,
                     TimeValue* sampleTime);
// The same from bytes in memory. Bytes that a shared pointer block keeps alive (NewPtrSharing)
// are kept by reference until the movie no longer needs them; others are copied. Samples are
// shown in decoding order: a display offset other than 0 is featureUnsupported.
OSErr AddMediaSample2(Media media, const UInt8* dataIn, ByteCount size, TimeValue64 decodeDurationPerSample,
                      TimeValue64 displayOffset, SampleDescriptionHandle sampleDescriptionH,
                      ItemCount numberOfSamples, MediaSampleFlags sampleFlags, TimeValue64* sampleDecodeTimeOut);
// Appends the media segment to the track at trackStart (not before the track's end).
OSErr InsertMediaIntoTrack(Track track, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate);

ComponentResult MovieImportFile(MovieImportComponent ci, const FSSpec* theFile, Movie theMovie, Track targetTrack,
                                Track* usedTrack, TimeValue atTime, TimeValue* addedDuration, long inFlags,
                                long* outFlags);
// dataRef is a handle whose block holds the handle of the data ('hndl').
ComponentResult MovieImportDataRef(MovieImportComponent ci, Handle dataRef, OSType dataRefType, Movie theMovie,
                                   Track targetTrack, Track* usedTrack, TimeValue atTime, TimeValue* addedDuration,
                                   long inFlags, long* outFlags);

// Whether the importer can take the file (or, with theFile null, the bytes in the handle theData):
// noErr, with valid set, when the source is of the importer's kind; formatName, when given,
// receives its format in words ("GSM 6.10", "IMA ADPCM, 4 channels"). badFileFormat when the
// source is not of the importer's kind or is too damaged to say.
ComponentResult MovieImportValidate(MovieImportComponent ci, const FSSpec* theFile, Handle theData, Boolean* valid,
                                    std::string* formatName = nullptr);

// Reads a movie file back: the duration of its first track of the given media type, in the movie's
// time scale. invalidMovie when the file is not a readable movie, noMediaHandler when no such track.
OSErr GetMovieFileTrackDuration(const FSSpec* file, OSType mediaType, TimeValue* duration, TimeScale* movieScale);
// Reads a movie file's user-data text back: the first entry of the first item of that type, or in
// an MP4 the metadata text under that type's key; a motion photo's movie is read after its picture.
// Only a regular file is read, never through a link. invalidMovie when the file is not a
// readable movie, userDataItemNotFound when it has no such item.
OSErr GetMovieFileUserDataText(const FSSpec* file, OSType udType, std::string* text);

