// SPDX-License-Identifier: GPL-2.0-or-later
// The --info printer: walks the record's field table and turns each present field into a text
// line and a JSON member, under the name and in the unit the presentation table gives it, so
// that a new field in the record is printed without further code.
#include "cli/InfoPrinter.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <type_traits>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "cli/DisplayText.h"
#include "cli/JsonText.h"
#include "cli/Numbers.h"
#include "media/WaveFormats.h"
#include "toolbox/AppKit/NSPathUtilities.h"

namespace cli {
namespace {

// How a field reaches the user when exiftool names or measures it differently from the record.
enum class Form {
  plain,
  offset,        // a directory's offset: only when verbose
  apexSeconds,   // APEX time value: 2^-v seconds
  apexFNumber,   // APEX aperture value: the f-number 2^(v/2)
  degrees,       // degrees, minutes, seconds: decimal degrees, signed by the field's Ref
  altitude,      // metres, negative when the Ref says below sea level
  timeOfDay,     // hours, minutes, seconds: "HH:MM:SS"
};

struct Presentation {
  bool gps;  // GPS tag numbers are their own numbering
  unsigned tag;
  const char* name;  // exiftool's
  Form form;
};

constexpr Presentation kPresentations[] = {
    {false, 34665, "ExifOffset", Form::offset},
    {false, 34853, "GPSInfo", Form::offset},
    {false, 40965, "InteropOffset", Form::offset},
    {false, 34855, "ISO", Form::plain},
    {false, 34856, "Opto-ElectricConvFactor", Form::plain},
    {false, 36868, "CreateDate", Form::plain},
    {false, 37377, "ShutterSpeedValue", Form::apexSeconds},
    {false, 37378, "ApertureValue", Form::apexFNumber},
    {false, 37380, "ExposureCompensation", Form::plain},
    {false, 37381, "MaxApertureValue", Form::apexFNumber},
    {false, 40960, "FlashpixVersion", Form::plain},
    {false, 40962, "ExifImageWidth", Form::plain},
    {false, 40963, "ExifImageHeight", Form::plain},
    {true, 1, "GPSLatitudeRef", Form::plain},
    {true, 2, "GPSLatitude", Form::degrees},
    {true, 4, "GPSLongitude", Form::degrees},
    {true, 6, "GPSAltitude", Form::altitude},
    {true, 7, "GPSTimeStamp", Form::timeOfDay},
    {true, 8, "GPSSatellites", Form::plain},
    {true, 19, "GPSDestLatitudeRef", Form::plain},
    {true, 20, "GPSDestLatitude", Form::degrees},
    {true, 22, "GPSDestLongitude", Form::degrees},
};

Presentation presentationOf(bool gps, unsigned tag, const char* recordName) {
  for (const Presentation& p : kPresentations)
    if (p.gps == gps && p.tag == tag) return p;
  return {gps, tag, recordName, Form::plain};
}

constexpr unsigned kTagTransferFunction = 301;
constexpr unsigned kTagExifVersion = 36864;
constexpr unsigned kTagFlashPixVersion = 40960;
constexpr unsigned kTagUserComment = 37510;
constexpr int kNameColumn = 32;  // exiftool's -s column

// Whether the position or height the field holds lies south, west or below sea level.
bool negativeByRef(const ExImageInfo& r, unsigned gpsTag) {
  auto refIs = [](bool present, const char* ref, char negative) { return present && ref[0] == negative; };
  switch (gpsTag) {
    case 2: return refIs(r.getGpsLattitudeRefPresent(), r.getGpsLattitudeRef(), 'S');
    case 4: return refIs(r.getGpsLongitudeRefPresent(), r.getGpsLongitudeRef(), 'W');
    case 6: return r.getGpsAltitudeRefPresent() && r.getGpsAltitudeRef() == 1;
    default: return false;  // destinations keep exiftool's unsigned degrees beside their Ref
  }
}

template <typename T>
double valueOf(T v) {
  if constexpr (std::is_same_v<T, float>)
    return cameraValue(v);
  else
    return double(v);
}

InfoItem doubleItem(const std::string& name, double v) {
  const std::string text = shortestDecimal(v);
  return {name, text.empty() ? "undefined" : text, json::number(v)};
}

template <typename T>
InfoItem numberItem(const std::string& name, T v) {
  if constexpr (std::is_floating_point_v<T>)
    return doubleItem(name, valueOf(v));
  else if constexpr (std::is_signed_v<T>)
    return {name, std::to_string(v), json::number(std::int64_t(v))};
  else
    return {name, std::to_string(v), json::number(std::uint64_t(v))};
}

InfoItem stringItem(const std::string& name, const std::string& value) {
  return {name, displayText(value), json::quote(value)};
}

template <typename T>
InfoItem numbersItem(const std::string& name, const T* values, std::size_t count) {
  if (count == 1) return numberItem(name, values[0]);
  std::string text;
  std::vector<std::string> items;
  for (std::size_t i = 0; i < count; ++i) {
    const InfoItem one = numberItem(name, values[i]);
    text += (i ? " " : "") + one.text;
    items.push_back(one.json);
  }
  return {name, text, json::array(items)};
}

std::string twoDigits(double v) {
  std::string s = shortestDecimal(v);
  return v < 10 ? "0" + s : s;
}

// "HH:MM:SS" with the seconds' fraction when there is one, as exiftool writes a GPS time.
std::string timeOfDay(double h, double m, double s) {
  if (h != std::floor(h) || m != std::floor(m)) {
    double total = h * 3600 + m * 60 + s;
    h = std::floor(total / 3600);
    total -= h * 3600;
    m = std::floor(total / 60);
    s = std::round((total - m * 60) * 1e6) / 1e6;
  }
  return twoDigits(h) + ":" + twoDigits(m) + ":" + twoDigits(s);
}

template <typename T>
InfoItem arrayItem(const ExImageInfo& r, const Presentation& p, const T* values, std::size_t count) {
  if constexpr (std::is_same_v<T, UInt8>) {
    if (!p.gps && (p.tag == kTagExifVersion || p.tag == kTagFlashPixVersion))
      return stringItem(p.name, std::string(reinterpret_cast<const char*>(values), count));
  }
  if constexpr (std::is_same_v<T, float>) {
    if (count == 3 && p.form == Form::degrees) {
      double degrees = valueOf(values[0]) + valueOf(values[1]) / 60 + valueOf(values[2]) / 3600;
      return doubleItem(p.name, negativeByRef(r, p.tag) ? -degrees : degrees);
    }
    if (count == 3 && p.form == Form::timeOfDay) {
      const std::string t = timeOfDay(valueOf(values[0]), valueOf(values[1]), valueOf(values[2]));
      return stringItem(p.name, t);
    }
  }
  if (!p.gps && p.tag == kTagTransferFunction) return stringItem(p.name, std::to_string(count) + " values");
  return numbersItem(p.name, values, count);
}

template <typename T>
InfoItem numberFieldItem(const ExImageInfo& r, const Presentation& p, T v) {
  switch (p.form) {
    case Form::apexSeconds: return doubleItem(p.name, std::pow(2.0, -valueOf(v)));
    case Form::apexFNumber: return doubleItem(p.name, std::pow(2.0, valueOf(v) / 2));
    case Form::altitude: return doubleItem(p.name, negativeByRef(r, p.tag) ? -valueOf(v) : valueOf(v));
    default: return numberItem(p.name, v);
  }
}

// A directory's text as exiftool shows it: each byte that is no part of UTF-8 as '?' (cameras
// write Latin-1 and other code pages without saying which), trailing blanks removed.
std::string directoryText(const std::string& stored) {
  std::string text;
  for (std::size_t i = 0; i < stored.size();) {
    char32_t cp = 0;
    const std::size_t n = utf8Sequence(stored, i, &cp);
    if (n == 0) {
      text += '?';
      ++i;
    } else {
      text.append(stored, i, n);
      i += n;
    }
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

InfoItem textItem(const Presentation& p, const char* field, std::size_t size) {
  return stringItem(p.name, directoryText(std::string(field, strnlen(field, size))));
}

// The text of a user comment coded "ASCII" or with the empty code, without its padding; false
// for the other codes.
bool commentText(const UInt8* bytes, UInt16 count, std::string* text) {
  static constexpr char kAscii[8] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
  static constexpr char kEmpty[8] = {};
  if (count < sizeof kAscii) return false;
  if (std::memcmp(bytes, kAscii, sizeof kAscii) != 0 && std::memcmp(bytes, kEmpty, sizeof kEmpty) != 0) return false;
  const char* start = reinterpret_cast<const char*>(bytes) + sizeof kAscii;
  *text = directoryText(std::string(start, strnlen(start, count - sizeof kAscii)));
  return true;
}

InfoItem countedItem(const Presentation& p, const UInt8* bytes, UInt16 count) {
  std::string comment;
  if (!p.gps && p.tag == kTagUserComment && commentText(bytes, count, &comment)) return stringItem(p.name, comment);
  const std::string n = std::to_string(count);
  return {p.name, "(" + n + " bytes)", json::object({{"Bytes", n}})};
}

InfoItem countedItem(const Presentation& p, const UInt16* values, UInt16 count) {
  if (count == 0) return {p.name, "", "[]"};
  return numbersItem(p.name, values, count);
}

std::string isoDate(const struct timespec& t) {
  std::tm tm{};
  time_t seconds = t.tv_sec;
  gmtime_r(&seconds, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

// The recording's exact length, as its movie's sound will last: from the WAVE header at the
// start of the first piece.
double durationOf(const ExImageInfo& r) {
  const UInt8* data = nullptr;
  UInt32 length = 0, offset = 0;
  std::uint64_t whole = 0;
  for (UInt32 k = 0; k < r.numAudioBlocks(); ++k) {
    r.getNthAudioBlock(SInt32(k), &data, &length, &offset);
    whole += length;
  }
  if (r.numAudioBlocks() == 0) return 0;
  r.getNthAudioBlock(0, &data, &length, &offset);
  return data != nullptr && offset == 0 ? media::wave::HeaderSeconds(data, length, whole) : 0;
}

InfoItem audioBlocksItem(const ExImageInfo& r, bool verbose) {
  InfoItem blocks{"AudioBlocks", std::to_string(r.numAudioBlocks()), ""};
  std::vector<std::string> blockJson;
  for (UInt32 k = 0; k < r.numAudioBlocks(); ++k) {
    const UInt8* data = nullptr;
    UInt32 length = 0, offset = 0;
    r.getNthAudioBlock(SInt32(k), &data, &length, &offset);
    if (verbose)
      blocks.text += "\n" + std::to_string(k) + ": " + std::to_string(length) + " bytes at WAVE offset " +
                     std::to_string(offset);
    blockJson.push_back(json::object({{"Length", json::number(std::uint64_t(length))},
                                      {"Offset", json::number(std::uint64_t(offset))}}));
  }
  blocks.json = json::array(blockJson);
  return blocks;
}

InfoItem notesItem(const std::vector<PhotoFacts::Note>& notes) {
  InfoItem item{"SoundSources", "", ""};
  std::vector<std::string> noteJson;
  for (const PhotoFacts::Note& note : notes) {
    if (!item.text.empty()) item.text += ", ";
    item.text += displayText(note.source);
    if (!note.file.empty()) item.text += " " + displayText(note.file);
    if (note.used) item.text += " (used)";
    std::vector<std::pair<std::string, std::string>> members{{"Source", json::quote(note.source)}};
    if (!note.file.empty()) members.emplace_back("File", json::quote(note.file));
    members.emplace_back("Used", note.used ? "true" : "false");
    noteJson.push_back(json::object(members));
  }
  item.json = json::array(noteJson);
  return item;
}

}  // namespace

std::vector<InfoItem> infoItems(const ExImageInfo& r, const PhotoFacts& facts, bool verbose) {
  std::vector<InfoItem> items;
  items.push_back(stringItem("FileName", NSStringLastPathComponent(facts.path)));
  items.push_back(stringItem("Directory", NSStringByDeletingLastPathComponent(facts.path)));
  items.push_back(numberItem("FileSize", facts.fileBytes));
  if (r.getCreationDate()) items.push_back(stringItem("CreationDate", isoDate(*r.getCreationDate())));
  items.push_back(numberItem("ImageWidth", r.getPixelWidth()));
  items.push_back(numberItem("ImageHeight", r.getPixelHeight()));
  items.push_back(numberItem("BitmapSize", r.getFileSize()));
  items.push_back(audioBlocksItem(r, verbose));
  items.push_back(numberItem("AudioSeconds", r.getAudioSeconds()));  // whole, rounded up as the record keeps it
  if (const double seconds = durationOf(r); seconds > 0) items.push_back(numberItem("Duration", seconds));  // exact
  if (!facts.soundSource.empty()) items.push_back(stringItem("SoundSource", facts.soundSource));
  if (!facts.soundFile.empty()) items.push_back(stringItem("SoundFile", facts.soundFile));
  if (!facts.notes.empty()) items.push_back(notesItem(facts.notes));

  bool gps = false;
  auto wanted = [verbose](const Presentation& p) { return verbose || p.form != Form::offset; };
#define EXIF_GPS_BEGIN gps = true;
#define EXIF_GPS_END gps = false;
#define EXIF_NUMBER(member, Type, setter, getter, flagSetter, flagGetter, tagName, tag, dir, ext) \
  if (Presentation p = presentationOf(gps, tag, tagName); r.flagGetter() && wanted(p))  \
    items.push_back(numberFieldItem(r, p, r.getter()));
#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, tagName, tag, dir, ext) \
  if (Presentation p = presentationOf(gps, tag, tagName); r.flagGetter() && wanted(p))        \
    items.push_back(arrayItem(r, p, r.getter(), count));
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, tagName, tag, dir, ext) \
  if (Presentation p = presentationOf(gps, tag, tagName); r.flagGetter() && wanted(p)) \
    items.push_back(textItem(p, r.getter(), size));
#define EXIF_STRING(member, setter, getter, tagName, tag, dir, ext)                                    \
  if (Presentation p = presentationOf(gps, tag, tagName); r.getter() != nullptr && wanted(p)) \
    items.push_back(stringItem(p.name, directoryText(r.getter())));
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, bufferGetter, tagName, \
                     tag, dir, ext)                                                                                          \
  if (Presentation p = presentationOf(gps, tag, tagName); r.bufferGetter() != nullptr && wanted(p))                   \
    items.push_back(countedItem(p, r.bufferGetter(), r.countGetter()));
#include "ImageAudio/ExifTags.def"
  (void)gps;
  return items;
}

std::string formatInfoText(const std::vector<InfoItem>& items) {
  std::string out;
  const std::string indent(kNameColumn + 2, ' ');
  for (const InfoItem& item : items) {
    std::string name = item.name;
    if (name.size() < std::size_t(kNameColumn)) name.resize(kNameColumn, ' ');
    out += name + ": ";
    for (char c : item.text) {
      out += c;
      if (c == '\n') out += indent;
    }
    out += "\n";
  }
  return out;
}

std::string formatInfoJson(const std::string& sourceFile, const std::vector<InfoItem>& items) {
  std::vector<std::pair<std::string, std::string>> members{{"SourceFile", json::quote(sourceFile)}};
  for (const InfoItem& item : items) members.emplace_back(item.name, item.json);
  return json::object(members, 2);
}

std::string formatInfoErrorJson(const std::string& sourceFile, const std::string& error) {
  return json::object({{"SourceFile", json::quote(sourceFile)}, {"Error", json::quote(error)}}, 2);
}

}  // namespace cli
