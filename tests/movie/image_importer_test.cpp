// SPDX-License-Identifier: GPL-2.0-or-later
// The JPEG graphics importer: bounds, data range (the real EOI, whatever surrounds it),
// description, and robustness against damaged, truncated and foreign input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <set>

#include "movie/image_fixtures.h"
#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/GraphicsImport.h"
#include "media/ImageResample.h"
#include "media/JpegCodec.h"
#include "media/JpegStructure.h"

using namespace imagetest;
using testsupport::ScratchDir;

namespace {
struct Opened {
  GraphicsImportComponent ci = nullptr;
  OSErr err = noErr;
  explicit Opened(const FSSpec& spec) { err = GetGraphicsImporterForFile(&spec, &ci); }
  ~Opened() {
    if (ci) CloseComponent(ci);
  }
};

std::string le32(std::uint32_t v) {
  return std::string{char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

// The first image of a Multi-Picture file: jpeg with an MPF index (little-endian) whose first
// entry gives lengthOf(the result) plus claimed extra bytes, and whose second lists next.
std::string withMpfIndex(const std::string& jpeg, const std::string& next, long claimedExtra = 0) {
  constexpr std::uint32_t kEntries = 8 + 2 + 12 + 4;  // header, one IFD entry, next-IFD link
  const std::size_t segment = 2 + 2 + 4 + kEntries + 32;
  const std::uint32_t first = std::uint32_t(jpeg.size() + segment + claimedExtra);
  std::string index = std::string("MPF\0", 4) + "II*" + std::string(1, '\0') + le32(8) + std::string("\x01\0", 2) +
                      std::string("\x02\xB0\x07\0", 4) + le32(32) + le32(kEntries) + le32(0);
  index += le32(0x20030000) + le32(first) + le32(0) + std::string(4, '\0');
  index += le32(0x00020002) + le32(std::uint32_t(next.size())) + le32(first - 8 - 4) + std::string(4, '\0');
  return withSegment(jpeg, 0xE2, index);
}

std::string imageBytes(GraphicsImportComponent ci) {
  unsigned long offset = 1, size = 0;
  EXPECT_EQ(GraphicsImportGetDataOffsetAndSize(ci, &offset, &size), noErr);
  std::string bytes(size, '\0');
  EXPECT_EQ(GraphicsImportReadData(ci, bytes.data(), offset, size), noErr);
  return bytes;
}
}  // namespace

TEST(JpegImporter, DelimitsTheImageDataAndDescribesItForEveryKindOfStream) {
  ScratchDir dir;
  struct Case {
    const char* name;
    std::string file;    // what is on disk
    std::string image;   // the SOI..EOI bytes that must be found
    int width, height;
    SInt16 depth;
  };
  std::string colour = encode(scene(160, 120, 3));
  std::string grey = encode(scene(64, 48, 1));
  std::string progressive = encode(scene(90, 70, 3), {85, true});
  std::string restarts = encode(scene(100, 80, 3), {90, false, 1});
  std::string exif = withExifThumbnail(colour);
  std::string comment = withSegment(colour, 0xFE, std::string("fake end \xFF\xD9 inside a comment"));
  // Files that hold more than this image after its end, and say so: further images listed in
  // a Multi-Picture index (whose first entry gives this image's length, honest or not), or
  // media listed in an XMP container directory.
  std::string second = encode(scene(40, 30, 3), {60});
  std::string mpf = withMpfIndex(colour, second), lyingMpf = withMpfIndex(colour, second, 7);
  std::string container = withSegment(
      colour, 0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) +
                        "<x:xmpmeta xmlns:Container=\"http://ns.google.com/photos/1.0/container/\"/>");
  std::vector<Case> cases = {
      {"baseline colour", colour, colour, 160, 120, 24},
      {"more images after it, by its index", mpf + second, mpf, 160, 120, 24},
      {"more images after it, by a wrong index", lyingMpf + second, lyingMpf, 160, 120, 24},
      {"more media after it, by its XMP container", container + second, container, 160, 120, 24},
      {"grey", grey, grey, 64, 48, 40},
      {"progressive", progressive, progressive, 90, 70, 24},
      {"restart markers", restarts, restarts, 100, 80, 24},
      {"EXIF thumbnail with its own EOI", exif, exif, 160, 120, 24},
      {"EOI bytes inside a comment", comment, comment, 160, 120, 24},
      {"trailing garbage after EOI", colour + std::string("\xFF\xD9 trailer \xFF\xD8\xFF", 14), colour, 160, 120, 24},
      {"fill bytes before a marker", colour.substr(0, 2) + "\xFF\xFF" + colour.substr(2), colour.substr(0, 2) + "\xFF\xFF" + colour.substr(2), 160, 120, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(restarts.find("\xFF\xD1"), std::string::npos);
    Opened imp(writeImage(dir, "photo.data", c.file));  // the name does not decide the format
    ASSERT_EQ(imp.err, noErr);
    Rect natural{}, source{};
    ASSERT_EQ(GraphicsImportGetNaturalBounds(imp.ci, &natural), noErr);
    ASSERT_EQ(GraphicsImportGetSourceRect(imp.ci, &source), noErr);
    EXPECT_EQ(natural.top, 0);
    EXPECT_EQ(natural.left, 0);
    EXPECT_EQ(natural.right, c.width);
    EXPECT_EQ(natural.bottom, c.height);
    EXPECT_EQ(std::memcmp(&natural, &source, sizeof natural), 0);
    MatrixRecord m{}, identity{};
    SetIdentityMatrix(&identity);
    ASSERT_EQ(GraphicsImportGetMatrix(imp.ci, &m), noErr);
    EXPECT_EQ(std::memcmp(&m, &identity, sizeof m), 0);
    EXPECT_EQ(imageBytes(imp.ci), c.image);

    ImageDescriptionHandle desc = nullptr;
    ASSERT_EQ(GraphicsImportGetImageDescription(imp.ci, &desc), noErr);
    ASSERT_NE(desc, nullptr);
    // What varies with the stream; the fixed fields are checked by the movie readers.
    const ImageDescription& d = **desc;
    EXPECT_EQ(d.cType, FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
    EXPECT_EQ(d.dataSize, SInt32(c.image.size()));
    EXPECT_EQ(d.depth, c.depth);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d.name + 1), d.name[0]), "Photo - JPEG");
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }
}

TEST(JpegImporter, AStreamCutShortHasBoundsButNoUsableImage) {
  // Cut inside the scan data, or inside the scan header: the frame header still gives the size,
  // but neither the data nor a description is handed out, and nothing is drawn from it.
  ScratchDir dir;
  std::string colour = encode(scene(160, 120, 3));
  std::size_t sos = colour.find("\xFF\xDA");
  for (std::size_t cut : {colour.size() * 2 / 3, colour.size() - 1, sos + 5}) {
    SCOPED_TRACE(cut);
    std::string bytes = colour.substr(0, cut);
    media::JpegLayout layout;
    ASSERT_EQ(media::ParseJpegLayout(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), &layout), media::Status::ok);
    EXPECT_NE(media::JpegMissingPart(layout), nullptr);
    FSSpec spec = writeImage(dir, "cut.jpg", bytes);
    Opened imp(spec);
    ASSERT_EQ(imp.err, noErr);
    Rect bounds{};
    EXPECT_EQ(GraphicsImportGetNaturalBounds(imp.ci, &bounds), noErr);
    EXPECT_EQ(bounds.right, 160);
    unsigned long offset = 0, size = 0;
    EXPECT_EQ(GraphicsImportGetDataOffsetAndSize(imp.ci, &offset, &size), codecBadDataErr);
    ImageDescriptionHandle desc = nullptr;
    EXPECT_EQ(GraphicsImportGetImageDescription(imp.ci, &desc), codecBadDataErr);
    EXPECT_EQ(desc, nullptr);
    EXPECT_EQ(QuickTimeU::GetImageDataFromFile(spec), nullptr);
    EXPECT_EQ(QuickTimeU::GetImageDescFromFile(spec), nullptr);
    FSSpec copy{};
    EXPECT_TRUE(QuickTimeU::CreateScaledImageFile(spec, copy, 80, 60));
    EXPECT_EQ(QuickTimeU::GetImageDataFromFile(copy), nullptr);
    FSpDelete(&copy);
  }
  // The whole stream, for contrast, is complete.
  media::JpegLayout layout;
  ASSERT_EQ(media::ParseJpegLayout(reinterpret_cast<const std::uint8_t*>(colour.data()), colour.size(), &layout), media::Status::ok);
  EXPECT_EQ(media::JpegMissingPart(layout), nullptr);
}

TEST(JpegDecoder, DamagedScanDataIsAFailureNotAGreyPicture) {
  // Streams whose structure is whole (frame, scan, end of image) but whose scan data libjpeg
  // can only pad or resynchronise: the decode for a scaled copy must fail.
  std::string plain = encode(scene(96, 64, 3), {85});
  std::string restarts = encode(scene(96, 64, 3), {85, false, 1});
  std::string progressive = encode(scene(96, 64, 3), {85, true});
  auto scanStart = [](const std::string& s) { return s.find("\xFF\xDA") + 2 + 12; };
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string cutThenEnd = plain.substr(0, (scanStart(plain) + plain.size()) / 2) + "\xFF\xD9";
  std::string progressiveCut = progressive.substr(0, progressive.size() * 2 / 3) + "\xFF\xD9";
  std::string missingRestart = restarts;
  std::size_t rst = missingRestart.find("\xFF\xD1");
  ASSERT_NE(rst, std::string::npos);
  missingRestart.erase(rst, 2);
  const Case cases[] = {
      {"scan data cut, then the end of image", cutThenEnd},
      {"progressive scans cut, then the end of image", progressiveCut},
      {"a restart marker missing", missingRestart},
  };
  // Decoded at full size into a resampler that keeps it.
  auto decodeWhole = [](const std::string& bytes, media::PixelImage* out) {
    media::RegionResampler same(0, 0, 96, 64, 96, 64, 96, 64);
    media::Status s =
        media::JpegDecodeScaled(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 96, 64, &same);
    return s != media::Status::ok ? s : same.finish(out);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    media::PixelImage out;
    EXPECT_EQ(decodeWhole(c.bytes, &out), media::Status::damaged);
    EXPECT_EQ(out.width, 0);
  }
  media::PixelImage whole;
  EXPECT_EQ(decodeWhole(plain, &whole), media::Status::ok);
  EXPECT_EQ(whole.width, 96);
}

TEST(RowResampler, StreamedRowsGiveTheAreaAverageKeepingOnlyAFewRows) {
  // The definition, computed directly over the whole picture: each output pixel is the mean of
  // the source area it covers, partly covered pixels weighted by the part.
  auto areaAverage = [](const Picture& p, double x0, double y0, double x1, double y1, int w, int h) {
    Picture r{w, h, p.channels, std::vector<std::uint8_t>(std::size_t(w) * h * p.channels)};
    const double sx = (x1 - x0) / w, sy = (y1 - y0) / h;
    for (int oy = 0; oy < h; ++oy)
      for (int ox = 0; ox < w; ++ox)
        for (int c = 0; c < p.channels; ++c) {
          double a = x0 + ox * sx, b = a + sx, t = y0 + oy * sy, u = t + sy, sum = 0, area = 0;
          for (int y = int(std::floor(t)); y < std::min(p.height, int(std::ceil(u))); ++y)
            for (int x = int(std::floor(a)); x < std::min(p.width, int(std::ceil(b))); ++x) {
              double cover = (std::min<double>(b, x + 1) - std::max<double>(a, x)) *
                             (std::min<double>(u, y + 1) - std::max<double>(t, y));
              sum += cover * p.at(x, y)[c];
              area += cover;
            }
          r.px[(std::size_t(oy) * w + ox) * p.channels + c] = std::uint8_t(std::lround(sum / area));
        }
    return r;
  };
  auto maxDiff = [](const Picture& a, const media::PixelImage& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.px.size(); ++i) worst = std::max(worst, std::abs(int(a.px[i]) - int(b.pixels[i])));
    return worst;
  };
  struct Case {
    const char* name;
    int width, height, channels;
    double x0, y0, x1, y1;  // the region, in the picture's own pixels
    int outWidth, outHeight;
  } cases[] = {
      {"4:1", 400, 300, 3, 0, 0, 400, 300, 100, 75},
      {"5:3, as a 1000-wide decode to 600", 1000, 750, 3, 0, 0, 1000, 750, 600, 450},
      {"grey, 5:3 across and 7:2 down", 500, 350, 1, 0, 0, 500, 350, 300, 100},
      {"a crop with fractional edges", 320, 240, 3, 10.5, 20.25, 250.75, 200.5, 97, 61},
      {"a tall strip to one row", 8, 600, 3, 0, 0, 8, 600, 4, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Picture source = scene(c.width, c.height, c.channels);
    media::RegionResampler resampler(c.x0, c.y0, c.x1, c.y1, c.width, c.height, c.outWidth, c.outHeight);
    ASSERT_EQ(resampler.begin(c.width, c.height, c.channels), media::Status::ok);
    std::set<const std::uint8_t*> buffers;
    for (int y = 0; y < c.height; ++y) {
      std::uint8_t* row = resampler.rowBuffer(y);
      buffers.insert(row);
      std::memcpy(row, source.at(0, y), std::size_t(c.width) * c.channels);
      resampler.rowFilled(y);
    }
    media::PixelImage out;
    ASSERT_EQ(resampler.finish(&out), media::Status::ok);
    ASSERT_EQ(out.width, c.outWidth);
    ASSERT_EQ(out.height, c.outHeight);
    EXPECT_LE(maxDiff(areaAverage(source, c.x0, c.y0, c.x1, c.y1, c.outWidth, c.outHeight), out), 1);
    // No more rows than one output row's footprint: the source is never held whole.
    EXPECT_LE(double(buffers.size()), std::ceil((c.y1 - c.y0) / c.outHeight) + 1);
  }

  // Rows that never came leave no picture; neither do impossible regions and sizes.
  media::RegionResampler cut(0, 0, 100, 100, 100, 100, 10, 10);
  ASSERT_EQ(cut.begin(100, 100, 3), media::Status::ok);
  for (int y = 0; y < 50; ++y) cut.rowFilled(y);
  media::PixelImage none;
  EXPECT_EQ(cut.finish(&none), media::Status::damaged);
  EXPECT_EQ(none.width, 0);
  EXPECT_EQ(media::RegionResampler(0, 0, 101, 100, 100, 100, 10, 10).begin(100, 100, 3), media::Status::badArgument);
  EXPECT_EQ(media::RegionResampler(5, 0, 5, 100, 100, 100, 10, 10).begin(100, 100, 3), media::Status::badArgument);
  EXPECT_EQ(media::RegionResampler(0, 0, 100, 100, 100, 100, 0, 10).begin(100, 100, 3), media::Status::badArgument);
  EXPECT_EQ(media::RegionResampler(0, 0, 100, 100, 100, 100, 10, 10).begin(100, 100, 4), media::Status::badArgument);
}

TEST(JpegImporter, RefusesWhatIsNotAReadableJpeg) {
  ScratchDir dir;
  std::string colour = encode(scene(40, 30, 3));
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"empty", ""},
      {"PNG", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
      {"text", "just some words, no picture"},
      {"SOI only", "\xFF\xD8"},
      {"cut before the frame header", colour.substr(0, 20)},
      {"no frame header before EOI", "\xFF\xD8\xFF\xFE" + be16(4) + "ab\xFF\xD9"},
      {"zero width", headerOnlyJpeg(0, 10)},
      {"segment length below 2", "\xFF\xD8\xFF\xE0" + be16(1) + "\xFF\xD9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Opened imp(writeImage(dir, "x.jpg", c.bytes));
    EXPECT_NE(imp.err, noErr);
    EXPECT_EQ(imp.ci, nullptr);
    FSSpec spec = specFor(dir.file("x.jpg"));
    EXPECT_EQ(QuickTimeU::GetImageDataFromFile(spec), nullptr);
    EXPECT_EQ(QuickTimeU::GetImageDescFromFile(spec), nullptr);
    short w = 5, h = 5;
    EXPECT_NE(QuickTimeU::GetScaledDimension(spec, &w, &h, 600), 0);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
  }
  FSSpec missing = specFor(dir.file("missing.jpg"));
  Opened none(missing);
  EXPECT_EQ(none.err, fnfErr);
  mkdir(dir.file("folder.jpg").c_str(), 0755);
  Opened folder(specFor(dir.file("folder.jpg")));
  EXPECT_NE(folder.err, noErr);
}

TEST(JpegImporter, FrameTooLargeForARectangleKeepsItsProportions) {
  ScratchDir dir;
  Opened wide(writeImage(dir, "wide.jpg", headerOnlyJpeg(40000, 1000)));
  ASSERT_EQ(wide.err, noErr);
  Rect r{};
  ASSERT_EQ(GraphicsImportGetNaturalBounds(wide.ci, &r), noErr);
  EXPECT_EQ(r.right, 32767);
  EXPECT_EQ(r.bottom, 819);  // 1000 × 32767 / 40000, rounded
}

TEST(JpegImporter, ImageInMemoryIsDescribedLikeTheSameFile) {
  ScratchDir dir;
  std::string bytes = withExifThumbnail(encode(scene(120, 90, 1)));
  FSSpec spec = writeImage(dir, "g.jpg", bytes + "junk");
  ImageDescriptionHandle fromFile = QuickTimeU::GetImageDescFromFile(spec);
  ImageDescriptionHandle fromMemory = QuickTimeU::GetImageDescForImage(bytes.data(), bytes.size());
  ASSERT_NE(fromFile, nullptr);
  ASSERT_NE(fromMemory, nullptr);
  EXPECT_EQ(std::memcmp(*fromFile, *fromMemory, 86), 0);
  EXPECT_EQ((*fromMemory)->dataSize, SInt32(bytes.size()));
  DisposeHandle(reinterpret_cast<Handle>(fromFile));
  DisposeHandle(reinterpret_cast<Handle>(fromMemory));
  std::string text = "not an image";
  EXPECT_EQ(QuickTimeU::GetImageDescForImage(text.data(), text.size()), nullptr);
  EXPECT_EQ(QuickTimeU::GetImageDescForImage(nullptr, 0), nullptr);
}

TEST(JpegImporter, DamagedStreamsNeverOverrunOrCrash) {
  // Every truncation point and a spread of byte corruptions of a small progressive JPEG with
  // restart markers and a thumbnail; each is opened, measured and exported.
  ScratchDir dir;
  std::string good = withExifThumbnail(encode(scene(48, 40, 3), {80, true, 1}));
  FSSpec out = specFor(dir.file("out.jpg"));
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int trial = 0; trial < 400; ++trial) {
    std::string bytes = good;
    if (trial < 200) {
      bytes.resize(good.size() * std::size_t(trial) / 200);
    } else {
      for (int k = 0; k < 1 + trial % 6; ++k) bytes[next() % bytes.size()] = char(next() >> 16);
    }
    std::vector<unsigned char> copy(bytes.begin(), bytes.end());
    media::JpegLayout layout;
    if (media::ParseJpegLayout(copy.data(), copy.size(), &layout) == media::Status::ok) {
      EXPECT_LE(layout.dataSize, copy.size());
    }
    Opened imp(writeImage(dir, "d.jpg", bytes));
    if (imp.err != noErr) continue;
    unsigned long offset = 0, size = 0;
    if (GraphicsImportGetDataOffsetAndSize(imp.ci, &offset, &size) == noErr) {
      std::string data(size, '\0');
      EXPECT_EQ(GraphicsImportReadData(imp.ci, data.data(), offset, size), noErr);
    } else {
      EXPECT_NE(media::JpegMissingPart(layout), nullptr);  // only a stream cut short offers no data
    }
    GraphicsExportComponent ex = nullptr;
    ASSERT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeJPEG, &ex), noErr);
    GraphicsExportSetOutputFile(ex, &out);
    GraphicsExportSetInputGraphicsImporter(ex, imp.ci);
    unsigned long written = 0;
    GraphicsExportDoExport(ex, &written);
    CloseComponent(ex);
  }
}

TEST(JpegImporter, ForgedHugeProgressiveFrameIsRefusedNotAllocated) {
  // 60000 by 60000 in a few hundred bytes: its coefficients would need gigabytes.
  ScratchDir dir;
  std::string s = encode(scene(16, 16, 3), {90, true});
  std::size_t sof = s.find("\xFF\xC2");
  s.replace(sof + 5, 4, be16(60000) + be16(60000));
  FSSpec source = writeImage(dir, "bomb.jpg", s);
  FSSpec copy{};
  EXPECT_TRUE(QuickTimeU::CreateScaledImageFile(source, copy, 64, 64));
  EXPECT_EQ(QuickTimeU::GetImageDataFromFile(copy), nullptr);
  FSpDelete(&copy);
}

// A progressive picture holds all its coefficients while it decodes, whatever the scale: past the
// decoder's cap (about 3 bytes a pixel at 4:2:0) it is refused as too large, below it it is
// decoded (here: found damaged, its few bytes of data standing for a larger frame).
TEST(JpegDecoder, ProgressivePicturesPastTheMemoryCapAreRefused) {
  const std::string small = encode(scene(16, 16, 3), {90, true});
  const struct {
    int width, height;
    media::Status whole;   // decoded at full size: every coefficient held
    media::Status eighth;  // at 1/8: the DC scans alone, 2 bytes a block
  } rows[] = {
      {16000, 16000, media::Status::noMemory, media::Status::damaged},
      {9000, 9000, media::Status::noMemory, media::Status::damaged},
      {8000, 6000, media::Status::damaged, media::Status::damaged},
      {16, 16, media::Status::ok, media::Status::ok},
  };
  ASSERT_LT(8000.0 * 6000 * 3, double(media::kMaxJpegDecodeBytes));
  ASSERT_GT(9000.0 * 9000 * 3, double(media::kMaxJpegDecodeBytes));
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.width) + " x " + std::to_string(r.height));
    std::string s = small;
    const std::size_t sof = s.find("\xFF\xC2");
    s.replace(sof + 5, 4, be16(r.height) + be16(r.width));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
    media::RegionResampler whole(0, 0, r.width, r.height, r.width, r.height, 1, 1);
    EXPECT_EQ(media::JpegDecodeScaled(bytes, s.size(), std::uint32_t(r.width), std::uint32_t(r.height), &whole), r.whole);
    // The stream holds 16 x 16 pixels' data: the larger frames run out of it.
    media::RegionResampler eighth(0, 0, r.width, r.height, r.width, r.height, 1, 1);
    EXPECT_EQ(media::JpegDecodeScaled(bytes, s.size(), 1, 1, &eighth), r.eighth);
  }
}

TEST(JpegImporter, EveryCorpusPhotographIsReadSafely) {
  std::vector<std::string> files = testsupport::corpusJpegs();
  if (files.empty()) GTEST_SKIP() << "corpus not present";
  ScratchDir dir;
  FSSpec out = specFor(dir.file("copy.jpg"));
  int opened = 0, exported = 0, endAtEOI = 0, ended = 0, cutShort = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    FSSpec spec = specFor(path);
    std::string file = testsupport::readFile(path);
    Opened imp(spec);
    if (imp.err != noErr) continue;
    ++opened;
    std::vector<std::uint8_t> whole(file.begin(), file.end());
    media::JpegLayout layout;
    ASSERT_EQ(media::ParseJpegLayout(whole.data(), whole.size(), &layout), media::Status::ok);
    // A file cut short (the corpus keeps some on purpose) offers no image data.
    if (media::JpegMissingPart(layout) != nullptr) {
      unsigned long offset = 0, size = 0;
      EXPECT_EQ(GraphicsImportGetDataOffsetAndSize(imp.ci, &offset, &size), codecBadDataErr);
      ++cutShort;
      continue;
    }
    std::string bytes = imageBytes(imp.ci);
    ImageDescriptionHandle desc = nullptr;
    ASSERT_EQ(GraphicsImportGetImageDescription(imp.ci, &desc), noErr);
    EXPECT_EQ((*desc)->dataSize, SInt32(bytes.size()));
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8");
    // Camera files end at their EOI; the range must reach it, past any thumbnail's. (The
    // deliberately damaged ones may hold an earlier end of image followed by junk.)
    bool damaged = path.find("corrupted") != std::string::npos || path.find("/invalid/") != std::string::npos;
    if (!damaged && file.size() >= 2 && file.compare(file.size() - 2, 2, "\xFF\xD9") == 0) ++endAtEOI, ended += bytes == file;
    DisposeHandle(reinterpret_cast<Handle>(desc));
    // A small scaled copy (written to scratch, never beside the corpus) exercises decoding;
    // stripped or odd files may fail to decode, never crash.
    QuickTimeU::AdjustImageInt(imp.ci, 0, SDimension32{64, 48}, SCALE_AUTO);
    GraphicsExportComponent ex = nullptr;
    ASSERT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeJPEG, &ex), noErr);
    GraphicsExportSetOutputFile(ex, &out);
    GraphicsExportSetInputGraphicsImporter(ex, imp.ci);
    unsigned long written = 0;
    if (GraphicsExportDoExport(ex, &written) == noErr) ++exported;
    CloseComponent(ex);
  }
  EXPECT_GT(opened, int(files.size()) / 2);
  EXPECT_GT(exported, 0);
  EXPECT_EQ(ended, endAtEOI);
  std::printf("corpus: %zu files, %d opened (%d cut short), %d exported, %d of %d ending at EOI delimited whole\n",
              files.size(), opened, cutShort, exported, ended, endAtEOI);
}
