// SPDX-License-Identifier: GPL-2.0-or-later
// The MP4 box writer on its own: H.264 from start codes into length-prefixed samples and its
// decoder configuration, and the moov box whose size leaves room for the sound's sample sizes at
// its very end, whatever their count, read back by our own movie reader.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "media/ByteOrder.h"
#include "media/MovieAtoms.h"
#include "media/MovieUserData.h"
#include "media/Mp4Boxes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Mp4Boxes, StartCodesBecomeLengthsAndNothingElseChanges) {
  struct Case {
    const char* what;
    Bytes in, out;
  };
  const Case cases[] = {
      {"four-byte start codes", {0, 0, 0, 1, 0x67, 0xAA, 0, 0, 0, 1, 0x68, 0xBB},
       {0, 0, 0, 2, 0x67, 0xAA, 0, 0, 0, 2, 0x68, 0xBB}},
      {"three-byte start codes", {0, 0, 1, 0x65, 0x11, 0x22}, {0, 0, 0, 3, 0x65, 0x11, 0x22}},
      {"the zero byte of the next start code is not the unit's",
       {0, 0, 1, 0x06, 0x05, 0, 0, 0, 1, 0x65, 0x01},
       {0, 0, 0, 2, 0x06, 0x05, 0, 0, 0, 2, 0x65, 0x01}},
      {"an empty unit is left out", {0, 0, 1, 0, 0, 1, 0x65}, {0, 0, 0, 1, 0x65}},
      {"emulation prevention stays", {0, 0, 1, 0x65, 0, 0, 3, 1}, {0, 0, 0, 5, 0x65, 0, 0, 3, 1}},
      {"trailing zeros end the last unit", {0, 0, 1, 0x65, 0x42, 0, 0}, {0, 0, 0, 2, 0x65, 0x42}},
      {"no start code, no unit", {0x65, 1, 2}, {}},
      {"nothing", {}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(media::Mp4LengthPrefixed(c.in), c.out) << c.what;
}

TEST(Mp4Boxes, TheDecoderConfigurationComesFromTheParameterSets) {
  const Bytes high = {0, 0, 0, 1, 0x67, 100, 0x00, 0x1F, 0xAC, 0, 0, 0, 1, 0x68, 0xEE, 0x06};
  const Bytes main = {0, 0, 0, 1, 0x67, 77, 0x40, 0x1E, 0x9A, 0, 0, 1, 0x68, 0xCE};
  struct Case {
    const char* what;
    Bytes in, out;
  };
  const Case cases[] = {
      {"High: the chroma format and bit depths follow", high,
       {1, 100, 0x00, 0x1F, 0xFF, 0xE1, 0, 5, 0x67, 100, 0x00, 0x1F, 0xAC, 1, 0, 3, 0x68, 0xEE, 0x06, 0xFD, 0xF8, 0xF8, 0}},
      {"Main: the record ends with the PPS", main,
       {1, 77, 0x40, 0x1E, 0xFF, 0xE1, 0, 5, 0x67, 77, 0x40, 0x1E, 0x9A, 1, 0, 2, 0x68, 0xCE}},
      {"no PPS", Bytes(high.begin(), high.begin() + 9), {}},
      {"an SPS too short for its profile and level", {0, 0, 1, 0x67, 100, 0, 0, 1, 0x68, 1}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(media::Mp4AvcConfig(c.in), c.out) << c.what;
}

// A box as found: its type, where its body begins and where it ends.
struct Box {
  std::string type;
  std::size_t body, end;
};

std::vector<Box> children(const Bytes& b, std::size_t from, std::size_t to) {
  std::vector<Box> out;
  while (from + 8 <= to) {
    const std::size_t size = media::ReadBigEndian32(b.data() + from);
    if (size < 8 || size > to - from) return {};
    out.push_back({std::string(reinterpret_cast<const char*>(b.data() + from + 4), 4), from + 8, from + size});
    from += size;
  }
  return from == to ? out : std::vector<Box>{};
}

const Box* find(const std::vector<Box>& boxes, const std::string& type, int nth = 0) {
  for (const Box& b : boxes)
    if (b.type == type && nth-- == 0) return &b;
  return nullptr;
}

media::Mp4Facts facts(std::uint32_t packets, bool wideTimes, bool wideOffsets, bool items) {
  media::Mp4Facts f;
  f.creationTime = wideTimes ? 0x1'0000'0000ULL : 3'800'000'000ULL;
  f.durationMs = 30048;
  f.wideTimes = wideTimes;
  f.wideOffsets = wideOffsets;
  f.video = {600, 450, 8000, 240380, 33209, 4096, {1, 100, 0, 0x1F, 0xFF, 0xE1, 0, 1, 0x67, 1, 0, 1, 0x68}};
  f.sound.channels = 1;
  f.sound.rate = 8000;
  f.sound.audioConfig = {0x15, 0x88};
  f.sound.packets = packets;
  f.sound.lastDuration = 764;
  f.sound.priming = 1024;
  f.sound.offset = 40000;
  if (items) f.items = {{"creation_time", "2024-05-01T10:20:30Z"}, {"encoder", "still2mov 1"}};
  return f;
}

TEST(Mp4Boxes, TheIndexKeepsItsSizeAndEndsWithTheSoundsSampleSizes) {
  for (const bool wideTimes : {false, true})
    for (const bool wideOffsets : {false, true})
      for (const bool items : {false, true}) {
        const std::size_t headBytes = media::BuildMp4MovieHead(facts(2, wideTimes, wideOffsets, items)).size();
        for (const std::uint32_t packets : {2u, 236u, 1'000'000u}) {
          SCOPED_TRACE(std::to_string(packets) + " packets" + (wideTimes ? ", 64-bit times" : "") +
                       (wideOffsets ? ", 64-bit offsets" : "") + (items ? ", items" : ""));
          Bytes moov = media::BuildMp4MovieHead(facts(packets, wideTimes, wideOffsets, items));
          // The sizes' place is known before their count.
          EXPECT_EQ(moov.size(), headBytes);
          moov.resize(moov.size() + 4ULL * packets, 0);
          const std::vector<Box> top = children(moov, 0, moov.size());
          ASSERT_EQ(top.size(), 1u) << "the sizes counted in moov are not where it ends";
          ASSERT_EQ(top[0].type, "moov");
          const std::vector<Box> inMoov = children(moov, top[0].body, top[0].end);
          ASSERT_FALSE(inMoov.empty());
          EXPECT_EQ(inMoov[0].type, "mvhd");
          EXPECT_EQ(moov[inMoov[0].body], wideTimes ? 1 : 0);
          const Box* sound = find(inMoov, "trak", 1);
          ASSERT_NE(sound, nullptr);
          EXPECT_EQ(sound->end, moov.size());
          std::vector<Box> level = children(moov, sound->body, sound->end);
          for (const char* type : {"mdia", "minf", "stbl"}) {
            const Box* b = find(level, type);
            ASSERT_NE(b, nullptr) << type;
            EXPECT_EQ(b->end, moov.size()) << type;
            level = children(moov, b->body, b->end);
          }
          ASSERT_FALSE(level.empty());
          EXPECT_EQ(level.back().type, "stsz");
          EXPECT_EQ(media::ReadBigEndian32(moov.data() + level.back().body + 8), packets);
          EXPECT_EQ(level.back().end - level.back().body, 12 + 4ULL * packets);
          EXPECT_NE(find(level, wideOffsets ? "co64" : "stco"), nullptr);
          const Box* stts = find(level, "stts");
          ASSERT_NE(stts, nullptr);
          EXPECT_EQ(media::ReadBigEndian32(moov.data() + stts->body + 8), packets - 1);
          EXPECT_EQ(media::ReadBigEndian32(moov.data() + stts->body + 20), 764u);
          // Our own reader finds the items by their keys.
          const std::optional<std::string> encoder = media::MovieUserDataText(
              std::span<const std::uint8_t>(moov.data() + top[0].body, top[0].end - top[0].body), media::MakeFourCC("\xA9swr"),
              "encoder");
          EXPECT_EQ(encoder, items ? std::optional<std::string>("still2mov 1") : std::nullopt);
        }
      }
}

TEST(Mp4Boxes, ThePlaceIsAlsoThe3gppLocation) {
  struct Case {
    const char* place;
    bool written;
    std::uint32_t longitude, latitude, altitude;  // 16.16
  };
  const Case cases[] = {
      {"-33.856667+151.210000+012.500/", true, 0x009735C2, 0xFFDE24B2, 0x000C8000},
      {"+48.8577+002.2950/", true, 0x00024B85, 0x0030DB92, 0},
      {"", false, 0, 0, 0},
      {"somewhere", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.place);
    media::Mp4Facts f = facts(2, false, false, true);
    f.place = c.place;
    const Bytes moov = media::BuildMp4MovieHead(f);
    const std::string text(moov.begin(), moov.end());
    const std::size_t at = text.find("loci");
    ASSERT_EQ(at != std::string::npos, c.written);
    if (!c.written) continue;
    // After version and flags, language, an empty name and the role.
    const std::uint8_t* p = moov.data() + at + 4 + 8;
    EXPECT_EQ(media::ReadBigEndian32(p), c.longitude);
    EXPECT_EQ(media::ReadBigEndian32(p + 4), c.latitude);
    EXPECT_EQ(media::ReadBigEndian32(p + 8), c.altitude);
    EXPECT_EQ(text.substr(at + 4 + 20, 6), std::string("earth\0", 6));
  }
}

}  // namespace
