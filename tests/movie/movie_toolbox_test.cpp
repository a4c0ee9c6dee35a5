// SPDX-License-Identifier: GPL-2.0-or-later
// The movie toolbox on its own: a movie built from synthetic sound and a JPEG sample, written and
// flattened, checked atom by atom and through ffprobe; sample and edit rules; failed flattening.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "faults/FaultShim.h"
#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Core/System.h"
#include "toolbox/Movies/GraphicsImport.h"
#include "toolbox/Movies/MovieFacts.h"
#include "toolbox/Movies/Movies.h"

using namespace moviechecks;
using testsupport::ScratchDir;

namespace {

FSSpec specFor(const std::string& path) {
  FSSpec spec;
  EXPECT_EQ(FSpFromPath(path, &spec), noErr) << path;
  return spec;
}

ImageDescriptionHandle jpegDescription(int width, int height, long dataSize) {
  auto desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(sizeof(ImageDescription)));
  ImageDescription& d = **desc;
  d.idSize = 86;
  d.cType = kJPEGCodecType;
  d.dataRefIndex = 1;
  d.vendor = FOUR_CHAR_CODE("appl");
  d.spatialQuality = codecNormalQuality;
  d.width = SInt16(width);
  d.height = SInt16(height);
  d.hRes = d.vRes = IntToFixed(72);
  d.dataSize = SInt32(dataSize);
  d.frameCount = 1;
  CopyCStringToPascal("Photo - JPEG", d.name);
  d.depth = 24;
  d.clutID = -1;
  return desc;
}

// Adds the JPEG as the video track's one sample lasting duration.
void addVideoTrack(Movie movie, const std::string& jpeg, int width, int height, TimeValue duration) {
  Track track = NewMovieTrack(movie, IntToFixed(width), IntToFixed(height), kNoVolume);
  ASSERT_NE(track, nullptr);
  Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
  ASSERT_NE(media, nullptr);
  Handle sample = nullptr;
  ASSERT_EQ(PtrToHand(jpeg.data(), &sample, long(jpeg.size())), noErr);
  ImageDescriptionHandle desc = jpegDescription(width, height, long(jpeg.size()));
  ASSERT_EQ(BeginMediaEdits(media), noErr);
  ASSERT_EQ(AddMediaSample(media, sample, 0, jpeg.size(), duration, reinterpret_cast<SampleDescriptionHandle>(desc),
                           1, 0, nullptr),
            noErr);
  ASSERT_EQ(EndMediaEdits(media), noErr);
  ASSERT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1), noErr);
  DisposeHandle(sample);
  DisposeHandle(reinterpret_cast<Handle>(desc));
}

TimeValue importWaveFile(Movie movie, const std::string& path) {
  ComponentInstance importer = OpenDefaultComponent(MovieImportType, kQTFileTypeWave);
  EXPECT_NE(importer, nullptr);
  FSSpec spec = specFor(path);
  Track used = nullptr;
  TimeValue added = 0;
  long flags = 0;
  MovieImportFile(importer, &spec, movie, nullptr, &used, 0, &added, movieImportCreateTrack, &flags);
  CloseComponent(importer);
  return added;
}

struct Built {
  std::string moviePath;
  std::string jpeg;
  TimeValue added = 0;
};

// Working file, sound from a WAVE, one JPEG frame, header, flattened into movie.mov.
Built buildMovie(const ScratchDir& dir, const std::string& wave) {
  Built b;
  testsupport::writeFile(dir.file("sound.wav"), wave);
  b.jpeg = fixtures::makeJpeg({.width = 64, .height = 48});
  FSSpec working = specFor(dir.file("working.mov"));
  short ref = 0;
  Movie movie = nullptr;
  EXPECT_EQ(CreateMovieFile(&working, FOUR_CHAR_CODE("TVOD"), smCurrentScript,
                            createMovieFileDeleteCurFile | createMovieFileDontCreateResFile, &ref, &movie),
            noErr);
  b.added = importWaveFile(movie, dir.file("sound.wav"));
  addVideoTrack(movie, b.jpeg, 64, 48, b.added);
  short resId = movieInDataForkResID;
  EXPECT_EQ(AddMovieResource(movie, ref, &resId, nullptr), noErr);
  EXPECT_EQ(CloseMovieFile(ref), noErr);
  b.moviePath = dir.file("movie.mov");
  FSSpec target = specFor(b.moviePath);
  Movie flat = FlattenMovieData(movie, flattenAddMovieToDataFork, &target, FOUR_CHAR_CODE("TVOD"), smSystemScript,
                                createMovieFileDeleteCurFile | createMovieFileDontCreateResFile);
  EXPECT_NE(flat, nullptr);
  EXPECT_EQ(GetMoviesError(), noErr);
  if (flat) DisposeMovie(flat);
  DisposeMovie(movie);
  return b;
}

TEST(MovieToolbox, FlattenedMovieHasTheLayoutPlayersExpect) {
  ScratchDir dir;
  // 1000 frames at 11025 Hz are 54.4 movie units: the edit must round up to 55.
  std::string wave = testsupport::pcmWave(1, 16, 11025, 1000);
  Built b = buildMovie(dir, wave);
  EXPECT_EQ(b.added, 55);
  std::string file = testsupport::readFile(b.moviePath);

  EXPECT_EQ(topLevelTypes(file), (std::vector<std::string>{"ftyp", "moov", "mdat"}));
  std::string ftyp = atomBody(file, "ftyp");
  EXPECT_EQ(ftyp.substr(0, 4), "qt  ");
  EXPECT_EQ(ftyp.substr(8, 4), "qt  ");
  std::string mvhd = atomBody(file, "moov/mvhd");
  EXPECT_EQ(be32(mvhd, 12), 600u);
  EXPECT_EQ(be32(mvhd, 16), 55u);

  // Sound first, as track 1, its time scale the sample rate, one sample per frame.
  EXPECT_EQ(atomBody(file, "moov/trak#1/mdia/hdlr").substr(8, 4), "soun");
  EXPECT_EQ(be32(atomBody(file, "moov/trak#1/tkhd"), 12), 1u);
  EXPECT_EQ(be32(atomBody(file, "moov/trak#1/mdia/mdhd"), 12), 11025u);
  EXPECT_EQ(be32(atomBody(file, "moov/trak#1/mdia/mdhd"), 16), 1000u);
  std::string stts = atomBody(file, "moov/trak#1/mdia/minf/stbl/stts");
  EXPECT_EQ(be32(stts, 4), 1u);
  EXPECT_EQ(be32(stts, 8), 1000u);
  EXPECT_EQ(be32(stts, 12), 1u);
  std::string soundDesc = atomBody(file, "moov/trak#1/mdia/minf/stbl/stsd");
  EXPECT_EQ(be32(soundDesc, 8), 36u);
  EXPECT_EQ(soundDesc.substr(12, 4), "sowt");
  EXPECT_EQ(be16(soundDesc, 8 + 16), 0u);           // version 0
  EXPECT_EQ(be16(soundDesc, 8 + 24), 1u);           // channels
  EXPECT_EQ(be16(soundDesc, 8 + 26), 16u);          // bits
  EXPECT_EQ(be32(soundDesc, 8 + 32), 11025u << 16);  // rate
  std::string elst = atomBody(file, "moov/trak#1/edts/elst");
  EXPECT_EQ(be32(elst, 4), 1u);
  EXPECT_EQ(be32(elst, 8), 55u);
  EXPECT_EQ(be32(elst, 12), 0u);
  EXPECT_EQ(be32(elst, 16), 0x10000u);

  // Video second: time scale 600, one JPEG sample exactly as long as the sound.
  EXPECT_EQ(atomBody(file, "moov/trak#2/mdia/hdlr").substr(8, 4), "vide");
  std::string tkhd = atomBody(file, "moov/trak#2/tkhd");
  EXPECT_EQ(be32(tkhd, 12), 2u);
  EXPECT_EQ(be32(tkhd, 20), 55u);
  EXPECT_EQ(be32(tkhd, 76), 64u << 16);
  EXPECT_EQ(be32(tkhd, 80), 48u << 16);
  EXPECT_EQ(be32(atomBody(file, "moov/trak#2/mdia/mdhd"), 12), 600u);
  std::string vstts = atomBody(file, "moov/trak#2/mdia/minf/stbl/stts");
  EXPECT_EQ(be32(vstts, 8), 1u);
  EXPECT_EQ(be32(vstts, 12), 55u);
  std::string videoDesc = atomBody(file, "moov/trak#2/mdia/minf/stbl/stsd");
  EXPECT_EQ(be32(videoDesc, 8), 86u);
  EXPECT_EQ(videoDesc.substr(12, 4), "jpeg");
  EXPECT_EQ(be16(videoDesc, 8 + 32), 64u);
  EXPECT_EQ(be16(videoDesc, 8 + 34), 48u);
  std::string stsz = atomBody(file, "moov/trak#2/mdia/minf/stbl/stsz");
  EXPECT_EQ(be32(stsz, 4), b.jpeg.size());
  std::string stco = atomBody(file, "moov/trak#2/mdia/minf/stbl/stco");
  ASSERT_EQ(be32(stco, 4), 1u);
  EXPECT_EQ(file.substr(be32(stco, 8), b.jpeg.size()), b.jpeg);

  // The sound's chunk offsets point at its PCM, in order.
  std::string soundStco = atomBody(file, "moov/trak#1/mdia/minf/stbl/stco");
  ASSERT_GE(be32(soundStco, 4), 1u);
  std::string pcm = wave.substr(wave.size() - 2000);
  EXPECT_EQ(file.substr(be32(soundStco, 8), 2000), pcm);

  // Self-contained: one data reference, to this file.
  for (const char* track : {"moov/trak#1", "moov/trak#2"}) {
    std::string dref = atomBody(file, std::string(track) + "/mdia/minf/dinf/dref");
    EXPECT_EQ(be32(dref, 4), 1u);
    EXPECT_EQ(dref.substr(12, 4), "alis");
    EXPECT_EQ(be32(dref, 16), 1u);
  }

  TimeValue duration = 0;
  TimeScale scale = 0;
  FSSpec spec = specFor(b.moviePath);
  EXPECT_EQ(GetMovieFileTrackDuration(&spec, SoundMediaType, &duration, &scale), noErr);
  EXPECT_EQ(duration, 55);
  EXPECT_EQ(scale, 600);
  EXPECT_EQ(GetMovieFileTrackDuration(&spec, FOUR_CHAR_CODE("text"), &duration, &scale), noMediaHandler);

  REQUIRE_TOOL("ffprobe");
  std::vector<Stream> streams = probeStreams(b.moviePath);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].codecType, "audio");
  EXPECT_EQ(streams[1].codecName, "mjpeg");
  EXPECT_EQ(decodePcm(b.moviePath), pcm);
}

// The one video sample's bytes as stored in a flattened file (the second track's first chunk).
std::string storedFrame(const std::string& file) {
  std::string stco = atomBody(file, "moov/trak#2/mdia/minf/stbl/stco");
  std::string stsz = atomBody(file, "moov/trak#2/mdia/minf/stbl/stsz");
  if (stco.size() < 12 || stsz.size() < 12) return "";
  std::size_t at = be32(stco, 8), size = be32(stsz, 4);
  return at + size <= file.size() ? file.substr(at, size) : "";
}

// A movie reaches the disk once: its samples wait in memory, the photograph's bytes shared
// rather than copied (and let go with the movie), the working file holds none of them, and the
// flattened file goes out in one gathered write. Bytes that nobody keeps alive are copied, so
// whoever lent them may reuse them at once.
TEST(MovieToolbox, SamplesWaitInMemoryAndTheMovieIsWrittenOnce) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("sound.wav"), testsupport::pcmWave(1, 16, 8000, 8000));
  const std::string jpeg = fixtures::makeJpeg({.width = 64, .height = 48});
  for (bool shared : {true, false}) {
    SCOPED_TRACE(shared ? "shared bytes" : "lent bytes");
    auto photograph = std::make_shared<std::string>(jpeg);
    FSSpec working = specFor(dir.file("working.mov")), target = specFor(dir.file("movie.mov"));
    short ref = 0;
    Movie movie = nullptr;
    ASSERT_EQ(CreateMovieFile(&working, FOUR_CHAR_CODE("TVOD"), smCurrentScript, createMovieFileDeleteCurFile, &ref,
                              &movie),
              noErr);
    const TimeValue added = importWaveFile(movie, dir.file("sound.wav"));
    ASSERT_GT(added, 0);
    Track track = NewMovieTrack(movie, IntToFixed(64), IntToFixed(48), kNoVolume);
    Media media = NewTrackMedia(track, VideoMediaType, 600, nullptr, 0);
    ImageDescriptionHandle desc = jpegDescription(64, 48, long(jpeg.size()));
    auto sd = reinterpret_cast<SampleDescriptionHandle>(desc);
    ASSERT_EQ(BeginMediaEdits(media), noErr);
    if (shared) {
      Ptr bytes = NewPtrSharing(photograph, photograph->data(), Size(photograph->size()));
      ASSERT_EQ(static_cast<const void*>(bytes), photograph->data());
      EXPECT_EQ(GetPtrSize(bytes), Size(jpeg.size()));
      ASSERT_EQ(AddMediaSample2(media, reinterpret_cast<const UInt8*>(bytes), jpeg.size(), added, 0, sd, 1, 0, nullptr),
                noErr);
      DisposePtr(bytes);
      EXPECT_EQ(photograph.use_count(), 2) << "the movie keeps the photograph's bytes";
    } else {
      std::string lent = jpeg;
      ASSERT_EQ(AddMediaSample2(media, reinterpret_cast<const UInt8*>(lent.data()), lent.size(), added, 0, sd, 1, 0,
                                nullptr),
                noErr);
      lent.assign(lent.size(), 'x');
    }
    ASSERT_EQ(EndMediaEdits(media), noErr);
    ASSERT_EQ(InsertMediaIntoTrack(track, 0, 0, GetMediaDuration(media), fixed1), noErr);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    short resId = movieInDataForkResID;
    ASSERT_EQ(AddMovieResource(movie, ref, &resId, nullptr), noErr);
    ASSERT_EQ(CloseMovieFile(ref), noErr);
    EXPECT_EQ(testsupport::readFile(dir.file("working.mov")), "") << "the working file holds a copy of the media";

    faultshim_arm("pwrite", 0, 0);
    Movie flat = FlattenMovieData(movie, flattenAddMovieToDataFork, &target, FOUR_CHAR_CODE("TVOD"), smSystemScript,
                                  createMovieFileDeleteCurFile);
    EXPECT_EQ(faultshim_calls("pwrite"), 1);
    EXPECT_EQ(faultshim_calls("write"), 0);
    faultshim_disarm();
    ASSERT_NE(flat, nullptr);
    const std::string file = testsupport::readFile(dir.file("movie.mov"));
    EXPECT_EQ(completeMovieProblem(file).find("sample atom"), std::string::npos) << completeMovieProblem(file);
    EXPECT_TRUE(storedFrame(file) == jpeg) << "the frame is not the photograph's bytes";
    DisposeMovie(flat);
    DisposeMovie(movie);
    EXPECT_EQ(photograph.use_count(), 1) << "the bytes outlive the movie";
  }
}

// Shared pointer blocks: each keeps one size (a second share of the same bytes at another
// length is a copy), ranges inside any of them, overlapping or not, are owned, and the bytes
// are let go when the last share is.
TEST(MovieToolbox, SharedPointerBlocksKeepTheirBytesAndTheirSizes) {
  auto bytes = std::make_shared<std::string>(1000, 'p');
  const char* base = bytes->data();
  Ptr whole = NewPtrSharing(bytes, base, 1000);
  Ptr sameAgain = NewPtrSharing(bytes, base, 1000);
  Ptr shorter = NewPtrSharing(bytes, base, 10);
  Ptr inner = NewPtrSharing(bytes, base + 100, 50);
  EXPECT_EQ(whole, base);
  EXPECT_EQ(sameAgain, base);
  EXPECT_NE(shorter, base);
  EXPECT_EQ(GetPtrSize(whole), 1000);
  EXPECT_EQ(GetPtrSize(shorter), 10);
  EXPECT_EQ(GetPtrSize(inner), 50);
  EXPECT_EQ(std::string(shorter, 10), std::string(10, 'p'));
  EXPECT_EQ(SharedPtrOwner(base + 120, 10), bytes);
  EXPECT_EQ(SharedPtrOwner(base + 990, 10), bytes);
  EXPECT_EQ(SharedPtrOwner(base + 990, 11), nullptr);
  EXPECT_EQ(SharedPtrOwner(shorter, 10), nullptr);
  DisposePtr(whole);
  EXPECT_EQ(GetPtrSize(sameAgain), 1000);
  EXPECT_EQ(SharedPtrOwner(base + 500, 10), bytes);
  DisposePtr(sameAgain);
  EXPECT_EQ(SharedPtrOwner(base + 500, 10), nullptr);
  EXPECT_EQ(SharedPtrOwner(base + 120, 10), bytes);
  DisposePtr(inner);
  DisposePtr(shorter);
  EXPECT_EQ(bytes.use_count(), 1);
}

TEST(MovieToolbox, ReadingBackRefusesWhatIsNotAMovie) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("photo.jpg"), fixtures::makeJpeg());
  testsupport::writeFile(dir.file("huge.mov"), std::string("\xFF\xFF\xFF\xF0moov", 8));
  TimeValue duration = 1;
  for (const char* name : {"photo.jpg", "huge.mov", "absent.mov"}) {
    FSSpec spec = specFor(dir.file(name));
    EXPECT_NE(GetMovieFileTrackDuration(&spec, SoundMediaType, &duration, nullptr), noErr) << name;
    EXPECT_EQ(duration, 0);
  }
}

TEST(MovieToolbox, FailedFlatteningLeavesTheTargetAsItWas) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("sound.wav"), testsupport::pcmWave(1, 16, 8000, 8000));
  const std::string earlier = "an earlier movie";
  testsupport::writeFile(dir.file("movie.mov"), earlier);
  FSSpec working = specFor(dir.file("working.mov"));
  short ref = 0;
  Movie movie = nullptr;
  ASSERT_EQ(CreateMovieFile(&working, FOUR_CHAR_CODE("TVOD"), smCurrentScript, createMovieFileDeleteCurFile, &ref,
                            &movie),
            noErr);
  ASSERT_GT(importWaveFile(movie, dir.file("sound.wav")), 0);
  CloseMovieFile(ref);
  FSSpec target = specFor(dir.file("movie.mov"));
  // Each write, flush, link and rename of the flattened copy, and the close of the finished
  // copy, fails in turn: as many as a flattening makes, counted first. (Later closes are of a
  // copy already named, which a failure no longer touches.)
  for (const char* kind : {"pwrite", "fsync", "linkat", "rename", "close"}) {
    faultshim_arm(kind, 0, ENOSPC);
    Movie counted = FlattenMovieData(movie, flattenAddMovieToDataFork, &target, FOUR_CHAR_CODE("TVOD"),
                                     smSystemScript, createMovieFileDeleteCurFile);
    const int last = std::string(kind) == "close" ? 1 : faultshim_calls(kind);
    faultshim_disarm();
    ASSERT_NE(counted, nullptr);
    DisposeMovie(counted);
    testsupport::writeFile(dir.file("movie.mov"), earlier);
    EXPECT_GT(last, 0) << kind;
    for (int n = 1; n <= last; ++n) {
      SCOPED_TRACE(std::string(kind) + " #" + std::to_string(n));
      faultshim_arm(kind, n, ENOSPC);
      Movie flat = FlattenMovieData(movie, flattenAddMovieToDataFork, &target, FOUR_CHAR_CODE("TVOD"),
                                    smSystemScript, createMovieFileDeleteCurFile);
      const int calls = faultshim_calls(kind);
      faultshim_disarm();
      ASSERT_GE(calls, n);
      EXPECT_EQ(flat, nullptr);
      EXPECT_EQ(GetMoviesError(), dskFulErr);
      EXPECT_EQ(testsupport::readFile(dir.file("movie.mov")), earlier);
      EXPECT_EQ(dir.list(), (std::vector<std::string>{"movie.mov", "sound.wav", "working.mov"}));
    }
  }
  // Without permission to replace, an existing target is refused rather than overwritten.
  EXPECT_EQ(FlattenMovieData(movie, flattenAddMovieToDataFork, &target, FOUR_CHAR_CODE("TVOD"), smSystemScript, 0),
            nullptr);
  EXPECT_EQ(GetMoviesError(), dupFNErr);
  Movie flat = FlattenMovieData(movie, flattenAddMovieToDataFork, &target, FOUR_CHAR_CODE("TVOD"), smSystemScript,
                                createMovieFileDeleteCurFile);
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(topLevelTypes(testsupport::readFile(dir.file("movie.mov"))),
            (std::vector<std::string>{"ftyp", "moov", "mdat"}));
  DisposeMovie(flat);
  DisposeMovie(movie);
}

// A full quota is as full as a full disk to whoever saves a file, movie or picture, whichever
// step runs out of room.
TEST(MovieToolbox, AFullQuotaIsAFullDiskWhereverAFileIsSaved) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("sound.wav"), testsupport::pcmWave(1, 16, 8000, 800));
  testsupport::writeFile(dir.file("photo.jpg"), fixtures::makeJpeg({.width = 64, .height = 48}));
  Movie movie = NewMovie(0);
  ASSERT_GT(importWaveFile(movie, dir.file("sound.wav")), 0);
  FSSpec movieTarget = specFor(dir.file("movie.mov")), photo = specFor(dir.file("photo.jpg")),
         pictureTarget = specFor(dir.file("copy.jpg"));
  GraphicsImportComponent importer = nullptr;
  GraphicsExportComponent exporter = nullptr;
  ASSERT_EQ(GetGraphicsImporterForFile(&photo, &importer), noErr);
  ASSERT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeJPEG, &exporter), noErr);
  GraphicsExportSetInputGraphicsImporter(exporter, importer);
  GraphicsExportSetOutputFile(exporter, &pictureTarget);

  for (int error : {ENOSPC, EDQUOT}) {
    for (const char* kind : {"pwrite", "write", "fsync", "close"}) {
      SCOPED_TRACE(std::string(kind) + (error == EDQUOT ? ", quota" : ", disk"));
      if (std::string(kind) != "write") {  // a movie is written at offsets
        faultshim_arm(kind, 1, error);
        Movie flat = FlattenMovieData(movie, flattenAddMovieToDataFork, &movieTarget, FOUR_CHAR_CODE("TVOD"),
                                      smSystemScript, createMovieFileDeleteCurFile);
        faultshim_disarm();
        EXPECT_EQ(flat, nullptr);
        EXPECT_EQ(GetMoviesError(), dskFulErr);
      }
      if (std::string(kind) != "pwrite") {  // a picture in one go
        faultshim_arm(kind, 1, error);
        EXPECT_EQ(GraphicsExportDoExport(exporter, nullptr), dskFulErr);
        faultshim_disarm();
      }
    }
  }
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"photo.jpg", "sound.wav"}));
  CloseComponent(exporter);
  CloseComponent(importer);
  DisposeMovie(movie);
}

TEST(MovieToolbox, SampleAndEditRules) {
  Movie movie = NewMovie(0);
  Track track = NewMovieTrack(movie, 0, 0, kFullVolume);
  Media media = NewTrackMedia(track, SoundMediaType, 8000, nullptr, 0);
  ASSERT_NE(media, nullptr);
  EXPECT_EQ(NewTrackMedia(track, SoundMediaType, 8000, nullptr, 0), nullptr);  // one media per track
  auto desc = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(sizeof(SoundDescription)));
  (**desc).dataFormat = kSoundFormatTwosLittleEndian;
  (**desc).numChannels = 1;
  (**desc).sampleSize = 16;
  (**desc).sampleRate = 8000u << 16;
  auto sd = reinterpret_cast<SampleDescriptionHandle>(desc);
  Handle data = NewHandleClear(100);

  EXPECT_EQ(AddMediaSample(media, data, 0, 100, 1, sd, 50, 0, nullptr), invalidEditState);
  ASSERT_EQ(BeginMediaEdits(media), noErr);
  EXPECT_EQ(AddMediaSample(media, data, 0, 99, 1, sd, 50, 0, nullptr), paramErr);   // uneven samples
  EXPECT_EQ(AddMediaSample(media, data, 2, 100, 1, sd, 50, 0, nullptr), paramErr);   // past the handle
  EXPECT_EQ(AddMediaSample(media, data, 0, 100, 0, sd, 50, 0, nullptr), paramErr);   // no duration
  TimeValue at = -1;
  EXPECT_EQ(AddMediaSample(media, data, 0, 100, 1, sd, 50, 0, &at), noErr);
  EXPECT_EQ(at, 0);
  EXPECT_EQ(AddMediaSample(media, data, 50, 50, 1, sd, 25, 0, &at), noErr);
  EXPECT_EQ(at, 50);
  EXPECT_EQ(EndMediaEdits(media), noErr);
  EXPECT_EQ(GetMediaDuration(media), 75);
  EXPECT_EQ(GetMediaSampleCount(media), 75);

  EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, 76, fixed1), invalidDuration);
  EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, 75, fixed1), noErr);
  EXPECT_EQ(GetTrackDuration(track), 6);  // 75 × 600 / 8000 = 5.6, rounded up
  EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, 75, fixed1), featureUnsupported);  // would split an edit
  EXPECT_EQ(GetMovieDuration(movie), 6);
  EXPECT_EQ(GetTrackMovie(GetMediaTrack(media)), movie);

  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  DisposeMovie(movie);
}

TEST(MovieToolbox, ChunkOffsetsWidenOnlyPastFourGigabytes) {
  Movie movie = NewMovie(0);
  Track track = NewMovieTrack(movie, 0, 0, kFullVolume);
  Media media = NewTrackMedia(track, SoundMediaType, 8000, nullptr, 0);
  auto desc = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(sizeof(SoundDescription)));
  (**desc).dataFormat = kSoundFormatTwosLittleEndian;
  Handle data = NewHandleClear(4);
  BeginMediaEdits(media);
  AddMediaSample(media, data, 0, 4, 1, reinterpret_cast<SampleDescriptionHandle>(desc), 2, 0, nullptr);
  AddMediaSample(media, data, 0, 4, 1, reinterpret_cast<SampleDescriptionHandle>(desc), 2, 0, nullptr);
  EndMediaEdits(media);

  auto moovFor = [&](std::vector<UInt64> offsets) {
    std::vector<UInt8> atom = movies::buildMovieAtom(**movie, {offsets});
    return std::string(atom.begin(), atom.end());
  };
  std::string small = moovFor({0xFFFFFFF0ULL, 0xFFFFFFFFULL});
  bool found = false;
  std::string stco = atomBody(small, "moov/trak/mdia/minf/stbl/stco", &found);
  EXPECT_TRUE(found);
  EXPECT_EQ(be32(stco, 12), 0xFFFFFFFFu);
  std::string large = moovFor({0xFFFFFFF0ULL, 0x100000010ULL});
  atomBody(large, "moov/trak/mdia/minf/stbl/stco", &found);
  EXPECT_FALSE(found);
  std::string co64 = atomBody(large, "moov/trak/mdia/minf/stbl/co64", &found);
  ASSERT_TRUE(found);
  EXPECT_EQ(be32(co64, 4), 2u);
  EXPECT_EQ(be32(co64, 16), 1u);
  EXPECT_EQ(be32(co64, 20), 0x10u);
  // Two chunks of the same shape share one sample-to-chunk entry.
  EXPECT_EQ(be32(atomBody(large, "moov/trak/mdia/minf/stbl/stsc"), 4), 1u);

  DisposeHandle(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));
  DisposeMovie(movie);
}

}  // namespace

