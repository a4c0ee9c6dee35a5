// SPDX-License-Identifier: GPL-2.0-or-later
// Recordings that are not WAVE: their kind told by the bytes, their extension, and their sound
// decoded through libav sample for sample as ffmpeg decodes it, at their own rate and channels.
#include <gtest/gtest.h>

#include "media/ByteReaders.h"
#include "media/EmbeddedNote.h"
#include "media/RecordingDecoder.h"
#include "support/EmbeddedNoteBuilder.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::shellQuote;

namespace {
const std::uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::string decodedBytes(media::PcmSource& pcm) {
  std::string out;
  std::vector<std::uint8_t> buffer(1000 * 2 * std::size_t(pcm.layout().channels));
  while (std::size_t n = pcm.read(buffer.data(), 1000)) out.append(reinterpret_cast<const char*>(buffer.data()), n * 2 * std::size_t(pcm.layout().channels));
  return out;
}
}  // namespace

TEST(RecordingKind, TheBytesTellTheKindAndTheKindItsExtension) {
  const struct {
    std::string head;
    media::RecordingKind kind;
    const char* extension;
  } rows[] = {
      {std::string("RIFF\x24\0\0\0WAVEfmt ", 16), media::RecordingKind::wave, "wav"},
      {std::string("RIFF\x24\0\0\0AVI LIST", 16), media::RecordingKind::unknown, "bin"},
      {std::string("\0\0\0\x18" "ftypM4A ", 12), media::RecordingKind::mp4Audio, "m4a"},
      {"#!AMR\n\x3c", media::RecordingKind::amr, "amr"},
      {"#!AMR-WB\n\x04", media::RecordingKind::amrWb, "awb"},
      {"ID3\x04", media::RecordingKind::mp3, "mp3"},
      {"\xFF\xFB\x90\x64", media::RecordingKind::mp3, "mp3"},             // MPEG-1 layer III, 128 kb/s
      {"\xFF\xFB\xF0\x64", media::RecordingKind::unknown, "bin"},         // bitrate index 15 does not exist
      {std::string("\xFF\xF1\x50\x80\x02\x1F\xFC", 7), media::RecordingKind::adts, "aac"},
      {std::string("\xFF\xF1\x50\x80\x00\x1F\xFC", 7), media::RecordingKind::unknown, "bin"},  // frame shorter than its header
      {"OggS\0", media::RecordingKind::ogg, "ogg"},
      {"fLaC", media::RecordingKind::flac, "flac"},
      {"RIF", media::RecordingKind::unknown, "bin"},
      {"", media::RecordingKind::unknown, "bin"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.extension);
    const auto kind = media::RecordingKindOf(bytesOf(r.head), r.head.size());
    EXPECT_EQ(kind, r.kind);
    EXPECT_STREQ(media::RecordingExtension(kind), r.extension);
  }
}

TEST(RecordingDecoder, EachKindDecodesAsFfmpegDecodesItAtItsOwnRateAndChannels) {
  REQUIRE_TOOL("ffmpeg");
  ScratchDir dir;
  const struct {
    const char* name;
    const char* encode;  // ffmpeg output options
    int rate, channels;
    media::RecordingKind kind;
  } rows[] = {
      {"a.m4a", "-c:a aac -b:a 64k -f ipod", 44100, 2, media::RecordingKind::mp4Audio},
      {"a.aac", "-c:a aac -b:a 48k -f adts", 16000, 1, media::RecordingKind::adts},
      {"a.mp3", "-c:a libmp3lame -b:a 64k -f mp3", 22050, 1, media::RecordingKind::mp3},
      {"a.flac", "-c:a flac -f flac", 48000, 2, media::RecordingKind::flac},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = dir.file(r.name), pcmPath = dir.file("reference.raw");
    ASSERT_EQ(run("ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:duration=1.5:sample_rate=" + std::to_string(r.rate) +
                  "' -ac " + std::to_string(r.channels) + " " + r.encode + " " + shellQuote(path)),
              0);
    ASSERT_EQ(run("ffmpeg -v error -y -i " + shellQuote(path) + " -f s16le -c:a pcm_s16le " + shellQuote(pcmPath)), 0);
    const std::string stored = readFile(path), reference = readFile(pcmPath);
    // Kept in a Sound & Shot trailer, the recording comes out as stored and decodes the same.
    const std::string photo = notebuilder::soundAndShot(fixtures::makeJpeg(), stored);
    media::EmbeddedNote note;
    std::string why;
    ASSERT_EQ(media::FindSamsungTrailerNote(bytesOf(photo), photo.size(), &note, &why), media::Status::ok) << why;
    ASSERT_TRUE(note.found);
    EXPECT_EQ(note.kind, r.kind);
    media::Status status;
    auto pcm = media::DecodeRecording(std::vector<std::uint8_t>(note.bytes(bytesOf(photo)), note.bytes(bytesOf(photo)) + note.size()),
                                      &status, &why);
    ASSERT_TRUE(pcm) << why;
    EXPECT_EQ(pcm->layout().rate, r.rate);
    EXPECT_EQ(pcm->layout().channels, r.channels);
    EXPECT_EQ(pcm->layout().bits, 16);
    EXPECT_EQ(pcm->frames(), reference.size() / 2 / std::size_t(r.channels));
    EXPECT_TRUE(decodedBytes(*pcm) == reference) << "the samples differ from ffmpeg's";
  }
}

TEST(RecordingDecoder, BytesWithoutSoundAreRefusedInWordsAndACutRecordingGivesWhatItHolds) {
  REQUIRE_TOOL("ffmpeg");
  ScratchDir dir;
  ASSERT_EQ(run("ffmpeg -v error -y -f lavfi -i sine=duration=2:sample_rate=16000 -c:a aac -f adts " + shellQuote(dir.file("a.aac"))), 0);
  const std::string adts = readFile(dir.file("a.aac"));
  const std::pair<std::string, bool> rows[] = {  // the bytes, and whether they decode
      {"", false}, {std::string(4000, 'x'), false}, {adts.substr(0, 7), false}, {adts.substr(0, adts.size() / 2), true}};
  for (const auto& [bytes, decodes] : rows) {
    media::Status status = media::Status::ok;
    std::string why;
    auto pcm = media::DecodeRecording(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), &status, &why);
    ASSERT_EQ(bool(pcm), decodes) << bytes.size() << " bytes: " << why;
    EXPECT_EQ(status == media::Status::ok, decodes);
    if (pcm) EXPECT_NEAR(double(pcm->frames()), 16000, 8000);  // about half of the two seconds
    else EXPECT_FALSE(why.empty());
  }
}

// Decoded sound is held whole, so it has a cap: a recording whose PCM passes it is refused in
// words naming it (here 48 kHz stereo, 4 bytes a frame, just over and just under the cap), read
// from its bytes where they lie rather than from a copy.
TEST(RecordingDecoder, SoundDecodingPastTheCapIsRefusedInWords) {
  REQUIRE_TOOL("ffmpeg");
  ScratchDir dir;
  const double capSeconds = double(media::kMaxDecodedRecordingBytes) / (48000 * 4);
  const struct {
    double seconds;
    bool decodes;
  } rows[] = {{capSeconds + 3, false}, {capSeconds - 3, true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.seconds);
    ASSERT_EQ(run("ffmpeg -v error -y -f lavfi -i sine=duration=" + std::to_string(r.seconds) +
                  ":sample_rate=48000 -ac 2 -c:a aac -b:a 32k -f adts " + shellQuote(dir.file("long.aac"))),
              0);
    const std::string adts = readFile(dir.file("long.aac"));
    media::Status status = media::Status::ok;
    std::string why;
    auto pcm = media::DecodeRecording(
        std::make_unique<media::MemoryByteReader>(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(adts.data()), adts.size())),
        &status, &why);
    EXPECT_EQ(bool(pcm), r.decodes) << why;
    if (r.decodes) continue;
    EXPECT_EQ(status, media::Status::noMemory);
    EXPECT_NE(why.find("more than " + std::to_string(media::kMaxDecodedRecordingBytes >> 20) + " MB"), std::string::npos)
        << why;
  }
}
