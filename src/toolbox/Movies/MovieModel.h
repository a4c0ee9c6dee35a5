// SPDX-License-Identifier: GPL-2.0-or-later
// The in-memory movie behind the Movie, Track and Media handles, and the stores their samples live in.
// Private to the movie toolbox: the atom writer and the file calls read it directly.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "media/MovieAtoms.h"
#include "toolbox/Movies/Movies.h"

namespace movies {

// Where a movie's media keep their sample bytes. Offsets are the store's own, in the order the
// samples were added; each append is one contiguous run.
class SampleStore {
 public:
  virtual ~SampleStore() = default;
  virtual OSErr append(const void* bytes, size_t count, UInt64* offset) = 0;
  // Bytes that owner keeps alive may be kept by reference; a store that cannot copies them.
  virtual OSErr appendShared(std::shared_ptr<const void> owner, const void* bytes, size_t count, UInt64* offset) {
    (void)owner;
    return append(bytes, count, offset);
  }
  virtual OSErr read(UInt64 offset, void* bytes, size_t count) const = 0;
  // The stored bytes themselves, when they are in memory as one run; else null.
  virtual const UInt8* view(UInt64 offset, size_t count) const {
    (void)offset;
    (void)count;
    return nullptr;
  }
};

// An open movie file: shared by the file reference number and the movies made with it. A
// movie being built keeps its samples in memory and reaches a disk only by being flattened;
// a flattened movie reads its samples from its file.
struct MovieFileState {
  int fd = -1;
  UInt64 end = 0;  // where the next sample goes
  std::string path;
  ~MovieFileState();
};

// Samples in memory: copies of what is added, and references to bytes kept alive elsewhere
// (the photograph's, a decoded sound's), nothing copied twice.
std::shared_ptr<SampleStore> makeMemoryStore();
std::shared_ptr<SampleStore> makeFileStore(std::shared_ptr<MovieFileState> file);
// Copies in memory up to memoryBound bytes, the rest appended to the movie's working file;
// references stay references. A movie of any length is built in bounded memory, and an
// ordinary one is still written once, when it is flattened.
std::shared_ptr<SampleStore> makeSpillingStore(std::shared_ptr<MovieFileState> file, UInt64 memoryBound);

// One AddMediaSample call: a run of equal samples stored contiguously.
using Chunk = media::Chunk;
using Edit = media::Edit;

}  // namespace movies

inline constexpr MatrixRecord kIdentityMatrix = {{{fixed1, 0, 0}, {0, fixed1, 0}, {0, 0, 0x40000000}}};

struct MediaType {
  MediaType* self = this;
  TrackType* track = nullptr;
  OSType type = 0;
  TimeScale timeScale = 0;
  std::vector<std::vector<UInt8>> descriptions;  // whole sample description entries, big-endian
  std::vector<movies::Chunk> chunks;
  SInt64 duration = 0;
  bool editing = false;
};

struct TrackType {
  TrackType* self = this;
  MovieType* movie = nullptr;
  UInt32 id = 0;
  Fixed width = 0;
  Fixed height = 0;
  SInt16 volume = 0;
  MatrixRecord matrix = kIdentityMatrix;
  std::unique_ptr<MediaType> media;
  std::vector<movies::Edit> edits;
  SInt64 duration() const;
};

// The movie's user data: items of the 'udta' atom in the order they were added.
struct UserDataRecord {
  using Item = media::UserDataItem;
  std::vector<Item> items;
};

struct MovieType {
  MovieType* self = this;
  TimeScale timeScale = kDefaultMovieTimeScale;
  std::vector<std::unique_ptr<TrackType>> tracks;
  UInt32 nextTrackID = 1;
  std::shared_ptr<movies::SampleStore> store;
  std::shared_ptr<movies::MovieFileState> file;  // the movie file the store writes into, if any
  UInt64 creationTime = 0;      // seconds since 1904 (past 2040 too)
  UInt64 modificationTime = 0;  // seconds since 1904
  UserDataRecord userData;
  SInt64 duration() const;
};

namespace movies {

inline MovieType* get(Movie m) { return m ? *m : nullptr; }
inline TrackType* get(Track t) { return t ? *t : nullptr; }
inline MediaType* get(Media m) { return m ? *m : nullptr; }

Movie newMovieWithStore(std::shared_ptr<SampleStore> store);
void setMoviesError(OSErr err);
UInt32 macTimeNow();

}  // namespace movies
