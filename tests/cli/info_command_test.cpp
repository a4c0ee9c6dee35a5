// --info through the built program on voice-annotated fixtures, the bundled sample and
// files it must refuse.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/Fixtures.h"
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

}  // namespace

TEST(InfoCommand, ShowsTheAudioBlocksOfAnEmbeddedRecording) {
  testsupport::ScratchDir dir;
  std::string wave = fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 3.0});
  std::string path = dir.file("voice.jpg");
  testsupport::writeFile(path, fixtures::embedWave(fixtures::makeJpeg({.width = 96, .height = 64}), wave,
                                                   fixtures::pieces(1000, {})));
  RunResult text = fixtures::runStill2mov({"--info", path});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("FileName: " + path + "\n"), std::string::npos);
  EXPECT_NE(text.out.find("PixelWidth: 96\nPixelHeight: 64\n"), std::string::npos);
  std::size_t pieces = flashpix::pieceCount(wave.size(), 1000);
  EXPECT_NE(text.out.find("AudioBlocks: " + std::to_string(pieces) + "\n  0: 972 bytes at WAVE offset 0\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("AudioSeconds: 3\n"), std::string::npos);

  REQUIRE_TOOL("python3");
  RunResult json = fixtures::runStill2mov({"--info", "--json", path});
  ASSERT_EQ(json.status, 0);
  EXPECT_EQ(jsonQuery(json.out, "sum(b['Length'] for b in d['AudioBlocks']), d['AudioSeconds'], d['PixelWidth']"),
            std::to_string(wave.size()) + " 3 96\n");
  EXPECT_EQ(jsonQuery(json.out, "[b['Offset'] for b in d['AudioBlocks']][:3]"), "[0, 972, 1972]\n");
  EXPECT_EQ(jsonQuery(json.out, "'Make' in d, d['CreationDate'].endswith('Z')"), "False True\n");
}

TEST(InfoCommand, TheBundledSampleCarriesItsVoiceNote) {
  std::string sample = testsupport::sourceDir() + "/samples/voice-note.jpg";
  ASSERT_TRUE(std::filesystem::exists(sample)) << sample << " is missing";
  RunResult text = fixtures::runStill2mov({"--info", "--verbose", sample});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.find("AudioBlocks: 0\n"), std::string::npos) << text.out;
  REQUIRE_TOOL("python3");
  RunResult json = fixtures::runStill2mov({"--info", "--json", sample});
  ASSERT_EQ(json.status, 0);
  EXPECT_EQ(jsonQuery(json.out, "len(d['AudioBlocks']) > 0, d['AudioSeconds'] > 0"), "True True\n");
}

TEST(InfoCommand, RefusesWhatIsNoReadablePhotograph) {
  testsupport::ScratchDir dir;
  testsupport::writeFile(dir.file("empty.jpg"), "");
  testsupport::writeFile(dir.file("text.jpg"), "hello\n");
  testsupport::writeFile(dir.file("cut.jpg"), fixtures::makeJpeg().substr(0, 100));
  for (const char* name : {"empty.jpg", "text.jpg", "cut.jpg", "missing.jpg", "."}) {
    RunResult r = fixtures::runStill2mov({"--info", "--json", dir.file(name)});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_TRUE(r.out.empty()) << name;
    EXPECT_NE(r.err.find(dir.file(name) + ": cannot be read ("), std::string::npos) << r.err;
  }
  std::string photo = dir.file("p.jpg");
  testsupport::writeFile(photo, fixtures::makeJpeg());
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--info"}, {"--info", photo, photo}, {"--info", "--xml", photo}}) {
    RunResult r = fixtures::runStill2mov(args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_NE(r.err.find("Usage: still2mov --info"), std::string::npos);
  }
}

TEST(InfoCommand, EveryCorpusPhotographGivesValidJsonOrAClearRefusal) {
  std::vector<std::string> photos = testsupport::corpusJpegs();
  if (photos.empty()) GTEST_SKIP() << "no corpus";
  REQUIRE_TOOL("python3");
  testsupport::ScratchDir dir;
  std::vector<std::string> outputs;
  for (std::size_t i = 0; i < photos.size(); ++i) {
    RunResult r = fixtures::runStill2mov({"--info", "--json", photos[i]});
    ASSERT_TRUE(r.status == 0 || r.status == 1) << photos[i] << " exited " << r.status << "\n" << r.err;
    if (r.status == 1) {
      EXPECT_TRUE(r.out.empty());
      EXPECT_NE(r.err.find(photos[i] + ": cannot be read ("), std::string::npos) << r.err;
      continue;
    }
    outputs.push_back(dir.file(std::to_string(i) + ".json"));
    testsupport::writeFile(outputs.back(), r.out);
  }
  // One interpreter checks them all: each must parse as one object naming its file.
  std::string files;
  for (const std::string& f : outputs) files += " " + testsupport::shellQuote(f);
  std::string out;
  int rc = testsupport::run(
      "python3 -c " +
          testsupport::shellQuote("import json,sys\nfor f in sys.argv[1:]:\n d=json.load(open(f,encoding='utf-8'))\n"
                                  " assert isinstance(d,dict) and 'FileName' in d and 'AudioBlocks' in d, f\n") +
          files + " 2>&1",
      &out);
  EXPECT_EQ(rc, 0) << out;
}
