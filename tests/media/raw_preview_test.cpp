// SPDX-License-Identifier: GPL-2.0-or-later
// Raw previews through LibRaw: DNGs built here (the Adobe DNG Specification 1.4's layout on
// TIFF 6.0, tests/support/DngBuilder) with a JPEG or bitmap preview, checked against exiftool
// and LibRaw's own simple_dcraw -e; the shared corpus's raws; refusals in words.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/PlaneOrientation.h"
#include "media/RawPreview.h"
#include "support/DngBuilder.h"
#include "support/Fixtures.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

namespace {
using media::RawPreviewOutcome;
using testsupport::ScratchDir;
using testsupport::DngSpec;
using testsupport::buildDng;
constexpr int kThumbW = testsupport::kDngThumbWidth, kThumbH = testsupport::kDngThumbHeight;

const std::uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// What LibRaw's own tool extracts: the bytes of NAME.thumb.jpg or NAME.thumb.ppm beside it.
std::string simpleDcrawPreview(const std::string& path, std::string* extension) {
  if (testsupport::run("cd " + testsupport::shellQuote(path.substr(0, path.rfind('/'))) +
                       " && simple_dcraw -e " + testsupport::shellQuote(path) + " >/dev/null 2>&1") != 0)
    return "";
  for (const char* ext : {"jpg", "ppm"}) {
    std::string bytes = testsupport::readFile(path + ".thumb." + ext);
    if (!bytes.empty()) {
      *extension = ext;
      return bytes;
    }
  }
  return "";
}

std::string exiftoolBinary(const std::string& tag, const std::string& path) {
  std::string out;
  testsupport::run("exiftool -b -" + tag + " " + testsupport::shellQuote(path) + " 2>/dev/null", &out);
  return out;
}

struct DngCase {
  const char* name;
  DngSpec spec;
  RawPreviewOutcome outcome;
  bool isJpeg;
  int orientation;
};

const DngCase kDngCases[] = {
    {"jpeg preview beside a smaller bitmap thumbnail", {}, RawPreviewOutcome::ok, true, 1},
    {"turned a quarter right", {.orientation = 6}, RawPreviewOutcome::ok, true, 6},
    {"big-endian, mirrored and transposed", {.orientation = 5, .bigEndian = true}, RawPreviewOutcome::ok, true, 5},
    {"turned a quarter left", {.orientation = 8}, RawPreviewOutcome::ok, true, 8},
    {"upside down, jpeg preview alone", {.thumbnail = false, .orientation = 3}, RawPreviewOutcome::ok, true, 3},
    {"bitmap thumbnail only", {.jpegPreview = false}, RawPreviewOutcome::ok, false, 1},
    {"raw data only", {.thumbnail = false, .jpegPreview = false}, RawPreviewOutcome::noPreview, false, 1},
    {"preview directory declares 65000 x 65000", {.declaredWidth = 65000, .declaredHeight = 65000},
     RawPreviewOutcome::tooLarge, false, 1},
    {"jpeg frame header claims 65000 x 65000", {.frameSide = 65000}, RawPreviewOutcome::tooLarge, false, 1},
};

TEST(RawPreview, DngPreviewsAgreeWithExiftoolAndSimpleDcraw) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("simple_dcraw");
  ScratchDir dir;
  for (const DngCase& c : kDngCases) {
    SCOPED_TRACE(c.name);
    const std::string jpeg = testsupport::dngPreviewJpeg(c.spec);
    ASSERT_FALSE(jpeg.empty());
    const std::string dng = buildDng(c.spec, jpeg);
    const std::string path = dir.file(std::string("case") + std::to_string(&c - kDngCases) + ".dng");
    testsupport::writeFile(path, dng);

    // The fixture is a DNG as exiftool reads one: its preview where the layout put it.
    std::string facts;
    testsupport::run("exiftool -s3 -FileType -Orientation# " + testsupport::shellQuote(path), &facts);
    EXPECT_EQ(facts, "DNG\n" + std::to_string(c.spec.orientation) + "\n");
    if (c.spec.jpegPreview) {
      EXPECT_EQ(exiftoolBinary("PreviewImage", path), jpeg);
    }

    media::RawPreview preview;
    const RawPreviewOutcome r = media::ReadRawPreview(bytesOf(dng), dng.size(), &preview);
    ASSERT_EQ(r, c.outcome) << media::RawPreviewWords(r);
    if (r != RawPreviewOutcome::ok) {
      EXPECT_TRUE(preview.jpeg.empty() && preview.bitmap.pixels.empty());
      continue;
    }
    EXPECT_EQ(preview.isJpeg, c.isJpeg);
    EXPECT_EQ(preview.orientation, c.orientation);

    std::string ext;
    const std::string judge = simpleDcrawPreview(path, &ext);
    if (c.isJpeg) {
      EXPECT_EQ(ext, "jpg");
      const std::string ours(preview.jpeg.begin(), preview.jpeg.end());
      EXPECT_EQ(ours, judge);
      // LibRaw puts an EXIF segment of its own before a preview stored without one; the
      // picture's own stream follows whole.
      EXPECT_TRUE(ours.size() > jpeg.size() && ours.compare(ours.size() - jpeg.size() + 2, std::string::npos, jpeg, 2) == 0);
      EXPECT_EQ(preview.width, 64);
      EXPECT_EQ(preview.height, 48);
    } else {
      // A PPM: "P6", width, height, 255, then the rows as LibRaw's tool wrote them.
      const std::string head = "P6\n" + std::to_string(kThumbW) + " " + std::to_string(kThumbH) + "\n255\n";
      EXPECT_EQ(ext, "ppm");
      ASSERT_EQ(judge.substr(0, head.size()), head);
      const std::string pixels(preview.bitmap.pixels.begin(), preview.bitmap.pixels.end());
      EXPECT_EQ(pixels, judge.substr(head.size()));
      EXPECT_EQ(pixels, testsupport::dngThumbnailPixels());
      EXPECT_EQ(preview.bitmap.channels, 3);
      EXPECT_EQ(preview.width, kThumbW);
    }
  }
}

// The shared corpus's raws: two carry a JPEG preview, the CR2 is one LibRaw does not read, and
// the rest are stripped of their previews' data.
struct CorpusCase {
  const char* file;
  RawPreviewOutcome outcome;
  int width, height;
};
const CorpusCase kCorpusCases[] = {
    {"FujiFilm.raf", RawPreviewOutcome::ok, 160, 120},    {"Panasonic.rw2", RawPreviewOutcome::ok, 8, 8},
    {"CanonRaw.cr2", RawPreviewOutcome::notRaw, 0, 0},    {"CanonRaw.cr3", RawPreviewOutcome::noPreview, 0, 0},
    {"CanonRaw.crw", RawPreviewOutcome::noPreview, 0, 0}, {"Minolta.mrw", RawPreviewOutcome::noPreview, 0, 0},
    {"Nikon.nef", RawPreviewOutcome::noPreview, 0, 0},    {"DNG.dng", RawPreviewOutcome::noPreview, 0, 0},
};

TEST(RawPreview, SharedCorpusRawsGiveTheirPreviewOrSayWhyNot) {
  const std::string corpus = testsupport::corpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no shared corpus";
  REQUIRE_TOOL("simple_dcraw");
  ScratchDir dir;
  for (const CorpusCase& c : kCorpusCases) {
    SCOPED_TRACE(c.file);
    const std::string bytes = testsupport::readFile(corpus + "/exiftool-raw/" + c.file);
    ASSERT_FALSE(bytes.empty());
    media::RawPreview preview;
    const RawPreviewOutcome r = media::ReadRawPreview(bytesOf(bytes), bytes.size(), &preview);
    EXPECT_EQ(r, c.outcome) << media::RawPreviewWords(r);
    const std::string copy = dir.file(c.file);
    testsupport::writeFile(copy, bytes);
    std::string ext;
    const std::string judge = simpleDcrawPreview(copy, &ext);
    if (r != RawPreviewOutcome::ok) {
      EXPECT_STRNE(media::RawPreviewWords(r), "");
      EXPECT_EQ(judge, "") << "LibRaw's tool found a preview we refused";
      continue;
    }
    EXPECT_TRUE(preview.isJpeg);
    EXPECT_EQ(preview.width, c.width);
    EXPECT_EQ(preview.height, c.height);
    EXPECT_EQ(preview.orientation, 1);
    EXPECT_EQ(std::string(preview.jpeg.begin(), preview.jpeg.end()), judge);
  }
}

// Bytes that are no raw, or a raw cut anywhere, come back in words and never as a preview.
TEST(RawPreview, DamagedOrForeignBytesAreRefused) {
  const std::string jpeg = fixtures::makeJpeg();
  const std::string dng = buildDng({}, testsupport::dngPreviewJpeg({}));
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"a JPEG", jpeg},
      {"a TIFF header alone", std::string("II*\0\x08\0\0\0", 8)},
      {"the DNG without its preview's last half", dng.substr(0, dng.size() - testsupport::dngPreviewJpeg({}).size() / 2)},
      {"the DNG's directories alone", dng.substr(0, 600)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    media::RawPreview preview;
    const RawPreviewOutcome r = media::ReadRawPreview(bytesOf(c.bytes), c.bytes.size(), &preview);
    EXPECT_NE(r, RawPreviewOutcome::ok);
    EXPECT_STRNE(media::RawPreviewWords(r), "");
    EXPECT_TRUE(preview.jpeg.empty());
  }
}

// LibRaw's flip code, applied as its writer applies it (axes swapped first when bit 2 is set,
// then rows and columns reversed by bits 1 and 0), stands a picture up as its EXIF value does.
TEST(RawPreview, FlipCodesStandThePictureUpAsTheirExifOrientation) {
  constexpr int w = 3, h = 2;
  const std::uint8_t src[h][w] = {{1, 2, 3}, {4, 5, 6}};
  for (int flip = 0; flip < 8; ++flip) {
    SCOPED_TRACE(flip);
    const bool swap = flip & 4;
    const int ow = swap ? h : w, oh = swap ? w : h;
    std::vector<std::uint8_t> expected, actual(std::size_t(w) * h);
    for (int r = 0; r < oh; ++r)
      for (int c = 0; c < ow; ++c) {
        int sr = swap ? c : r, sc = swap ? r : c;
        if (flip & 2) sr = h - 1 - sr;
        if (flip & 1) sc = w - 1 - sc;
        expected.push_back(src[sr][sc]);
      }
    media::OrientPlane(&src[0][0], w, w, h, media::RawFlipOrientation(flip), actual.data(), ow);
    EXPECT_EQ(actual, expected);
  }
  EXPECT_EQ(media::RawFlipOrientation(9), 1);
}

}  // namespace
