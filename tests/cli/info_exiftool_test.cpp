// SPDX-License-Identifier: GPL-2.0-or-later
// --info --json judged by exiftool -j -n: for every key both print, the same value (numbers to
// a float's precision, since the record keeps floats), and no key of ours that exiftool would
// name differently. Over a synthetic photograph with the awkward values, and over the corpus.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "photos/PhotoKinds.h"
#include "support/DngBuilder.h"
#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/TestPaths.h"
#include "support/TiffBuilder.h"

namespace {

// The record's own facts, which exiftool has no tag for in a photograph (Duration is the name
// it gives a WAVE file's length).
const std::set<std::string> kOwnNames = {"CreationDate", "BitmapSize", "AudioBlocks", "AudioSeconds", "Duration", "SoundSource", "SoundSources",
                                         "SoundFile", "MakerNote"};

// Known, explained disagreements: "file|key" (or "*|key" for every file) and the cause.
const std::map<std::string, const char*> kAllowed = {
#include "cli/info_exiftool_allowed.inc"
};

// Compares the two JSON arrays by SourceFile; prints "COMPARED n", then "DIFF file|key<TAB>ours
// <TAB>theirs" per disagreement (a key of ours for a value exiftool calls undefined is one) and
// "UNNAMED key" for keys of ours that exiftool never printed.
constexpr const char* kCompare = R"PY(
import json, sys, math
ours = {o['SourceFile']: o for o in json.load(open(sys.argv[1]))}
theirs = {o['SourceFile']: o for o in json.load(open(sys.argv[2]))}
# Values derived through a power or a sum of floats carry more than a float's rounding.
loose = {'ShutterSpeedValue', 'ApertureValue', 'MaxApertureValue', 'GPSLatitude', 'GPSLongitude',
         'GPSDestLatitude', 'GPSDestLongitude'}
def number(v):
    if isinstance(v, bool): return None
    if isinstance(v, (int, float)): return float(v)
    try: return float(str(v).strip())
    except ValueError: return None
def words(v):
    return ' '.join(str(x) for x in v) if isinstance(v, list) else str(v)
def same(key, a, b):
    if isinstance(a, dict): return False  # byte buffers: ours counts them
    x, y = words(a).strip(' \0').split(' '), words(b).strip(' \0').split(' ')
    if x == y: return True
    if len(x) != len(y): return False
    tolerance = 1e-6 if key in loose else 2.5e-7
    for p, q in zip(x, y):
        p, q = number(p), number(q)
        if p is None or q is None or not abs(p - q) <= tolerance * abs(q): return False
    return True
compared = 0
seen = set()
for t in theirs.values(): seen |= set(t)
for name, o in sorted(ours.items()):
    t = theirs.get(name)
    if t is None or 'Error' in o: continue
    for key, value in o.items():
        if key == 'SourceFile' or key not in t: continue
        compared += 1
        if not same(key, value, t[key]):
            print('DIFF %s|%s\t%s\t%s' % (name.rsplit('/', 1)[-1], key, json.dumps(value), json.dumps(t[key])))
# A value exiftool calls undefined (a rational without one) is one we print no key for.
def undefined(v):
    return any(w in ('undef', 'inf', '-inf') for w in words(v).split(' '))
for name, o in sorted(ours.items()):
    t = theirs.get(name, {})
    for key, value in t.items():
        if undefined(value) and key in o:
            print('DIFF %s|%s\t%s\t%s' % (name.rsplit('/', 1)[-1], key, json.dumps(o[key]), json.dumps(value)))
print('COMPARED', compared)
for key in sorted({k for o in ours.values() if 'Error' not in o for k in o} - seen): print('UNNAMED', key)
)PY";

struct Judgement {
  int compared = 0;
  std::vector<std::pair<std::string, std::string>> differences;  // file|key, "ours vs theirs"
  std::vector<std::string> unnamed;
};

Judgement judge(const std::vector<std::string>& photos) {
  Judgement j;
  testsupport::ScratchDir dir;
  std::string list;
  for (const std::string& p : photos) list += " " + testsupport::shellQuote(p);
  const std::string ours = dir.file("ours.json"), theirs = dir.file("theirs.json"), script = dir.file("compare.py");
  fixtures::RunResult r = fixtures::runStill2mov([&] {
    std::vector<std::string> args{"--info", "--json"};
    args.insert(args.end(), photos.begin(), photos.end());
    return args;
  }());
  EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
  testsupport::writeFile(ours, r.out);
  // ImageWidth and ImageHeight are the decoded picture's, exiftool's File ones; the TIFF tags of
  // those names (a raw's stored image, a thumbnail) are no size of the picture shown.
  testsupport::run("exiftool -j -n -q -q -File:FileName -File:Directory -File:FileSize -File:ImageWidth "
                   "-File:ImageHeight -EXIF:all --EXIF:ImageWidth --EXIF:ImageHeight -Composite:GPSLatitude "
                   "-Composite:GPSLongitude -Composite:GPSAltitude" + list + " >" + testsupport::shellQuote(theirs) +
                   " 2>/dev/null");
  testsupport::writeFile(script, kCompare);
  std::string out;
  EXPECT_EQ(testsupport::run("python3 " + script + " " + ours + " " + theirs + " 2>&1", &out), 0) << out;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("COMPARED ", 0) == 0) j.compared = std::stoi(line.substr(9));
    if (line.rfind("UNNAMED ", 0) == 0) j.unnamed.push_back(line.substr(8));
    if (line.rfind("DIFF ", 0) == 0) {
      const std::size_t tab = line.find('\t');
      j.differences.emplace_back(line.substr(5, tab - 5), line.substr(tab + 1));
    }
  }
  return j;
}

// A photograph with the values whose names or units differ between the record and exiftool.
std::string awkwardPhotograph() {
  testsupport::TiffBuilder b;
  const int ifd0 = b.directory();
  b.ascii(ifd0, 271, "Vantor");
  b.ascii(ifd0, 272, "VR-1");
  b.rationals(ifd0, 282, {{72, 1}});
  b.rationals(ifd0, 283, {{72, 1}});
  b.shorts(ifd0, 296, {2});
  const int exif = b.directory();
  b.pointer(ifd0, 34665, exif);
  b.rationals(exif, 33434, {{1, 3}});                    // ExposureTime: 1/3 s
  b.rationals(exif, 33437, {{28, 10}});                  // FNumber
  b.shorts(exif, 34855, {400});                          // ISO
  b.bytes(exif, 36864, "0230");                          // ExifVersion
  b.ascii(exif, 36867, "2024:05:01 09:30:00");           // DateTimeOriginal
  b.ascii(exif, 36868, "2024:05:01 09:30:01");           // CreateDate
  b.rationals(exif, 37377, {{1585, 1000}}, 10);          // ShutterSpeedValue (APEX)
  b.rationals(exif, 37378, {{297, 100}});                // ApertureValue (APEX)
  b.rationals(exif, 37380, {{uint32_t(-2), 3}}, 10);     // ExposureCompensation -2/3
  b.bytes(exif, 37510, std::string("ASCII\0\0\0Hello", 13));  // UserComment
  b.bytes(exif, 40960, "0100");                          // FlashpixVersion
  b.shorts(exif, 40962, {640});                          // ExifImageWidth
  b.shorts(exif, 40963, {480});
  b.ascii(exif, 40964, "DSC00001.WAV");                  // RelatedSoundFile
  const int gps = b.directory();
  b.pointer(ifd0, 34853, gps);
  b.bytes(gps, 0, std::string("\2\3\0\0", 4), 1);
  b.ascii(gps, 1, "S");
  b.rationals(gps, 2, {{33, 1}, {51, 1}, {359, 10}});
  b.ascii(gps, 3, "W");
  b.rationals(gps, 4, {{70, 1}, {3038, 100}, {0, 1}});
  b.bytes(gps, 5, std::string("\1", 1), 1);               // below sea level
  b.rationals(gps, 6, {{125, 10}});
  b.rationals(gps, 7, {{14, 1}, {27, 1}, {724, 100}});    // GPSTimeStamp
  b.ascii(gps, 8, "06");                                  // GPSSatellites
  b.ascii(gps, 19, "N");
  b.rationals(gps, 20, {{10, 1}, {30, 1}, {0, 1}});       // GPSDestLatitude
  const std::string segment = std::string("Exif\0\0", 6) + b.build();
  return fixtures::withSegment(fixtures::makeJpeg({.width = 64, .height = 48}), 0xE1, segment);
}

// The entries cameras write outside the EXIF table: dates of 21 and 19 bytes (Pentax, FujiFilm,
// Sony, Olympus, Nikon), single 0/0 and n/0 rationals (Traveler, Motorola, Nexus S), a 0/0 in
// GPSLongitude (Nikon D5000), Flash of count 2 (Olympus E-M10), an unsigned ShutterSpeedValue
// (FujiFilm DS-7), ExifVersion as ASCII (FLIR), SceneType as BYTE, LightSource as LONG, and the
// RelatedSoundFile exiftool writes with count 7; Latin-1 text with trailing blanks.
std::string camerasPhotograph() {
  testsupport::TiffBuilder b;
  const int ifd0 = b.directory();
  b.ascii(ifd0, 271, "Caf\xe9  ");
  b.ascii(ifd0, 305, "\xc4rger 2.0 ");
  const int exif = b.directory();
  b.pointer(ifd0, 34665, exif);
  b.entry(exif, 36867, 2, 21, std::string("2004:01:31 12:00:05 \0", 21));
  b.entry(exif, 36868, 2, 19, "2004:01:31 12:00:06");
  b.rationals(exif, 37377, {{6, 1}}, 5);
  b.ascii(exif, 36864, "0230", 4);
  b.rationals(exif, 37380, {{0, 0}}, 10);
  b.rationals(exif, 37382, {{0, 0}});
  b.longs(exif, 37384, {10});
  b.shorts(exif, 37385, {16, 0});
  b.rationals(exif, 37386, {{35, 1}});
  b.ascii(exif, 40964, "ok.wav");
  b.rationals(exif, 41493, {{100, 0}});
  b.bytes(exif, 41729, "\1", 1);
  const int gps = b.directory();
  b.pointer(ifd0, 34853, gps);
  b.ascii(gps, 1, "N");
  b.rationals(gps, 2, {{48, 1}, {51, 1}, {30, 1}});
  b.ascii(gps, 3, "E");
  b.rationals(gps, 4, {{2, 1}, {0, 0}, {20, 1}});
  b.bytes(gps, 5, std::string("\0", 1), 1);
  b.rationals(gps, 6, {{35, 1}});
  const std::string segment = std::string("Exif\0\0", 6) + b.build();
  return fixtures::withSegment(fixtures::makeJpeg({.width = 64, .height = 48}), 0xE1, segment);
}

}  // namespace

TEST(InfoExiftool, CamerasOddEntriesReadAsExiftoolReadsThem) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("python3");
  testsupport::ScratchDir dir;
  const std::string photo = dir.file("odd.jpg");
  testsupport::writeFile(photo, camerasPhotograph());
  const Judgement j = judge({photo});
  // Where one value is wanted the first is ours; exiftool prints every stored one.
  const std::set<std::string> firstOfSeveral = {"odd.jpg|Flash"};
  for (const auto& [key, values] : j.differences)
    if (!firstOfSeveral.count(key)) ADD_FAILURE() << key << ": " << values;
  for (const std::string& name : j.unnamed) EXPECT_TRUE(kOwnNames.count(name)) << name << " is no exiftool name";
  EXPECT_GE(j.compared, 15);
  // The terminal shows the same text as the JSON: '?' for what is not UTF-8, no trailing blanks.
  const fixtures::RunResult text = fixtures::runStill2mov({"--info", photo});
  EXPECT_NE(text.out.find(": Caf?\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find(": ?rger 2.0\n"), std::string::npos) << text.out;
}

TEST(InfoExiftool, AnAwkwardPhotographReadsAsExiftoolReadsIt) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("python3");
  testsupport::ScratchDir dir;
  const std::string photo = dir.file("awkward.jpg");
  testsupport::writeFile(photo, awkwardPhotograph());
  const Judgement j = judge({photo});
  for (const auto& [key, values] : j.differences) ADD_FAILURE() << key << ": " << values;
  for (const std::string& name : j.unnamed) EXPECT_TRUE(kOwnNames.count(name)) << name << " is no exiftool name";
  // Every value above, and the file facts.
  EXPECT_EQ(j.compared, 35);
}

TEST(InfoExiftool, CorpusPhotographsReadAsExiftoolReadsThem) {
  // Every kind of photograph the table takes: the camera's JPEGs, and raws.
  std::vector<std::string> photos;
  for (const photos::PhotoKind& kind : photos::PhotoKinds()) {
    const std::vector<std::string> ofKind = testsupport::corpusPhotographs(kind.name);
    EXPECT_EQ(ofKind.empty(), testsupport::corpusDir().empty()) << kind.name << ": none in the corpus";
    photos.insert(photos.end(), ofKind.begin(), ofKind.end());
  }
  if (photos.empty()) GTEST_SKIP() << "no corpus";
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("python3");
  const Judgement j = judge(photos);
  std::set<std::string> used;
  for (const auto& [key, values] : j.differences) {
    const std::string anyFile = "*" + key.substr(key.find('|'));
    if (kAllowed.count(key)) used.insert(key);
    else if (kAllowed.count(anyFile)) used.insert(anyFile);
    else ADD_FAILURE() << key << ": ours, exiftool's: " << values;
  }
  for (const auto& [key, why] : kAllowed)
    if (!used.count(key)) ADD_FAILURE() << "allowance no longer needed: " << key;
  for (const std::string& name : j.unnamed)
    EXPECT_TRUE(kOwnNames.count(name)) << name << " is no exiftool name";
  std::printf("compared %d values in %zu photographs; %zu allowed disagreements\n", j.compared, photos.size(),
              j.differences.size());
  EXPECT_GT(j.compared, 1000);
}

// Our own raws, as the tests build them: a DNG's own directories, its preview's size and bytes.
TEST(InfoExiftool, RawFixturesReadAsExiftoolReadsThem) {
  REQUIRE_TOOL("exiftool");
  REQUIRE_TOOL("python3");
  testsupport::ScratchDir dir;
  const testsupport::DngSpec specs[] = {{.orientation = 6}, {.jpegPreview = false, .bigEndian = true}};
  std::vector<std::string> photos;
  for (const testsupport::DngSpec& spec : specs) {
    photos.push_back(dir.file("r" + std::to_string(photos.size()) + ".dng"));
    testsupport::writeFile(photos.back(), testsupport::buildDng(spec, testsupport::dngPreviewJpeg(spec)));
  }
  const Judgement j = judge(photos);
  for (const auto& [key, values] : j.differences) ADD_FAILURE() << key << ": " << values;
  // exiftool gives a TIFF-based raw no File size: ours is the preview's, the picture shown.
  const std::set<std::string> shownPicture = {"ImageWidth", "ImageHeight"};
  for (const std::string& name : j.unnamed)
    EXPECT_TRUE(kOwnNames.count(name) || shownPicture.count(name)) << name << " is no exiftool name";
  EXPECT_GE(j.compared, 10);
}
