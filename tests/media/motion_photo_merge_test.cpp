// SPDX-License-Identifier: GPL-2.0-or-later
// The photograph's own XMP merged as XML, judged by exiftool on the written motion photo: packets
// that fooled a text search, other makers' motion photos, and bytes after the picture.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "media/MotionPhoto.h"
#include "media/MotionPhotoXmp.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

using testsupport::run;
using testsupport::ScratchDir;
using testsupport::shellQuote;
using testsupport::writeFile;

namespace {

const std::string kHead = "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                          "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">";
const std::string kTail = "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";
const std::string kCamera = "xmlns:GCamera=\"http://ns.google.com/photos/1.0/camera/\"";
const std::string kDc = "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"";

// A stand-in for the MP4: an ftyp box and a box of bytes.
const std::string kMovie = std::string("\0\0\0\x10" "ftypisom\0\0\0\0", 16) + std::string("\0\0\0\x18" "free", 8) + std::string(16, 'm');

std::string photoWith(const std::string& packet, const std::string& afterPicture = "") {
  return fixtures::withSegment(fixtures::makeJpeg(), 0xE1, std::string(media::kXmpSignature, sizeof media::kXmpSignature) + packet) +
         afterPicture;
}

std::optional<std::string> motionPhoto(const std::string& photo, std::string* why = nullptr) {
  std::string tail;
  auto still = media::MotionPhotoStill(reinterpret_cast<const std::uint8_t*>(photo.data()), photo.size(), kMovie.size(), why, &tail);
  if (!still) return std::nullopt;
  return *still + kMovie + tail;
}

std::string exiftool(const std::string& path, const std::string& args) {
  std::string out;
  run("exiftool -a -s -s -s " + args + " " + shellQuote(path) + " 2>&1", &out);
  return out;
}

// An Ultra HDR-like gain map: a second JPEG after the picture, named by the photograph's directory.
const std::string kGainMap = fixtures::makeJpeg();
std::string gainMapDirectory() {
  return "<Container:Directory xmlns:Container=\"http://ns.google.com/photos/1.0/container/\" "
         "xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\"><rdf:Seq>"
         "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"Primary\" Item:Mime=\"image/jpeg\"/></rdf:li>"
         "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"GainMap\" Item:Mime=\"image/jpeg\" Item:Length=\"" +
         std::to_string(kGainMap.size()) + "\"/></rdf:li></rdf:Seq></Container:Directory>";
}

// Samsung's trailer: one data block named MotionPhoto_Data, its directory, and the end marks.
std::string samsungTrailer(const std::string& name) {
  auto le = [](std::uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += char((v >> (8 * i)) & 0xFF);
    return s;
  };
  const std::string block = std::string(2, '\0') + le(0x0a30, 2) + le(std::uint32_t(name.size()), 4) + name + kMovie;
  const std::string directory = "SEFH" + le(107, 4) + le(1, 4) + std::string(2, '\0') + le(0x0a30, 2) +
                                le(std::uint32_t(block.size()), 4) + le(std::uint32_t(block.size()), 4);
  return block + directory + le(std::uint32_t(directory.size()), 4) + "SEFT";
}

}  // namespace

TEST(MotionPhotoMerge, EveryPacketThatFooledATextSearchBecomesAMotionPhotoExiftoolReads) {
  REQUIRE_TOOL("exiftool");
  ScratchDir dir;
  const std::string motion = "-XMP-GCamera:MotionPhoto -XMP-Container:DirectoryItemSemantic";
  struct Row {
    const char* fault;
    std::string packet;
    std::string afterPicture;
    std::string tags;
    std::string expected;
    std::string kept = "";  // text of the photograph's packet that must stay as it was
  } rows[] = {
      {"a comment holding a description",
       kHead + "<!-- <rdf:Description rdf:about=\"\"/> --><rdf:Description rdf:about=\"\" " + kDc + "><dc:format>image/jpeg</dc:format></rdf:Description>" + kTail,
       "", motion + " -XMP-dc:Format", "1\nPrimary\nMotionPhoto\nimage/jpeg\n"},
      {"a nested description (face regions) first",
       kHead + "<rdf:Description rdf:about=\"\" xmlns:mwg-rs=\"http://www.metadataworkinggroup.com/schemas/regions/\">"
               "<mwg-rs:Regions rdf:parseType=\"Resource\"><mwg-rs:RegionList><rdf:Bag><rdf:li>"
               "<rdf:Description mwg-rs:Name=\"Ann\"/></rdf:li></rdf:Bag></mwg-rs:RegionList></mwg-rs:Regions></rdf:Description>" + kTail,
       "", motion + " -XMP-mwg-rs:RegionName", "1\nPrimary\nMotionPhoto\nAnn\n"},
      {"CDATA holding an end tag",
       kHead + "<rdf:Description rdf:about=\"\" " + kDc + "><dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">"
               "<![CDATA[a </rdf:Description> b]]></rdf:li></rdf:Alt></dc:title></rdf:Description>" + kTail,
       // exiftool reads no CDATA: the title is judged as bytes kept.
       "", motion, "1\nPrimary\nMotionPhoto\n", "<![CDATA[a </rdf:Description> b]]></rdf:li>"},
      {"GCamera bound to another namespace",
       kHead + "<rdf:Description rdf:about=\"\" xmlns:GCamera=\"http://example.com/other/\" GCamera:MotionPhoto=\"7\"/>" + kTail,
       "", motion, "1\nPrimary\nMotionPhoto\n"},
      {"another prefix for Google's camera namespace",
       kHead + "<rdf:Description rdf:about=\"\" xmlns:Cam=\"http://ns.google.com/photos/1.0/camera/\" Cam:HdrPlusMakernote=\"x\"/>" + kTail,
       "", motion + " -XMP-GCamera:HdrPlusMakernote", "1\nPrimary\nMotionPhoto\nx\n"},
      {"an existing directory with a gain map", kHead + "<rdf:Description rdf:about=\"\">" + gainMapDirectory() + "</rdf:Description>" + kTail,
       kGainMap, motion + " -XMP-Container:DirectoryItemLength",
       "1\nPrimary\nGainMap\nMotionPhoto\n" + std::to_string(kGainMap.size()) + "\n" + std::to_string(kMovie.size()) + "\n"},
      {"MotionPhoto=\"0\", in element form", kHead + "<rdf:Description rdf:about=\"\" " + kCamera + "><GCamera:MotionPhoto>0</GCamera:MotionPhoto></rdf:Description>" + kTail,
       "", motion, "1\nPrimary\nMotionPhoto\n"},
      {"NUL bytes after the packet, as a camera leaves them", kHead + "<rdf:Description rdf:about=\"\"/>" + kTail + std::string(3, '\0'), "",
       motion, "1\nPrimary\nMotionPhoto\n"},
      {"text holding MicroVideoOffset=\"12\"",
       kHead + "<rdf:Description rdf:about=\"\" " + kDc + "><dc:source>GCamera:MicroVideoOffset=\"12\"</dc:source></rdf:Description>" + kTail,
       "", "-XMP-GCamera:MicroVideoOffset -XMP-dc:Source", std::to_string(kMovie.size()) + "\nGCamera:MicroVideoOffset=\"12\"\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    std::string why;
    const auto out = motionPhoto(photoWith(row.packet, row.afterPicture), &why);
    ASSERT_TRUE(out) << why;
    const std::string path = dir.file("p.MP.jpg");
    writeFile(path, *out);
    EXPECT_EQ(exiftool(path, row.tags), row.expected);
    if (!row.kept.empty()) {
      EXPECT_NE(out->find(row.kept), std::string::npos);
    }
    // Our own reader finds the movie as long as it is, at the file's end.
    const auto length = media::MotionPhotoVideoLength(reinterpret_cast<const std::uint8_t*>(out->data()), out->size());
    EXPECT_EQ(length, std::optional<std::uint64_t>(kMovie.size()));
    EXPECT_EQ(out->substr(out->size() - kMovie.size()), kMovie);
  }
}

TEST(MotionPhotoMerge, BytesAfterThePictureAreKeptAndEveryReadersRuleFindsTheMovie) {
  REQUIRE_TOOL("exiftool");
  ScratchDir dir;
  const std::string trailer = std::string(5000, 't') + "TRAILER-END";
  const std::string photo = photoWith(kHead + "<rdf:Description rdf:about=\"\"/>" + kTail, trailer);
  std::string tail;
  const auto still = media::MotionPhotoStill(reinterpret_cast<const std::uint8_t*>(photo.data()), photo.size(), kMovie.size(), nullptr, &tail);
  ASSERT_TRUE(still);
  const std::string file = *still + kMovie + tail;
  const std::string path = dir.file("p.MP.jpg");
  writeFile(path, file);
  // The movie starts right at the picture's end (exiftool's rule)...
  std::string movie;
  run("exiftool -ee -b -EmbeddedVideo " + shellQuote(path), &movie);
  EXPECT_EQ(movie.substr(0, kMovie.size()), kMovie);
  // ...and the file's end less the movie item's length is its start (galleries' rule).
  const std::string lengths = exiftool(path, "-XMP-GCamera:MicroVideoOffset -XMP-Container:DirectoryItemLength -XMP-Container:DirectoryItemPadding");
  const std::string item = std::to_string(file.size() - still->size());
  EXPECT_EQ(lengths, item + "\n0\n" + item + "\n0\n0\n");
  // The trailer ends the file as it ended the photograph, inside a box MP4 readers skip.
  EXPECT_EQ(file.substr(file.size() - trailer.size()), trailer);
  EXPECT_EQ(tail.substr(4, 4), "free");

  // A caller that cannot write after the movie keeps the trailer before it, as the primary's padding.
  const auto before = media::MotionPhotoStill(reinterpret_cast<const std::uint8_t*>(photo.data()), photo.size(), kMovie.size(), nullptr);
  ASSERT_TRUE(before);
  writeFile(path, *before + kMovie);
  EXPECT_EQ(exiftool(path, "-XMP-Container:DirectoryItemPadding"), std::to_string(trailer.size()) + "\n0\n");
  EXPECT_EQ(before->substr(before->size() - trailer.size()), trailer);
}

TEST(MotionPhotoMerge, WhatCannotBeMergedIsRefusedWithItsTrueReason) {
  REQUIRE_TOOL("exiftool");
  ScratchDir dir;
  const std::string samsung = fixtures::makeJpeg() + samsungTrailer("MotionPhoto_Data");
  // The fixture is what exiftool calls a Samsung motion photo.
  writeFile(dir.file("s.jpg"), samsung);
  EXPECT_EQ(exiftool(dir.file("s.jpg"), "-Samsung:EmbeddedVideoType"), "MotionPhoto_Data\n");
  struct Row {
    const char* what;
    std::string photo;
    const char* words;  // "" when it is no refusal
  } rows[] = {
      {"a Samsung motion photo", samsung, "already is a motion photo"},
      {"a Samsung trailer without a video", fixtures::makeJpeg() + samsungTrailer("Sound_Shot_Data"), ""},
      {"Google's motion photo", photoWith(kHead + "<rdf:Description " + kCamera + " GCamera:MotionPhoto=\" 1 \"/>" + kTail), "already is a motion photo"},
      {"Google's older form", photoWith(kHead + "<rdf:Description " + kCamera + " GCamera:MicroVideo=\"1\"/>" + kTail), "already is a motion photo"},
      {"no description", photoWith(kHead + kTail), "has no rdf:Description"},
      {"no XML", photoWith("<x:xmpmeta><rdf:RDF>"), "is not well-formed XML"},
      {"a packet too big to grow", photoWith(kHead + "<rdf:Description " + kDc + " dc:format=\"" + std::string(65100, 'x') + "\"/>" + kTail),
       "more than one JPEG segment holds"},
      {"a directory describing more than follows", photoWith(kHead + "<rdf:Description>" + gainMapDirectory() + "</rdf:Description>" + kTail),
       "describes more bytes after the picture"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(row.photo.data());
    const std::string why = media::MotionPhotoRefusal(bytes, row.photo.size());
    if (*row.words == '\0') {
      EXPECT_EQ(why, "");
      EXPECT_FALSE(media::IsMotionPhoto(bytes, row.photo.size()));
    } else {
      EXPECT_NE(why.find(row.words), std::string::npos) << why;
    }
  }
}
