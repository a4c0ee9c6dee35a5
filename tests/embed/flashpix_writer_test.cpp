// SPDX-License-Identifier: GPL-2.0-or-later
// The embedder's segments as a FlashPix reader sees them: contents list, stream header, piece
// sizes and offsets, where they go in the JPEG, what is replaced and what is refused.
#include <gtest/gtest.h>

#include <cstring>

#include "ImageAudio/Embed/FlashPixAudioWriter.h"
#include "support/Fixtures.h"

namespace {

struct Seg {
  unsigned char marker;
  std::string payload;  // after the length field
};

// The header segments of a JPEG up to the scan.
std::vector<Seg> headerSegments(const std::string& jpeg) {
  std::vector<Seg> segs;
  std::size_t pos = 2;
  while (pos + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[pos]) == 0xFF) {
    unsigned char m = static_cast<unsigned char>(jpeg[pos + 1]);
    std::size_t len = (static_cast<unsigned char>(jpeg[pos + 2]) << 8) | static_cast<unsigned char>(jpeg[pos + 3]);
    if (m == 0xDA) break;
    segs.push_back({m, jpeg.substr(pos + 4, len - 2)});
    pos += 2 + len;
  }
  return segs;
}

bool isFpxr(const Seg& s) { return s.marker == 0xE2 && s.payload.compare(0, 5, std::string("FPXR\0", 5)) == 0; }
unsigned be16(const std::string& s, std::size_t i) {
  return (static_cast<unsigned char>(s[i]) << 8) | static_cast<unsigned char>(s[i + 1]);
}
unsigned long be32(const std::string& s, std::size_t i) { return (be16(s, i) << 16) | be16(s, i + 2); }

std::string utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string(1, c) + '\0';
  return out + std::string(2, '\0');
}

// Reassembles the stream from its pieces by offset; checks every piece's header on the way.
std::string streamFrom(const std::vector<Seg>& segs, std::size_t* pieces) {
  std::string stream;
  *pieces = 0;
  for (const Seg& s : segs) {
    if (!isFpxr(s) || s.payload[6] != 2) continue;
    EXPECT_EQ(s.payload[5], 0) << "version";
    EXPECT_EQ(be16(s.payload, 7), flashpix::kAudioStreamIndex);
    std::size_t off = be32(s.payload, 9);
    std::string data = s.payload.substr(13);
    if (stream.size() < off + data.size()) stream.resize(off + data.size());
    stream.replace(off, data.size(), data);
    ++*pieces;
  }
  return stream;
}

const std::string kWave = fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 1.0});

}  // namespace

TEST(FlashPixWriter, ContentsListNamesTheAudioStreamInsideItsStorage) {
  std::vector<std::string> segs;
  ASSERT_EQ(flashpix::buildSegments(kWave, {}, &segs), flashpix::EmbedStatus::ok);
  ASSERT_EQ(segs.size(), 2u);  // contents list and one piece
  std::string p = segs[0].substr(4);
  ASSERT_EQ(p.substr(0, 7), std::string("FPXR\0\0\x01", 7));
  EXPECT_EQ(be16(p, 7), 2u);
  std::size_t pos = 9;
  EXPECT_EQ(be32(p, pos), 0xFFFFFFFFul);  // a storage
  std::string storage = utf16("/Audio_bd0100609719a180");
  EXPECT_EQ(p.substr(pos + 5, storage.size()), storage);
  pos += 5 + storage.size() + 16;  // storages carry their class ID
  EXPECT_EQ(be32(p, pos), kWave.size() + 28);
  EXPECT_EQ(p.substr(pos + 5), utf16("/Audio_bd0100609719a180/Audio Stream 000000"));
}

TEST(FlashPixWriter, StreamIsHeaderThenWaveCutIntoBoundedPieces) {
  static const unsigned char kHeader[24] = {0xFE, 0xFF, 0x00, 0x00, 0x00, 0x04, 0x02, 0x00, 0x01, 0x01, 0x00, 0x10,
                                            0xC0, 0x6F, 0xD0, 0x11, 0xBD, 0x01, 0x00, 0x60, 0x97, 0x19, 0xA1, 0x80};
  std::string big = fixtures::makeWave(fixtures::WaveKind::pcm16Stereo, {.seconds = 2.0, .rate = 22050});
  for (std::uint32_t piece : {flashpix::kMaxPieceBytes, 1000u, 97u}) {
    std::string jpeg = fixtures::embedWave(fixtures::makeJpeg(), big, fixtures::pieces(piece));
    ASSERT_FALSE(jpeg.empty());
    std::vector<Seg> segs = headerSegments(jpeg);
    for (const Seg& s : segs) {
      if (isFpxr(s) && s.payload[6] == 2) {
        EXPECT_LE(s.payload.size(), 13u + piece);
      }
    }
    std::size_t pieces = 0;
    std::string stream = streamFrom(segs, &pieces);
    EXPECT_EQ(pieces, flashpix::pieceCount(big.size(), piece));
    ASSERT_EQ(stream.size(), big.size() + 28);
    EXPECT_EQ(std::memcmp(stream.data(), kHeader, sizeof kHeader), 0);
    EXPECT_NE(stream.substr(24, 4), std::string(4, '\0'));
    EXPECT_EQ(stream.substr(28), big) << "piece size " << piece;
  }
}

TEST(FlashPixWriter, PieceCountAtTheSegmentSizeLimit) {
  EXPECT_EQ(flashpix::pieceCount(flashpix::kMaxPieceBytes - 28, flashpix::kMaxPieceBytes), 1u);
  EXPECT_EQ(flashpix::pieceCount(flashpix::kMaxPieceBytes - 27, flashpix::kMaxPieceBytes), 2u);
  // A full piece makes the largest segment a JPEG length field can describe.
  std::string wave = kWave;
  wave.resize(flashpix::kMaxPieceBytes - 28, '\x11');
  flashpix::EmbedOptions bare;
  bare.contentsList = false;
  std::vector<std::string> segs;
  ASSERT_EQ(flashpix::buildSegments(wave, bare, &segs), flashpix::EmbedStatus::ok);
  ASSERT_EQ(segs.size(), 1u);
  EXPECT_EQ(be16(segs[0], 2), 65535u);
}

TEST(FlashPixWriter, PieceOrderFollowsThePermutation) {
  std::vector<std::string> segs;
  ASSERT_EQ(flashpix::buildSegments(kWave, fixtures::pieces(1500, {0, 2, 1}), &segs),
            flashpix::EmbedStatus::ok);
  ASSERT_EQ(segs.size(), 4u);
  EXPECT_EQ(be32(segs[1], 13), 0u);
  EXPECT_EQ(be32(segs[2], 13), 3000u);
  EXPECT_EQ(be32(segs[3], 13), 1500u);
}

TEST(FlashPixWriter, GoesAfterApp0AndApp1AndReplacesEarlierFlashPix) {
  std::string exif = std::string("Exif\0\0", 6) + "II*\0\x08\0\0\0\0\0\0\0\0\0";
  std::string photo = fixtures::makeJpeg();  // SOI, APP0, DQT ...
  photo = fixtures::withSegment(photo, 0xE2, fixtures::iccProfileSegmentPayload());
  photo = fixtures::withSegment(photo, 0xE1, exif);  // SOI APP1 ICC APP0 ...
  std::string once = fixtures::embedWave(photo, kWave);
  ASSERT_FALSE(once.empty());
  std::vector<Seg> segs = headerSegments(once);
  ASSERT_GE(segs.size(), 4u);
  EXPECT_EQ(segs[0].marker, 0xE1);
  EXPECT_TRUE(isFpxr(segs[1]));
  EXPECT_TRUE(isFpxr(segs[2]));
  EXPECT_EQ(segs[3].payload.substr(0, 11), "ICC_PROFILE");

  // Embedding again into the result carries one annotation, the new one, and nothing else changes.
  std::string other = fixtures::makeWave(fixtures::WaveKind::pcm8, {.seconds = 0.5});
  std::string twice;
  std::size_t replaced = 0;
  ASSERT_EQ(flashpix::embedAudio(once, other, fixtures::pieces(1000), &twice, &replaced), flashpix::EmbedStatus::ok);
  EXPECT_EQ(replaced, 2u);
  std::size_t pieces = 0;
  std::vector<Seg> again = headerSegments(twice);
  EXPECT_EQ(streamFrom(again, &pieces).substr(28), other);
  std::size_t lists = 0;
  for (const Seg& s : again) lists += isFpxr(s) && s.payload[6] == 1;
  EXPECT_EQ(lists, 1u);
  std::string direct = fixtures::embedWave(photo, other, fixtures::pieces(1000));
  EXPECT_EQ(twice, direct);
}

TEST(FlashPixWriter, ScanDataAndTrailerAreCopiedUnchanged) {
  std::string photo = fixtures::makeJpeg({.width = 40, .height = 30, .grey = true, .progressive = true});
  photo += "trailing bytes";
  std::string out = fixtures::embedWave(photo, kWave);
  std::size_t scan = photo.find("\xFF\xDA");
  ASSERT_NE(scan, std::string::npos);
  ASSERT_GT(out.size(), photo.size());
  EXPECT_EQ(out.substr(out.size() - (photo.size() - scan)), photo.substr(scan));
}

TEST(FlashPixWriter, RefusesWhatItCannotCarryOrPlace) {
  std::string photo = fixtures::makeJpeg();
  std::string out = "untouched";
  using flashpix::EmbedStatus;
  EXPECT_EQ(flashpix::embedAudio(photo, "", {}, &out), EmbedStatus::notWave);
  EXPECT_EQ(flashpix::embedAudio(photo, "RIFF\0\0\0\0AVI LIST", {}, &out), EmbedStatus::notWave);
  EXPECT_EQ(flashpix::embedAudio(photo, photo, {}, &out), EmbedStatus::notWave);
  EXPECT_EQ(flashpix::embedAudio("", kWave, {}, &out), EmbedStatus::notJpeg);
  EXPECT_EQ(flashpix::embedAudio("just some text\n", kWave, {}, &out), EmbedStatus::notJpeg);
  EXPECT_EQ(flashpix::embedAudio(photo.substr(0, 30), kWave, {}, &out), EmbedStatus::notJpeg);
  EXPECT_EQ(flashpix::embedAudio("\xFF\xD8\xFF\xD9", kWave, {}, &out), EmbedStatus::notJpeg);
  EXPECT_EQ(flashpix::embedAudio(photo, kWave, fixtures::pieces(0), &out), EmbedStatus::badOptions);
  EXPECT_EQ(flashpix::embedAudio(photo, kWave, fixtures::pieces(flashpix::kMaxPieceBytes + 1), &out),
            EmbedStatus::badOptions);
  EXPECT_EQ(flashpix::embedAudio(photo, kWave, fixtures::pieces(2000, {0, 0, 1}), &out),
            EmbedStatus::badOptions);
  EXPECT_EQ(flashpix::embedAudio(photo, kWave, fixtures::pieces(2000, {0, 1}), &out),
            EmbedStatus::badOptions);
  EXPECT_EQ(out, "untouched");
}
