// SPDX-License-Identifier: GPL-2.0-or-later
// --info through the built program: many photographs at once, one JSON array with an object per
// photograph (an Error for those that cannot be read), aligned text, and file names that
// cannot upset a terminal.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "support/AddressSpace.h"
#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/TestPaths.h"

using fixtures::RunResult;

namespace {

// A value from the JSON output, through python3 so the output is parsed by a real reader.
std::string jsonQuery(const std::string& json, const std::string& expression) {
  testsupport::ScratchDir dir;
  testsupport::writeFile(dir.file("x.json"), json);
  std::string out;
  int rc = testsupport::run("python3 -c " +
                                testsupport::shellQuote("import json,sys; d=json.load(open(sys.argv[1])); print(" +
                                                        expression + ")") +
                                " " + testsupport::shellQuote(dir.file("x.json")) + " 2>&1",
                            &out);
  return rc == 0 ? out : "error: " + out;
}

// The photograph followed by a Sound & Shot trailer (Samsung's block 0x0100 "SoundShot_000" and
// its SEFH/SEFT directory) holding a WAVE of dataBytes of samples, or by dataBytes of other bytes;
// either way the bulk is a hole in the file, so the disk holds none of it.
void writeWithTrailer(const std::string& path, const std::string& jpeg, std::uint64_t dataBytes, bool recording) {
  using testsupport::le16;
  using testsupport::le32;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(jpeg.data(), 1, jpeg.size(), f);
  if (!recording) {
    std::fclose(f);
    std::filesystem::resize_file(path, jpeg.size() + dataBytes);
    return;
  }
  const std::string name = "SoundShot_000";
  const std::string wave = "RIFF" + le32(std::uint32_t(36 + dataBytes)) + "WAVEfmt " + le32(16) +
                           testsupport::pcmFormat(2, 44100, 16) + "data" + le32(std::uint32_t(dataBytes));
  const std::string block = le16(0) + le16(0x0100) + le32(std::uint32_t(name.size())) + name + wave;
  const std::uint32_t length = std::uint32_t(block.size() + dataBytes);
  std::fwrite(block.data(), 1, block.size(), f);
  const std::string directory = "SEFH" + le32(106) + le32(1) + le16(0) + le16(0x0100) + le32(length) + le32(length);
  const std::string tail = directory + le32(std::uint32_t(directory.size())) + "SEFT";
  ASSERT_EQ(fseeko(f, off_t(jpeg.size() + length), SEEK_SET), 0);
  std::fwrite(tail.data(), 1, tail.size(), f);
  ASSERT_EQ(std::fclose(f), 0);
}

}  // namespace

TEST(InfoCommand, ShowsTheFileAndTheAudioBlocksOfAnEmbeddedRecording) {
  testsupport::ScratchDir dir;
  std::string wave = fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 3.0});
  std::string path = dir.file("voice.jpg");
  const std::string bytes =
      fixtures::embedWave(fixtures::makeJpeg({.width = 96, .height = 64}), wave, fixtures::pieces(1000, {}));
  testsupport::writeFile(path, bytes);
  RunResult text = fixtures::runStill2mov({"--info", path});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.rfind("FileName                        : voice.jpg\n"
                           "Directory                       : " + dir.path() + "\n"
                           "FileSize                        : " + std::to_string(bytes.size()) + "\n", 0), 0u)
      << text.out;
  EXPECT_NE(text.out.find("ImageWidth                      : 96\n"
                          "ImageHeight                     : 64\n"
                          "BitmapSize                      : 18432\n"),
            std::string::npos) << text.out;
  std::size_t pieces = flashpix::pieceCount(wave.size(), 1000);
  EXPECT_NE(text.out.find("AudioBlocks                     : " + std::to_string(pieces) + "\n"), std::string::npos);
  // The record's whole seconds, and beside them the exact length the movie's sound will have:
  // IMA ADPCM blocks of 256 bytes decode to 505 frames each, at 8 kHz, of which the fact
  // chunk's 24,000 are sound.
  const std::size_t data = wave.find("data");
  ASSERT_NE(data, std::string::npos);
  const std::uint32_t dataBytes = std::uint8_t(wave[data + 4]) | (std::uint8_t(wave[data + 5]) << 8) |
                                  (std::uint8_t(wave[data + 6]) << 16) | (std::uint32_t(std::uint8_t(wave[data + 7])) << 24);
  ASSERT_EQ(dataBytes % 256, 0u);
  char exact[32];
  ASSERT_GT(dataBytes / 256 * 505, 24000u);
  std::snprintf(exact, sizeof exact, "%g", 24000 / 8000.0);
  EXPECT_NE(text.out.find(std::string("AudioSeconds                    : 3\nDuration                        : ") + exact +
                          "\nSoundSource                     : embedded\n"),
            std::string::npos)
      << text.out;
  // Each block only when asked, under the value's column.
  RunResult verbose = fixtures::runStill2mov({path, "--info", "-v"});
  EXPECT_NE(verbose.out.find("\n                                  0: 972 bytes at WAVE offset 0\n"), std::string::npos)
      << verbose.out;

  REQUIRE_TOOL("python3");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--info", "--json", path},
                                               std::vector<std::string>{"--info=json", path},
                                               std::vector<std::string>{path, "--json", "--info"}}) {
    RunResult json = fixtures::runStill2mov(args);
    ASSERT_EQ(json.status, 0);
    EXPECT_EQ(jsonQuery(json.out, "len(d), d[0]['SourceFile'] == '" + path + "'"), "1 True\n");
    EXPECT_EQ(jsonQuery(json.out, "sum(b['Length'] for b in d[0]['AudioBlocks']), d[0]['AudioSeconds'], "
                                  "d[0]['ImageWidth'], d[0]['FileSize']"),
              std::to_string(wave.size()) + " 3 96 " + std::to_string(bytes.size()) + "\n");
    EXPECT_EQ(jsonQuery(json.out, "d[0]['Duration'] == 24000 / 8000"), "True\n");
    EXPECT_EQ(jsonQuery(json.out, "[b['Offset'] for b in d[0]['AudioBlocks']][:3]"), "[0, 972, 1972]\n");
    EXPECT_EQ(jsonQuery(json.out, "'Make' in d[0], d[0]['CreationDate'].endswith('Z'), d[0]['SoundSource']"),
              "False True embedded\n");
  }
}

TEST(InfoCommand, ManyPhotographsOneArrayAndAnErrorForEachThatCannotBeRead) {
  REQUIRE_TOOL("python3");
  testsupport::ScratchDir dir;
  testsupport::writeFile(dir.file("a.jpg"), fixtures::makeJpeg());
  testsupport::writeFile(dir.file("empty.jpg"), "");
  testsupport::writeFile(dir.file("text.jpg"), "hello\n");
  testsupport::writeFile(dir.file("cut.jpg"), fixtures::makeJpeg().substr(0, 100));
  testsupport::writeFile(dir.file("b.jpg"), fixtures::makeJpeg({.width = 32, .height = 32}));
  const std::vector<std::string> names = {"a.jpg", "empty.jpg", "text.jpg", "cut.jpg", "missing.jpg", ".", "b.jpg"};
  std::vector<std::string> args = {"--info", "--json"};
  for (const std::string& n : names) args.push_back(dir.file(n));
  RunResult r = fixtures::runStill2mov(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(jsonQuery(r.out, "[o['SourceFile'].rsplit('/', 1)[1] for o in d]"),
            "['a.jpg', 'empty.jpg', 'text.jpg', 'cut.jpg', 'missing.jpg', '.', 'b.jpg']\n");
  EXPECT_EQ(jsonQuery(r.out, "[o.get('Error') for o in d]"),
            "[None, 'cannot be read (empty file)', 'cannot be read (not a JPEG file)', "
            "'cannot be read (damaged JPEG header)', 'cannot be read (no such file)', "
            "'cannot be read (is a directory)', None]\n");
  EXPECT_EQ(jsonQuery(r.out, "d[6]['ImageWidth'], sorted(d[1])"), "32 ['Error', 'SourceFile']\n");
  EXPECT_NE(r.err.find(dir.file("missing.jpg") + ": cannot be read (no such file)"), std::string::npos) << r.err;

  // In text, each photograph that was read under its own header; the others on standard error.
  RunResult text = fixtures::runStill2mov({"--info", dir.file("a.jpg"), dir.file("missing.jpg"), dir.file("b.jpg")});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.out.rfind("======== " + dir.file("a.jpg") + "\nFileName ", 0), 0u) << text.out;
  EXPECT_NE(text.out.find("\n======== " + dir.file("b.jpg") + "\nFileName "), std::string::npos);
  EXPECT_EQ(text.out.find("missing"), std::string::npos);
  EXPECT_EQ(text.err, "still2mov: " + dir.file("missing.jpg") + ": cannot be read (no such file)\n");
}

TEST(InfoCommand, BadUsageExitsTwo) {
  testsupport::ScratchDir dir;
  std::string photo = dir.file("p.jpg");
  testsupport::writeFile(photo, fixtures::makeJpeg());
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--info"}, {"--info", "--xml", photo}, {"--info=xml", photo}, {"--info", "--json=yes", photo}}) {
    RunResult r = fixtures::runStill2mov(args);
    EXPECT_EQ(r.status, 2) << args.back();
    EXPECT_NE(r.err.find("Usage: still2mov --info"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
  }
  // A following word is a photograph, never --info's value.
  RunResult r = fixtures::runStill2mov({"--info", "json"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "still2mov: json: cannot be read (no such file)\n");
}

TEST(InfoCommand, FileNamesWithControlBytesStayOnTheirLine) {
  testsupport::ScratchDir dir;
  const std::string name = std::string("evil\n\x1b[31m\x9b" "2J\xC2\x9B" "x.jpg");
  const std::string path = dir.file(name);
  testsupport::writeFile(path, fixtures::makeJpeg());
  RunResult text = fixtures::runStill2mov({"--info", path, path});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(text.out.find('\x9b'), std::string::npos);
  EXPECT_NE(text.out.find("FileName                        : evil\\n\\x1b[31m\\x9b2J\\u{009b}x.jpg\n"),
            std::string::npos) << text.out;
  EXPECT_NE(text.out.find("======== " + dir.path() + "/evil\\n\\x1b"), std::string::npos);
  RunResult missing = fixtures::runStill2mov({"--info", dir.file("gone\n.jpg")});
  EXPECT_EQ(missing.err, "still2mov: " + dir.path() + "/gone\\n.jpg: cannot be read (no such file)\n");
  REQUIRE_TOOL("python3");
  RunResult json = fixtures::runStill2mov({"--info", "--json", path});
  EXPECT_EQ(jsonQuery(json.out, "ascii(d[0]['FileName'])"), "'evil\\n\\x1b[31m\\ufffd2J\\x9bx.jpg'\n");
}

TEST(InfoCommand, TheBundledSampleCarriesItsVoiceNote) {
  std::string sample = testsupport::sourceDir() + "/samples/voice-note.jpg";
  ASSERT_TRUE(std::filesystem::exists(sample)) << sample << " is missing";
  RunResult text = fixtures::runStill2mov({"--info", "--verbose", sample});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.find("AudioBlocks                     : 0\n"), std::string::npos) << text.out;
  REQUIRE_TOOL("python3");
  RunResult json = fixtures::runStill2mov({"--info", "--json", sample});
  ASSERT_EQ(json.status, 0);
  EXPECT_EQ(jsonQuery(json.out, "len(d[0]['AudioBlocks']) > 0, d[0]['AudioSeconds'] > 0"), "True True\n");
}

TEST(InfoCommand, ListsEveryVoiceNoteAndMarksTheOneAConversionTakes) {
  const std::string inside = fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.2});
  const std::string beside = fixtures::makeWave(fixtures::WaveKind::pcm8, {.seconds = 0.3});
  struct Case {
    const char* what;
    bool embedded;           // FlashPix pieces in the photograph
    const char* besideName;  // a file beside it, or nullptr
    bool besideIsWave;
    const char* soundSource;  // the SoundSource line, "" for none
    const char* list;         // the SoundSources line, "%s" for the folder; "" for none
    const char* json;         // python's repr of the JSON list, "%s" for the folder
  };
  const Case cases[] = {
      {"inside and beside", true, "p.WAV", true, "embedded", "embedded (used), sidecar %s/p.WAV",
       "[{'Source': 'embedded', 'Used': True}, {'Source': 'sidecar', 'File': '%s/p.WAV', 'Used': False}]"},
      {"beside only", false, "p.wav", true, "sidecar", "sidecar %s/p.wav (used)",
       "[{'Source': 'sidecar', 'File': '%s/p.wav', 'Used': True}]"},
      // What cannot serve is no note.
      {"a file beside that is no WAVE", false, "p.wav", false, "", "", "None"},
      {"inside, and no WAVE beside", true, "p.wav", false, "embedded", "embedded (used)",
       "[{'Source': 'embedded', 'Used': True}]"},
      {"none", false, nullptr, false, "", "", "None"},
  };
  auto withFolder = [](const char* format, const std::string& folder) {
    std::string s = format;
    if (const std::size_t at = s.find("%s"); at != std::string::npos) s.replace(at, 2, folder);
    return s;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::ScratchDir dir;
    const std::string photo = dir.file("p.jpg");
    testsupport::writeFile(photo, c.embedded ? fixtures::embedWave(fixtures::makeJpeg(), inside) : fixtures::makeJpeg());
    if (c.besideName) testsupport::writeFile(dir.file(c.besideName), c.besideIsWave ? beside : "not a recording");

    const RunResult text = fixtures::runStill2mov({"--info", photo});
    ASSERT_EQ(text.status, 0) << text.err;
    auto line = [&](const std::string& name) {
      const std::size_t at = text.out.find("\n" + name + " ");
      if (at == std::string::npos) return std::string();
      const std::size_t value = text.out.find(": ", at) + 2;
      return text.out.substr(value, text.out.find('\n', value) - value);
    };
    // The line scripts read stays as it was; the list comes after it.
    EXPECT_EQ(line("SoundSource"), c.soundSource) << text.out;
    EXPECT_EQ(line("SoundSources"), withFolder(c.list, dir.path())) << text.out;
    if (*c.soundSource) {
      EXPECT_LT(text.out.find("\nSoundSource "), text.out.find("\nSoundSources "));
    }

    REQUIRE_TOOL("python3");
    const RunResult json = fixtures::runStill2mov({"--info", "--json", photo});
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(jsonQuery(json.out, "d[0].get('SoundSources')"), withFolder(c.json, dir.path()) + "\n");
    EXPECT_EQ(jsonQuery(json.out, "d[0].get('SoundSource', '')"), std::string(c.soundSource) + "\n");
  }
}

TEST(InfoCommand, APhotographMostlyTrailerIsReadInMemoryThatDoesNotGrowWithIt) {
  SKIP_UNDER_ADDRESS_SANITIZER();
  const std::uint64_t gib = std::uint64_t(1) << 30;
  const struct {
    const char* what;
    std::uint64_t bytes;
    bool recording;
    const char* soundSource;  // the SoundSource line, "" for none
  } cases[] = {
      {"a 1 GiB Sound & Shot recording", gib, true, "samsung-trailer"},
      {"1 GiB of other trailer", gib, false, ""},
      {"a short Sound & Shot recording", 4096, true, "samsung-trailer"},
  };
  const std::string jpeg = fixtures::makeJpeg({.width = 96, .height = 64});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::ScratchDir dir;
    const std::string photo = dir.file("p.jpg");
    writeWithTrailer(photo, jpeg, c.bytes, c.recording);
    const std::uint64_t fileBytes = std::filesystem::file_size(photo);
    std::string out;
    // Far less address space than the file's size: it is never held whole.
    const int status = testsupport::run(testsupport::still2movLimited(128 * 1024, {"--info", photo}), &out);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("\nFileSize                        : " + std::to_string(fileBytes) + "\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("\nImageWidth                      : 96\n"), std::string::npos) << out;
    const std::size_t at = out.find("\nSoundSource ");
    if (*c.soundSource) {
      ASSERT_NE(at, std::string::npos) << out;
      EXPECT_EQ(out.substr(out.find(": ", at) + 2, std::strlen(c.soundSource)), c.soundSource) << out;
    } else {
      EXPECT_EQ(at, std::string::npos) << out;
    }
  }
}
