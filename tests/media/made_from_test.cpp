// SPDX-License-Identifier: GPL-2.0-or-later
// The record a movie keeps of what it was made from: read back exactly as written whatever the
// file names hold, and nothing taken from text that is no such record; read from a movie's head
// (or past its samples) and from nothing that is no whole movie file of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "media/MadeFrom.h"
#include "media/MotionPhoto.h"
#include "support/Fixtures.h"
#include "support/Fifo.h"
#include "support/TestPaths.h"

using media::DecodeMadeFrom;
using media::EncodeMadeFrom;
using media::MadeFrom;

TEST(MadeFromRecord, ReadsBackWhatWasWrittenWhateverTheNamesHold) {
  MadeFrom sidecar;
  sidecar.photograph = "IMG_0001.JPG";
  sidecar.photographStamp = media::StampDigest({123456, 1700000000123456789, 1700000001987654321});
  sidecar.recording = "IMG_0001.WAV";
  sidecar.recordingStamp = media::StampDigest({44, -5, 0});
  sidecar.resize = 600;
  sidecar.metadata = true;
  MadeFrom oddNames;
  oddNames.photograph = std::string("a\nb%41=c\0d\r.jpg", 16);
  oddNames.photographStamp = media::StampDigest({});
  oddNames.recording = "%%\n";
  oddNames.recordingStamp = media::StampDigest({1, 0, 0});
  oddNames.format = "mp4";
  MadeFrom embedded;
  embedded.photograph = "x.jpeg";
  embedded.photographStamp = media::StampDigest({7, 8, 9});
  for (const MadeFrom& r : {sidecar, oddNames, embedded}) {
    SCOPED_TRACE(r.photograph);
    const std::string text = EncodeMadeFrom(r);
    const std::optional<MadeFrom> back = DecodeMadeFrom(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_EQ(*back, r);
  }
}

TEST(MadeFromRecord, TextThatIsNoWholeRecordGivesNone) {
  MadeFrom r;
  r.photograph = "a.jpg";
  r.photographStamp = media::StampDigest({1, 2, 3});
  r.recording = "a.wav";
  r.recordingStamp = media::StampDigest({4, 5, 6});
  const std::string text = EncodeMadeFrom(r);
  // Every cut of the record short of its end is refused, as are other texts and bad fields.
  for (std::size_t n = 0; n < text.size(); ++n) EXPECT_FALSE(DecodeMadeFrom(text.substr(0, n))) << n;
  const std::string bad[] = {
      "still2mov 0.1.0",
      "still2mov made-from 1\n",
      "still2mov made-from 1\nphotograph=a.jpg\nphotograph-stamp=0123456789abcde\nformat=mov\nresize=0\nmetadata=0\n",
      "still2mov made-from 1\nphotograph=a.jpg\nphotograph-stamp=0123456789abcdeX\nformat=mov\nresize=0\nmetadata=0\n",
      "still2mov made-from 1\nphotograph=a%4\nphotograph-stamp=0123456789abcdef\nformat=mov\nresize=0\nmetadata=0\n",
      "still2mov made-from 1\nphotograph=\nphotograph-stamp=0123456789abcdef\nformat=mov\nresize=0\nmetadata=0\n",
      "still2mov made-from 1\nphotograph=a.jpg\nphotograph-stamp=0123456789abcdef\nformat=mov\nresize=0\nmetadata=2\n",
      // a recording without its stamp cannot be checked
      "still2mov made-from 1\nphotograph=a.jpg\nphotograph-stamp=0123456789abcdef\nrecording=a.wav\nformat=mov\n"
      "resize=0\nmetadata=0\n",
  };
  for (const std::string& t : bad) EXPECT_FALSE(DecodeMadeFrom(t)) << t;
  // A field a later release adds does not make the record unreadable.
  EXPECT_TRUE(DecodeMadeFrom(text + "later=1\n"));
}

TEST(MadeFromRecord, TheStampsDigestTellsEveryPartButNotTheTimes) {
  const media::FileStamp stamp{1000, 1700000000123456789, 1700000000223456789};
  const std::string digest = media::StampDigest(stamp);
  EXPECT_EQ(digest.size(), 16u);
  EXPECT_EQ(digest.find("1700000000"), std::string::npos);
  for (const media::FileStamp& other : {media::FileStamp{1001, stamp.modifiedNs, stamp.changedNs},
                                        media::FileStamp{1000, stamp.modifiedNs + 1, stamp.changedNs},
                                        media::FileStamp{1000, stamp.modifiedNs, stamp.changedNs + 1}})
    EXPECT_NE(media::StampDigest(other), digest);
  EXPECT_EQ(media::StampDigest(stamp), digest);
}

namespace {

std::string atom(const char* type, const std::string& body) {
  const std::uint32_t size = std::uint32_t(body.size() + 8);
  std::string out{char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
  return out + type + body;
}

// A text user-data item: its length, its language (0), the text.
std::string textItem(const std::string& text) {
  return std::string{char(text.size() >> 8), char(text.size()), 0, 0} + text;
}

}  // namespace

TEST(MadeFromMovie, FoundAtTheHeadOrAfterTheSamplesAndNeverThroughALinkAFifoOrDamage) {
  testsupport::ScratchDir dir;
  MadeFrom r;
  r.photograph = "IMG_1.JPG";
  r.photographStamp = media::StampDigest({1, 2, 3});
  const std::string udta = atom("udta", atom("\xA9swr", textItem("still2mov")) + atom("s2mf", textItem(EncodeMadeFrom(r))));
  const std::string moov = atom("moov", atom("mvhd", std::string(100, '\0')) + udta);
  const std::string ftyp = atom("ftyp", "qt  \0\0\0\0qt  ");
  const std::string mdat = atom("mdat", std::string(200000, 'x'));
  struct {
    const char* name;
    std::string bytes;
  } good[] = {{"head.mov", ftyp + moov + mdat}, {"tail.mov", ftyp + mdat + moov}, {"wide.mov", ftyp + atom("wide", "") + moov},
              // a last movie atom whose size is "to the end of the file", after the samples
              {"open-ended.mov", ftyp + mdat + std::string("\0\0\0\0moov", 8) + udta}};
  for (const auto& g : good) {
    testsupport::writeFile(dir.file(g.name), g.bytes);
    const std::optional<MadeFrom> back = media::ReadMadeFromMovie(dir.file(g.name));
    ASSERT_TRUE(back.has_value()) << g.name;
    EXPECT_EQ(*back, r);
  }
  // No record: no movie atom, no item, an item cut short, sizes that point past the file.
  std::string cut = ftyp + moov;
  cut[cut.size() - 20] = char(0x7F);  // the record's text now ends early: no whole record
  const std::string bad[] = {"", ftyp, ftyp + mdat, ftyp + atom("moov", atom("mvhd", "")), cut,
                             ftyp + std::string("\xFF\xFF\xFF\xFFmoov", 8), ftyp + std::string("\0\0\0\1moov\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 16)};
  int k = 0;
  for (const std::string& b : bad) {
    const std::string path = dir.file("bad" + std::to_string(k++) + ".mov");
    testsupport::writeFile(path, b);
    EXPECT_FALSE(media::ReadMadeFromMovie(path)) << k;
  }
  // Every cut of a whole movie's head either reads the record or none; none reads past its end.
  const std::string whole = ftyp + moov + mdat.substr(0, 100);
  for (std::size_t n = 0; n < ftyp.size() + moov.size(); ++n) {
    testsupport::writeFile(dir.file("cut.mov"), whole.substr(0, n));
    EXPECT_FALSE(media::ReadMadeFromMovie(dir.file("cut.mov"))) << n;
  }
  ASSERT_EQ(symlink(dir.file("head.mov").c_str(), dir.file("link.mov").c_str()), 0);
  EXPECT_FALSE(media::ReadMadeFromMovie(dir.file("link.mov")));
  mkdir(dir.file("folder.mov").c_str(), 0755);
  EXPECT_FALSE(media::ReadMadeFromMovie(dir.file("folder.mov")));
  ASSERT_TRUE(testsupport::makeFifo(dir.file("fifo.mov")));
  EXPECT_TRUE(testsupport::returnsWithin(dir.file("fifo.mov"), [&] {
    EXPECT_FALSE(media::ReadMadeFromMovie(dir.file("fifo.mov")));
  }));
}

namespace {

std::string fullAtom(const char* type, const std::string& body) { return atom(type, std::string(4, '\0') + body); }

std::string be32(std::uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }

// An MP4 as libavformat writes one with QuickTime metadata keys: moov/udta/meta with hdlr mdta,
// the keys, and ilst holding each value under its key's number.
std::string mp4With(const std::vector<std::pair<std::string, std::string>>& items, std::uint32_t claimedKeys = 0) {
  std::string keys = be32(claimedKeys != 0 ? claimedKeys : std::uint32_t(items.size())), ilst;
  std::uint32_t n = 0;
  for (const auto& [key, value] : items) {
    keys += be32(std::uint32_t(key.size() + 8)) + "mdta" + key;
    const std::string data = atom("data", be32(1) + be32(0) + value);
    ilst += be32(std::uint32_t(data.size() + 8)) + be32(++n) + data;
  }
  const std::string meta = fullAtom("meta", fullAtom("hdlr", std::string(4, '\0') + "mdta" + std::string(13, '\0')) +
                                                fullAtom("keys", keys) + atom("ilst", ilst));
  return atom("ftyp", "isom\0\0\2\0isomiso2avc1mp41") + atom("moov", atom("mvhd", std::string(100, '\0')) + atom("udta", meta)) +
         atom("free", "") + atom("mdat", std::string(30000, 'v'));
}

// The photograph with that MP4 after it, its XMP saying so, behind an Exif segment of that size.
std::string motionPhoto(const std::string& mp4, std::size_t exifBytes) {
  std::string jpeg = fixtures::makeJpeg();
  const std::size_t length = exifBytes + 2;
  const std::string exif = std::string{char(0xFF), char(0xE1), char(length >> 8), char(length)} + "Exif" +
                           std::string(exifBytes - 4, '\0');
  jpeg.insert(2, exif);
  std::string why;
  const std::optional<std::string> still = media::MotionPhotoStill(
      reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), mp4.size(), &why);
  EXPECT_TRUE(still.has_value()) << why;
  return still.value_or("") + mp4;
}

}  // namespace

TEST(MadeFromMovie, FoundInAnMp4sMetadataAndInAMotionPhotosAppendedMp4) {
  testsupport::ScratchDir dir;
  MadeFrom r;
  r.photograph = "IMG_2.JPG";
  r.photographStamp = media::StampDigest({4, 5, 6});
  r.format = "mp4";
  const std::string record = EncodeMadeFrom(r);
  const std::string mp4 = mp4With({{"creation_time", "2024-01-01T00:00:00Z"}, {"s2mf", record}, {"encoder", "x"}});
  struct {
    const char* name;
    std::string bytes;
  } good[] = {{"a.mp4", mp4},
              {"only.mp4", mp4With({{"s2mf", record}})},
              {"a.MP.jpg", motionPhoto(mp4, 100)},
              // the still's XMP beyond the first read, behind a camera's Exif and thumbnail
              {"exif.MP.jpg", motionPhoto(mp4, 60000)}};
  for (const auto& g : good) {
    testsupport::writeFile(dir.file(g.name), g.bytes);
    const std::optional<MadeFrom> back = media::ReadMadeFromMovie(dir.file(g.name));
    ASSERT_TRUE(back.has_value()) << g.name;
    EXPECT_EQ(*back, r);
  }
  // No record: another key, keys that claim more than they hold, a value missing from ilst, a
  // photograph that is no motion photo, a video length past the file's start or not a movie.
  std::string longer = motionPhoto(mp4, 100);
  const std::string lying = longer + std::string(7, '\0');  // the MP4 no longer starts where the XMP says
  std::string unnumbered = mp4With({{"s2mf", record}});
  unnumbered[unnumbered.find("data") - 5] = 2;  // ilst holds the value under key 2 of 1
  const std::string bad[] = {mp4With({{"s2mff", record}}),
                             mp4With({{"encoder", "x"}}, 5),
                             unnumbered,
                             fixtures::makeJpeg() + mp4,
                             motionPhoto(std::string(50, 'x'), 100),
                             lying,
                             longer.substr(longer.size() - mp4.size() / 2)};
  int k = 0;
  for (const std::string& b : bad) {
    const std::string path = dir.file("bad" + std::to_string(k++) + ".mp4");
    testsupport::writeFile(path, b);
    EXPECT_FALSE(media::ReadMadeFromMovie(path)) << k;
  }
  // Every cut of a motion photo short of the movie's index reads none, and none reads past its end.
  const std::string whole = motionPhoto(mp4, 100);
  const std::size_t indexEnd = whole.size() - mp4.size() + mp4.find("free");
  for (std::size_t n = 0; n < indexEnd; n += 7) {
    testsupport::writeFile(dir.file("cut.MP.jpg"), whole.substr(0, n));
    EXPECT_FALSE(media::ReadMadeFromMovie(dir.file("cut.MP.jpg"))) << n;
  }
}

TEST(MadeFromRecord, WhatTheLookupSawReadsBackAndDamageToItIsNeverTrusted) {
  MadeFrom r;
  r.photograph = "IMG_1.JPG";
  r.photographStamp = media::StampDigest({1, 2, 3});
  r.photographLook = media::LookDigest({1, 2, 3});
  r.photographContent = std::string(64, 'a');
  r.recording = "IMG_1.WAV";
  r.recordingStamp = media::StampDigest({4, 5, 6});
  r.recordingLook = media::LookDigest({4, 5, 6});
  r.lookupKept = true;
  r.source = "sidecar";
  r.asked = {"REC 1\n%.WAV", "IMG_1.wav"};
  r.passedOver = {{"REC 1\n%.WAV", media::StampDigest({7, 8, 9}), media::LookDigest({7, 8, 9}), ""},
                  {"img_1.wav", media::StampDigest({}), media::LookDigest({}), std::string(64, '0')}};
  const std::string text = EncodeMadeFrom(r);
  ASSERT_EQ(DecodeMadeFrom(text), r) << text;

  // What the release before wrote: read as it always was, with no lookup kept.
  const std::string before =
      "still2mov made-from 1\nphotograph=IMG_1.JPG\nphotograph-stamp=0123456789abcdef\nrecording=IMG_1.WAV\n"
      "recording-stamp=fedcba9876543210\nformat=mov\nresize=0\nmetadata=0\n";
  const std::optional<MadeFrom> old = DecodeMadeFrom(before);
  ASSERT_TRUE(old);
  EXPECT_FALSE(old->lookupKept);
  EXPECT_EQ(old->recording, "IMG_1.WAV");
  EXPECT_TRUE(old->photographLook.empty() && old->photographContent.empty());

  // A damaged line of the lookup's leaves the record (whose movie it is) but not the lookup; a
  // damaged digest is dropped alone.
  struct Damage {
    const char* from;
    const char* to;
    bool lookupKept;
  };
  for (const Damage& d : {Damage{"\nlookup=1", "\nlookup=2", false}, Damage{"\nasked=IMG_1.wav", "\nasked=", false},
                          Damage{"\npassed=", "\npassed=zz", false}, Damage{"\nsource=sidecar\n", "\n", false},
                          Damage{"\nphotograph-digest=a", "\nphotograph-digest=X", true}}) {
    SCOPED_TRACE(d.to);
    std::string damaged = text;
    const std::size_t at = damaged.find(d.from);
    ASSERT_NE(at, std::string::npos);
    damaged.replace(at, std::strlen(d.from), d.to);
    const std::optional<MadeFrom> back = DecodeMadeFrom(damaged);
    ASSERT_TRUE(back) << damaged;
    EXPECT_EQ(back->photograph, "IMG_1.JPG");
    EXPECT_EQ(back->lookupKept, d.lookupKept);
    EXPECT_EQ(back->asked.empty() && back->passedOver.empty(), !d.lookupKept);
    if (d.lookupKept) {
      EXPECT_TRUE(back->photographContent.empty());
    }
  }
}

TEST(MadeFromRecord, TheLookSeesSizeAndModificationButNotChangeAndTheContentDigestIsSha256) {
  const media::FileStamp stamp{100, 5, 9};
  EXPECT_EQ(media::LookDigest(stamp), media::LookDigest({100, 5, 10}));
  EXPECT_NE(media::LookDigest(stamp), media::LookDigest({101, 5, 9}));
  EXPECT_NE(media::LookDigest(stamp), media::LookDigest({100, 6, 9}));
  EXPECT_NE(media::LookDigest(stamp), media::StampDigest(stamp));
  // FIPS 180-2's examples, whole and in pieces.
  struct Vector {
    std::string text;
    const char* sha256;
  };
  for (const Vector& v :
       {Vector{"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        Vector{"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        Vector{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
               "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"}}) {
    for (std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(64)}) {
      media::ContentDigest digest;
      for (std::size_t at = 0; at < v.text.size(); at += piece)
        digest.add(reinterpret_cast<const std::uint8_t*>(v.text.data()) + at, std::min(piece, v.text.size() - at));
      EXPECT_EQ(digest.hex(), v.sha256) << v.text << " in pieces of " << piece;
    }
  }
}
