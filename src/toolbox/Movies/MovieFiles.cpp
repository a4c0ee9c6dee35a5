// SPDX-License-Identifier: GPL-2.0-or-later
// Movie files: the working file a movie is made with, and flattening a movie into a
// self-contained file, written in one gathered write, that replaces its target only when complete.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "toolbox/Core/ByteOrder.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Descriptors.h"
#include "toolbox/Files/SafeSave.h"
#include "toolbox/Movies/MovieFacts.h"
#include "toolbox/Movies/MovieModel.h"

using namespace movies;

namespace {

std::map<short, std::shared_ptr<MovieFileState>>& openFiles() {
  static std::map<short, std::shared_ptr<MovieFileState>> files;
  return files;
}
short gNextRefNum = 1;

constexpr OSType kMovieFileType = FOUR_CHAR_CODE("MooV");
constexpr size_t kCopyBuffer = 256 * 1024;
constexpr UInt64 kSamplesKeptInMemory = 16 * 1024 * 1024;

// Chunk offsets when all sample data follows one another from dataStart, track by track.
std::vector<std::vector<UInt64>> packedOffsets(const MovieType& m, UInt64 dataStart, UInt64* dataSize) {
  std::vector<std::vector<UInt64>> offsets;
  UInt64 at = dataStart;
  for (const auto& t : m.tracks) {
    offsets.emplace_back();
    if (!t->media) continue;
    for (const Chunk& c : t->media->chunks) {
      offsets.back().push_back(at);
      at += UInt64(c.sampleCount) * c.sampleSize;
    }
  }
  *dataSize = at - dataStart;
  return offsets;
}

// A copy of the movie's structure whose samples are read from another store at new offsets.
Movie copyMovie(const MovieType& source, const std::vector<std::vector<UInt64>>& offsets,
                std::shared_ptr<SampleStore> store) {
  Movie copy = newMovieWithStore(std::move(store));
  MovieType* m = get(copy);
  m->timeScale = source.timeScale;
  m->nextTrackID = source.nextTrackID;
  m->creationTime = source.creationTime;
  m->modificationTime = source.modificationTime;
  m->userData = source.userData;
  for (size_t k = 0; k < source.tracks.size(); ++k) {
    const TrackType& st = *source.tracks[k];
    auto t = std::make_unique<TrackType>();
    t->movie = m;
    t->id = st.id;
    t->width = st.width;
    t->height = st.height;
    t->volume = st.volume;
    t->matrix = st.matrix;
    t->edits = st.edits;
    if (st.media) {
      t->media = std::make_unique<MediaType>(*st.media);
      t->media->self = t->media.get();
      t->media->track = t.get();
      t->media->editing = false;
      for (size_t c = 0; c < t->media->chunks.size(); ++c) t->media->chunks[c].offset = offsets[k][c];
    }
    m->tracks.push_back(std::move(t));
  }
  return copy;
}

OSErr writeFlattened(const MovieType& m, int fd, std::vector<std::vector<UInt64>>* finalOffsets) {
  const std::vector<UInt8> ftyp = media::BuildFileTypeAtom();
  // The header's size depends on the offsets it holds (32 or 64 bits); settle it first.
  UInt64 dataSize = 0;
  std::vector<std::vector<UInt64>> offsets = packedOffsets(m, 0, &dataSize);
  std::vector<UInt8> moov;
  std::vector<UInt8> mdatHeader = media::BuildAtomHeader(media::MakeFourCC("mdat"), dataSize);
  size_t moovSize = BuildMovieAtom(m, offsets).size();
  for (int pass = 0; pass < 4; ++pass) {
    UInt64 dataStart = ftyp.size() + moovSize + mdatHeader.size();
    offsets = packedOffsets(m, dataStart, &dataSize);
    moov = BuildMovieAtom(m, offsets);
    if (moov.size() == moovSize) break;
    moovSize = moov.size();
  }
  if (moov.size() != moovSize) return internalQuickTimeError;

  // One gathered write: the header, then the samples straight from where they are kept in
  // memory (the photograph's own bytes, the decoded sound). Samples a store keeps only on disk
  // are copied through a buffer in between.
  std::vector<UInt8> head;
  head.reserve(ftyp.size() + moov.size() + mdatHeader.size());
  head.insert(head.end(), ftyp.begin(), ftyp.end());
  head.insert(head.end(), moov.begin(), moov.end());
  head.insert(head.end(), mdatHeader.begin(), mdatHeader.end());
  std::vector<struct iovec> pieces{{head.data(), head.size()}};
  UInt64 at = 0, pending = head.size();
  auto flush = [&]() {
    OSErr e = FSWriteGatherAt(fd, at, pieces.data(), pieces.size());
    at += pending;
    pending = 0;
    pieces.clear();
    return e;
  };
  OSErr err = noErr;
  std::vector<UInt8> buffer;
  for (const auto& t : m.tracks) {
    if (!t->media || err != noErr) continue;
    for (const Chunk& c : t->media->chunks) {
      const UInt64 length = UInt64(c.sampleCount) * c.sampleSize;
      if (const UInt8* bytes = m.store->view(c.offset, size_t(length))) {
        pieces.push_back({const_cast<UInt8*>(bytes), size_t(length)});
        pending += length;
        continue;
      }
      err = flush();
      for (UInt64 done = 0; done < length && err == noErr;) {
        size_t n = size_t(std::min<UInt64>(length - done, kCopyBuffer));
        if (buffer.size() < n) buffer.resize(n);
        err = m.store->read(c.offset + done, buffer.data(), n);
        if (err == noErr) err = FSWriteAt(fd, at, buffer.data(), n);
        at += n;
        done += n;
      }
      if (err != noErr) break;
    }
  }
  if (err == noErr) err = flush();
  *finalOffsets = offsets;
  return err;
}

}  // namespace

OSErr CreateMovieFile(const FSSpec* fileSpec, OSType creator, ScriptCode, long createMovieFileFlags,
                      short* resRefNum, Movie* newmovie) {
  auto fail = [](OSErr err) {
    setMoviesError(err);
    return err;
  };
  if (fileSpec == nullptr || newmovie == nullptr) return fail(paramErr);
  *newmovie = nullptr;
  if (resRefNum) *resRefNum = 0;
  std::string path;
  OSErr err = FSpGetPath(fileSpec, &path);
  if (err != noErr) return fail(err);
  // Replacing truncates in place rather than unlinking and re-creating, so a name this process
  // created exclusively (a working file) cannot be swapped for a link in between.
  int flags = O_RDWR | O_CREAT;
  flags |= (createMovieFileFlags & createMovieFileDeleteCurFile) ? O_TRUNC : O_EXCL;
  int fd = -1;
  err = FSpOpenDescriptor(fileSpec, flags, &fd);
  if (err != noErr) return fail(err);
  auto state = std::make_shared<MovieFileState>();
  state->fd = fd;
  state->path = path;

  FInfo info{};
  info.fdType = kMovieFileType;
  info.fdCreator = creator;
  FSpSetFInfo(fileSpec, &info);

  // The samples wait in memory, so that the one write of an ordinary movie is its flattening;
  // past a bound they go into the working file, so that a long recording costs disk, not memory.
  *newmovie = newMovieWithStore(makeSpillingStore(state, kSamplesKeptInMemory));
  get(*newmovie)->file = state;
  short refNum = gNextRefNum++;
  if (gNextRefNum <= 0) gNextRefNum = 1;
  openFiles()[refNum] = state;
  if (resRefNum) *resRefNum = refNum;
  return fail(noErr);
}

OSErr CloseMovieFile(short resRefNum) {
  auto& files = openFiles();
  auto it = files.find(resRefNum);
  if (it == files.end()) {
    setMoviesError(paramErr);
    return paramErr;
  }
  // The movies writing into it keep their own reference until they are disposed.
  files.erase(it);
  setMoviesError(noErr);
  return noErr;
}

OSErr AddMovieResource(Movie movie, short resRefNum, short* resId, ConstStr255Param) {
  auto fail = [](OSErr err) {
    setMoviesError(err);
    return err;
  };
  MovieType* m = get(movie);
  if (m == nullptr) return fail(invalidMovie);
  auto it = openFiles().find(resRefNum);
  if (it == openFiles().end()) return fail(paramErr);
  // Only the movie made with that file is filed with it.
  if (m->file != it->second) return fail(featureUnsupported);
  if (resId) *resId = movieInDataForkResID;
  return fail(noErr);
}

Movie FlattenMovieData(Movie movie, long, const FSSpec* theFile, OSType creator, ScriptCode,
                       long createMovieFileFlags) {
  auto fail = [](OSErr err) -> Movie {
    setMoviesError(err);
    return nullptr;
  };
  MovieType* m = get(movie);
  if (m == nullptr) return fail(invalidMovie);
  if (theFile == nullptr) return fail(paramErr);
  std::string targetPath;
  OSErr err = FSpGetPath(theFile, &targetPath);
  if (err != noErr) return fail(err);
  const bool replace = (createMovieFileFlags & createMovieFileDeleteCurFile) != 0;
  if (!replace && FSFileExistsAtPath(targetPath)) return fail(dupFNErr);

  // Saved whole or not at all: a failure or a kill at any point leaves the target as it was.
  FInfo info{};
  info.fdType = kMovieFileType;
  info.fdCreator = creator;
  std::vector<std::vector<UInt64>> offsets;
  err = FSpSaveFile(theFile, replace, [&](int fd) { return writeFlattened(*m, fd, &offsets); }, &info);
  if (err != noErr) return fail(err);

  auto state = std::make_shared<MovieFileState>();
  state->path = targetPath;
  state->fd = open(targetPath.c_str(), O_RDONLY | O_CLOEXEC);
  Movie flattened = copyMovie(*m, offsets, makeFileStore(state));
  setMoviesError(noErr);
  return flattened;
}
