// SPDX-License-Identifier: GPL-2.0-or-later
// Movies, tracks and media in memory: creation, sample tables, edits and the last toolbox error.
// Sample bytes go straight to the movie's store; only their places and sizes are kept here.
#include "toolbox/Movies/MovieModel.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <new>

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Files/Descriptors.h"
#include "toolbox/Movies/SampleDescriptionHandles.h"

namespace movies {

namespace {
OSErr gMoviesError = noErr;

class MemoryStore : public SampleStore {
 public:
  OSErr append(const void* bytes, size_t count, UInt64* offset) override {
    std::shared_ptr<UInt8[]> copy(new (std::nothrow) UInt8[count ? count : 1]);
    if (!copy) return memFullErr;
    if (count > 0) std::memcpy(copy.get(), bytes, count);
    const UInt8* at = copy.get();
    return appendShared(std::move(copy), at, count, offset);
  }
  OSErr appendShared(std::shared_ptr<const void> owner, const void* bytes, size_t count, UInt64* offset) override {
    *offset = end_;
    runs_.push_back(Run{end_, static_cast<const UInt8*>(bytes), count, std::move(owner)});
    end_ += count;
    return noErr;
  }
  OSErr read(UInt64 offset, void* bytes, size_t count) const override {
    auto* out = static_cast<UInt8*>(bytes);
    while (count > 0) {
      const Run* r = runAt(offset);
      if (r == nullptr) return eofErr;
      size_t from = size_t(offset - r->start);
      size_t n = std::min(count, r->count - from);
      std::memcpy(out, r->bytes + from, n);
      out += n;
      offset += n;
      count -= n;
    }
    return noErr;
  }
  const UInt8* view(UInt64 offset, size_t count) const override {
    const Run* r = runAt(offset);
    if (r == nullptr || count > r->count - size_t(offset - r->start)) return nullptr;
    return r->bytes + (offset - r->start);
  }

 private:
  struct Run {
    UInt64 start;
    const UInt8* bytes;
    size_t count;
    std::shared_ptr<const void> owner;
  };
  // The run holding offset, found by halving: runs are in offset order.
  const Run* runAt(UInt64 offset) const {
    auto it = std::upper_bound(runs_.begin(), runs_.end(), offset,
                               [](UInt64 v, const Run& r) { return v < r.start; });
    if (it == runs_.begin()) return nullptr;
    --it;
    return offset < it->start + it->count ? &*it : nullptr;
  }
  std::vector<Run> runs_;
  UInt64 end_ = 0;
};

class FileStore : public SampleStore {
 public:
  explicit FileStore(std::shared_ptr<MovieFileState> file) : file_(std::move(file)) {}
  OSErr append(const void* bytes, size_t count, UInt64* offset) override {
    *offset = file_->end;
    OSErr err = FSWriteAt(file_->fd, file_->end, bytes, count);
    if (err == noErr) file_->end += count;
    return err;
  }
  OSErr read(UInt64 offset, void* bytes, size_t count) const override {
    return FSReadAt(file_->fd, offset, bytes, count);
  }

 private:
  std::shared_ptr<MovieFileState> file_;
};

// Offsets at or past this one are the working file's (less the base); below, memory's.
constexpr UInt64 kSpilledBase = UInt64(1) << 62;

class SpillingStore : public SampleStore {
 public:
  SpillingStore(std::shared_ptr<MovieFileState> file, UInt64 memoryBound)
      : file_(std::move(file)), memoryBound_(memoryBound) {}
  OSErr append(const void* bytes, size_t count, UInt64* offset) override {
    if (count <= memoryBound_ - std::min(copied_, memoryBound_)) {
      copied_ += count;
      return memory_.append(bytes, count, offset);
    }
    UInt64 at = 0;
    OSErr err = file_.append(bytes, count, &at);
    *offset = kSpilledBase + at;
    return err;
  }
  OSErr appendShared(std::shared_ptr<const void> owner, const void* bytes, size_t count, UInt64* offset) override {
    return memory_.appendShared(std::move(owner), bytes, count, offset);
  }
  OSErr read(UInt64 offset, void* bytes, size_t count) const override {
    return offset >= kSpilledBase ? file_.read(offset - kSpilledBase, bytes, count) : memory_.read(offset, bytes, count);
  }
  const UInt8* view(UInt64 offset, size_t count) const override {
    return offset >= kSpilledBase ? nullptr : memory_.view(offset, count);
  }

 private:
  MemoryStore memory_;
  FileStore file_;
  UInt64 memoryBound_;
  UInt64 copied_ = 0;
};

Movie makeMovie(std::shared_ptr<SampleStore> store) {
  auto* m = new MovieType;
  m->store = std::move(store);
  m->creationTime = macTimeNow();
  m->modificationTime = m->creationTime;
  return &m->self;
}
}  // namespace

MovieFileState::~MovieFileState() {
  if (fd >= 0) close(fd);
}

std::shared_ptr<SampleStore> makeMemoryStore() { return std::make_shared<MemoryStore>(); }
std::shared_ptr<SampleStore> makeFileStore(std::shared_ptr<MovieFileState> file) {
  return std::make_shared<FileStore>(std::move(file));
}
std::shared_ptr<SampleStore> makeSpillingStore(std::shared_ptr<MovieFileState> file, UInt64 memoryBound) {
  return std::make_shared<SpillingStore>(std::move(file), memoryBound);
}

void setMoviesError(OSErr err) { gMoviesError = err; }

UInt32 macTimeNow() { return UInt32(UInt64(std::time(nullptr)) + 2082844800ULL); }

Movie newMovieWithStore(std::shared_ptr<SampleStore> store) { return makeMovie(std::move(store)); }

}  // namespace movies

using namespace movies;

SInt64 TrackType::duration() const {
  SInt64 total = 0;
  for (const Edit& e : edits) total += e.trackDuration;
  return total;
}

SInt64 MovieType::duration() const {
  SInt64 longest = 0;
  for (const auto& t : tracks) longest = std::max(longest, t->duration());
  return longest;
}

OSErr EnterMovies() {
  setMoviesError(noErr);
  return noErr;
}

OSErr GetMoviesError() { return gMoviesError; }

Movie NewMovie(long) {
  setMoviesError(noErr);
  return makeMovie(makeMemoryStore());
}

void DisposeMovie(Movie movie) {
  delete get(movie);
  setMoviesError(noErr);
}

TimeValue GetMovieDuration(Movie movie) {
  MovieType* m = get(movie);
  setMoviesError(m ? noErr : invalidMovie);
  return m ? TimeValue(m->duration()) : 0;
}

long GetMovieTrackCount(Movie movie) {
  MovieType* m = get(movie);
  setMoviesError(m ? noErr : invalidMovie);
  return m ? long(m->tracks.size()) : 0;
}

Track GetMovieIndTrack(Movie movie, long index) {
  MovieType* m = get(movie);
  if (m == nullptr || index < 1 || size_t(index) > m->tracks.size()) {
    setMoviesError(m ? badTrackIndex : invalidMovie);
    return nullptr;
  }
  setMoviesError(noErr);
  return &m->tracks[size_t(index) - 1]->self;
}

UserData GetMovieUserData(Movie movie) {
  MovieType* m = get(movie);
  setMoviesError(m ? noErr : invalidMovie);
  return m ? &m->userData : nullptr;
}

// A text item holds entries of a 16-bit length, a 16-bit region (language) code and the text.
OSErr AddUserDataText(UserData theUserData, Handle data, OSType udType, long index, short itlRegionTag) {
  auto fail = [](OSErr err) {
    setMoviesError(err);
    return err;
  };
  if (theUserData == nullptr || data == nullptr || *data == nullptr || index < 1) return fail(paramErr);
  Size length = GetHandleSize(data);
  if (length > 0xFFFF) return fail(paramErr);
  std::vector<UserDataRecord::Item*> ofType;
  for (auto& item : theUserData->items)
    if (item.type == udType) ofType.push_back(&item);
  if (size_t(index) > ofType.size() + 1) return fail(userDataItemNotFound);
  if (size_t(index) == ofType.size() + 1) {
    theUserData->items.push_back({udType, {}});
    ofType.push_back(&theUserData->items.back());
  }
  std::vector<UInt8>& body = ofType[size_t(index) - 1]->body;
  std::vector<UInt8> kept;
  for (size_t at = 0; at + 4 <= body.size();) {
    size_t n = ReadBigEndian16(&body[at]);
    UInt16 region = ReadBigEndian16(&body[at + 2]);
    size_t end = std::min(body.size(), at + 4 + n);
    if (region != UInt16(itlRegionTag)) kept.insert(kept.end(), body.begin() + long(at), body.begin() + long(end));
    at = end;
  }
  UInt8 head[4];
  WriteBigEndian16(head, UInt16(length));
  WriteBigEndian16(head + 2, UInt16(itlRegionTag));
  kept.insert(kept.end(), head, head + 4);
  const auto* text = reinterpret_cast<const UInt8*>(*data);
  kept.insert(kept.end(), text, text + length);
  body = std::move(kept);
  return fail(noErr);
}

void SetMovieCreationTime(Movie movie, UInt64 creationTime) {
  MovieType* m = get(movie);
  setMoviesError(m ? noErr : invalidMovie);
  if (m) m->creationTime = creationTime;
}

Track NewMovieTrack(Movie movie, Fixed width, Fixed height, short trackVolume) {
  MovieType* m = get(movie);
  if (m == nullptr) {
    setMoviesError(invalidMovie);
    return nullptr;
  }
  if (width < 0 || height < 0) {
    setMoviesError(invalidRect);
    return nullptr;
  }
  auto t = std::make_unique<TrackType>();
  t->movie = m;
  t->id = m->nextTrackID++;
  t->width = width;
  t->height = height;
  t->volume = trackVolume;
  m->tracks.push_back(std::move(t));
  setMoviesError(noErr);
  return &m->tracks.back()->self;
}

void DisposeMovieTrack(Track track) {
  TrackType* t = get(track);
  if (t == nullptr) {
    setMoviesError(invalidTrack);
    return;
  }
  auto& tracks = t->movie->tracks;
  for (auto it = tracks.begin(); it != tracks.end(); ++it) {
    if (it->get() == t) {
      tracks.erase(it);
      break;
    }
  }
  setMoviesError(noErr);
}

Movie GetTrackMovie(Track track) {
  TrackType* t = get(track);
  setMoviesError(t ? noErr : invalidTrack);
  return t ? &t->movie->self : nullptr;
}

TimeValue GetTrackDuration(Track track) {
  TrackType* t = get(track);
  setMoviesError(t ? noErr : invalidTrack);
  return t ? TimeValue(t->duration()) : 0;
}

void GetTrackDimensions(Track track, Fixed* width, Fixed* height) {
  TrackType* t = get(track);
  setMoviesError(t ? noErr : invalidTrack);
  if (width) *width = t ? t->width : 0;
  if (height) *height = t ? t->height : 0;
}

void SetTrackMatrix(Track track, const MatrixRecord* matrix) {
  TrackType* t = get(track);
  setMoviesError(t ? noErr : invalidTrack);
  if (t) t->matrix = matrix ? *matrix : kIdentityMatrix;
}

Media NewTrackMedia(Track track, OSType mediaType, TimeScale timeScale, Handle dataRef, OSType) {
  TrackType* t = get(track);
  if (t == nullptr) {
    setMoviesError(invalidTrack);
    return nullptr;
  }
  // Media keep their samples in the movie's own store; other data references are not offered.
  if (dataRef != nullptr) {
    setMoviesError(featureUnsupported);
    return nullptr;
  }
  if (mediaType != VideoMediaType && mediaType != SoundMediaType) {
    setMoviesError(noMediaHandler);
    return nullptr;
  }
  if (timeScale <= 0) {
    setMoviesError(paramErr);
    return nullptr;
  }
  if (t->media) {
    setMoviesError(invalidMedia);
    return nullptr;
  }
  t->media = std::make_unique<MediaType>();
  t->media->track = t;
  t->media->type = mediaType;
  t->media->timeScale = timeScale;
  setMoviesError(noErr);
  return &t->media->self;
}

Media GetTrackMedia(Track track) {
  TrackType* t = get(track);
  if (t == nullptr || !t->media) {
    setMoviesError(t ? invalidMedia : invalidTrack);
    return nullptr;
  }
  setMoviesError(noErr);
  return &t->media->self;
}

Track GetMediaTrack(Media media) {
  MediaType* m = get(media);
  setMoviesError(m ? noErr : invalidMedia);
  return m ? &m->track->self : nullptr;
}

TimeScale GetMediaTimeScale(Media media) {
  MediaType* m = get(media);
  setMoviesError(m ? noErr : invalidMedia);
  return m ? m->timeScale : 0;
}

TimeValue GetMediaDuration(Media media) {
  MediaType* m = get(media);
  setMoviesError(m ? noErr : invalidMedia);
  return m ? TimeValue(m->duration) : 0;
}

long GetMediaSampleCount(Media media) {
  MediaType* m = get(media);
  setMoviesError(m ? noErr : invalidMedia);
  long count = 0;
  if (m)
    for (const Chunk& c : m->chunks) count += long(c.sampleCount);
  return count;
}

OSType GetMediaType(Media media) {
  MediaType* m = get(media);
  setMoviesError(m ? noErr : invalidMedia);
  return m ? m->type : 0;
}

OSErr BeginMediaEdits(Media media) {
  MediaType* m = get(media);
  if (m == nullptr) {
    setMoviesError(invalidMedia);
    return invalidMedia;
  }
  m->editing = true;
  setMoviesError(noErr);
  return noErr;
}

OSErr EndMediaEdits(Media media) {
  MediaType* m = get(media);
  if (m == nullptr) {
    setMoviesError(invalidMedia);
    return invalidMedia;
  }
  m->editing = false;
  setMoviesError(noErr);
  return noErr;
}

namespace {

// Adds the samples whose bytes are at data; share says whether bytes kept alive elsewhere may be
// kept by reference. The handle and pointer forms of the call meet here.
OSErr addSamples(MediaType* m, const UInt8* data, bool share, unsigned long size, TimeValue durationPerSample,
                 SampleDescriptionHandle sampleDescriptionH, long numberOfSamples, short sampleFlags,
                 TimeValue* sampleTime) {
  auto fail = [](OSErr err) {
    setMoviesError(err);
    return err;
  };
  SInt64 added = SInt64(durationPerSample) * numberOfSamples;
  if (m->duration + added > INT32_MAX) return fail(invalidDuration);

  std::vector<UInt8> description;
  if (m->type == VideoMediaType) {
    description = serializeImageDescription(*reinterpret_cast<ImageDescriptionHandle>(sampleDescriptionH)[0]);
  } else {
    description = serializeSoundDescription(reinterpret_cast<SoundDescriptionHandle>(sampleDescriptionH));
  }
  if (description.empty()) return fail(invalidSampleDescription);
  UInt32 index = 0;
  for (size_t k = 0; k < m->descriptions.size() && index == 0; ++k)
    if (m->descriptions[k] == description) index = UInt32(k + 1);

  UInt64 offset = 0;
  SampleStore& store = *m->track->movie->store;
  std::shared_ptr<const void> owner = share ? SharedPtrOwner(data, Size(size)) : nullptr;
  OSErr err = owner ? store.appendShared(std::move(owner), data, size, &offset) : store.append(data, size, &offset);
  if (err != noErr) return fail(err);
  if (index == 0) {
    m->descriptions.push_back(std::move(description));
    index = UInt32(m->descriptions.size());
  }
  m->chunks.push_back(Chunk{offset, UInt32(numberOfSamples), UInt32(size / UInt64(numberOfSamples)),
                            durationPerSample, index, (sampleFlags & mediaSampleNotSync) == 0});
  if (sampleTime) *sampleTime = TimeValue(m->duration);
  m->duration += added;
  return fail(noErr);
}

OSErr checkSampleRequest(MediaType* m, SampleDescriptionHandle sampleDescriptionH, UInt64 size,
                         SInt64 durationPerSample, SInt64 numberOfSamples) {
  if (m == nullptr) return invalidMedia;
  if (!m->editing) return invalidEditState;
  if (sampleDescriptionH == nullptr || *sampleDescriptionH == nullptr) return paramErr;
  if (numberOfSamples <= 0 || durationPerSample <= 0 || durationPerSample > INT32_MAX || size == 0 ||
      size % UInt64(numberOfSamples) != 0 || size / UInt64(numberOfSamples) > UINT32_MAX ||
      UInt64(numberOfSamples) > UINT32_MAX)
    return paramErr;
  return noErr;
}

}  // namespace

OSErr AddMediaSample(Media media, Handle dataIn, long inOffset, unsigned long size, TimeValue durationPerSample,
                     SampleDescriptionHandle sampleDescriptionH, long numberOfSamples, short sampleFlags,
                     TimeValue* sampleTime) {
  MediaType* m = get(media);
  OSErr err = checkSampleRequest(m, sampleDescriptionH, size, durationPerSample, numberOfSamples);
  if (err == noErr && (dataIn == nullptr || *dataIn == nullptr)) err = paramErr;
  Size available = err == noErr ? GetHandleSize(dataIn) : 0;
  if (err == noErr && (inOffset < 0 || UInt64(inOffset) > UInt64(available) || size > UInt64(available - inOffset)))
    err = paramErr;
  if (err != noErr) {
    setMoviesError(err);
    return err;
  }
  // A handle's block is its owner's to reuse once the call returns: its bytes are copied.
  return addSamples(m, reinterpret_cast<const UInt8*>(*dataIn + inOffset), false, size, durationPerSample,
                    sampleDescriptionH, numberOfSamples, sampleFlags, sampleTime);
}

OSErr AddMediaSample2(Media media, const UInt8* dataIn, ByteCount size, TimeValue64 decodeDurationPerSample,
                      TimeValue64 displayOffset, SampleDescriptionHandle sampleDescriptionH,
                      ItemCount numberOfSamples, MediaSampleFlags sampleFlags, TimeValue64* sampleDecodeTimeOut) {
  MediaType* m = get(media);
  OSErr err = checkSampleRequest(m, sampleDescriptionH, size, decodeDurationPerSample,
                                 numberOfSamples > ItemCount(INT32_MAX) ? -1 : SInt64(numberOfSamples));
  if (err == noErr && dataIn == nullptr) err = paramErr;
  // Samples are shown in the order they are decoded.
  if (err == noErr && displayOffset != 0) err = featureUnsupported;
  if (err != noErr) {
    setMoviesError(err);
    return err;
  }
  TimeValue at = 0;
  err = addSamples(m, dataIn, true, size, TimeValue(decodeDurationPerSample), sampleDescriptionH,
                   long(numberOfSamples), short(sampleFlags & mediaSampleNotSync), &at);
  if (err == noErr && sampleDecodeTimeOut) *sampleDecodeTimeOut = at;
  return err;
}

OSErr InsertMediaIntoTrack(Track track, TimeValue trackStart, TimeValue mediaTime, TimeValue mediaDuration,
                           Fixed mediaRate) {
  auto fail = [](OSErr err) {
    setMoviesError(err);
    return err;
  };
  TrackType* t = get(track);
  if (t == nullptr) return fail(invalidTrack);
  if (!t->media) return fail(invalidMedia);
  if (mediaRate != fixed1) return fail(featureUnsupported);
  if (mediaTime < 0 || mediaDuration < 0 || SInt64(mediaTime) + mediaDuration > t->media->duration)
    return fail(invalidDuration);
  if (trackStart < 0) return fail(invalidTime);
  if (mediaDuration == 0) return fail(noErr);
  SInt64 end = t->duration();
  // Only appending is offered; this toolbox never splits an edit.
  if (trackStart < end) return fail(featureUnsupported);
  const SInt64 movieScale = t->movie->timeScale;
  const SInt64 mediaScale = t->media->timeScale;
  // Rounded up: the edit must not cut off the media's last samples.
  SInt64 length = (SInt64(mediaDuration) * movieScale + mediaScale - 1) / mediaScale;
  if (trackStart + length > INT32_MAX) return fail(invalidDuration);
  if (trackStart > end) t->edits.push_back(Edit{TimeValue(trackStart - end), -1, fixed1});
  t->edits.push_back(Edit{TimeValue(length), mediaTime, fixed1});
  return fail(noErr);
}
