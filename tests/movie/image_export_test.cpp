// SPDX-License-Identifier: GPL-2.0-or-later
// The JPEG exporter: the drawn picture's size and placement from the matrix, the quality of
// its scaling against reference scalers, reduced-scale decoding, and safe writing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>

#include "movie/image_fixtures.h"
#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/GraphicsImport.h"
#include "media/JpegCodec.h"
#include "toolbox/Movies/GraphicsComponents.h"

using namespace imagetest;
using testsupport::ScratchDir;

namespace {
// Exports the file's picture through the given box (as the scaled copy does, or with a
// rotation) into out.jpg and decodes the result.
struct Export {
  OSErr err = noErr;
  unsigned long written = 0;
  Picture picture;
  int components = 0;
};

Export exportThrough(const ScratchDir& dir, const FSSpec& source, SDimension32 box, unsigned short rotation = 0,
                     CodecQ quality = CodecQ(codecHighQuality)) {
  Export r;
  GraphicsImportComponent imp = nullptr;
  GraphicsExportComponent ex = nullptr;
  EXPECT_EQ(GetGraphicsImporterForFile(&source, &imp), noErr);
  EXPECT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeJPEG, &ex), noErr);
  QuickTimeU::AdjustImageInt(imp, rotation, box, SCALE_AUTO);
  FSSpec out = specFor(dir.file("out.jpg"));
  GraphicsExportSetOutputFile(ex, &out);
  GraphicsExportSetInputGraphicsImporter(ex, imp);
  GraphicsExportSetCompressionQuality(ex, quality);
  r.err = GraphicsExportDoExport(ex, &r.written);
  CloseComponent(ex);
  CloseComponent(imp);
  if (r.err == noErr) {
    std::string bytes = testsupport::readFile(dir.file("out.jpg"));
    EXPECT_EQ(bytes.size(), r.written);
    EXPECT_TRUE(decode(bytes, &r.picture, &r.components));
  }
  return r;
}

// ffmpeg's scaling of the same source, decoded from a lossless PPM/PGM.
bool ffmpegScale(const ScratchDir& dir, const std::string& source, int w, int h, const char* flags, Picture* out) {
  std::string ppm = dir.file("ref.ppm");
  std::string cmd = "ffmpeg -v error -y -i " + testsupport::shellQuote(source) + " -vf scale=" + std::to_string(w) +
                    ":" + std::to_string(h) + ":flags=" + flags + " -pix_fmt rgb24 -f image2 -c:v ppm " +
                    testsupport::shellQuote(ppm);
  if (testsupport::run(cmd) != 0) return false;
  std::string bytes = testsupport::readFile(ppm);
  int pw = 0, ph = 0, maxv = 0, used = 0;
  if (std::sscanf(bytes.c_str(), "P6 %d %d %d%n", &pw, &ph, &maxv, &used) != 3 || pw != w || ph != h) return false;
  std::size_t start = std::size_t(used) + 1;
  if (bytes.size() < start + std::size_t(w) * h * 3) return false;
  out->width = w, out->height = h, out->channels = 3;
  out->px.assign(bytes.begin() + long(start), bytes.begin() + long(start + std::size_t(w) * h * 3));
  return true;
}
}  // namespace

TEST(JpegExporter, ScaledCopyMatchesReferenceScalers) {
  ScratchDir dir;
  Picture original = scene(1600, 1200, 3);
  std::string bytes = encode(original, {95, false, 0});
  FSSpec source = writeImage(dir, "photo.jpg", bytes);
  Picture decodedSource;
  ASSERT_TRUE(decode(bytes, &decodedSource));

  // An integer ratio against an exact box average of the full-size decode.
  Export quarter = exportThrough(dir, source, SDimension32{400, 300});
  ASSERT_EQ(quarter.err, noErr);
  ASSERT_EQ(quarter.picture.width, 400);
  ASSERT_EQ(quarter.picture.height, 300);
  double quarterDiff = meanAbsDiff(quarter.picture, boxReduce(decodedSource, 4));
  EXPECT_LT(quarterDiff, 2.5);
  std::printf("mean difference from an exact 4:1 box average: %.3f\n", quarterDiff);

  // The worked 600-wide copy against ffmpeg's area scaler.
  Export copy = exportThrough(dir, source, SDimension32{600, 450});
  ASSERT_EQ(copy.err, noErr);
  ASSERT_EQ(copy.picture.width, 600);
  ASSERT_EQ(copy.picture.height, 450);
  EXPECT_EQ(copy.components, 3);
  REQUIRE_TOOL("ffmpeg");
  Picture reference;
  ASSERT_TRUE(ffmpegScale(dir, dir.file("photo.jpg"), 600, 450, "area", &reference));
  double areaDiff = meanAbsDiff(copy.picture, reference);
  // Point sampling differs from it by about 9.5 on this picture; a DCT-scaled decode followed
  // by the area filter and re-encoding at high quality stays near 3.
  EXPECT_LT(areaDiff, 4.5);
  std::printf("mean difference from ffmpeg's area scaling to 600x450: %.3f\n", areaDiff);

  // Enlargement interpolates: compared with ffmpeg's bilinear scaler.
  FSSpec small = writeImage(dir, "small.jpg", encode(scene(200, 150, 3), {95}));
  Export big = exportThrough(dir, small, SDimension32{500, 375});
  ASSERT_EQ(big.err, noErr);
  ASSERT_EQ(big.picture.width, 500);
  Picture bigReference;
  ASSERT_TRUE(ffmpegScale(dir, dir.file("small.jpg"), 500, 375, "bilinear", &bigReference));
  double bilinearDiff = meanAbsDiff(big.picture, bigReference);
  EXPECT_LT(bilinearDiff, 3.0);
  std::printf("mean difference from ffmpeg's bilinear enlargement to 500x375: %.3f\n", bilinearDiff);
}

TEST(JpegExporter, LargePhotographIsDecodedAtAReducedDctScale) {
  ScratchDir dir;
  FSSpec source = writeImage(dir, "big.jpg", encode(scene(4000, 3000, 3), {80}));
  Export copy = exportThrough(dir, source, SDimension32{600, 450});
  ASSERT_EQ(copy.err, noErr);
  EXPECT_EQ(copy.picture.width, 600);
  EXPECT_EQ(copy.picture.height, 450);
  // 1/8 would give 500 wide, below 600; 2/8 is the smallest scale at or above it.
  media::JpegDecodeStats stats = media::JpegLastDecodeStats();
  EXPECT_EQ(stats.scaleNum, 2);
  EXPECT_EQ(stats.outputWidth, 1000u);
  EXPECT_EQ(stats.outputHeight, 750u);

  // A photograph smaller than the box is decoded at full size and keeps it.
  FSSpec small = writeImage(dir, "small.jpg", encode(scene(400, 300, 3)));
  Export same = exportThrough(dir, small, SDimension32{400, 300});
  ASSERT_EQ(same.err, noErr);
  EXPECT_EQ(media::JpegLastDecodeStats().scaleNum, 8);
  EXPECT_EQ(same.picture.width, 400);
}

TEST(JpegExporter, TurnsAndTranslationsFollowTheMatrixWithoutMargins) {
  ScratchDir dir;
  // Red top left, green top right, white bottom right, blue bottom left.
  FSSpec source = writeImage(dir, "q.jpg", encode(quadrants(1600, 1200), {95}));
  auto colourAt = [](const Picture& p, double fx, double fy) {
    const std::uint8_t* c = p.at(int(fx * p.width), int(fy * p.height));
    if (c[0] > 200 && c[1] > 200 && c[2] > 200) return 'W';
    if (c[0] > 150) return 'R';
    if (c[1] > 150) return 'G';
    if (c[2] > 150) return 'B';
    return '?';
  };
  auto layout = [&](const Picture& p) {
    return std::string{colourAt(p, 0.25, 0.25), colourAt(p, 0.75, 0.25), colourAt(p, 0.75, 0.75),
                       colourAt(p, 0.25, 0.75)};
  };
  struct Case {
    unsigned short rotation;
    int width, height;
    const char* corners;  // top left, top right, bottom right, bottom left
  } cases[] = {
      {0, 600, 450, "RGWB"},
      // (x, y) -> (s·y + 131, 450 − s·x): the source's top edge becomes the left edge.
      {90, 338, 450, "GWBR"},
      {180, 450, 338, "WBRG"},
      {270, 338, 450, "BRGW"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rotation);
    SDimension32 box = c.rotation == 0 ? SDimension32{600, 450} : SDimension32{450, 600};
    Export e = exportThrough(dir, source, box, c.rotation);
    ASSERT_EQ(e.err, noErr);
    EXPECT_EQ(e.picture.width, c.width);
    EXPECT_EQ(e.picture.height, c.height);
    EXPECT_EQ(layout(e.picture), c.corners);
  }

  // A source rectangle crops before scaling: the bottom-right quadrant alone, halved.
  GraphicsImportComponent imp = nullptr;
  GraphicsExportComponent ex = nullptr;
  ASSERT_EQ(GetGraphicsImporterForFile(&source, &imp), noErr);
  Rect outside{0, 0, 1201, 1600}, quarter{600, 800, 1200, 1600};
  EXPECT_EQ(GraphicsImportSetSourceRect(imp, &outside), paramErr);
  ASSERT_EQ(GraphicsImportSetSourceRect(imp, &quarter), noErr);
  MatrixRecord half{};
  SetIdentityMatrix(&half);
  half.matrix[0][0] = half.matrix[1][1] = fixed1 / 2;
  GraphicsImportSetMatrix(imp, &half);
  ASSERT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeJPEG, &ex), noErr);
  FSSpec out = specFor(dir.file("crop.jpg"));
  GraphicsExportSetOutputFile(ex, &out);
  GraphicsExportSetInputGraphicsImporter(ex, imp);
  ASSERT_EQ(GraphicsExportDoExport(ex, nullptr), noErr);
  CloseComponent(ex);
  CloseComponent(imp);
  Picture crop;
  ASSERT_TRUE(decode(testsupport::readFile(dir.file("crop.jpg")), &crop));
  EXPECT_EQ(crop.width, 400);
  EXPECT_EQ(crop.height, 300);
  EXPECT_EQ(layout(crop), "WWWW");

  // A portrait photograph centred in a landscape box is exported at its own scaled size.
  FSSpec portrait = writeImage(dir, "p.jpg", encode(quadrants(1200, 1600), {95}));
  Export e = exportThrough(dir, portrait, SDimension32{800, 600});
  ASSERT_EQ(e.err, noErr);
  EXPECT_EQ(e.picture.width, 450);
  EXPECT_EQ(e.picture.height, 600);
  EXPECT_EQ(layout(e.picture), "RGWB");
}

TEST(JpegExporter, GreyStaysGreyAndCmykBecomesRgb) {
  ScratchDir dir;
  FSSpec grey = writeImage(dir, "g.jpg", encode(scene(640, 480, 1)));
  Export g = exportThrough(dir, grey, SDimension32{320, 240});
  ASSERT_EQ(g.err, noErr);
  EXPECT_EQ(g.components, 1);
  EXPECT_EQ(g.picture.width, 320);

  Picture colours = quadrants(400, 300);
  EncodeOptions cmyk;
  cmyk.cmyk = true;
  std::string bytes = encode(colours, cmyk);
  // Adobe's APP14 marks the CMYK as inverted, as Adobe applications write it.
  bytes = withSegment(bytes, 0xEE, std::string("Adobe\0\x64\0\0\0\0\0", 12));
  FSSpec source = writeImage(dir, "c.jpg", bytes);
  Export c = exportThrough(dir, source, SDimension32{200, 150});
  ASSERT_EQ(c.err, noErr);
  EXPECT_EQ(c.components, 3);
  EXPECT_LT(meanAbsDiff(c.picture, boxReduce(colours, 2)), 6.0);
}

TEST(JpegExporter, WritesBaselineAtTheDocumentedQualityAndFailsWithoutDamage) {
  EXPECT_EQ(JpegQualityFor(CodecQ(codecHighQuality)), 90);

  ScratchDir dir;
  FSSpec source = writeImage(dir, "photo.jpg", encode(scene(320, 240, 3)));
  Export hi = exportThrough(dir, source, SDimension32{320, 240}, 0, CodecQ(codecHighQuality));
  std::string out = testsupport::readFile(dir.file("out.jpg"));
  EXPECT_NE(out.find("\xFF\xC0"), std::string::npos);  // baseline frame header
  EXPECT_EQ(out.find("\xFF\xC2"), std::string::npos);
  Export lo = exportThrough(dir, source, SDimension32{320, 240}, 0, codecLowQuality);
  EXPECT_LT(lo.written, hi.written);

  // Failed exports leave an existing output file as it was and no stray files.
  testsupport::writeFile(dir.file("out.jpg"), "previous");
  chmod(dir.file("out.jpg").c_str(), 0640);
  FSSpec target = specFor(dir.file("out.jpg"));
  GraphicsExportComponent ex = nullptr;
  ASSERT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeJPEG, &ex), noErr);
  unsigned long written = 7;
  EXPECT_NE(GraphicsExportDoExport(ex, &written), noErr);  // neither input nor output
  EXPECT_EQ(written, 0u);
  GraphicsExportSetOutputFile(ex, &target);
  EXPECT_NE(GraphicsExportDoExport(ex, &written), noErr);  // no input
  GraphicsImportComponent imp = nullptr;
  ASSERT_EQ(GetGraphicsImporterForFile(&source, &imp), noErr);
  MatrixRecord shear{};
  SetIdentityMatrix(&shear);
  shear.matrix[1][0] = fixed1 / 2;
  GraphicsImportSetMatrix(imp, &shear);
  GraphicsExportSetInputGraphicsImporter(ex, imp);
  EXPECT_EQ(GraphicsExportDoExport(ex, &written), codecUnimpErr);
  MatrixRecord empty{};
  SetIdentityMatrix(&empty);
  empty.matrix[0][0] = 1;  // a picture narrower than a pixel
  GraphicsImportSetMatrix(imp, &empty);
  EXPECT_EQ(GraphicsExportDoExport(ex, &written), invalidRect);
  EXPECT_EQ(testsupport::readFile(dir.file("out.jpg")), "previous");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"out.jpg", "photo.jpg"}));

  // A successful export replaces it whole and keeps its permissions.
  GraphicsImportSetMatrix(imp, nullptr);
  EXPECT_EQ(GraphicsExportDoExport(ex, &written), noErr);
  struct stat st {};
  ASSERT_EQ(stat(dir.file("out.jpg").c_str(), &st), 0);
  EXPECT_EQ(std::size_t(st.st_size), written);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  CloseComponent(ex);
  CloseComponent(imp);
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"out.jpg", "photo.jpg"}));
}

TEST(JpegExporter, ExportsIntoAHandleAsIntoAFile) {
  ScratchDir dir;
  FSSpec source = writeImage(dir, "photo.jpg", encode(scene(640, 480, 3)));
  GraphicsImportComponent imp = nullptr;
  GraphicsExportComponent ex = nullptr;
  ASSERT_EQ(GetGraphicsImporterForFile(&source, &imp), noErr);
  ASSERT_EQ(OpenADefaultComponent(GraphicsExporterComponentType, kQTFileTypeJPEG, &ex), noErr);
  QuickTimeU::AdjustImageInt(imp, 0, SDimension32{320, 240}, SCALE_AUTO);
  GraphicsExportSetInputGraphicsImporter(ex, imp);
  GraphicsExportSetCompressionQuality(ex, CodecQ(codecHighQuality));

  FSSpec file = specFor(dir.file("out.jpg"));
  ASSERT_EQ(GraphicsExportSetOutputFile(ex, &file), noErr);
  unsigned long toFile = 0;
  ASSERT_EQ(GraphicsExportDoExport(ex, &toFile), noErr);
  const std::string fileBytes = testsupport::readFile(dir.file("out.jpg"));
  Handle h = NewHandle(3);
  EXPECT_EQ(GraphicsExportSetOutputHandle(ex, nullptr), nilHandleErr);
  ASSERT_EQ(GraphicsExportSetOutputHandle(ex, h), noErr);
  std::remove(dir.file("out.jpg").c_str());
  unsigned long toHandle = 0;
  ASSERT_EQ(GraphicsExportDoExport(ex, &toHandle), noErr);
  // The same bytes, sized exactly; the file that the handle replaced as the output is not written.
  EXPECT_EQ(toHandle, toFile);
  ASSERT_EQ(std::size_t(GetHandleSize(h)), toHandle);
  EXPECT_TRUE(std::string(*h, toHandle) == fileBytes);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"photo.jpg"});
  Picture picture;
  ASSERT_TRUE(decode(std::string(*h, toHandle), &picture));
  EXPECT_EQ(picture.width, 320);
  EXPECT_EQ(picture.height, 240);

  // A failed export leaves the handle as it was.
  const std::string before(*h, GetHandleSize(h));
  MatrixRecord shear{};
  SetIdentityMatrix(&shear);
  shear.matrix[1][0] = fixed1 / 2;
  GraphicsImportSetMatrix(imp, &shear);
  EXPECT_EQ(GraphicsExportDoExport(ex, &toHandle), codecUnimpErr);
  EXPECT_EQ(toHandle, 0u);
  EXPECT_EQ(std::string(*h, GetHandleSize(h)), before);

  // Naming a file again sends the next export there, not into the handle.
  GraphicsImportSetMatrix(imp, nullptr);
  ASSERT_EQ(GraphicsExportSetOutputFile(ex, &file), noErr);
  ASSERT_EQ(GraphicsExportDoExport(ex, &toFile), noErr);
  EXPECT_EQ(std::string(*h, GetHandleSize(h)), before);
  EXPECT_EQ(testsupport::readFile(dir.file("out.jpg")).size(), toFile);
  CloseComponent(ex);
  CloseComponent(imp);
  DisposeHandle(h);
}
