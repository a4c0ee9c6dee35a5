// SPDX-License-Identifier: GPL-2.0-or-later
// Every WAVE kind recorders write becomes, through the whole program, a movie whose sound each
// reader decodes to the samples ffmpeg decodes from the WAVE file itself; kinds no movie here
// can carry are refused in words, and `embed` warns before hiding one in a photograph.
#include <gtest/gtest.h>

#include <cstring>

#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"

using fixtures::WaveKind;
using fixtures::WaveSpec;
using testsupport::le16;
using testsupport::le32;
using testsupport::ScratchDir;
using testsupport::shellQuote;

namespace {

struct Kind {
  const char* name;
  WaveKind kind;
  WaveSpec spec;
  const char* sox;          // when set, sox writes the WAVE with these options instead
  const char* soundFormat;  // the movie's sound description
  // ffmpeg reads integer samples whose valid bits leave a whole byte of their container unused
  // as a narrower kind (24 valid bits in 32 as 24-bit float): GStreamer judges those files.
  bool ffmpegMisreadsWave = false;
};

const Kind kKinds[] = {
    {"pcm8_mono_8k", WaveKind::pcm8, {.seconds = 0.4, .rate = 8000}, nullptr, "raw "},
    {"pcm8_3ch_96k", WaveKind::pcm8, {.seconds = 0.3, .rate = 96000, .channels = 3}, nullptr, "lpcm"},
    {"pcm16_stereo_44k", WaveKind::pcm16Stereo, {.seconds = 0.3, .rate = 44100}, nullptr, "sowt"},
    {"pcm16_4ch_48k", WaveKind::pcm16Stereo, {.seconds = 0.3, .rate = 48000, .channels = 4}, nullptr, "lpcm"},
    {"pcm16_stereo_192k", WaveKind::pcm16Stereo, {.seconds = 0.3, .rate = 192000}, nullptr, "lpcm"},
    {"pcm16_12_valid_bits", WaveKind::pcm16Mono, {.seconds = 0.3, .rate = 22050, .validBits = 12}, nullptr, "sowt"},
    {"pcm24_stereo_48k", WaveKind::pcm24, {.seconds = 0.3, .rate = 48000}, nullptr, "lpcm"},
    {"pcm24_6ch_96k", WaveKind::pcm24, {.seconds = 0.3, .rate = 96000, .channels = 6, .extensible = true}, nullptr,
     "lpcm"},
    {"pcm24_20_valid_bits", WaveKind::pcm24, {.seconds = 0.3, .rate = 48000, .validBits = 20}, nullptr, "lpcm"},
    {"pcm32_stereo_44k", WaveKind::pcm32, {.seconds = 0.3, .rate = 44100}, nullptr, "lpcm"},
    {"pcm32_24_valid_bits_96k", WaveKind::pcm32, {.seconds = 0.3, .rate = 96000, .validBits = 24}, nullptr, "lpcm",
     true},
    {"pcm32_16_valid_bits", WaveKind::pcm32, {.seconds = 0.3, .rate = 48000, .validBits = 16}, nullptr, "sowt", true},
    {"float32_stereo_48k", WaveKind::float32, {.seconds = 0.3, .rate = 48000}, nullptr, "lpcm"},
    {"float32_5_1_extensible", WaveKind::float32, {.seconds = 0.3, .rate = 48000, .channels = 6, .extensible = true},
     nullptr, "lpcm"},
    {"float32_8ch_192k", WaveKind::float32, {.seconds = 0.2, .rate = 192000, .channels = 8}, nullptr, "lpcm"},
    {"float64_mono_44k", WaveKind::float64, {.seconds = 0.3, .rate = 44100, .channels = 1}, nullptr, "lpcm"},
    {"mulaw_4ch_96k", WaveKind::muLaw, {.seconds = 0.3, .rate = 96000, .channels = 4}, nullptr, "lpcm"},
    {"alaw_stereo_8k", WaveKind::aLaw, {.seconds = 0.3, .rate = 8000, .channels = 2}, nullptr, "sowt"},
    // As sox writes them: its own headers (extensible above 16 bits or two channels).
    {"sox_pcm24_stereo_48k", WaveKind::pcm24, {}, "-r 48000 -c 2 -b 24 -e signed-integer", "lpcm"},
    {"sox_float32_7_1_192k", WaveKind::float32, {}, "-r 192000 -c 8 -b 32 -e floating-point", "lpcm"},
    {"sox_ima_adpcm_stereo_96k", WaveKind::imaAdpcm, {}, "-r 96000 -c 2 -e ima-adpcm", "lpcm"},
    {"sox_ms_adpcm_stereo_44k", WaveKind::msAdpcm, {}, "-r 44100 -c 2 -e ms-adpcm", "sowt"},
};

void PrintTo(const Kind& k, std::ostream* os) { *os << k.name; }

std::string soxWave(const ScratchDir& dir, const char* options) {
  if (!testsupport::requireTool("sox")) return "";
  const std::string path = dir.file("sox.wav");
  testsupport::run(std::string("sox -q -n ") + options + " " + shellQuote(path) +
                   " synth 0.3 sine 440 sine 660 sine 880 vol 0.6 2>/dev/null");
  return testsupport::readFile(path);
}

// The sound, every channel, as doubles: each kind's samples convert to them exactly.
std::string ffmpegSamples(const std::string& path) {
  std::string out;
  testsupport::run("ffmpeg -v error -i " + shellQuote(path) + " -map 0:a -c:a pcm_f64le -f f64le -", &out);
  return out;
}

// demuxer: qtdemux for a movie, wavparse for a WAVE file.
std::string gstreamerSamples(const std::string& path, const char* demuxer, const ScratchDir& dir) {
  const std::string raw = dir.file("gst.raw");
  testsupport::run("gst-launch-1.0 -q filesrc location=" + shellQuote(path) + " ! " + demuxer +
                   " ! decodebin ! audioconvert ! audio/x-raw,format=F64LE ! filesink location=" + shellQuote(raw) +
                   " >/dev/null 2>&1");
  return testsupport::readFile(raw);
}

std::string probe(const std::string& path, const std::string& entries) {
  std::string out;
  testsupport::run("ffprobe -v error -select_streams a:0 -show_entries stream=" + entries +
                       " -of default=nw=1 " + shellQuote(path),
                   &out);
  return out;
}

std::string probeValue(const std::string& path, const std::string& entry) {
  std::string out = probe(path, entry);
  return out.substr(out.find('=') + 1, out.find('\n') - out.find('=') - 1);
}

std::string mediainfoAudio(const std::string& path) {
  std::string out;
  testsupport::run("mediainfo '--Inform=Audio;%Channels%/%SamplingRate%' " + shellQuote(path), &out);
  return out.substr(0, out.find('\n'));
}

// The data format of the sound track's first sample description.
std::string soundDescriptionFormat(const std::string& movie) {
  bool found = false;
  std::string stsd = moviechecks::atomBody(movie, "moov/trak#1/mdia/minf/stbl/stsd", &found);
  return found && stsd.size() >= 16 ? stsd.substr(12, 4) : "";
}

class WaveKinds : public testing::TestWithParam<Kind> {};

TEST_P(WaveKinds, EveryReaderDecodesTheMovieToTheSamplesOfTheWave) {
  REQUIRE_TOOL("ffmpeg");
  REQUIRE_TOOL("ffprobe");
  const Kind& k = GetParam();
  ScratchDir dir, tmp;
  const std::string wave = k.sox ? soxWave(tmp, k.sox) : fixtures::makeWave(k.kind, k.spec);
  ASSERT_GT(wave.size(), 44u);
  testsupport::writeFile(dir.file("voice.wav"), wave);
  testsupport::writeFile(dir.file("photo.jpg"),
                         fixtures::embedWave(fixtures::makeJpeg({.width = 64, .height = 48}), wave));

  fixtures::RunResult r = fixtures::runStill2mov({"--no-resize", dir.file("photo.jpg")}, {{"TMPDIR", tmp.path()}});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string moviePath = dir.file("photo.mov");
  const std::string movie = testsupport::readFile(moviePath);
  EXPECT_EQ(moviechecks::completeMovieProblem(movie), "");
  EXPECT_EQ(soundDescriptionFormat(movie), k.soundFormat);

  if (k.ffmpegMisreadsWave) REQUIRE_TOOL("gst-launch-1.0");
  const std::string expected = moviechecks::playedPart(
      k.ffmpegMisreadsWave ? gstreamerSamples(dir.file("voice.wav"), "wavparse", tmp) : ffmpegSamples(dir.file("voice.wav")),
      wave, 8);
  ASSERT_FALSE(expected.empty());
  EXPECT_TRUE(ffmpegSamples(moviePath) == expected) << "ffmpeg decodes other samples from the movie";
  // Rate and channel count as the WAVE file gives them, and beyond stereo the speakers too
  // (mono and stereo descriptions have no room for them).
  const bool beyondStereo = std::stoi("0" + probeValue(dir.file("voice.wav"), "channels")) > 2;
  const std::string entries = std::string("sample_rate,channels") + (beyondStereo ? ",channel_layout" : "");
  EXPECT_EQ(probe(moviePath, entries), probe(dir.file("voice.wav"), entries));

  if (testsupport::requireTool("gst-launch-1.0")) {
    EXPECT_TRUE(gstreamerSamples(moviePath, "qtdemux", tmp) == expected)
        << "GStreamer decodes other samples from the movie";
  }
  if (testsupport::requireTool("gst-discoverer-1.0")) {
    moviechecks::DiscovererInfo info = moviechecks::discover(moviePath);
    EXPECT_EQ(info.streams, (std::vector<std::string>{"audio", "video"}));
  }
  if (testsupport::requireTool("mediainfo")) {
    EXPECT_EQ(mediainfoAudio(moviePath),
              probeValue(dir.file("voice.wav"), "channels") + "/" + probeValue(dir.file("voice.wav"), "sample_rate"));
  }
}

INSTANTIATE_TEST_SUITE_P(Recorders, WaveKinds, testing::ValuesIn(kKinds),
                         [](const testing::TestParamInfo<Kind>& info) { return std::string(info.param.name); });

// Padding below the valid bits is dropped: the movie's samples are the file's to within one step
// of the valid precision, whatever the padding held.
TEST(WaveKinds, PaddingBelowTheValidBitsIsDropped) {
  REQUIRE_TOOL("ffmpeg");
  REQUIRE_TOOL("gst-launch-1.0");
  ScratchDir dir, tmp;
  std::string wave = fixtures::makeWave(WaveKind::pcm32, {.seconds = 0.2, .rate = 48000, .validBits = 24});
  const std::size_t data = wave.find("data") + 8;
  for (std::size_t at = data, k = 0; at + 4 <= wave.size(); at += 4, ++k) wave[at] = char(k * 37 + 11);
  testsupport::writeFile(dir.file("voice.wav"), wave);
  testsupport::writeFile(dir.file("photo.jpg"), fixtures::embedWave(fixtures::makeJpeg(), wave));
  fixtures::RunResult r = fixtures::runStill2mov({"--no-resize", dir.file("photo.jpg")}, {{"TMPDIR", tmp.path()}});
  ASSERT_EQ(r.status, 0) << r.err;

  std::string movie;
  testsupport::run("ffmpeg -v error -i " + shellQuote(dir.file("photo.mov")) + " -map 0:a -f s32le -", &movie);
  const std::string raw = tmp.file("wave.raw");
  testsupport::run("gst-launch-1.0 -q filesrc location=" + shellQuote(dir.file("voice.wav")) +
                   " ! wavparse ! audioconvert ! audio/x-raw,format=S32LE ! filesink location=" + shellQuote(raw));
  const std::string file = testsupport::readFile(raw);
  ASSERT_EQ(movie.size(), file.size());
  ASSERT_EQ(file.size(), wave.size() - data);
  std::size_t differing = 0;
  for (std::size_t at = 0; at < file.size(); at += 4) {
    std::int32_t a, b;
    std::memcpy(&a, movie.data() + at, 4);
    std::memcpy(&b, file.data() + at, 4);
    ASSERT_EQ(a, b & ~0xFF) << "sample " << at / 4;  // the 24 valid bits, exactly
    differing += a != b;
  }
  EXPECT_GT(differing, 0u);  // the padding was there to drop
}

// WAVE files no movie here can carry, each with the words the refusal names it by.
struct Unsupported {
  const char* words;
  std::string wave;
};

std::string riff(const std::string& format, const std::string& data) {
  std::string chunks = "fmt " + le32(std::uint32_t(format.size())) + format + "data" +
                       le32(std::uint32_t(data.size())) + data;
  return "RIFF" + le32(std::uint32_t(chunks.size() + 4)) + "WAVE" + chunks;
}
std::string fmt(unsigned tag, unsigned channels, unsigned rate, unsigned blockAlign, unsigned bits,
                const std::string& extra) {
  return le16(std::uint16_t(tag)) + le16(std::uint16_t(channels)) + le32(rate) + le32(rate * blockAlign) +
         le16(std::uint16_t(blockAlign)) + le16(std::uint16_t(bits)) + le16(std::uint16_t(extra.size())) + extra;
}

std::vector<Unsupported> unsupportedKinds() {
  const std::string data(4096, '\x11');
  // MPEGLAYER3WAVEFORMAT: id, flags, block size, frames per block, codec delay.
  const std::string mp3 = le16(1) + le32(2) + le16(418) + le16(1) + le16(1393);
  const std::string unknownGuid = le16(16) + le32(3) + std::string(16, '\x5A');
  std::vector<Unsupported> kinds = {
      {"MP3", riff(fmt(0x55, 2, 44100, 1, 0, mp3), data)},
      {"format tag 0x1234", riff(fmt(0x1234, 1, 8000, 2, 16, ""), data)},
      {"IMA ADPCM, 4 channels", riff(fmt(0x11, 4, 8000, 1024, 4, le16(505)), data)},
      {"PCM, 9 channels", riff(fmt(1, 9, 48000, 18, 16, ""), data)},
      {"PCM, 768000 Hz", riff(fmt(1, 1, 768000, 2, 16, ""), data)},
      {"IEEE float, 16 bits per sample", riff(fmt(3, 1, 48000, 2, 16, ""), data)},
      {"WAVE_FORMAT_EXTENSIBLE with a subformat of unknown kind",
       riff(fmt(0xFFFE, 2, 48000, 4, 16, unknownGuid), data)},
  };
  if (testsupport::requireTool("sox")) kinds.push_back({"GSM 6.10", fixtures::makeWave(WaveKind::gsm610)});
  return kinds;
}

TEST(WaveKinds, KindsNoMovieCanCarryAreRefusedInWords) {
  const std::string jpeg = fixtures::makeJpeg();
  for (const Unsupported& u : unsupportedKinds()) {
    SCOPED_TRACE(u.words);
    ScratchDir dir, tmp;
    const std::string photo = fixtures::embedWave(jpeg, u.wave);
    testsupport::writeFile(dir.file("photo.jpg"), photo);
    fixtures::RunResult r = fixtures::runStill2mov({dir.file("photo.jpg")}, {{"TMPDIR", tmp.path()}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string("recording format ") + u.words + " not supported"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("CreateSoundTrack"), std::string::npos) << r.err;
    EXPECT_EQ(dir.list(), std::vector<std::string>{"photo.jpg"});  // no movie, nothing half-written
    EXPECT_EQ(testsupport::readFile(dir.file("photo.jpg")), photo);
    std::string leftover;
    testsupport::run("find " + shellQuote(tmp.path()) + " -type f", &leftover);
    EXPECT_EQ(leftover, "");
  }
}

TEST(WaveKinds, EmbedWarnsAboutRecordingsNoMovieCanBeMadeOf) {
  ScratchDir dir;
  testsupport::writeFile(dir.file("photo.jpg"), fixtures::makeJpeg());
  auto embed = [&](const std::string& wave) {
    testsupport::writeFile(dir.file("voice.wav"), wave);
    return fixtures::runStill2mov({"embed", "-y", dir.file("voice.wav"), dir.file("photo.jpg"), dir.file("out.jpg")});
  };
  for (const Unsupported& u : unsupportedKinds()) {
    SCOPED_TRACE(u.words);
    fixtures::RunResult r = embed(u.wave);
    EXPECT_EQ(r.status, 0) << r.err;  // the user may still want the annotation
    EXPECT_NE(r.err.find(std::string("warning: recording format ") + u.words + " not supported"), std::string::npos)
        << r.err;
  }
  fixtures::RunResult r = embed(riff(fmt(1, 1, 8000, 2, 16, "").substr(0, 16), ""));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: no sound can be read from the recording"), std::string::npos) << r.err;

  for (const Kind& k : kKinds) {
    if (k.sox) continue;
    SCOPED_TRACE(k.name);
    r = embed(fixtures::makeWave(k.kind, k.spec));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
}

}  // namespace
