// SPDX-License-Identifier: GPL-2.0-or-later
// The still part of a motion photo: the photograph's segments and image data kept byte for byte,
// one XMP packet added after the Exif segment or merged into the photograph's own, read back by
// exiftool as a motion photo; photographs that already are one, or whose header is damaged, are
// refused in words.
#include <gtest/gtest.h>

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

const std::string kExifPayload = std::string("Exif\0\0", 6) + "II*\0\x08\0\0\0\0\0\0\0\0\0";

std::string xmpPayload(const std::string& packet) { return std::string(media::kXmpSignature, sizeof media::kXmpSignature) + packet; }

std::optional<std::string> still(const std::string& jpeg, std::uint64_t videoLength, std::string* why = nullptr) {
  return media::MotionPhotoStill(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), videoLength, why);
}

// The file a gallery reads: the still, then videoLength bytes standing for the MP4.
std::string exiftoolOn(const ScratchDir& dir, const std::string& still, std::uint64_t videoLength, const std::string& tags) {
  const std::string path = dir.file("p.MP.jpg");
  writeFile(path, still + std::string(videoLength, 'v'));
  std::string out;
  run("exiftool -a -s -s -s " + tags + " " + shellQuote(path), &out);
  return out;
}

const std::string kHead = "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                          "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">";
const std::string kTail = "</rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

// A packet whose one description carries these attributes, the camera namespace bound.
std::string packetWith(const std::string& attributes) {
  return kHead + "<rdf:Description rdf:about=\"\" xmlns:GCamera=\"http://ns.google.com/photos/1.0/camera/\" " + attributes +
         "/>" + kTail;
}

}  // namespace

TEST(MotionPhotoStill, APacketOfItsOwnGoesAfterTheExifSegmentAndEveryOtherByteStays) {
  REQUIRE_TOOL("exiftool");
  ScratchDir dir;
  const std::string photo = fixtures::withSegment(fixtures::makeJpeg(), 0xE1, kExifPayload);
  const auto out = still(photo, 12345);
  ASSERT_TRUE(out);
  // SOI, the Exif segment, then the new one; what follows is the photograph's own rest.
  const std::size_t exifEnd = 2 + 2 + kExifPayload.size() + 2;
  EXPECT_EQ(out->substr(0, exifEnd), photo.substr(0, exifEnd));
  EXPECT_EQ(out->substr(exifEnd, 2), "\xFF\xE1");
  const std::size_t length = (std::size_t(std::uint8_t((*out)[exifEnd + 2])) << 8) | std::uint8_t((*out)[exifEnd + 3]);
  EXPECT_EQ(out->substr(exifEnd + 2 + length), photo.substr(exifEnd));
  EXPECT_EQ(exiftoolOn(dir, *out, 12345, "-XMP-GCamera:MotionPhoto -XMP-GCamera:MotionPhotoVersion -XMP-GCamera:MicroVideoOffset "
                                          "-XMP-Container:DirectoryItemMime -XMP-Container:DirectoryItemLength"),
            "1\n1\n12345\nimage/jpeg\nvideo/mp4\n0\n12345\n");
}

TEST(MotionPhotoStill, ThePhotographsOwnPacketTakesThePropertiesInWhateverFormItsDescriptionHas) {
  REQUIRE_TOOL("exiftool");
  ScratchDir dir;
  const std::string head = "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                           "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">";
  const std::string tail = "</rdf:RDF></x:xmpmeta>" + std::string(4000, ' ') + "<?xpacket end=\"w\"?>";
  const std::string forms[] = {
      // properties as attributes, self-closing
      head + "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"3\"/>" + tail,
      // properties as elements, and the camera namespace already declared for another property
      head + "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
             "xmlns:GCamera=\"http://ns.google.com/photos/1.0/camera/\" GCamera:HdrPlusMakernote=\"x/y\">"
             "<xmp:Rating>3</xmp:Rating></rdf:Description>" + tail,
  };
  for (const std::string& packet : forms) {
    const std::string photo = fixtures::withSegment(fixtures::makeJpeg(), 0xE1, xmpPayload(packet));
    const auto out = still(photo, 999);
    ASSERT_TRUE(out) << packet;
    EXPECT_EQ(exiftoolOn(dir, *out, 999, "-XMP-xmp:Rating -XMP-GCamera:MotionPhoto -XMP-GCamera:MicroVideo "
                                         "-XMP-Container:DirectoryItemSemantic"),
              "3\n1\n1\nPrimary\nMotionPhoto\n")
        << packet;
    // One standard packet, not two.
    const std::string signature(media::kXmpSignature, sizeof media::kXmpSignature);
    EXPECT_EQ(out->find(signature), out->rfind(signature));
  }
}

TEST(MotionPhotoStill, AMotionPhotoADamagedHeaderAndNoJpegAreRefusedInWords) {
  std::string why;
  const auto once = still(fixtures::makeJpeg(), 10);
  ASSERT_TRUE(once);
  EXPECT_TRUE(media::IsMotionPhoto(reinterpret_cast<const std::uint8_t*>(once->data()), once->size()));
  EXPECT_FALSE(still(*once, 10, &why));
  EXPECT_NE(why.find("already is a motion photo"), std::string::npos) << why;

  // The older form alone counts too; a longer property name that begins alike does not.
  EXPECT_TRUE(media::XmpSaysMotionPhoto(packetWith("GCamera:MicroVideo=\"1\"")));
  EXPECT_FALSE(media::XmpSaysMotionPhoto(packetWith("GCamera:MotionPhotoOwner=\"1\"")));
  // Lengths read back to the largest a file can have, and none past it.
  EXPECT_EQ(media::XmpMotionPhotoVideoLength(media::MotionPhotoXmp(UINT64_MAX)), UINT64_MAX);
  EXPECT_EQ(media::XmpMotionPhotoVideoLength(packetWith("GCamera:MicroVideoOffset=\"18446744073709551616\"")), std::nullopt);

  const std::string photo = fixtures::makeJpeg();
  std::string cut = photo.substr(0, 2) + "\xFF\xE1\xFF\xF0" + "Exif";  // a length past the end
  EXPECT_FALSE(still(cut, 10, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(still("GIF89a", 10, &why));
  EXPECT_FALSE(still("", 10, &why));
}

TEST(MotionPhotoName, TheMotionPhotoKeepsThePhotographsNameAndExtension) {
  EXPECT_EQ(media::MotionPhotoName("IMG_0001.JPG"), "IMG_0001.MP.JPG");
  EXPECT_EQ(media::MotionPhotoName("/a.b/pic.jpeg"), "/a.b/pic.MP.jpeg");
  EXPECT_EQ(media::MotionPhotoName("/a.b/pic"), "/a.b/pic.MP.jpg");
}
