// SPDX-License-Identifier: GPL-2.0-or-later
// Sizing the video track, fitting the picture into its box, and the scaled copy: the exact
// arithmetic on the worked sizes, and wide arithmetic where 16 bits would wrap.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "movie/image_fixtures.h"
#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Movies/GraphicsImport.h"

using namespace imagetest;
using testsupport::ScratchDir;

namespace {
// An importer for a picture of the given size held in memory.
struct MemoryImporter {
  GraphicsImportComponent ci = nullptr;
  Handle data = nullptr, ref = nullptr;
  explicit MemoryImporter(const std::string& bytes) {
    PtrToHand(bytes.data(), &data, long(bytes.size()));
    PtrToHand(&data, &ref, sizeof(Handle));
    EXPECT_EQ(GetGraphicsImporterForDataRef(ref, kGraphicsHandleDataRefType, &ci), noErr);
  }
  ~MemoryImporter() {
    if (ci) CloseComponent(ci);
    DisposeHandle(ref);
    DisposeHandle(data);
  }
  MatrixRecord matrix() const {
    MatrixRecord m{};
    EXPECT_EQ(GraphicsImportGetMatrix(ci, &m), noErr);
    return m;
  }
};

Rect boundsOf(const FSSpec& spec) {
  GraphicsImportComponent ci = nullptr;
  Rect r{};
  if (GetGraphicsImporterForFile(&spec, &ci) == noErr) {
    GraphicsImportGetNaturalBounds(ci, &r);
    CloseComponent(ci);
  }
  return r;
}
}  // namespace

TEST(ScaledDimension, WidthIsTheTargetAndHeightKeepsTheAspect) {
  ScratchDir dir;
  struct Case {
    unsigned w, h;
    short target, wantW, wantH;
  } cases[] = {
      {1600, 1200, 600, 600, 450}, {1200, 1600, 600, 600, 800}, {400, 300, 600, 600, 450},
      {600, 377, 600, 600, 377},   {700, 300, 600, 600, 257},   {1600, 1200, 0, 1600, 1200},
      {123, 45, -5, 123, 45},
      // 16 bits would wrap these; the result is clamped instead, and never thinner than 2.
      {100, 30000, 600, 600, 32767}, {32767, 10, 600, 600, 2}, {4000, 3, 600, 600, 2},
      // Over 32767 wide the bounds are a reduced stand-in (32767 by 24575), so truncation gives 449.
      {40000, 30000, 600, 600, 449},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " target " << c.target);
    FSSpec spec = writeImage(dir, "p.jpg", headerOnlyJpeg(c.w, c.h));
    short w = -1, h = -1;
    EXPECT_EQ(QuickTimeU::GetScaledDimension(spec, &w, &h, c.target), 0);
    EXPECT_EQ(w, c.wantW);
    EXPECT_EQ(h, c.wantH);
  }
  FSSpec missing = specFor(dir.file("none.jpg"));
  short w = -1, h = -1;
  EXPECT_EQ(QuickTimeU::GetScaledDimension(missing, &w, &h, 600), fnfErr);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}

TEST(AdjustImage, ScalesAndCentresThePictureInItsBox) {
  // Box after the portrait swap and the no-enlargement rule; scale num/den; offsets.
  struct Case {
    unsigned w, h;
    SDimension32 box;
    SCALE_TYPE type;
    int num, den, ox, oy;
  } cases[] = {
      {1600, 1200, {600, 450}, SCALE_AUTO, 600, 1600, 0, 0},
      {1200, 1600, {800, 600}, SCALE_AUTO, 600, 1600, 175, 0},
      {1000, 1000, {600, 600}, SCALE_AUTO, 600, 1000, 0, 0},  // square: by height
      {1000, 1000, {600, 300}, SCALE_AUTO, 300, 1000, 150, 0},
      {400, 300, {400, 300}, SCALE_AUTO, 400, 400, 0, 0},
      {700, 300, {600, 257}, SCALE_AUTO, 600, 700, 0, 0},
      {1600, 1200, {600, 600}, SCALE_FIT_WIDTH, 600, 1600, 0, 75},
      {1600, 1200, {600, 600}, SCALE_FIT_HEIGHT, 600, 1200, -100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " box " << c.box.width << "x" << c.box.height);
    MemoryImporter imp(headerOnlyJpeg(c.w, c.h));
    EXPECT_EQ(QuickTimeU::AdjustImageInt(imp.ci, 0, c.box, c.type), noErr);
    MatrixRecord m = imp.matrix();
    Fixed scaled = Fixed(std::int64_t(c.num) * fixed1 / c.den);
    EXPECT_EQ(m.matrix[0][0], scaled);
    EXPECT_EQ(m.matrix[1][1], scaled);
    EXPECT_EQ(m.matrix[0][1], 0);
    EXPECT_EQ(m.matrix[1][0], 0);
    EXPECT_EQ(m.matrix[2][0], IntToFixed(c.ox));
    EXPECT_EQ(m.matrix[2][1], IntToFixed(c.oy));
    EXPECT_EQ(m.matrix[2][2], 0x40000000);
  }
}

TEST(AdjustImage, QuarterTurnsPlaceTheTurnedPictureInTheBox) {
  // 1600×1200 into 450×600: turned by 90 or 270 it is fitted by height, 450/1600, so the
  // turned picture is 337 by 450 with offset (131, 0).
  const Fixed s = Fixed(450LL * fixed1 / 1600);
  struct Case {
    unsigned short rotation;
    Fixed a, b, c, d;
    int tx, ty;
  } cases[] = {
      {90, 0, -s, s, 0, 131, 450},
      {270, 0, s, -s, 0, 131 + 337, 0},
      // 180 keeps the pairs: landscape, fitted by width 450/1600 to 450 by 337, offset (0, 131).
      {180, -s, 0, 0, -s, 450, 131 + 337},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rotation);
    MemoryImporter imp(headerOnlyJpeg(1600, 1200));
    EXPECT_EQ(QuickTimeU::AdjustImageInt(imp.ci, c.rotation, SDimension32{450, 600}, SCALE_AUTO), noErr);
    MatrixRecord m = imp.matrix();
    EXPECT_EQ(m.matrix[0][0], c.a);
    EXPECT_EQ(m.matrix[0][1], c.b);
    EXPECT_EQ(m.matrix[1][0], c.c);
    EXPECT_EQ(m.matrix[1][1], c.d);
    EXPECT_EQ(m.matrix[2][0], IntToFixed(c.tx));
    EXPECT_EQ(m.matrix[2][1], IntToFixed(c.ty));
  }
}

TEST(AdjustImage, ExtremeSizesAreClampedAndEmptySourcesRefused) {
  {
    // Fitting a 32000×100 strip by height into a 32767-high box: the 16-bit width would wrap
    // to −320; clamped it stays at the largest width, and the offset follows it.
    MemoryImporter imp(headerOnlyJpeg(32000, 100));
    MatrixRecord m = imp.matrix();
    m.matrix[0][0] = m.matrix[1][1] = 4 * fixed1;  // a prior scale whose product passes 32 bits
    ASSERT_EQ(GraphicsImportSetMatrix(imp.ci, &m), noErr);
    EXPECT_EQ(QuickTimeU::AdjustImageInt(imp.ci, 0, SDimension32{600, 32767}, SCALE_FIT_HEIGHT), noErr);
    m = imp.matrix();
    EXPECT_EQ(m.matrix[0][0], Fixed(32767LL * 4 * fixed1 / 100));
    EXPECT_EQ(m.matrix[2][0], IntToFixed((600 - 32767) / 2));
    EXPECT_EQ(m.matrix[2][1], 0);
  }
  {
    // A box wider than 16 bits is taken at the largest 16-bit width, not wrapped.
    MemoryImporter imp(headerOnlyJpeg(1000, 500));
    EXPECT_EQ(QuickTimeU::AdjustImageInt(imp.ci, 0, SDimension32{70000, 35000}, SCALE_AUTO), noErr);
    EXPECT_EQ(imp.matrix().matrix[0][0], Fixed(32767LL * fixed1 / 1000));
  }
  // No importer: the source reads as empty, and nothing is divided by zero.
  EXPECT_EQ(QuickTimeU::AdjustImageInt(nullptr, 0, SDimension32{600, 450}, SCALE_AUTO), invalidRect);
}

TEST(ScaledCopy, HasTheWorkedSizesAndIsANewFileBesideThePhotograph) {
  ScratchDir dir;
  // A user's own file of the old fixed name is left alone.
  testsupport::writeFile(dir.file("TempFile.jpg"), "the user's own file");
  struct Case {
    int w, h;
    short argW, argH;
    int outW, outH;
  } cases[] = {
      {1600, 1200, 600, 450, 600, 450}, {1200, 1600, 600, 800, 450, 600}, {1000, 1000, 600, 600, 600, 600},
      {400, 300, 600, 450, 400, 300},   {300, 400, 600, 800, 300, 400},   {700, 300, 600, 257, 600, 257},
      {600, 450, 600, 450, 600, 450},
      // Strips past 1000:1 keep two pixels across, whichever way they lie.
      {4000, 3, 600, 2, 600, 2},        {3, 4000, 600, 32767, 2, 600},    {5000, 1, 600, 2, 600, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    FSSpec source = writeImage(dir, "photo.jpg", encode(scene(c.w, c.h, 3), {75}));
    // The arguments are what the track sizing gives for target 600.
    short tw = 0, th = 0;
    ASSERT_EQ(QuickTimeU::GetScaledDimension(source, &tw, &th, 600), 0);
    EXPECT_EQ(tw, c.argW);
    EXPECT_EQ(th, c.argH);
    FSSpec copy{};
    EXPECT_TRUE(QuickTimeU::CreateScaledImageFile(source, copy, tw, th));
    EXPECT_EQ(copy.parID, source.parID);
    EXPECT_EQ(copy.vRefNum, source.vRefNum);
    std::string copyPath = pathOf(copy);
    EXPECT_NE(copyPath, dir.file("TempFile.jpg"));
    Rect r = boundsOf(copy);
    EXPECT_EQ(r.right, c.outW);
    EXPECT_EQ(r.bottom, c.outH);
    struct stat st {};
    ASSERT_EQ(stat(copyPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // a private file until the caller deletes it

    // Made in memory, the copy is the same picture with the description its file would get.
    char* data = nullptr;
    ImageDescriptionHandle desc = nullptr;
    ASSERT_EQ(QuickTimeU::CreateScaledImage(source, tw, th, &data, &desc), noErr);
    ASSERT_NE(data, nullptr);
    ASSERT_NE(desc, nullptr);
    EXPECT_TRUE(std::string(data, GetPtrSize(data)) == testsupport::readFile(copyPath));
    ImageDescriptionHandle fromFile = QuickTimeU::GetImageDescFromFile(copy);
    ASSERT_NE(fromFile, nullptr);
    EXPECT_EQ(std::memcmp(*desc, *fromFile, 86), 0);
    EXPECT_EQ((*desc)->dataSize, GetPtrSize(data));
    DisposeHandle(reinterpret_cast<Handle>(fromFile));
    DisposeHandle(reinterpret_cast<Handle>(desc));
    DisposePtr(data);
    EXPECT_EQ(FSpDelete(&copy), noErr);
  }
  EXPECT_EQ(testsupport::readFile(dir.file("TempFile.jpg")), "the user's own file");
  EXPECT_EQ(dir.list(), (std::vector<std::string>{"TempFile.jpg", "photo.jpg"}));
}

TEST(ScaledCopy, AnUnreadableSourceStillAnswersTrueAndLeavesNoImage) {
  ScratchDir dir;
  FSSpec source = writeImage(dir, "photo.jpg", "not a jpeg at all");
  FSSpec copy{};
  EXPECT_TRUE(QuickTimeU::CreateScaledImageFile(source, copy, 600, 450));
  EXPECT_EQ(QuickTimeU::GetImageDataFromFile(copy), nullptr);
  EXPECT_EQ(QuickTimeU::GetImageDescFromFile(copy), nullptr);
  FSpDelete(&copy);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"photo.jpg"});

  // In memory the failure says why, and nothing is handed out: not a picture at all, a
  // picture whose scan data is cut short before its end of image, one that is missing.
  std::string whole = encode(scene(320, 240, 3));
  std::size_t scan = whole.find("\xFF\xDA");
  struct Case {
    const char* name;
    std::string bytes;
    OSErr err;
  } cases[] = {
      {"not a picture", "not a jpeg at all", cantFindHandler},
      {"scan data cut short", whole.substr(0, (scan + whole.size()) / 2) + "\xFF\xD9", codecBadDataErr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FSSpec photo = writeImage(dir, "photo.jpg", c.bytes);
    char* data = reinterpret_cast<char*>(1);
    ImageDescriptionHandle desc = reinterpret_cast<ImageDescriptionHandle>(1);
    EXPECT_EQ(QuickTimeU::CreateScaledImage(photo, 300, 225, &data, &desc), c.err);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(desc, nullptr);
  }
  FSSpec missing = specFor(dir.file("gone.jpg"));
  char* data = nullptr;
  ImageDescriptionHandle desc = nullptr;
  EXPECT_NE(QuickTimeU::CreateScaledImage(missing, 300, 225, &data, &desc), noErr);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(dir.list(), std::vector<std::string>{"photo.jpg"});

  // A folder that vanished: no file can be made, and the destination names nothing.
  FSSpec gone = source;
  gone.parID = 0x7FFF0000;
  FSSpec none{};
  EXPECT_TRUE(QuickTimeU::CreateScaledImageFile(gone, none, 600, 450));
  std::string path;
  EXPECT_NE(FSpGetPath(&none, &path), noErr);
  EXPECT_NE(FSpDelete(&none), noErr);
}

TEST(ImageData, IsThePhotographsOwnImageBytesWithAMatchingDescription) {
  ScratchDir dir;
  std::string image = withExifThumbnail(encode(scene(320, 240, 3)));
  FSSpec spec = writeImage(dir, "photo.jpg", image + std::string("\0\0\xFF\xD9trailer", 11));
  char* data = QuickTimeU::GetImageDataFromFile(spec);
  ImageDescriptionHandle desc = QuickTimeU::GetImageDescFromFile(spec);
  ASSERT_NE(data, nullptr);
  ASSERT_NE(desc, nullptr);
  ASSERT_EQ(std::size_t(GetPtrSize(data)), image.size());
  EXPECT_EQ(std::string(data, image.size()), image);
  EXPECT_EQ((*desc)->dataSize, SInt32(image.size()));
  EXPECT_EQ((*desc)->width, 320);
  EXPECT_EQ((*desc)->height, 240);
  DisposePtr(data);
  DisposeHandle(reinterpret_cast<Handle>(desc));

  std::vector<std::string> corpus = testsupport::corpusJpegs();
  for (const std::string& path : corpus) {
    if (path.find("Canon_40D.jpg") == std::string::npos) continue;
    FSSpec photo = specFor(path);
    char* bytes = QuickTimeU::GetImageDataFromFile(photo);
    ImageDescriptionHandle d = QuickTimeU::GetImageDescFromFile(photo);
    ASSERT_NE(bytes, nullptr);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(GetPtrSize(bytes), (*d)->dataSize);
    std::string file = testsupport::readFile(path);
    EXPECT_EQ(std::string(bytes, GetPtrSize(bytes)), file.substr(0, GetPtrSize(bytes)));
    EXPECT_EQ(std::string(bytes + GetPtrSize(bytes) - 2, 2), "\xFF\xD9");
    DisposePtr(bytes);
    DisposeHandle(reinterpret_cast<Handle>(d));
  }
}

// A picture the conversion made (its still has an owner) is shared with every importer, and its
// bytes live on in the image data after the still is gone; one nothing keeps alive is copied.
TEST(ImageData, AStillsOwnBytesAreSharedNotCopied) {
  ScratchDir dir;
  FSSpec none = writeImage(dir, "absent.jpg", "not read");
  const std::string image = encode(scene(64, 48, 3));
  const struct {
    const char* name;
    bool owned;
  } rows[] = {{"owned", true}, {"held elsewhere", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto bytes = std::make_shared<const std::vector<std::uint8_t>>(image.begin(), image.end());
    auto still = std::make_unique<media::Still>();
    still->jpeg = *bytes;
    if (row.owned) still->owner = bytes;
    const std::uint8_t* at = bytes->data();
    char* data = QuickTimeU::GetImageDataFromFile(none, still.get());
    ImageDescriptionHandle desc = QuickTimeU::GetImageDescFromFile(none, still.get());
    ASSERT_NE(data, nullptr);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ((*desc)->width, 64);
    EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(data) == at, row.owned);
    still.reset();
    if (row.owned) bytes.reset();  // the data's block keeps them
    ASSERT_EQ(std::size_t(GetPtrSize(data)), image.size());
    EXPECT_EQ(std::string(data, image.size()), image);
    DisposePtr(data);
    DisposeHandle(reinterpret_cast<Handle>(desc));
  }
  GraphicsImportComponent ci = nullptr;
  EXPECT_EQ(GetGraphicsImporterForBytes(nullptr, reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), &ci),
            invalidDataRef);
  EXPECT_EQ(ci, nullptr);
}
