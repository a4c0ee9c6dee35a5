// SPDX-License-Identifier: GPL-2.0-or-later
// Voice notes kept inside photographs: each layout built from its public document (named in
// support/EmbeddedNoteBuilder.h), read back by exiftool so the fixture is what cameras write, and
// found by our finder as the very same bytes; damaged and oversized notes refused in words.
#include <gtest/gtest.h>

#include <functional>

#include "media/ByteOrder.h"
#include "media/EmbeddedNote.h"
#include "media/GAudio.h"
#include "support/EmbeddedNoteBuilder.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

using namespace notebuilder;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::shellQuote;
using testsupport::writeFile;

namespace {

using Finder = media::Status (*)(const std::uint8_t*, std::size_t, media::EmbeddedNote*, std::string*);
const std::uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::string wave(double seconds) {
  fixtures::WaveSpec spec;
  spec.seconds = seconds;
  return fixtures::makeWave(fixtures::WaveKind::pcm16Mono, spec);
}

struct Layout {
  const char* name;
  double seconds;  // of the recording: the main XMP packet holds well under a second
  std::function<std::string(const std::string& jpeg, const std::string& recording)> build;
  const char* exiftoolTag;
  Finder finder;
};

const Layout kLayouts[] = {
    {"Sound & Shot trailer", 4, soundAndShot, "-Samsung:EmbeddedAudioFile", media::FindSamsungTrailerNote},
    {"FLIR record in two segments", 4, [](const std::string& j, const std::string& r) { return flirSegments(j, flirFff(r), 40000); },
     "-FLIR:EmbeddedAudioFile", media::FindFlirNote},
    {"FLIR segments out of order", 4,
     [](const std::string& j, const std::string& r) { return flirSegments(j, flirFff(r), 25000, {2, 0, 1}); },
     "-FLIR:EmbeddedAudioFile", media::FindFlirNote},
    {"GAudio in the main packet", 0.2,
     [](const std::string& j, const std::string& r) { return withStandardXmp(j, xmpPacket(gaudioAttributes("audio/wav", r))); },
     "-XMP-GAudio:AudioData", media::FindGAudioNote},
    {"GAudio in Extended XMP", 4, [](const std::string& j, const std::string& r) { return gaudioExtended(j, r); },
     "-XMP-GAudio:AudioData", media::FindGAudioNote},
    {"GAudio Extended XMP chunks out of order", 4,
     [](const std::string& j, const std::string& r) {
       const std::string ext = xmpPacket(gaudioAttributes("audio/wav", r)), guid = md5Guid(ext);
       const std::string main = xmpPacket("xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" xmpNote:HasExtendedXMP=\"" + guid + "\"");
       return withExtendedXmp(j, main, ext, guid, 30000, {2, 0, 1});
     },
     "-XMP-GAudio:AudioData", media::FindGAudioNote},
};

}  // namespace

TEST(EmbeddedNote, EachLayoutReadsBackInExiftoolAndOurFinderTakesTheSameBytes) {
  REQUIRE_TOOL("exiftool");
  ScratchDir dir;
  const std::string jpeg = fixtures::makeJpeg();
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(l.name);
    const std::string recording = wave(l.seconds), photo = l.build(jpeg, recording);
    const std::string path = dir.file("note.jpg");
    writeFile(path, photo);
    std::string stored;
    run(std::string("exiftool -b ") + l.exiftoolTag + " " + shellQuote(path), &stored);
    EXPECT_EQ(stored.size(), recording.size());
    EXPECT_TRUE(stored == recording) << "exiftool does not read the recording back";
    media::EmbeddedNote note;
    std::string why;
    ASSERT_EQ(l.finder(bytesOf(photo), photo.size(), &note, &why), media::Status::ok) << why;
    ASSERT_TRUE(note.found);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(note.bytes(bytesOf(photo))), std::size_t(note.size())), recording);
    EXPECT_EQ(note.kind, media::RecordingKind::wave);
    // Every other finder passes this photograph by.
    for (Finder other : {media::FindSamsungTrailerNote, media::FindFlirNote, media::FindGAudioNote}) {
      if (other == l.finder) continue;
      media::EmbeddedNote none;
      EXPECT_EQ(other(bytesOf(photo), photo.size(), &none, &why), media::Status::ok);
      EXPECT_FALSE(none.found);
    }
  }
}

TEST(EmbeddedNote, PhotographsWithoutANoteOrWithOtherBlocksHaveNone) {
  const std::string jpeg = fixtures::makeJpeg();
  const struct {
    const char* name;
    std::string photo;
    Finder finder;
  } rows[] = {
      {"plain JPEG, trailer", jpeg, media::FindSamsungTrailerNote},
      {"plain JPEG, FLIR", jpeg, media::FindFlirNote},
      {"plain JPEG, GAudio", jpeg, media::FindGAudioNote},
      {"trailer without a Sound & Shot block", samsungTrailer(jpeg, {{0x0a01, "Image_UTC_Data", "1700000000000"}}),
       media::FindSamsungTrailerNote},
      {"trailer with a block of the type but another name", samsungTrailer(jpeg, {{0x0100, "Other_000", "x"}}),
       media::FindSamsungTrailerNote},
      {"FLIR data without an audio record", flirSegments(jpeg, flirFff("RIFF", 0x22), 1000), media::FindFlirNote},
      {"XMP without GAudio", withStandardXmp(jpeg, xmpPacket("xmlns:dc=\"http://purl.org/dc/elements/1.1/\" dc:format=\"image/jpeg\"")),
       media::FindGAudioNote},
      {"Extended XMP named but dropped by an editor",
       withStandardXmp(jpeg, xmpPacket("xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" xmpNote:HasExtendedXMP=\"" +
                                       std::string(32, 'A') + "\"")),
       media::FindGAudioNote},
      {"GAudio's local name in another namespace",
       withStandardXmp(jpeg, xmpPacket("xmlns:GAudio=\"http://example.com/other/\" GAudio:Data=\"UklGRg==\"")), media::FindGAudioNote},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    media::EmbeddedNote note;
    std::string why;
    EXPECT_EQ(r.finder(bytesOf(r.photo), r.photo.size(), &note, &why), media::Status::ok) << why;
    EXPECT_FALSE(note.found);
  }
}

namespace {

// The photograph with four bytes at a distance from its end (or, negative, its start) replaced.
std::string patched32(std::string photo, std::size_t fromEnd, std::uint32_t value) {
  std::uint8_t b[4];
  media::WriteLittleEndian32(b, value);
  photo.replace(photo.size() - fromEnd, 4, reinterpret_cast<const char*>(b), 4);
  return photo;
}

std::string extendedChunk(const std::string& guid, std::uint32_t fullLength, std::uint32_t offset, const std::string& data) {
  std::string payload = std::string("http://ns.adobe.com/xmp/extension/\0", 35) + guid;
  std::uint8_t b[8];
  media::WriteBigEndian32(b, fullLength);
  media::WriteBigEndian32(b + 4, offset);
  payload.append(reinterpret_cast<const char*>(b), 8);
  payload += data;
  return payload;
}

}  // namespace

TEST(EmbeddedNote, DamagedOrOversizedNotesAreRefusedInWords) {
  const std::string jpeg = fixtures::makeJpeg(), recording = wave(1);
  const std::string trailer = soundAndShot(jpeg, recording);
  // The directory: "SEFH", version, count, two 12-byte entries, its length, "SEFT".
  const std::size_t directoryFromEnd = 8 + 12 + 2 * 12;
  const std::string fff = flirFff(recording);
  std::string outside = fff;
  media::WriteBigEndian32(reinterpret_cast<std::uint8_t*>(&outside[64 + 32 + 12]), 0x7FFFFFF0);
  const std::string ext = xmpPacket(gaudioAttributes("audio/wav", recording)), guid = md5Guid(ext);
  const std::string main = xmpPacket("xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" xmpNote:HasExtendedXMP=\"" + guid + "\"");
  const struct {
    const char* name;
    std::string photo;
    Finder finder;
    media::Status status;
    const char* words;
  } rows[] = {
      {"trailer directory longer than the file", patched32(trailer, 8, 0xFFFFFFF0), media::FindSamsungTrailerNote,
       media::Status::damaged, "directory lies outside the file"},
      {"trailer directory length not pointing at SEFH", patched32(trailer, 8, 20), media::FindSamsungTrailerNote,
       media::Status::damaged, "no directory"},
      {"trailer entry count past its directory", patched32(trailer, directoryFromEnd - 8, 1000000), media::FindSamsungTrailerNote,
       media::Status::damaged, "more entries"},
      {"trailer block offset before the file's start", patched32(trailer, directoryFromEnd - 12 - 12 - 4, 0xFFFFFF00),
       media::FindSamsungTrailerNote, media::Status::damaged, "outside the file"},
      {"trailer block longer than the space to the directory", patched32(trailer, directoryFromEnd - 12 - 12 - 8, 0xFFFFFF00),
       media::FindSamsungTrailerNote, media::Status::damaged, "outside the file"},
      {"FLIR segment missing", flirSegments(jpeg, fff, 5000, {0, 2, 3}), media::FindFlirNote, media::Status::damaged, "missing"},
      {"FLIR segment twice", flirSegments(jpeg, fff, 5000, {0, 1, 1, 2, 3}), media::FindFlirNote, media::Status::damaged, "twice"},
      {"FLIR record outside its data", flirSegments(jpeg, outside, 20000), media::FindFlirNote, media::Status::damaged,
       "outside the data"},
      {"FLIR data without its header", flirSegments(jpeg, "not an FFF file at all, not even close", 100), media::FindFlirNote,
       media::Status::damaged, "no FFF header"},
      {"Extended XMP chunk missing", withExtendedXmp(jpeg, main, ext, guid, 400, {0, 1, 3}), media::FindGAudioNote,
       media::Status::damaged, "chunks missing"},
      {"Extended XMP chunk twice in a missing one's stead", withExtendedXmp(jpeg, main, ext, guid, (ext.size() + 2) / 3, {0, 0, 2}),
       media::FindGAudioNote, media::Status::damaged, "chunks missing"},
      {"Extended XMP of 100 MB", withStandardXmp(jpeg, main).insert(2, fixtures::withSegment("\xFF\xD8", 0xE1,
                                 extendedChunk(guid, 100u << 20, 0, "x")).substr(2)),
       media::FindGAudioNote, media::Status::noMemory, "larger than any voice note"},
      {"Extended XMP chunk past its packet's end", withStandardXmp(jpeg, main).insert(2, fixtures::withSegment("\xFF\xD8", 0xE1,
                                 extendedChunk(guid, 10, 8, "xxxx")).substr(2)),
       media::FindGAudioNote, media::Status::damaged, "outside its packet"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    media::EmbeddedNote note;
    std::string why;
    EXPECT_EQ(r.finder(bytesOf(r.photo), r.photo.size(), &note, &why), r.status);
    EXPECT_NE(why.find(r.words), std::string::npos) << why;
    EXPECT_FALSE(note.found);
    EXPECT_TRUE(note.assembled.empty());
  }
}

TEST(EmbeddedNote, Base64IsDecodedInPiecesAndA100MegabyteNoteIsRefusedBeforeDecoding) {
  const std::string recording = wave(3), text = base64(recording);
  std::string broken;  // line breaks every 76 characters, as MIME writers do
  for (std::size_t at = 0; at < text.size(); at += 76) broken += text.substr(at, 76) + "\r\n";
  std::vector<std::uint8_t> out;
  std::string why;
  for (const std::string& t : {text, broken}) {
    ASSERT_EQ(media::DecodeBase64Bounded(t.data(), t.size(), media::kMaxEmbeddedNoteBytes, &out, &why), media::Status::ok);
    EXPECT_EQ(std::string(out.begin(), out.end()), recording);
  }
  const std::string huge(100u << 20, 'A');
  EXPECT_EQ(media::DecodeBase64Bounded(huge.data(), huge.size(), media::kMaxEmbeddedNoteBytes, &out, &why), media::Status::noMemory);
  EXPECT_NE(why.find("larger than any voice note"), std::string::npos) << why;
  EXPECT_TRUE(out.empty());
  // A limit passed while decoding keeps nothing either.
  EXPECT_EQ(media::DecodeBase64Bounded(text.data(), text.size(), 1000, &out, &why), media::Status::noMemory);
  EXPECT_TRUE(out.empty());
}
