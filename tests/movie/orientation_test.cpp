// SPDX-License-Identifier: GPL-2.0-or-later
// Photographs taken upright or mirrored stand upright in their movies, in both modes: the
// stored frame is unchanged and the video track's matrix turns it. What "upright" means for each
// EXIF value is exiftool's reading of the photograph; ffprobe's display matrix, mediainfo's
// rotation and GStreamer's orientation tag are the readers that must agree with it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"
#include "support/TiffBuilder.h"

using namespace moviechecks;
using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::shellQuote;
using testsupport::writeFile;

namespace {

// The picture at quadrant level: colours by row, and whether it lies (wider than high).
struct Quadrants {
  char at[2][2];  // [row][column]: r, g, b or w
  bool wide;
  bool operator==(const Quadrants& o) const {
    return wide == o.wide && at[0][0] == o.at[0][0] && at[0][1] == o.at[0][1] && at[1][0] == o.at[1][0] &&
           at[1][1] == o.at[1][1];
  }
};

std::string show(const Quadrants& q) {
  return std::string(q.wide ? "wide " : "tall ") + q.at[0][0] + q.at[0][1] + "/" + q.at[1][0] + q.at[1][1];
}

Quadrants mirrored(Quadrants q) {
  std::swap(q.at[0][0], q.at[0][1]);
  std::swap(q.at[1][0], q.at[1][1]);
  return q;
}
Quadrants flipped(Quadrants q) {
  std::swap(q.at[0][0], q.at[1][0]);
  std::swap(q.at[0][1], q.at[1][1]);
  return q;
}
Quadrants turnedClockwise(const Quadrants& q, int degrees) {
  Quadrants out = q;
  for (int k = 0; k < (degrees / 90) % 4; ++k) {
    const Quadrants was = out;
    out.at[0][0] = was.at[1][0];
    out.at[0][1] = was.at[0][0];
    out.at[1][1] = was.at[0][1];
    out.at[1][0] = was.at[1][1];
    out.wide = !was.wide;
  }
  return out;
}

// exiftool's words for an orientation ("Mirror horizontal and rotate 270 CW") applied to the
// stored picture.
Quadrants byExiftool(const std::string& words, const Quadrants& stored) {
  Quadrants q = stored;
  if (words.find("Mirror horizontal") != std::string::npos) q = mirrored(q);
  if (words.find("Mirror vertical") != std::string::npos) q = flipped(q);
  const size_t rotate = words.find("otate ");
  if (rotate != std::string::npos) q = turnedClockwise(q, std::atoi(words.c_str() + rotate + 6));
  return q;
}

// GStreamer's tag ("rotate-90", "flip-rotate-270"): mirrored left to right, then turned clockwise.
Quadrants byGStreamer(const std::string& tag, const Quadrants& stored) {
  Quadrants q = tag.rfind("flip-", 0) == 0 ? mirrored(stored) : stored;
  return turnedClockwise(q, std::atoi(tag.c_str() + tag.rfind('-') + 1));
}

struct DisplayMatrix {
  double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};  // a b u / c d v / x y w, 16.16 as numbers
  double rotation = 0;                                  // as ffprobe gives it (anticlockwise)
};

// ffprobe's display matrix side data of the video stream; the identity when it gives none.
DisplayMatrix ffprobeMatrix(const std::string& movie) {
  std::string out;
  run("ffprobe -v error -select_streams v -show_entries stream_side_data=displaymatrix,rotation -of default=nw=1 " +
          shellQuote(movie),
      &out);
  DisplayMatrix d;
  for (int row = 0; row < 3; ++row) {
    char label[16];
    std::snprintf(label, sizeof label, "%08d:", row);
    const size_t at = out.find(label);
    if (at == std::string::npos) return d;
    long v[3] = {};
    if (std::sscanf(out.c_str() + at + 9, "%ld %ld %ld", &v[0], &v[1], &v[2]) != 3) return d;
    for (int col = 0; col < 3; ++col) d.m[row][col] = double(v[col]) / (col == 2 ? 1073741824.0 : 65536.0);
  }
  const size_t rot = out.find("rotation=");
  if (rot != std::string::npos) d.rotation = std::atof(out.c_str() + rot + 9);
  return d;
}

// Where each stored quadrant lands once the track of w by h is placed by the matrix
// (x' = a x + c y + x0, y' = b x + d y + y0).
Quadrants displayed(const DisplayMatrix& d, double w, double h, const Quadrants& stored) {
  const double a = d.m[0][0], b = d.m[0][1], c = d.m[1][0], dd = d.m[1][1], x0 = d.m[2][0], y0 = d.m[2][1];
  const double boxW = std::fabs(a) * w + std::fabs(c) * h, boxH = std::fabs(b) * w + std::fabs(dd) * h;
  Quadrants q{{{'?', '?'}, {'?', '?'}}, boxW > boxH};
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 2; ++col) {
      const double x = (col + 0.5) * w / 2, y = (row + 0.5) * h / 2;
      const double px = a * x + c * y + x0, py = b * x + dd * y + y0;
      if (px < 0 || py < 0 || px >= boxW || py >= boxH) return Quadrants{{{'!', '!'}, {'!', '!'}}, false};
      q.at[int(py * 2 / boxH)][int(px * 2 / boxW)] = stored.at[row][col];
    }
  return q;
}

// The nearest of the four colours to the pixel at (x, y).
char colourAt(const std::string& rgb, int width, int x, int y) {
  const size_t at = (size_t(y) * size_t(width) + size_t(x)) * 3;
  const int r = (unsigned char)rgb[at], g = (unsigned char)rgb[at + 1], b = (unsigned char)rgb[at + 2];
  if (r > 200 && g > 200 && b > 200) return 'w';
  if (r > 150 && g < 100 && b < 100) return 'r';
  if (g > 150 && r < 100 && b < 100) return 'g';
  if (b > 150 && r < 100 && g < 100) return 'b';
  return '?';
}

Quadrants quadrantsOf(const std::string& jpegFile) {
  int w = 0, h = 0;
  const std::string rgb = decodeRgb(jpegFile, &w, &h);
  Quadrants q{{{'?', '?'}, {'?', '?'}}, w > h};
  if (w <= 0 || h <= 0 || rgb.size() != size_t(w) * size_t(h) * 3) return q;
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 2; ++col) q.at[row][col] = colourAt(rgb, w, (2 * col + 1) * w / 4, (2 * row + 1) * h / 4);
  return q;
}

// A 96 by 64 photograph of four coloured quadrants (red, green / blue, white) with that
// Orientation in its primary directory.
std::string photographWithOrientation(const ScratchDir& tmp, int orientation) {
  const int w = 96, h = 64;
  std::string rgb;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool right = x >= w / 2, low = y >= h / 2;
      const unsigned char px[3] = {
          (unsigned char)(!low && !right ? 255 : low && right ? 255 : 0),
          (unsigned char)(!low && right ? 255 : low && right ? 255 : 0),
          (unsigned char)(low ? 255 : 0)};
      rgb.append(reinterpret_cast<const char*>(px), 3);
    }
  writeFile(tmp.file("plain.rgb"), rgb);
  EXPECT_EQ(run("ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 96x64 -i " + shellQuote(tmp.file("plain.rgb")) +
                " -frames:v 1 -q:v 2 " + shellQuote(tmp.file("plain.jpg"))),
            0);
  testsupport::TiffBuilder tiff;
  const int ifd0 = tiff.directory();
  tiff.shorts(ifd0, 274, {uint16_t(orientation)});
  const std::string exif = std::string("Exif\0\0", 6) + tiff.build();
  return fixtures::embedWave(fixtures::withSegment(readFile(tmp.file("plain.jpg")), 0xE1, exif),
                             fixtures::makeWave(fixtures::WaveKind::pcm16Mono, {.seconds = 0.4}));
}

std::string firstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

}  // namespace

TEST(Orientation, EveryExifValueStandsUprightInBothModesForEveryReader) {
  REQUIRE_TOOL("ffmpeg");
  REQUIRE_TOOL("ffprobe");
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("mediainfo");
  REQUIRE_TOOL("gst-discoverer-1.0");
  for (int orientation = 1; orientation <= 8; ++orientation) {
    ScratchDir dir, tmp;
    const std::string photo = dir.file("photo.jpg");
    const std::string photoBytes = photographWithOrientation(tmp, orientation);
    ASSERT_FALSE(photoBytes.empty());
    writeFile(photo, photoBytes);
    std::string words;
    run("exiftool -s3 -Orientation " + shellQuote(photo), &words);
    words = firstLine(words);
    fixtures::RunResult info = fixtures::runStill2mov({"--info", photo});
    EXPECT_NE(info.out.find(fixtures::infoLine("Orientation", std::to_string(orientation))), std::string::npos) << info.out;

    for (bool resize : {false, true}) {
      SCOPED_TRACE("Orientation " + std::to_string(orientation) + " (" + words + ")" +
                   (resize ? ", resized" : ", natural size"));
      fixtures::RunResult r = fixtures::runStill2mov({resize ? "--resize" : "--no-resize", photo}, {{"TMPDIR", tmp.path()}});
      ASSERT_EQ(r.status, 0) << r.err;
      const std::string movie = dir.file("photo.mov");
      const std::string file = readFile(movie);
      EXPECT_EQ(completeMovieProblem(file), "");

      // The frame is the picture as stored; only the matrix turns it.
      const std::string frame = copyFrame(movie);
      if (!resize) {
        EXPECT_TRUE(frame == photoBytes);
      }
      writeFile(tmp.file("frame.jpg"), frame);
      const Quadrants stored = quadrantsOf(tmp.file("frame.jpg"));
      ASSERT_TRUE(stored.wide) << show(stored);
      const Quadrants upright = byExiftool(words, stored);

      const std::string tkhd = atomBody(file, "moov/trak#2/tkhd");
      const double trackW = be32(tkhd, 76) / 65536.0, trackH = be32(tkhd, 80) / 65536.0;
      const DisplayMatrix d = ffprobeMatrix(movie);
      EXPECT_EQ(show(displayed(d, trackW, trackH, stored)), show(upright)) << "ffprobe's display matrix";

      // mediainfo knows rotations only; it must name the matrix's, which for unmirrored
      // pictures is exiftool's.
      std::string rotation;
      run("mediainfo --Inform='Video;%Rotation%' " + shellQuote(movie), &rotation);
      const int mediainfoDegrees = int(std::lround(std::atof(rotation.c_str()))) % 360;
      EXPECT_EQ(mediainfoDegrees, (int(std::lround(-d.rotation)) % 360 + 360) % 360) << rotation;
      if (words.find("Mirror") == std::string::npos) {
        const size_t at = words.find("Rotate ");
        EXPECT_EQ(mediainfoDegrees, at == std::string::npos ? 0 : std::atoi(words.c_str() + at + 7)) << rotation;
      }

      // GStreamer names mirrors too; its demuxer has no name for one of the eight matrices (the
      // mirror across the rising diagonal) and then says nothing, which is no disagreement.
      std::string gst;
      run("gst-discoverer-1.0 -v " + shellQuote(movie) + " 2>&1 | grep -m1 'image orientation:'", &gst);
      const size_t colon = gst.find(": ");
      if (colon != std::string::npos) {
        const std::string tag = firstLine(gst.substr(colon + 2));
        EXPECT_EQ(show(byGStreamer(tag, stored)), show(upright)) << "GStreamer: " << tag;
      } else {
        EXPECT_TRUE(orientation == 1 || orientation == 7) << "GStreamer reports no orientation";
      }
    }
  }
}
