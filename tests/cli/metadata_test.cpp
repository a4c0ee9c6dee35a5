// SPDX-License-Identifier: GPL-2.0-or-later
// --metadata: the movie carries when the photograph was taken (its headers' creation times),
// the camera's make and model and the GPS position, as exiftool and ffprobe read them back;
// without the option it carries none of them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/MovieChecks.h"
#include "support/TestPaths.h"
#include "support/TiffBuilder.h"

using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::shellQuote;
using testsupport::TiffBuilder;
using testsupport::writeFile;

namespace {

struct Capture {
  std::string make = "Canon";
  std::string model = "Canon EOS 5D";
  std::string dateTimeOriginal = "2024:05:01 09:30:00";
  std::string offsetTimeOriginal;  // "+09:00" when given
  bool gps = true;
  std::string gpsStatus;  // "A" or "V" when given
};

// A voice-annotated photograph whose EXIF says where, when and with what it was taken: south
// of the equator and below sea level, so that every sign shows.
std::string capturedPhotograph(const Capture& c) {
  TiffBuilder b;
  const int ifd0 = b.directory();
  b.ascii(ifd0, 271, c.make);
  b.ascii(ifd0, 272, c.model);
  const int exif = b.directory();
  b.pointer(ifd0, 34665, exif);
  b.ascii(exif, 36867, c.dateTimeOriginal, 20);
  if (!c.offsetTimeOriginal.empty()) b.ascii(exif, 36881, c.offsetTimeOriginal);
  if (c.gps) {
    const int gps = b.directory();
    b.pointer(ifd0, 34853, gps);
    b.bytes(gps, 0, std::string("\2\2\0\0", 4), 1);
    b.ascii(gps, 1, "S");
    b.rationals(gps, 2, {{33, 1}, {51, 1}, {2400, 100}});
    b.ascii(gps, 3, "E");
    b.rationals(gps, 4, {{151, 1}, {12, 1}, {3600, 100}});
    b.bytes(gps, 5, std::string("\1", 1), 1);
    b.rationals(gps, 6, {{125, 10}});
    if (!c.gpsStatus.empty()) b.ascii(gps, 9, c.gpsStatus);
  }
  return fixtures::embedWave(
      fixtures::withSegment(fixtures::makeJpeg({.width = 64, .height = 48}), 0xE1, std::string("Exif\0\0", 6) + b.build()),
      fixtures::makeWave(fixtures::WaveKind::imaAdpcm, {.seconds = 0.5}));
}

std::string output(const std::string& command) {
  std::string out;
  run(command + " 2>/dev/null", &out);
  return out;
}

// exiftool's values, one "Name: value" line each, numbers as numbers.
std::string exiftoolSays(const std::string& movie) {
  return output("exiftool -n -s -s -G1 -QuickTime:CreateDate -Track1:TrackCreateDate -Track1:MediaCreateDate "
                "-Track2:TrackCreateDate -Track2:MediaCreateDate -UserData:Make -UserData:Model "
                "-UserData:GPSCoordinates " + shellQuote(movie));
}

std::string ffprobeTag(const std::string& movie, const std::string& tag) {
  return output("ffprobe -v error -show_entries format_tags=" + tag + " -of default=nw=1:nk=1 " + shellQuote(movie));
}

fixtures::RunResult convert(const ScratchDir& dir, const std::vector<std::string>& options, const std::string& zone) {
  std::vector<std::string> args = options;
  args.push_back(dir.file("photo.jpg"));
  return fixtures::runStill2mov(args, {{"TMPDIR", dir.file("tmp")}, {"TZ", zone}});
}

}  // namespace

TEST(CaptureMetadata, TimeCameraAndPlaceReadBackByExiftoolAndFfprobe) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  writeFile(dir.file("photo.jpg"), capturedPhotograph({}));
  // The capture time is local time, here two hours ahead of UTC, then five behind.
  const struct {
    const char* zone;
    const char* utc;
    const char* offset;
  } zones[] = {{"<+02>-2", "2024:05:01 07:30:00", "+02:00"}, {"<-05>5", "2024:05:01 14:30:00", "-05:00"}};
  for (const auto& z : zones) {
    SCOPED_TRACE(z.zone);
    fixtures::RunResult r = convert(dir, {"--no-resize", "--metadata"}, z.zone);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string movie = dir.file("photo.mov");
    const std::string when = z.utc;
    EXPECT_EQ(exiftoolSays(movie), "[QuickTime] CreateDate: " + when + "\n[Track1] TrackCreateDate: " + when +
                                       "\n[Track1] MediaCreateDate: " + when + "\n[Track2] TrackCreateDate: " + when +
                                       "\n[Track2] MediaCreateDate: " + when +
                                       "\n[UserData] Make: Canon\n[UserData] Model: Canon EOS 5D\n"
                                       "[UserData] GPSCoordinates: -33.856667 151.21 -12.5\n");
    std::string iso = when;
    iso[4] = iso[7] = '-';
    iso[10] = 'T';
    EXPECT_EQ(ffprobeTag(movie, "creation_time"), iso + ".000000Z\n");
    EXPECT_EQ(ffprobeTag(movie, "date"), std::string("2024-05-01T09:30:00") + z.offset + "\n");
    EXPECT_EQ(ffprobeTag(movie, "make"), "Canon\n");
    EXPECT_EQ(ffprobeTag(movie, "model"), "Canon EOS 5D\n");
    EXPECT_EQ(ffprobeTag(movie, "location"), "-33.856667+151.210000-012.500/\n");
    EXPECT_EQ(moviechecks::completeMovieProblem(readFile(movie)), "");
  }
}

// The photograph's own offset (EXIF 2.31) wins over the machine's zone; without one, the
// machine's zone counts with the rules it had on the capture date, summer time or not.
TEST(CaptureMetadata, CaptureTimeIsReadInTheZoneItWasTakenIn) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("ffprobe");
  const struct {
    const char* dateTimeOriginal;
    const char* offsetTimeOriginal;
    const char* zone;
    const char* utc;
    const char* local;
  } cases[] = {
      {"2024:05:01 09:30:00", "+09:00", "<-05>5", "2024:05:01 00:30:00", "2024-05-01T09:30:00+09:00"},
      {"2024:05:01 09:30:00", "-03:30", "Europe/Berlin", "2024:05:01 13:00:00", "2024-05-01T09:30:00-03:30"},
      {"2024:01:15 12:00:00", "", "Europe/Berlin", "2024:01:15 11:00:00", "2024-01-15T12:00:00+01:00"},
      {"2024:07:15 12:00:00", "", "Europe/Berlin", "2024:07:15 10:00:00", "2024-07-15T12:00:00+02:00"},
      {"2024:07:15 12:00:00", "+25:00", "Europe/Berlin", "2024:07:15 10:00:00", "2024-07-15T12:00:00+02:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.dateTimeOriginal) + " " + c.offsetTimeOriginal + " " + c.zone);
    ScratchDir dir;
    Capture capture;
    capture.dateTimeOriginal = c.dateTimeOriginal;
    capture.offsetTimeOriginal = c.offsetTimeOriginal;
    writeFile(dir.file("photo.jpg"), capturedPhotograph(capture));
    fixtures::RunResult r = convert(dir, {"--no-resize", "--metadata"}, c.zone);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string movie = dir.file("photo.mov");
    EXPECT_EQ(output("exiftool -s3 -QuickTime:CreateDate " + shellQuote(movie)), std::string(c.utc) + "\n");
    EXPECT_EQ(ffprobeTag(movie, "date"), std::string(c.local) + "\n");
  }
}

TEST(CaptureMetadata, AnMp4CarriesThemUnderQuickTimesKeys) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("ffprobe");
  ScratchDir dir;
  writeFile(dir.file("photo.jpg"), capturedPhotograph({}));
  fixtures::RunResult r = convert(dir, {"--format=mp4", "--metadata"}, "<+02>-2");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string mp4 = dir.file("photo.mp4");
  EXPECT_EQ(output("exiftool -n -s -s -G1 -QuickTime:CreateDate -Keys:Make -Keys:Model -Keys:GPSCoordinates " +
                   shellQuote(mp4)),
            "[QuickTime] CreateDate: 2024:05:01 07:30:00\n[Keys] Make: Canon\n[Keys] Model: Canon EOS 5D\n"
            "[Keys] GPSCoordinates: -33.856667 151.21 -12.5\n");
  EXPECT_EQ(ffprobeTag(mp4, "creation_time").rfind("2024-05-01T07:30:00", 0), 0u);
  // ffprobe shows the 3GPP location item, to four places.
  EXPECT_EQ(ffprobeTag(mp4, "location").rfind("-33.8567+151.2100-12.5", 0), 0u) << ffprobeTag(mp4, "location");
  // Without the option: none of them, only the mark.
  r = convert(dir, {"--format=mp4"}, "<+02>-2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(output("exiftool -s -s -s -Keys:Make -Keys:GPSCoordinates " + shellQuote(mp4)), "");
  EXPECT_EQ(ffprobeTag(mp4, "encoder").rfind("still2mov", 0), 0u);
}

TEST(CaptureMetadata, WithoutTheOptionTheMovieCarriesNone) {
  REQUIRE_TOOL("exiftool");
  ScratchDir dir;
  writeFile(dir.file("photo.jpg"), capturedPhotograph({}));
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(convert(dir, {"--no-resize"}, "<+02>-2").status, 0);
  const std::string movie = dir.file("photo.mov");
  // The only user-data items are still2mov's own: its mark, and its record of what the movie
  // was made from, which tells no time (its stamps are digests).
  const std::string file = readFile(movie);
  std::vector<std::string> items;
  bool found = false;
  const std::string udta = moviechecks::atomBody(file, "moov/udta", &found);
  ASSERT_TRUE(found);
  for (const auto& a : moviechecks::childAtoms(udta, 0, udta.size())) items.push_back(a.type);
  EXPECT_EQ(items, (std::vector<std::string>{"\xA9swr", "s2mf"}));
  struct stat st {};
  ASSERT_EQ(stat(dir.file("photo.jpg").c_str(), &st), 0);
  EXPECT_EQ(udta.find(std::to_string(st.st_mtim.tv_sec)), std::string::npos);
  EXPECT_EQ(udta.find(std::to_string(st.st_ctim.tv_sec)), std::string::npos);
  // The creation time is when the movie was made, not when the photograph was taken.
  const std::string created = output("exiftool -s3 -api QuickTimeUTC -d %s -QuickTime:CreateDate " + shellQuote(movie));
  EXPECT_NEAR(std::atof(created.c_str()), double(before), 120.0) << created;
}

// What a camera leaves when it knows nothing: a clock never set, a receiver without a fix,
// names padded with spaces or holding bytes that are not UTF-8.
TEST(CaptureMetadata, UnknownValuesAreLeftOutAndNamesCleanedUp) {
  REQUIRE_TOOL("exiftool");
  ScratchDir dir;
  Capture c;
  c.make = "NIKON CORPORATION   ";
  c.model = "COOLPIX \xE9t\xE9";
  c.dateTimeOriginal = "0000:00:00 00:00:00";
  c.gpsStatus = "V";
  writeFile(dir.file("photo.jpg"), capturedPhotograph(c));
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(convert(dir, {"--resize", "--metadata"}, "UTC").status, 0);
  const std::string movie = dir.file("photo.mov");
  EXPECT_EQ(output("exiftool -s -s -UserData:Make -UserData:Model -UserData:GPSCoordinates " + shellQuote(movie)),
            "Make: NIKON CORPORATION\nModel: COOLPIX \xEF\xBF\xBDt\xEF\xBF\xBD\n");
  const std::string created = output("exiftool -s3 -api QuickTimeUTC -d %s -QuickTime:CreateDate " + shellQuote(movie));
  EXPECT_NEAR(std::atof(created.c_str()), double(before), 120.0) << created;

  // A fix, and a time in a zone: the position and the time are back.
  c.gpsStatus = "A";
  c.dateTimeOriginal = "1999:12:31 23:59:59";
  writeFile(dir.file("photo.jpg"), capturedPhotograph(c));
  ASSERT_EQ(convert(dir, {"--resize", "--metadata"}, "UTC").status, 0);
  EXPECT_EQ(output("exiftool -n -s -s -QuickTime:CreateDate -UserData:GPSCoordinates " + shellQuote(movie)),
            "CreateDate: 1999:12:31 23:59:59\nGPSCoordinates: -33.856667 151.21 -12.5\n");
}

// Capture times from 1900 to 2100: past 2040-02-06 the headers take their 64-bit version, before
// 1904 only the local-time item says it; an ordinary date keeps the 32-bit headers.
TEST(CaptureMetadata, CaptureTimesFrom1900To2100) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("ffprobe");
  const struct {
    const char* taken;
    bool inHeader;  // the headers' creation time is the capture time
    bool local;     // there is a local-time item
    int version;    // the headers'
  } cases[] = {
      {"2024:05:01 09:30:00", true, true, 0},  {"2040:02:06 06:28:15", true, true, 0},
      {"2040:02:06 06:28:16", true, true, 1},  {"2100:12:31 23:59:59", true, true, 1},
      {"1900:01:01 00:00:00", false, true, 0}, {"1899:12:31 23:59:59", false, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.taken);
    ScratchDir dir;
    Capture capture;
    capture.dateTimeOriginal = c.taken;
    writeFile(dir.file("photo.jpg"), capturedPhotograph(capture));
    ASSERT_EQ(convert(dir, {"--no-resize", "--metadata"}, "UTC0").status, 0);
    const std::string movie = dir.file("photo.mov"), bytes = readFile(movie);
    EXPECT_EQ(int(bytes[bytes.find("mvhd") + 4]), c.version);
    std::string iso = c.taken;
    iso[4] = iso[7] = '-';
    iso[10] = 'T';
    const std::string created = output("exiftool -s3 -QuickTime:CreateDate -Track1:MediaCreateDate " + shellQuote(movie));
    EXPECT_EQ(created == std::string(c.taken) + "\n" + c.taken + "\n", c.inHeader) << created;
    EXPECT_EQ(ffprobeTag(movie, "date"), c.local ? iso + "+00:00\n" : "");
    EXPECT_EQ(moviechecks::completeMovieProblem(bytes), "");
  }
}
