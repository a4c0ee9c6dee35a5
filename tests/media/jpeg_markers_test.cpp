// SPDX-License-Identifier: GPL-2.0-or-later
// The JPEG marker walk: where each marker is and how long its segment is, what stops the walk,
// and scan data skipped to the marker that ends it; the header list the embedders use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "media/ByteReaders.h"
#include "media/JpegMarkers.h"
#include "media/JpegStructure.h"
#include "support/JpegBuilder.h"

namespace {
using media::JpegMarker;
using media::JpegMarkerWalker;
using Kind = JpegMarker::Kind;
using testsupport::be16;

const std::uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::string segment(int code, const std::string& body) {
  return std::string("\xFF", 1) + char(code) + be16(std::uint16_t(body.size() + 2)) + body;
}

const std::string kSOI("\xFF\xD8", 2);
const std::string kEOI("\xFF\xD9", 2);

TEST(JpegMarkerWalk, ReportsEachMarkerWhereItIsWithItsWholeLength) {
  // SOI, APP1, fill bytes then a restart marker, APP2 after fill bytes, SOS, scan data, EOI.
  const std::string app1 = segment(0xE1, std::string("Exif\0\0", 6) + "abcd");
  const std::string app2 = segment(0xE2, "xy");
  const std::string sos = segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6));
  const std::string scan("\x12\xFF\x00\x34\xFF\xD3\x56", 7);  // a stuffed zero and RST3 belong to it
  const std::string jpeg = kSOI + app1 + "\xFF\xFF\xFF\xD0" + std::string("\xFF\xFF", 2) + app2 + sos + scan + kEOI;

  JpegMarkerWalker walk(bytesOf(jpeg), jpeg.size());
  JpegMarker m = walk.next();
  EXPECT_EQ(m.kind, Kind::segment);
  EXPECT_EQ(m.code, 0xE1);
  EXPECT_EQ(m.offset, 2u);
  EXPECT_EQ(m.size, app1.size());
  EXPECT_EQ(m.bodyOffset(), 6u);
  EXPECT_EQ(jpeg.substr(m.bodyOffset(), m.bodySize()), std::string("Exif\0\0", 6) + "abcd");

  m = walk.next();  // the last fill byte is the marker's own 0xFF
  EXPECT_EQ(m.kind, Kind::standalone);
  EXPECT_EQ(m.code, 0xD0);
  EXPECT_EQ(m.offset, 2 + app1.size() + 2);
  EXPECT_EQ(m.size, 2u);

  m = walk.next();
  EXPECT_EQ(m.kind, Kind::segment);
  EXPECT_EQ(m.code, 0xE2);
  EXPECT_EQ(m.offset, 2 + app1.size() + 6);
  EXPECT_EQ(m.endOffset(), 2 + app1.size() + 6 + app2.size());

  m = walk.next();
  EXPECT_EQ(m.code, media::jpeg::kSOS);
  EXPECT_EQ(walk.position(), m.endOffset());
  walk.skipScanData();
  EXPECT_EQ(walk.position(), jpeg.size() - 2);
  m = walk.next();
  EXPECT_EQ(m.kind, Kind::endOfImage);
  EXPECT_EQ(m.endOffset(), jpeg.size());
  EXPECT_EQ(walk.next().kind, Kind::end);
}

TEST(JpegMarkerWalk, StopsWithoutMovingWhereNoWholeMarkerIs) {
  struct Case {
    const char* name;
    std::string bytes;  // after the SOI
    Kind kind;
  };
  const std::vector<Case> cases = {
      {"stray byte", std::string("\x00\xFF\xE1", 3), Kind::strayByte},
      {"second SOI", kSOI + segment(0xE1, "a"), Kind::invalid},
      {"stuffed zero as a marker", std::string("\xFF\x00\x00\x04", 4), Kind::invalid},
      {"length under two", std::string("\xFF\xE1\x00\x01xx", 6), Kind::invalid},
      {"no length field", std::string("\xFF\xE1\x00", 3), Kind::truncated},
      {"segment past the end", std::string("\xFF\xE1\x00\x10xx", 6), Kind::truncated},
      {"only fill bytes", std::string("\xFF\xFF\xFF", 3), Kind::end},
      {"nothing", "", Kind::end},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string jpeg = kSOI + c.bytes;
    JpegMarkerWalker walk(bytesOf(jpeg), jpeg.size());
    EXPECT_EQ(walk.next().kind, c.kind);
    EXPECT_EQ(walk.position(), 2u);
  }
}

TEST(JpegMarkerWalk, ScanDataRunsToTheMarkerThatEndsItOrToTheEnd) {
  struct Case {
    const char* name;
    std::string scan;
    std::size_t end;  // where the walk stands after skipping
  };
  const std::vector<Case> cases = {
      {"ends at a marker", std::string("\x01\x02\xFF\xC4", 4), 2},
      {"stuffed zeros and restarts", std::string("\xFF\x00\xFF\xD7\x01\xFF\xDA", 7), 5},
      {"fill bytes before the marker", std::string("\x01\xFF\xFF\xFF\xD9", 5), 3},
      {"no marker", std::string("\x01\xFF\x00\x02", 4), 4},
      {"a lone 0xFF at the end", std::string("\x01\xFF", 2), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string jpeg = kSOI + c.scan;
    JpegMarkerWalker walk(bytesOf(jpeg), jpeg.size());
    walk.skipScanData();
    EXPECT_EQ(walk.position(), 2 + c.end);
  }
}

TEST(JpegHeaderMarkers, ListTheHeaderOfARealPhotographThroughItsFirstScan) {
  const std::string jpeg =
      testsupport::buildJpeg(32, 16, 3, {{0xE1, std::string("Exif\0\0", 6) + "II*"}, {0xE2, "ICC_PROFILE"}});
  std::vector<JpegMarker> markers;
  ASSERT_EQ(media::JpegHeaderMarkers(bytesOf(jpeg), jpeg.size(), &markers), media::Status::ok);
  ASSERT_GE(markers.size(), 4u);
  EXPECT_EQ(markers.back().code, media::jpeg::kSOS);
  std::size_t next = 2;  // the markers tile the header with nothing between them
  std::vector<int> codes;
  for (const JpegMarker& m : markers) {
    EXPECT_EQ(m.offset, next);
    next = m.endOffset();
    codes.push_back(m.code);
  }
  EXPECT_EQ(codes[0], 0xE0);
  EXPECT_EQ(codes[1], 0xE1);
  EXPECT_EQ(codes[2], 0xE2);
  EXPECT_NE(std::find(codes.begin(), codes.end(), 0xC0), codes.end());
  EXPECT_EQ(jpeg.substr(markers[1].bodyOffset(), 4), "Exif");
}

TEST(JpegHeaderMarkers, AnythingButWholeSegmentsBeforeTheScanIsDamage) {
  const std::string sos = segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6));
  const std::string app = segment(0xE1, "abc");
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"no SOI", app + sos},
      {"SOI alone", kSOI},
      {"ends before the scan", kSOI + app},
      {"stray byte", kSOI + app + "x" + sos},
      {"EOI before the scan", kSOI + app + kEOI + sos},
      {"scan header cut short", kSOI + app + sos.substr(0, 6)},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    std::vector<JpegMarker> markers(1);
    EXPECT_EQ(media::JpegHeaderMarkers(bytesOf(bytes), bytes.size(), &markers), media::Status::damaged);
    EXPECT_TRUE(markers.empty());
  }
  std::vector<JpegMarker> markers;
  const std::string whole = kSOI + app + std::string("\xFF\xD1", 2) + sos;
  ASSERT_EQ(media::JpegHeaderMarkers(bytesOf(whole), whole.size(), &markers), media::Status::ok);
  EXPECT_EQ(markers.size(), 3u);
}

TEST(JpegImageEnd, IsJustPastTheEndOfImageWhateverFollows) {
  const std::string jpeg = testsupport::buildJpeg(16, 16, 3, {{0xE1, std::string("Exif\0\0", 6) + "II*"}});
  // A video after the picture, with bytes that look like markers; a damaged stream has no end.
  const std::string after = std::string("\0\0\0\x18" "ftypmp42\xFF\xD9\xFF\xD8", 16);
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {jpeg, jpeg.size()},
      {jpeg + after, jpeg.size()},
      {jpeg.substr(0, jpeg.size() - 2), 0},
      {"not a picture", 0},
  };
  for (const auto& [bytes, end] : cases) EXPECT_EQ(media::JpegImageEnd(bytesOf(bytes), bytes.size()), end);
}

// The walk over a file reads segments by their lengths alone and visits each one before the
// first scan with its body's place and first bytes; whatever is not a whole segment ends it.
TEST(JpegMarkerWalk, TheFileWalkVisitsTheHeaderSegmentsAndStopsWhereTheMemoryWalkDoes) {
  const std::string app1 = segment(0xE1, "Exif"), big = segment(0xE2, std::string(5000, 'b'));
  const std::string sos = segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6));
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> visited;  // "code@body+length"
  };
  const std::vector<Case> cases = {
      {"segments, fill bytes and a restart marker, up to the scan",
       kSOI + app1 + "\xFF\xFF\xFF\xD0" + big + sos + segment(0xE3, "after"),
       {"e1@6+4", "e2@" + std::to_string(2 + app1.size() + 4 + 4) + "+5000"}},
      {"no SOI", app1 + sos, {}},
      {"a stray byte", kSOI + app1 + "x" + segment(0xE2, "z"), {"e1@6+4"}},
      {"length under two", kSOI + std::string("\xFF\xE1\x00\x01xx", 6), {}},
      {"a segment past the end", kSOI + app1 + big.substr(0, 100), {"e1@6+4"}},
      {"the end of image", kSOI + kEOI + app1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    media::MemoryByteReader file({bytesOf(c.bytes), c.bytes.size()});
    std::vector<std::string> visited;
    media::VisitJpegHeaderSegments(file, [&](std::uint8_t code, std::uint64_t body, std::uint32_t length,
                                             std::span<const std::uint8_t> head) {
      char name[8];
      std::snprintf(name, sizeof name, "%02x", code);
      visited.push_back(std::string(name) + "@" + std::to_string(body) + "+" + std::to_string(length));
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(head.data()), head.size()),
                c.bytes.substr(std::size_t(body), std::min<std::size_t>(32, length)));
      return true;
    });
    EXPECT_EQ(visited, c.visited);
  }
}

}  // namespace

