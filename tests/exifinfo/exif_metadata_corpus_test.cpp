// SPDX-License-Identifier: GPL-2.0-or-later
// Every corpus JPEG is read without a crash, and the record's EXIF and GPS values equal what
// exiftool reports for the same EXIF directories (one batch run of exiftool -j -n); a value
// exiftool calls undefined is absent from the record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "photos/PhotoKinds.h"
#include "support/TestPaths.h"

namespace {
using Object = std::map<std::string, std::string>;  // value text; numbers as printed

// exiftool -j prints one '  "Name": value,' line per tag and starts each file's object with
// its "SourceFile"; string values are JSON-escaped.
std::map<std::string, Object> parseExiftool(const std::string& out) {
  std::map<std::string, Object> files;
  Object* current = nullptr;
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    start = end + 1;
    const size_t q = line.find('"'), colon = line.find("\": ");
    if (q == std::string::npos || colon == std::string::npos) continue;
    const std::string key = line.substr(q + 1, colon - q - 1);
    std::string raw = line.substr(colon + 3);
    if (!raw.empty() && raw.back() == ',') raw.pop_back();
    std::string value;
    if (!raw.empty() && raw[0] == '"') {
      for (size_t i = 1; i + 1 < raw.size(); ++i) {
        if (raw[i] != '\\') { value += raw[i]; continue; }
        const char c = raw[++i];
        if (c == 'u') {
          const long code = std::strtol(raw.substr(i + 1, 4).c_str(), nullptr, 16);
          value += code < 0x80 ? char(code) : '?';
          i += 4;
        } else {
          value += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'b' ? '\b' : c == 'f' ? '\f' : c == 'r' ? '\r' : c;
        }
      }
    } else {
      value = raw;
    }
    if (key == "SourceFile") current = &files[value];
    else if (current) (*current)[key] = value;
  }
  return files;
}

std::string trimmed(std::string v) {
  while (!v.empty() && (v.back() == ' ' || v.back() == '\0')) v.pop_back();
  return v;
}

bool near(double a, double b, double rel) {
  return std::fabs(a - b) <= rel * std::max(1.0, std::max(std::fabs(a), std::fabs(b))) ||
         std::fabs(a - b) <= rel * std::fabs(b);
}

std::string bytesText(const UInt8* p, int n) { return std::string(reinterpret_cast<const char*>(p), size_t(n)); }

double dms(const float* v) { return v[0] + v[1] / 60.0 + v[2] / 3600.0; }

// One compared value: exiftool's name, how to get ours, and how to compare.
struct Check {
  const char* ours;      // our tag name, as reported
  const char* exiftool;  // exiftool's name for the same EXIF value
  enum Kind { Text, Number, Apex2Half, ApexInverse } kind;
  std::function<bool(const ExImageInfo&)> present;
  std::function<std::string(const ExImageInfo&)> text;
  std::function<double(const ExImageInfo&)> number;
};

#define TEXT_STR(name, tool, getter) \
  Check{name, tool, Check::Text, [](const ExImageInfo& r) { return r.getter() != nullptr; }, [](const ExImageInfo& r) { return trimmed(r.getter()); }, nullptr}
#define NUM(name, tool, getter, flag) \
  Check{name, tool, Check::Number, [](const ExImageInfo& r) { return r.flag(); }, nullptr, [](const ExImageInfo& r) { return double(r.getter()); }}

std::vector<Check> checks() {
  return {
      TEXT_STR("Make", "Make", getMake),
      TEXT_STR("Model", "Model", getModel),
      TEXT_STR("Software", "Software", getSoftware),
      TEXT_STR("Artist", "Artist", getArtist),
      TEXT_STR("Copyright", "Copyright", getCopyright),
      TEXT_STR("ImageDescription", "ImageDescription", getImageDescription),
      NUM("XResolution", "XResolution", getXResolution, getXResolutionPresent),
      NUM("YResolution", "YResolution", getYResolution, getYResolutionPresent),
      NUM("ResolutionUnit", "ResolutionUnit", getResolutionUnit, getResolutionUnitPresent),
      NUM("Orientation", "Orientation", getOrientation, getOrientationPresent),
      NUM("YCbCrPositioning", "YCbCrPositioning", getYcbcr, getYcbcrPresent),
      NUM("ExposureTime", "ExposureTime", getExposureTime, getExposureTimePresent),
      NUM("FNumber", "FNumber", getFNumber, getFNumberPresent),
      NUM("ExposureProgram", "ExposureProgram", getExposureProgram, getExposureProgramPresent),
      // exiftool calls ISOSpeedRatings "ISO"; several values print space-separated.
      Check{"ISOSpeedRatings", "ISO", Check::Text,
            [](const ExImageInfo& r) { return r.getISOSpeedRating() != nullptr; },
            [](const ExImageInfo& r) {
              std::string s;
              for (int i = 0; i < r.getNumISOSpeeds(); ++i) s += (i ? " " : "") + std::to_string(r.getISOSpeedRating()[i]);
              return s;
            }, nullptr},
      // Version bytes are text such as "0220" for exiftool.
      Check{"ExifVersion", "ExifVersion", Check::Text, [](const ExImageInfo& r) { return r.getVersionPresent(); },
            [](const ExImageInfo& r) { return bytesText(r.getEXIFVersion(), 4); }, nullptr},
      Check{"DateTimeOriginal", "DateTimeOriginal", Check::Text,
            [](const ExImageInfo& r) { return r.getDateTimeOriginalPresent(); },
            [](const ExImageInfo& r) { return trimmed(r.getDateTimeOriginal()); }, nullptr},
      // exiftool's name for DateTimeDigitized is CreateDate.
      Check{"DateTimeDigitized", "CreateDate", Check::Text,
            [](const ExImageInfo& r) { return r.getDateTimeDigitizedPresent(); },
            [](const ExImageInfo& r) { return trimmed(r.getDateTimeDigitized()); }, nullptr},
      Check{"ComponentsConfiguration", "ComponentsConfiguration", Check::Text,
            [](const ExImageInfo& r) { return r.getComponentConfigPresent(); },
            [](const ExImageInfo& r) {
              const UInt8* c = r.getComponentConfig();
              return std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]) + " " + std::to_string(c[3]);
            }, nullptr},
      // exiftool turns these APEX values into seconds and f-numbers even with -n.
      Check{"ShutterSpeedValue", "ShutterSpeedValue", Check::ApexInverse,
            [](const ExImageInfo& r) { return r.getShutterSpeedPresent(); }, nullptr,
            [](const ExImageInfo& r) { return double(r.getShutterSpeed()); }},
      Check{"ApertureValue", "ApertureValue", Check::Apex2Half,
            [](const ExImageInfo& r) { return r.getApertureValuePresent(); }, nullptr,
            [](const ExImageInfo& r) { return double(r.getApertureValue()); }},
      Check{"MaxApertureValue", "MaxApertureValue", Check::Apex2Half,
            [](const ExImageInfo& r) { return r.getMaxAperturePresent(); }, nullptr,
            [](const ExImageInfo& r) { return double(r.getMaxAperture()); }},
      // exiftool's name for ExposureBiasValue is ExposureCompensation.
      NUM("ExposureBiasValue", "ExposureCompensation", getExposureBias, getExposureBiasPresent),
      NUM("MeteringMode", "MeteringMode", getMeteringMode, getMeteringModePresent),
      NUM("LightSource", "LightSource", getLightSource, getLightSourcePresent),
      NUM("Flash", "Flash", getFlash, getFlashPresent),
      NUM("FocalLength", "FocalLength", getFocalLength, getFocalLengthPresent),
      Check{"FlashPixVersion", "FlashpixVersion", Check::Text, [](const ExImageInfo& r) { return r.getFlashPixVersionPresent(); },
            [](const ExImageInfo& r) { return bytesText(r.getFlashPixVersion(), 4); }, nullptr},
      NUM("ColorSpace", "ColorSpace", getColorSpace, getColorSpacePresent),
      // exiftool's names for the pixel dimensions are ExifImageWidth and ExifImageHeight.
      NUM("PixelXDimension", "ExifImageWidth", getPixelXDimension, getPixelXDimensionPresent),
      NUM("PixelYDimension", "ExifImageHeight", getPixelYDimension, getPixelYDimensionPresent),
      NUM("FocalPlaneXResolution", "FocalPlaneXResolution", getFocalPlaneXRes, getFocalPlaneXResPresent),
      NUM("FocalPlaneYResolution", "FocalPlaneYResolution", getFocalPlaneYRes, getFocalPlaneYResPresent),
      NUM("FocalPlaneResolutionUnit", "FocalPlaneResolutionUnit", getFocalPlaneResUnit, getFocalPlaneResUnitPresent),
      NUM("SensingMethod", "SensingMethod", getSensingMethod, getSensingMethodPresent),
      Check{"FileSource", "FileSource", Check::Number, [](const ExImageInfo& r) { return r.getFileSourcePresent(); }, nullptr,
            [](const ExImageInfo& r) { return double(r.getFileSource()[0]); }},
      Check{"SceneType", "SceneType", Check::Number, [](const ExImageInfo& r) { return r.getSceneTypePresent(); }, nullptr,
            [](const ExImageInfo& r) { return double(r.getSceneType()[0]); }},
      NUM("SubjectDistance", "SubjectDistance", getSubjectDistance, getSubjectDistancePresent),
      // exiftool gives the position in decimal degrees; ours is degrees, minutes, seconds.
      Check{"GPSLattitude", "GPSLatitude", Check::Number, [](const ExImageInfo& r) { return r.getGpsLattitudePresent(); }, nullptr,
            [](const ExImageInfo& r) { return dms(r.getGpsLattitude()); }},
      Check{"GPSLongitude", "GPSLongitude", Check::Number, [](const ExImageInfo& r) { return r.getGpsLongitudePresent(); }, nullptr,
            [](const ExImageInfo& r) { return dms(r.getGpsLongitude()); }},
      Check{"GPSLattitudeRef", "GPSLatitudeRef", Check::Text, [](const ExImageInfo& r) { return r.getGpsLattitudeRefPresent(); },
            [](const ExImageInfo& r) { return std::string(r.getGpsLattitudeRef()); }, nullptr},
      Check{"GPSLongitudeRef", "GPSLongitudeRef", Check::Text, [](const ExImageInfo& r) { return r.getGpsLongitudeRefPresent(); },
            [](const ExImageInfo& r) { return std::string(r.getGpsLongitudeRef()); }, nullptr},
      NUM("GPSAltitude", "GPSAltitude", getGpsAltitude, getGpsAltitudePresent),
      NUM("GPSAltitudeRef", "GPSAltitudeRef", getGpsAltitudeRef, getGpsAltitudeRefPresent),
  };
}

// Known, explained disagreements: "file|tag" and why.
const std::map<std::string, const char*> kAllowed = {
#include "exifinfo/exif_metadata_corpus_allowed.inc"
};

std::string baseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }
}  // namespace

TEST(ExifMetadataCorpus, RecordValuesEqualExiftoolsForTheSameDirectories) {
  // Every kind of photograph the table takes, each read as its row reads it.
  std::vector<std::string> files;
  for (const photos::PhotoKind& kind : photos::PhotoKinds()) {
    const std::vector<std::string> ofKind = testsupport::corpusPhotographs(kind.name);
    files.insert(files.end(), ofKind.begin(), ofKind.end());
  }
  if (files.empty()) GTEST_SKIP() << "no corpus";
  REQUIRE_TOOL("exiftool");
  const std::vector<Check> all = checks();
  std::string command = "exiftool -j -n -q -q";
  for (const Check& c : all) {
    const bool gps = std::strncmp(c.exiftool, "GPS", 3) == 0;
    command += std::string(gps ? " -GPS:" : " -EXIF:") + c.exiftool;
  }
  for (const std::string& f : files) command += " " + testsupport::shellQuote(f);
  command += " 2>/dev/null";
  std::string out;
  testsupport::run(command, &out);
  std::map<std::string, Object> tool = parseExiftool(out);
  ASSERT_FALSE(tool.empty());

  int compared = 0, disagreements = 0, allowed = 0;
  std::set<std::string> usedAllowances;
  for (const std::string& file : files) {
    const std::string bytes = testsupport::readFile(file);
    const std::span<const std::uint8_t> whole(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ExImageInfo record;
    photos::ReadPhotographBytes(file, whole, &record);
    const Object& expected = tool[file];
    for (const Check& c : all) {
      auto it = expected.find(c.exiftool);
      if (it == expected.end()) continue;
      ++compared;
      bool same = c.present(record);
      std::string ours = "(absent)";
      // exiftool's words for a rational without a value (and the empty position it makes of
      // one): the record has none either.
      const bool undefined = it->second == "undef" || it->second == "inf" || it->second == "-inf" ||
                             (c.kind != Check::Text && it->second.empty());
      if (undefined) {
        same = !same;
        if (!same) ours = "a value";
      } else if (same && c.kind == Check::Text) {
        ours = c.text(record);
        same = ours == trimmed(it->second);
      } else if (same) {
        double v = c.number(record);
        if (c.kind == Check::Apex2Half) v = std::pow(2.0, v / 2);
        if (c.kind == Check::ApexInverse) v = std::pow(2.0, -v);
        ours = std::to_string(v);
        char* end = nullptr;
        const double theirs = std::strtod(it->second.c_str(), &end);
        const double rel = c.kind == Check::Number ? 1e-6 : 1e-5;
        same = end != it->second.c_str() && near(v, theirs, rel);
      }
      if (same) continue;
      const std::string key = baseName(file) + "|" + c.ours;
      if (kAllowed.count(key)) {
        ++allowed;
        usedAllowances.insert(key);
        continue;
      }
      ++disagreements;
      ADD_FAILURE() << key << ": ours " << ours << ", exiftool " << it->second;
    }
  }
  std::printf("compared %d values in %zu files; %d allowed disagreements\n", compared, files.size(), allowed);
  for (const auto& [key, why] : kAllowed)
    if (!usedAllowances.count(key)) ADD_FAILURE() << "allowance no longer needed: " << key;
  EXPECT_EQ(disagreements, 0);
}
