// SPDX-License-Identifier: GPL-2.0-or-later
// Plain conversions through the built program: voice annotations in every piece layout come
// back as the very WAVE file that was embedded; everything else gets a clear line and status.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>

#include "Convert2Mov.h"
#include "support/Fixtures.h"
#include "support/TestPaths.h"

using fixtures::RunResult;
using fixtures::WaveKind;
using testsupport::ScratchDir;

namespace {

// Recordings anywhere under the folder (the working ones go into a private sub-folder).
std::vector<std::string> wavesIn(const ScratchDir& dir) {
  std::vector<std::string> waves;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
    if (e.path().extension() == ".wav") waves.push_back(e.path().string());
  return waves;
}

// A successful line: the movie was made, or (while no movie can be assembled) the WAVE file.
bool isSuccessLine(const std::string& out, const std::string& photo) {
  return out.rfind(photo + " -> " + Convert2Mov::moviePathFor(photo) + " (", 0) == 0 ||
         out.rfind(photo + ": voice annotation written to ", 0) == 0;
}

struct Layout {
  const char* name;
  std::uint32_t pieceBytes;
  std::vector<std::size_t> order;  // empty: in order
};

}  // namespace

TEST(ConvertCommand, RecoversTheEmbeddedWaveInEveryPieceLayout) {
  const Layout layouts[] = {
      {"one piece", flashpix::kMaxPieceBytes, {}},
      {"two pieces", 0, {}},  // half the stream, rounded up
      {"many pieces", 700, {}},
      {"third before second", 0, {0, 2, 1}},
      {"all reversed", 900, {}},
  };
  const WaveKind kinds[] = {WaveKind::imaAdpcm, WaveKind::pcm8, WaveKind::pcm16Stereo};
  std::string photo = fixtures::makeJpeg({.width = 160, .height = 120});
  for (WaveKind kind : kinds) {
    std::string wave = fixtures::makeWave(kind, {.seconds = 1.5});
    for (const Layout& layout : layouts) {
      SCOPED_TRACE(std::string(fixtures::waveKindName(kind)) + ", " + layout.name);
      flashpix::EmbedOptions options;
      std::size_t stream = wave.size() + flashpix::kStreamHeaderBytes;
      // Unsized layouts cut the stream into as many pieces as their order names (two by default).
      std::size_t parts = layout.order.empty() ? 2 : layout.order.size();
      options.maxPieceBytes = layout.pieceBytes ? layout.pieceBytes : std::uint32_t((stream + parts - 1) / parts);
      options.pieceOrder = layout.order;
      if (std::string(layout.name) == "all reversed") {
        for (std::size_t k = flashpix::pieceCount(wave.size(), options.maxPieceBytes); k-- > 0;)
          options.pieceOrder.push_back(k);
      }
      ScratchDir dir, tmp;
      std::string path = dir.file("voice.jpg");
      testsupport::writeFile(path, fixtures::embedWave(photo, wave, options));
      RunResult r = fixtures::runStill2mov({"--no-resize", path}, {{"TMPDIR", tmp.path()}});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(isSuccessLine(r.out, path)) << r.out;
      // The working recording is gone; the one extracted is the embedded one.
      EXPECT_TRUE(wavesIn(tmp).empty());
      RunResult x = fixtures::runStill2mov({"extract", path, tmp.file("voice.wav")});
      ASSERT_EQ(x.status, 0) << x.err;
      EXPECT_TRUE(testsupport::readFile(tmp.file("voice.wav")) == wave) << "WAVE file differs from the embedded one";
      if (r.out.find(" -> ") != std::string::npos) {
        EXPECT_TRUE(std::filesystem::exists(dir.file("voice.mov")));
      }
    }
  }
}

TEST(ConvertCommand, ExiftoolReadsTheSameRecordingFromInOrderPieces) {
  REQUIRE_TOOL("exiftool");
  std::string wave = fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 2.0});
  for (std::uint32_t piece : {flashpix::kMaxPieceBytes, 1200u}) {
    ScratchDir dir;
    std::string path = dir.file("voice.jpg");
    testsupport::writeFile(path, fixtures::embedWave(fixtures::makeJpeg(), wave, fixtures::pieces(piece)));
    std::string extracted;
    ASSERT_EQ(testsupport::run("exiftool -b -AudioStream " + testsupport::shellQuote(path), &extracted), 0);
    // exiftool hands out the recording without the stream's 28-byte header.
    EXPECT_TRUE(extracted == wave) << "piece size " << piece << ": " << extracted.size() << " bytes";
  }
}

TEST(ConvertCommand, PhotographsWithoutAnAnnotationOrUnreadable) {
  ScratchDir dir, tmp;
  std::string photo = fixtures::makeJpeg();
  struct Case {
    std::string name;
    std::string bytes;  // written to the file; "<dir>" makes a folder, "<none>" nothing
    int status;
    std::string line;  // expected start of the line after "PATH: "
  };
  std::string annotated = fixtures::embedWave(photo, fixtures::makeWave(WaveKind::pcm8));
  std::vector<Case> cases = {
      {"plain.jpg", photo, 0, "no voice annotation"},
      {"icc.jpg", fixtures::withSegment(photo, 0xE2, fixtures::iccProfileSegmentPayload()), 0, "no voice annotation"},
      {"cut-in-header.jpg", annotated.substr(0, 300), 1, "cannot be read (damaged JPEG header)"},
      {"empty.jpg", "", 1, "cannot be read (empty file)"},
      {"notes.jpg", "these are not pixels\n", 1, "cannot be read (not a JPEG file)"},
      {"folder.jpg", "<dir>", 1, "is a folder (-r converts the photographs in it)"},
      {"missing.jpg", "<none>", 1, "cannot be read (no such file)"},
  };
  for (const std::string& corpus : {std::string("Kodak.jpg"), std::string("ExifTool.jpg")}) {
    std::string p = testsupport::corpusDir() + "/exiftool-images/" + corpus;
    if (!testsupport::corpusDir().empty() && std::filesystem::exists(p))
      cases.push_back({corpus, testsupport::readFile(p), 0, "no voice annotation"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = dir.file(c.name);
    if (c.bytes == "<dir>")
      std::filesystem::create_directory(path);
    else if (c.bytes != "<none>")
      testsupport::writeFile(path, c.bytes);
    RunResult r = fixtures::runStill2mov({"--no-resize", path}, {{"TMPDIR", tmp.path()}});
    EXPECT_EQ(r.status, c.status);
    const std::string& stream = c.status == 0 ? r.out : r.err;
    EXPECT_EQ(stream, path + ": " + c.line + "\n") << "stdout: " << r.out << "stderr: " << r.err;
    EXPECT_TRUE(wavesIn(tmp).empty());
    EXPECT_FALSE(std::filesystem::exists(Convert2Mov::moviePathFor(path)));
  }
}

TEST(ConvertCommand, OneFailureAmongSeveralPhotographsFailsTheRun) {
  ScratchDir dir, tmp;
  std::string good = dir.file("plain.jpg");
  testsupport::writeFile(good, fixtures::makeJpeg());
  RunResult r = fixtures::runStill2mov({good, dir.file("gone.jpg"), "--no-resize"}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, good + ": no voice annotation\n");
  EXPECT_EQ(r.err, dir.file("gone.jpg") + ": cannot be read (no such file)\n"
                   "0 converted, 1 without a voice annotation, 0 skipped, 1 failed\n");
}

TEST(ConvertCommand, BadUsageExitsTwoWithTheUsage) {
  ScratchDir dir;
  std::string photo = dir.file("p.jpg");
  testsupport::writeFile(photo, fixtures::makeJpeg());
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--no-resize"}, {"--resize", "--no-resize", photo}, {"--sideways", photo}, {"--resize", "--"}}) {
    RunResult r = fixtures::runStill2mov(args, {{"TMPDIR", dir.path()}});
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_NE(r.err.find("Usage:"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  // After "--" a name that looks like an option is a photograph.
  RunResult r = fixtures::runStill2mov({"--no-resize", "--", "--resize"}, {{"TMPDIR", dir.path()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "--resize: cannot be read (no such file)\n");
}

TEST(ConvertCommand, APhotographNamedLikeItsMovieIsLeftAlone) {
  ScratchDir dir, tmp;
  std::string path = dir.file("clip.mov");
  std::string bytes = fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(WaveKind::pcm8));
  testsupport::writeFile(path, bytes);
  RunResult r = fixtures::runStill2mov({"--no-resize", path}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("would replace it"), std::string::npos) << r.err;
  EXPECT_TRUE(testsupport::readFile(path) == bytes);
  // Without a voice annotation there is no movie to collide with: it says so, as for any name.
  const std::string plain = fixtures::makeJpeg();
  testsupport::writeFile(path, plain);
  r = fixtures::runStill2mov({"--no-resize", path}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, path + ": no voice annotation\n");
  EXPECT_TRUE(testsupport::readFile(path) == plain);
}

TEST(ConvertCommand, ResizeFlagsDecideThePictureWidth) {
  REQUIRE_TOOL("ffprobe");
  std::string photo = fixtures::embedWave(fixtures::makeJpeg({.width = 1280, .height = 960}),
                                          fixtures::makeWave(WaveKind::imaAdpcm, {.seconds = 1.0}));
  for (const auto& [flag, width] : {std::pair<std::string, int>{"--resize", 600}, {"--no-resize", 1280}}) {
    ScratchDir dir, tmp;
    std::string path = dir.file("wide.jpg");
    testsupport::writeFile(path, photo);
    RunResult r = fixtures::runStill2mov({flag, path}, {{"TMPDIR", tmp.path()}});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_NE(r.out.find(" -> "), std::string::npos) << "no movie was made: " << r.out;
    std::string probe;
    testsupport::run("ffprobe -v error -select_streams v -show_entries stream=width -of csv=p=0 " +
                         testsupport::shellQuote(dir.file("wide.mov")),
                     &probe);
    EXPECT_EQ(probe, std::to_string(width) + "\n") << flag;
  }
}

namespace {

// What may stand under a movie's name before a conversion, and whether the default rule
// replaces it: only a movie that still2mov made, or the empty file an earlier release left.
struct Occupant {
  const char* name;
  bool ours;
  void (*make)(const std::string& movie, const std::string& ourMovie, const ScratchDir& dir);
};

void makeEmptyPlaceholder(const std::string& movie, const std::string&, const ScratchDir&) {
  testsupport::writeFile(movie, "");
  // Type '????' and creator 'TVOD', as an earlier release created the movie before writing it.
  const char info[32] = {'?', '?', '?', '?', 'T', 'V', 'O', 'D'};
  if (setxattr(movie.c_str(), "user.com.apple.FinderInfo", info, sizeof info, 0) != 0)
    testsupport::writeFile(movie, "no extended attributes here");  // then it is simply not ours
}

const Occupant kOccupants[] = {
    {"a movie of ours", true,
     [](const std::string& movie, const std::string& ours, const ScratchDir&) {
       testsupport::writeFile(movie, testsupport::readFile(ours));
     }},
    {"a camera's own clip", false,
     [](const std::string& movie, const std::string&, const ScratchDir&) {
       testsupport::writeFile(movie, std::string("\0\0\0\x14" "ftypqt  \0\0\0\0qt  \0\0\0\x08mdat", 28));
     }},
    {"an empty file", false,
     [](const std::string& movie, const std::string&, const ScratchDir&) { testsupport::writeFile(movie, ""); }},
    {"a read-only video", false,
     [](const std::string& movie, const std::string&, const ScratchDir&) {
       testsupport::writeFile(movie, "read-only video");
       chmod(movie.c_str(), 0444);
     }},
    {"a link to a movie of ours", false,
     [](const std::string& movie, const std::string& ours, const ScratchDir&) {
       symlink(ours.c_str(), movie.c_str());
     }},
    {"a dangling link", false,
     [](const std::string& movie, const std::string&, const ScratchDir& dir) {
       symlink(dir.file("nowhere").c_str(), movie.c_str());
     }},
};

// The bytes (or link text) at path, to tell whether it was left alone.
std::string fingerprint(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec)))
    return "link to " + std::filesystem::read_symlink(path, ec).string();
  return testsupport::readFile(path);
}

bool isNewMovie(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::string bytes = testsupport::readFile(path);
  return bytes.size() > 16 && bytes.compare(4, 4, "ftyp") == 0;
}

}  // namespace

TEST(ConvertCommand, AFileUnderTheMoviesNameIsReplacedOnlyWhenOursOrWhenAsked) {
  ScratchDir tmp, reference;
  std::string photoBytes = fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(WaveKind::pcm8));
  // A movie that still2mov made from another photograph, to plant and to link to.
  testsupport::writeFile(reference.file("ours.jpg"),
                         fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(WaveKind::pcm16Mono)));
  ASSERT_EQ(fixtures::runStill2mov({"--no-resize", reference.file("ours.jpg")}, {{"TMPDIR", tmp.path()}}).status, 0);
  const std::string ourMovie = reference.file("ours.mov");
  const std::string ourBytes = testsupport::readFile(ourMovie);
  std::vector<Occupant> occupants(std::begin(kOccupants), std::end(kOccupants));
  occupants.push_back({"the empty file an earlier release left", true, makeEmptyPlaceholder});

  for (const char* option : {"", "-y", "--overwrite", "-n", "--skip-existing"}) {
    const std::string opt = option;
    const bool replaceAny = opt == "-y" || opt == "--overwrite";
    const bool skip = opt == "-n" || opt == "--skip-existing";
    for (const Occupant& o : occupants) {
      SCOPED_TRACE(std::string(o.name) + (opt.empty() ? "" : " with " + opt));
      ScratchDir dir;
      const std::string photo = dir.file("p.jpg"), movie = dir.file("p.mov");
      testsupport::writeFile(photo, photoBytes);
      o.make(movie, ourMovie, dir);
      const std::string before = fingerprint(movie);
      std::vector<std::string> args = {"--no-resize", photo};
      if (!opt.empty()) args.insert(args.begin(), opt);
      RunResult r = fixtures::runStill2mov(args, {{"TMPDIR", tmp.path()}});

      const bool replaced = !skip && (o.ours || replaceAny);
      if (replaced) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(isSuccessLine(r.out, photo)) << r.out;
        EXPECT_TRUE(isNewMovie(movie));
        EXPECT_NE(fingerprint(movie), before);
      } else {
        EXPECT_TRUE(fingerprint(movie) == before) << "the file under the movie's name changed";
        if (skip) {
          EXPECT_EQ(r.status, 0);
          EXPECT_EQ(r.out, photo + ": " + movie + " exists; skipped\n");
        } else {
          EXPECT_EQ(r.status, 1);
          EXPECT_EQ(r.out, "");
          EXPECT_EQ(r.err, photo + ": " + movie +
                               " exists and is not a movie still2mov made; left as it is (-y replaces it)\n");
        }
      }
      // A link is replaced by the movie itself; what it pointed to is never written.
      EXPECT_TRUE(testsupport::readFile(ourMovie) == ourBytes);
      EXPECT_EQ(dir.list(), (std::vector<std::string>{"p.jpg", "p.mov"}));
    }
  }
}

TEST(ConvertCommand, OverwriteAndSkipOptions) {
  ScratchDir dir, tmp;
  const std::string photo = dir.file("p.jpg");
  testsupport::writeFile(photo, fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(WaveKind::pcm8)));
  // Without an existing movie, skipping changes nothing.
  RunResult r = fixtures::runStill2mov({"-n", "--no-resize", photo}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(isSuccessLine(r.out, photo)) << r.out;
  // A folder under the movie's name is never replaced, whatever the option.
  std::filesystem::remove(dir.file("p.mov"));
  std::filesystem::create_directory(dir.file("p.mov"));
  r = fixtures::runStill2mov({"-y", "--no-resize", photo}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, photo + ": " + dir.file("p.mov") + " is a folder; no movie written\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("p.mov")));
  // The two options exclude each other.
  r = fixtures::runStill2mov({"-y", "-n", photo}, {{"TMPDIR", tmp.path()}});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Usage:"), std::string::npos);
  r = fixtures::runStill2mov({"--help"});
  EXPECT_NE(r.out.find("--overwrite"), std::string::npos);
  EXPECT_NE(r.out.find("--skip-existing"), std::string::npos);
}

TEST(ConvertCommand, TheMovieKeepsOnlyPermissionBitsAndNeverReadsThemThroughALink) {
  ScratchDir dir, tmp;
  const std::string photo = dir.file("p.jpg"), movie = dir.file("p.mov");
  testsupport::writeFile(photo, fixtures::embedWave(fixtures::makeJpeg(), fixtures::makeWave(WaveKind::pcm8)));
  mode_t mask = umask(0);
  umask(mask);
  // A link to a setuid program: the movie replaces the link with the usual permissions.
  const char* setuidProgram = nullptr;
  for (const char* candidate : {"/usr/bin/passwd", "/usr/bin/su", "/bin/su", "/usr/bin/mount"}) {
    struct stat st {};
    if (stat(candidate, &st) == 0 && (st.st_mode & S_ISUID)) setuidProgram = candidate;
  }
  ASSERT_NE(setuidProgram, nullptr) << "no setuid program to link to";
  ASSERT_EQ(symlink(setuidProgram, movie.c_str()), 0);
  RunResult r = fixtures::runStill2mov({"-y", "--no-resize", photo}, {{"TMPDIR", tmp.path()}});
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat st {};
  ASSERT_EQ(lstat(movie.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);

  // An earlier movie's own mode is kept, without its set-ID and sticky bits.
  ASSERT_EQ(chmod(movie.c_str(), 07750), 0);
  r = fixtures::runStill2mov({"--no-resize", photo}, {{"TMPDIR", tmp.path()}});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(lstat(movie.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);
}
