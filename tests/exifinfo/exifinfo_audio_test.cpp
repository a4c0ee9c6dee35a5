// SPDX-License-Identifier: GPL-2.0-or-later
// Finding the voice annotation among FlashPix segment copies: which segments qualify, the
// blocks and offsets they give, the recording's length, and bounds on damaged segments.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "ImageAudio/ExifInfo/JpegTagReader.h"
#include "support/JpegBuilder.h"

namespace {

using namespace testsupport;

struct Block {
  std::string bytes;
  UInt32 offset;
};

// Copies each segment into a buffer of exactly its size, so the sanitizer sees any overread.
class Parsed {
 public:
  explicit Parsed(const std::vector<std::string>& segments) {
    for (const auto& s : segments) {
      auto* copy = static_cast<UInt8*>(std::malloc(s.empty() ? 1 : s.size()));
      if (!s.empty()) std::memcpy(copy, s.data(), s.size());
      record.addFlashPixData(copy, UInt32(s.size()));
    }
    JpegTagReader reader;
    reader.setDataStore(&record);
    reader.parseAudioData();
  }
  std::vector<Block> blocks() const {
    std::vector<Block> out;
    for (UInt32 k = 0; k < record.numAudioBlocks(); ++k) {
      const UInt8* data = nullptr;
      UInt32 length = 0, offset = 0;
      record.getNthAudioBlock(SInt32(k), &data, &length, &offset);
      out.push_back({std::string(reinterpret_cast<const char*>(data), length), offset});
    }
    return out;
  }
  ExImageInfo record;
};

std::string firstPiece(const std::string& wave, UInt16 index = 1) { return fpxrSegment(index, 0, audioStreamHeader() + wave); }

// A WAVE header whose length fields are chosen; the sample data itself is short.
std::string waveWith(UInt32 rate, UInt32 avgBytes, const std::string& chunks) {
  std::string fmt = le16(1) + le16(1) + le32(rate) + le32(avgBytes) + le16(1) + le16(8);
  std::string body = "WAVEfmt " + le32(16) + fmt + chunks;
  return "RIFF" + le32(UInt32(body.size())) + body;
}
std::string factChunk(UInt32 samples) { return "fact" + le32(4) + le32(samples); }
std::string dataChunk(UInt32 declared) { return "data" + le32(declared) + std::string(16, '\x80'); }

UInt32 secondsOf(const std::string& wave) { return Parsed({firstPiece(wave)}).record.getAudioSeconds(); }

TEST(FlashPixSeconds, WorkedExamples) {
  EXPECT_EQ(secondsOf(waveWith(8000, 4055, factChunk(40000) + dataChunk(20000))), 5u);
  EXPECT_EQ(secondsOf(waveWith(8000, 4055, factChunk(40100) + dataChunk(20000))), 6u);
  EXPECT_EQ(secondsOf(waveWith(8000, 4055, dataChunk(88200))), 22u);
  // A fraction below 0.01 is dropped: 8,079 / 8,000 = 1.009875.
  EXPECT_EQ(secondsOf(waveWith(8000, 1, factChunk(8079))), 1u);
  EXPECT_EQ(secondsOf(waveWith(8000, 1, factChunk(8081))), 2u);
  // 1.01 is just below itself in single precision, so 8,080 samples stay 1 second.
  EXPECT_EQ(secondsOf(waveWith(8000, 1, factChunk(8080))), 1u);
  // The division is single precision: 16,777,217 samples at 1/s reads as 16,777,216.
  EXPECT_EQ(secondsOf(waveWith(1, 1, factChunk(16777217))), 16777216u);
}

TEST(FlashPixSeconds, FactComesFirstAndMissingPiecesGiveZero) {
  // "fact" wins even when it stands after "data".
  EXPECT_EQ(secondsOf(waveWith(8000, 1000, dataChunk(88200) + factChunk(16000))), 2u);
  EXPECT_EQ(secondsOf(waveWith(0, 1000, factChunk(16000))), 0u);   // no rate
  EXPECT_EQ(secondsOf(waveWith(8000, 0, dataChunk(88200))), 0u);   // no byte rate
  EXPECT_EQ(secondsOf(waveWith(8000, 1000, "LIST" + le32(4) + "abcd")), 0u);
  // Without "WAVEfmt " there is a block but no length.
  Parsed noFmt({firstPiece("RIFF" + le32(100) + "WAVEjunk" + std::string(40, '\0') + factChunk(8000))});
  EXPECT_EQ(noFmt.record.numAudioBlocks(), 1u);
  EXPECT_EQ(noFmt.record.getAudioSeconds(), 0u);
}

TEST(FlashPixSeconds, FieldsBeyondTheFirstBlockAreNotRead) {
  const std::string full = waveWith(8000, 1000, dataChunk(88200) + factChunk(16000));
  // A "fact" whose count is cut off counts as absent, so "data" gives the length.
  const std::string cutFact = full.substr(0, full.size() - 2);
  EXPECT_EQ(secondsOf(cutFact), 89u);
  // Every shorter first block: never a read outside it, and only a fully present field counts.
  for (size_t n = 12; n <= full.size(); ++n) {
    UInt32 seconds = secondsOf(full.substr(0, n));
    EXPECT_TRUE(seconds == 0 || seconds == 89 || seconds == 2) << n;
  }
  // The later pieces are never searched for headers.
  const std::string header = waveWith(8000, 1000, "");
  std::string stream = audioStreamHeader() + header + factChunk(16000);
  Parsed split({fpxrSegment(1, 0, stream.substr(0, 28 + header.size())), fpxrSegment(1, UInt32(28 + header.size()), factChunk(16000))});
  EXPECT_EQ(split.record.numAudioBlocks(), 2u);
  EXPECT_EQ(split.record.getAudioSeconds(), 0u);
}

TEST(FlashPixSearch, FindCharSequenceEdges) {
  auto find = [](const std::string& data) {
    return JpegTagReader::findCharSequence("data", reinterpret_cast<const UInt8*>(data.data()), UInt32(data.size()));
  };
  EXPECT_EQ(find("data"), 0u);
  EXPECT_EQ(find("xdata"), 0u);   // the last start position is not tried
  EXPECT_EQ(find("xdatay"), 1u);
  EXPECT_EQ(find("dataxx"), 0u);  // a match at 0 reads as none
  EXPECT_EQ(find("ddaddatax"), 4u);
  EXPECT_EQ(find("dat"), 0u);
  EXPECT_EQ(find(""), 0u);
  EXPECT_EQ(JpegTagReader::findCharSequence("data", nullptr, 100), 0u);
}

TEST(FlashPixPieces, OnlyStreamDataSegmentsOfTheAudioStreamQualify) {
  const std::string wave = pcmWave(1, 8, 8000, 100);
  std::string contents = firstPiece(wave);
  contents[6] = 1;  // a contents list with the very same bytes
  std::string icc = "ICC_PROFILE" + std::string(1, '\0') + "\x01\x01" + std::string(200, 'p');
  EXPECT_EQ(Parsed({contents, icc}).record.numAudioBlocks(), 0u);

  auto spoiled = [&](size_t at, char value) {
    std::string s = firstPiece(wave);
    s[at] = value;
    return Parsed({s}).record.numAudioBlocks();
  };
  EXPECT_EQ(spoiled(0, 'f'), 0u);   // identifier
  EXPECT_EQ(spoiled(4, 1), 0u);     // terminator
  EXPECT_EQ(spoiled(5, 1), 0u);     // version
  EXPECT_EQ(spoiled(12, 1), 0u);    // offset not 0
  EXPECT_EQ(spoiled(14, 0), 0u);    // byte order mark
  EXPECT_EQ(spoiled(30, 0), 0u);    // class identifier
  EXPECT_EQ(spoiled(41, 'r'), 0u);  // RIFF
  EXPECT_EQ(spoiled(52, 'e'), 0u);  // WAVE
  EXPECT_EQ(spoiled(17, 0x7F), 1u);  // not examined
  std::string zeroValue = firstPiece(wave);
  std::memset(&zeroValue[37], 0, 4);
  EXPECT_EQ(Parsed({zeroValue}).record.numAudioBlocks(), 0u);
}

TEST(FlashPixPieces, BlocksOffsetsAndOrder) {
  const std::string wave = pcmWave(1, 8, 8000, 300);
  const std::string stream = audioStreamHeader() + wave;
  auto piece = [&](UInt32 from, UInt32 to, UInt16 index = 1) {
    return fpxrSegment(index, from, stream.substr(from, to - from));
  };
  // A later piece before the first one in the file comes right after the first block.
  Parsed parsed({piece(200, 328), piece(0, 100), piece(100, 200)});
  auto blocks = parsed.blocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].bytes, wave.substr(0, 72));
  EXPECT_EQ(blocks[0].offset, 0u);
  EXPECT_EQ(blocks[1].bytes, wave.substr(172, 128));
  EXPECT_EQ(blocks[1].offset, 172u);
  EXPECT_EQ(blocks[2].offset, 72u);
  EXPECT_EQ(parsed.record.getAudioSeconds(), 1u);

  // Offset 28 is WAVE offset 0; inside the stream header there is no place: skipped.
  auto edge = Parsed({piece(0, 100), piece(28, 40), piece(5, 40), piece(27, 40)}).blocks();
  ASSERT_EQ(edge.size(), 2u);
  EXPECT_EQ(edge[1].offset, 0u);
  EXPECT_EQ(edge[1].bytes, wave.substr(0, 12));
}

TEST(FlashPixPieces, StreamIndexTiesPiecesTogether) {
  const std::string waveA = pcmWave(1, 8, 8000, 100, 1);
  const std::string waveB = pcmWave(1, 8, 8000, 100, 2);
  const std::string streamA = audioStreamHeader() + waveA;
  const std::string streamB = audioStreamHeader() + waveB;
  // Two streams: only the first in file order, and only pieces of its index.
  auto blocks = Parsed({fpxrSegment(2, 50, streamB.substr(50)), fpxrSegment(1, 0, streamA.substr(0, 50)),
                        fpxrSegment(2, 0, streamB.substr(0, 50)), fpxrSegment(1, 50, streamA.substr(50))})
                    .blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].bytes + blocks[1].bytes, waveA);

  // Index 0 gathers nothing further, whatever else is there.
  auto alone = Parsed({fpxrSegment(0, 0, streamA.substr(0, 50)), fpxrSegment(0, 50, streamA.substr(50))}).blocks();
  EXPECT_EQ(alone.size(), 1u);
}

TEST(FlashPixBounds, TruncatedSegmentsAreNeverReadOutside) {
  const std::string wave = waveWith(8000, 8000, factChunk(8000) + dataChunk(8000));
  const std::string first = firstPiece(wave);
  for (size_t n = 0; n <= 53; ++n) {
    Parsed parsed({first.substr(0, n)});
    EXPECT_EQ(parsed.record.numAudioBlocks(), n == 53 ? 1u : 0u) << n;
    EXPECT_EQ(parsed.record.getAudioSeconds(), 0u) << n;
  }
  // Later pieces shorter than their 13-byte header do not count; a bare header is an empty block.
  const std::string later = fpxrSegment(1, 500, "xyz");
  for (size_t n = 0; n <= later.size(); ++n) {
    Parsed parsed({first, later.substr(0, n)});
    EXPECT_EQ(parsed.record.numAudioBlocks(), n >= 13 ? 2u : 1u) << n;
    if (n >= 13) {
      EXPECT_EQ(parsed.blocks()[1].bytes, later.substr(13, n - 13));
    }
  }
  EXPECT_EQ(Parsed({}).record.numAudioBlocks(), 0u);
}

}  // namespace
