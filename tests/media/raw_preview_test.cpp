// SPDX-License-Identifier: GPL-2.0-or-later
// Raw previews through LibRaw: DNGs built here (the Adobe DNG Specification 1.4's layout on
// TIFF 6.0, tests/support/DngBuilder), checked with exiftool and judged by LibRaw's own
// simple_dcraw -e; the shared corpus's raws; size claims, cuts and foreign bytes refused.
#include <gtest/gtest.h>

#include <string>

#include "media/RawPreview.h"
#include "support/DngBuilder.h"
#include "support/RequireTool.h"
#include "support/TestPaths.h"

namespace {
using media::RawPreviewOutcome;
using testsupport::DngSpec;

struct DngCase {
  const char* name;
  DngSpec spec;
  RawPreviewOutcome outcome;
  int orientation;
  std::size_t cut = 0;  // bytes taken off the end
};
const DngCase kDngCases[] = {
    {"jpeg preview beside a smaller bitmap thumbnail", {}, RawPreviewOutcome::ok, 1},
    {"big-endian, mirrored and transposed", {.orientation = 5, .bigEndian = true}, RawPreviewOutcome::ok, 5},
    {"turned a quarter left, jpeg preview alone", {.thumbnail = false, .orientation = 8}, RawPreviewOutcome::ok, 8},
    {"bitmap thumbnail only", {.jpegPreview = false, .orientation = 6}, RawPreviewOutcome::ok, 6},
    {"raw data only", {.thumbnail = false, .jpegPreview = false}, RawPreviewOutcome::noPreview, 1},
    {"preview declared 65000 x 65000", {.declaredWidth = 65000, .declaredHeight = 65000}, RawPreviewOutcome::tooLarge,
     1},
    {"jpeg frame claims 65000 x 65000", {.frameSide = 65000}, RawPreviewOutcome::tooLarge, 1},
    {"preview cut short", {}, RawPreviewOutcome::damaged, 1, 100},
    // LibRaw's loader for this one writes past its buffer on forged counts: never asked.
    {"bitmap thumbnail of compression 0", {.jpegPreview = false, .thumbnailCompression = 0},
     RawPreviewOutcome::noPreview, 1},
};

TEST(RawPreview, DngPreviewsAreWhatExiftoolFindsAndSimpleDcrawExtracts) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("simple_dcraw");
  testsupport::ScratchDir dir;
  for (const DngCase& c : kDngCases) {
    SCOPED_TRACE(c.name);
    const std::string jpeg = testsupport::dngPreviewJpeg(c.spec);
    std::string dng = testsupport::buildDng(c.spec, jpeg);
    const std::string path = dir.file("case" + std::to_string(&c - kDngCases) + ".dng");
    testsupport::writeFile(path, dng);
    // The fixture is a DNG as exiftool reads one, its preview where the layout put it.
    std::string facts, found;
    testsupport::run("exiftool -s3 -FileType -Orientation# " + testsupport::shellQuote(path), &facts);
    EXPECT_EQ(facts, "DNG\n" + std::to_string(c.spec.orientation) + "\n");
    testsupport::run("exiftool -b -PreviewImage " + testsupport::shellQuote(path) + " 2>/dev/null", &found);
    EXPECT_EQ(found, c.spec.jpegPreview ? jpeg : "");

    dng.resize(dng.size() - c.cut);
    media::RawPreview preview;
    const RawPreviewOutcome r =
        media::ReadRawPreview(reinterpret_cast<const std::uint8_t*>(dng.data()), dng.size(), &preview);
    ASSERT_EQ(r, c.outcome) << media::RawPreviewWords(r);
    if (r != RawPreviewOutcome::ok) {
      EXPECT_STRNE(media::RawPreviewWords(r), "");
      EXPECT_TRUE(preview.jpeg.empty() && preview.bitmap.pixels.empty());
      continue;
    }
    EXPECT_EQ(preview.orientation, c.orientation);
    std::string ext;
    const std::string judge = testsupport::simpleDcrawExtract(path, &ext);
    if (c.spec.jpegPreview) {
      // LibRaw puts an EXIF segment of its own before a preview stored without one; the stored
      // stream follows whole after its SOI.
      const std::string ours(preview.jpeg.begin(), preview.jpeg.end());
      EXPECT_TRUE(preview.isJpeg);
      EXPECT_EQ(ext + " " + ours, "jpg " + judge);
      EXPECT_EQ(ours.substr(ours.size() - (jpeg.size() - 2)), jpeg.substr(2));
      EXPECT_EQ(preview.width * 100 + preview.height, 64 * 100 + 48);
    } else {
      // A PPM: "P6", width, height, 255, then the rows as LibRaw's tool wrote them.
      const std::string head = "P6\n" + std::to_string(testsupport::kDngThumbWidth) + " " +
                               std::to_string(testsupport::kDngThumbHeight) + "\n255\n";
      const std::string pixels(preview.bitmap.pixels.begin(), preview.bitmap.pixels.end());
      EXPECT_FALSE(preview.isJpeg);
      EXPECT_EQ(ext + " " + head + pixels, "ppm " + judge);
      EXPECT_EQ(pixels, testsupport::dngThumbnailPixels());
    }
  }
}

// The shared corpus's raws: two carry a JPEG preview, the CR2 is one LibRaw does not read, the
// rest are stripped of their previews' data; LibRaw's tool never finds one we refuse.
TEST(RawPreview, SharedCorpusRawsGiveTheirPreviewOrSayWhyNot) {
  const std::string corpus = testsupport::corpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no shared corpus";
  REQUIRE_TOOL("simple_dcraw");
  const struct {
    const char* file;
    RawPreviewOutcome outcome;
    int width, height;
  } cases[] = {
      {"FujiFilm.raf", RawPreviewOutcome::ok, 160, 120},    {"Panasonic.rw2", RawPreviewOutcome::ok, 8, 8},
      {"CanonRaw.cr2", RawPreviewOutcome::notRaw, 0, 0},    {"CanonRaw.cr3", RawPreviewOutcome::noPreview, 0, 0},
      {"CanonRaw.crw", RawPreviewOutcome::noPreview, 0, 0}, {"Minolta.mrw", RawPreviewOutcome::noPreview, 0, 0},
      {"Nikon.nef", RawPreviewOutcome::noPreview, 0, 0},    {"DNG.dng", RawPreviewOutcome::noPreview, 0, 0},
  };
  testsupport::ScratchDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string bytes = testsupport::readFile(corpus + "/exiftool-raw/" + c.file);
    ASSERT_FALSE(bytes.empty());
    testsupport::writeFile(dir.file(c.file), bytes);
    media::RawPreview preview;
    const RawPreviewOutcome r =
        media::ReadRawPreview(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &preview);
    EXPECT_EQ(r, c.outcome) << media::RawPreviewWords(r);
    EXPECT_EQ(preview.width * 1000 + preview.height, c.width * 1000 + c.height);
    EXPECT_EQ(std::string(preview.jpeg.begin(), preview.jpeg.end()), testsupport::simpleDcrawExtract(dir.file(c.file)));
  }
}

// A CR3 box of no length, on which LibRaw's walk never ends, is refused before LibRaw sees it.
TEST(RawPreview, EndlessBoxesAreRefusedBeforeLibRawWalksThem) {
  const std::string ftyp("\0\0\0\x18" "ftypcrx \0\0\0\1" "crx isom", 24);
  for (const std::string& box : {std::string("\0\0\0\1moov", 8) + std::string(8, '\0'),
                                 std::string("\0\0\0\x10moov\0\0\0\x04trak", 16)}) {
    const std::string bytes = ftyp + box + std::string(512, '\0');
    media::RawPreview preview;
    EXPECT_EQ(media::ReadRawPreview(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &preview),
              RawPreviewOutcome::damaged);
  }
}

// A child's answer is read back as it was given, and an answer whose parts disagree (or that is
// cut, or names no outcome) is none.
TEST(RawPreview, AnswersReadBackWholeOrNotAtAll) {
  media::RawPreview jpeg;
  jpeg.isJpeg = true;
  jpeg.jpeg = {0xFF, 0xD8, 0xFF, 0xD9};
  jpeg.width = 64;
  jpeg.height = 48;
  jpeg.orientation = 6;
  jpeg.ownExif = true;
  jpeg.captureTime = 1700000000;
  media::RawPreview grey;
  grey.bitmap = {3, 2, 1, std::vector<std::uint8_t>(6, 7)};
  grey.width = 3;
  grey.height = 2;
  const std::string good[] = {media::RawPreviewAnswer(RawPreviewOutcome::ok, jpeg),
                              media::RawPreviewAnswer(RawPreviewOutcome::ok, grey),
                              media::RawPreviewAnswer(RawPreviewOutcome::tooLarge, jpeg)};
  // Each answer is read the same from a view and from the block it came in, which the preview
  // then keeps; a head with its payload behind it is the whole answer.
  auto fromBlock = [](const std::string& answer, RawPreviewOutcome* r, media::RawPreview* back) {
    std::vector<std::uint8_t> block(answer.begin(), answer.end());
    const bool read = media::ReadRawPreviewAnswer(std::move(block), r, back);
    EXPECT_TRUE(block.empty());
    return read;
  };
  for (const std::string& answer : good) {
    RawPreviewOutcome r, rb;
    media::RawPreview back, backFromBlock;
    ASSERT_TRUE(media::ReadRawPreviewAnswer(answer, &r, &back));
    EXPECT_EQ(media::RawPreviewAnswer(r, back), answer);
    ASSERT_TRUE(fromBlock(answer, &rb, &backFromBlock));
    EXPECT_EQ(media::RawPreviewAnswer(rb, backFromBlock), answer);
    const std::vector<std::uint8_t>& payload = back.isJpeg ? back.jpeg : back.bitmap.pixels;
    EXPECT_EQ(media::RawPreviewAnswerHead(r, back) + std::string(payload.begin(), payload.end()), answer);
  }
  auto edited = [](std::string s, std::size_t at, char c) { return s.replace(at, 1, 1, c); };
  const struct {
    const char* name;
    std::string answer;
  } bad[] = {
      {"cut in its header", good[0].substr(0, 10)},
      {"a byte of its JPEG missing", good[0].substr(0, good[0].size() - 1)},
      {"a row short", good[1].substr(0, good[1].size() - 3)},
      {"no tag", edited(good[0], 0, 'X')},
      {"an outcome past the last", edited(good[0], 4, 99)},
      {"orientation 9", edited(good[0], 7, 9)},
      {"two channels", edited(good[1], 6, 2)},
      {"a refusal with bytes", good[2] + "x"},
      {"a refusal turned", edited(good[2], 7, 6)},
      {"a JPEG flag of 2", edited(good[0], 5, 2)},
      {"a width of 0", edited(edited(good[0], 8, 0), 9, 0)},
      {"an own-EXIF flag of 2", edited(good[0], 16, 2)},
      {"a bitmap with EXIF of its own", edited(good[1], 16, 1)},
      {"a refusal with a capture time", edited(good[2], 17, 1)},
      {"a capture time before 1970", edited(good[0], 24, char(0x80))},
  };
  for (const auto& b : bad) {
    RawPreviewOutcome r;
    media::RawPreview back;
    EXPECT_FALSE(media::ReadRawPreviewAnswer(b.answer, &r, &back)) << b.name;
    EXPECT_EQ(r, RawPreviewOutcome::lost) << b.name;
    EXPECT_TRUE(back.jpeg.empty() && back.bitmap.pixels.empty()) << b.name;
    EXPECT_FALSE(fromBlock(b.answer, &r, &back)) << b.name;
    EXPECT_EQ(r, RawPreviewOutcome::lost) << b.name;
    EXPECT_TRUE(back.jpeg.empty() && back.bitmap.pixels.empty()) << b.name;
  }
}

}  // namespace
