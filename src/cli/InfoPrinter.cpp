// The --info printer: walks the record's field table and turns each present field into a text
// line and a JSON member, so a new field in the table is printed without further code.
#include "cli/InfoPrinter.h"

#include <cstring>
#include <ctime>
#include <type_traits>

#include "Convert2Mov.h"
#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "cli/JsonText.h"

namespace cli {
namespace {

constexpr unsigned kTagTransferFunction = 301;
constexpr unsigned kTagExifVersion = 36864;
constexpr unsigned kTagFlashPixVersion = 40960;
constexpr unsigned kTagUserComment = 37510;

template <typename T>
std::string textNumber(T v) {
  if constexpr (std::is_floating_point_v<T>)
    return json::shortestFloat(v);
  else
    return std::to_string(v);
}

template <typename T>
std::string jsonNumber(T v) {
  if constexpr (std::is_floating_point_v<T>)
    return json::number(v);
  else if constexpr (std::is_signed_v<T>)
    return json::number(std::int64_t(v));
  else
    return json::number(std::uint64_t(v));
}

// Text output stays on one line and free of terminal controls.
std::string printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out.push_back(char(c));
    }
  }
  return out;
}

InfoItem stringItem(const char* name, const std::string& value) { return {name, printable(value), json::quote(value)}; }

template <typename T>
InfoItem numberItem(const char* name, T v) {
  return {name, textNumber(v), jsonNumber(v)};
}

template <typename T>
InfoItem numbersItem(const char* name, const T* values, std::size_t count) {
  if (count == 1) return numberItem(name, values[0]);
  std::string text;
  std::vector<std::string> items;
  for (std::size_t i = 0; i < count; ++i) {
    if (i) text += " ";
    text += textNumber(values[i]);
    items.push_back(jsonNumber(values[i]));
  }
  return {name, text, json::array(items)};
}

template <typename T>
InfoItem arrayItem(const char* name, unsigned tag, const T* values, std::size_t count) {
  if constexpr (std::is_same_v<T, UInt8>) {
    if (tag == kTagExifVersion || tag == kTagFlashPixVersion)
      return stringItem(name, std::string(reinterpret_cast<const char*>(values), count));
  }
  if (tag == kTagTransferFunction) {
    std::string v = std::to_string(count) + " values";
    return {name, v, json::quote(v)};
  }
  return numbersItem(name, values, count);
}

InfoItem textItem(const char* name, const char* field, std::size_t size) {
  return stringItem(name, std::string(field, strnlen(field, size)));
}

// The text of an "ASCII\0\0\0"-coded user comment, without its padding; false for other codes.
bool asciiComment(const UInt8* bytes, UInt16 count, std::string* text) {
  static constexpr char kCode[8] = {'A', 'S', 'C', 'I', 'I', 0, 0, 0};
  if (count < sizeof kCode || std::memcmp(bytes, kCode, sizeof kCode) != 0) return false;
  const char* start = reinterpret_cast<const char*>(bytes) + sizeof kCode;
  std::string t(start, strnlen(start, count - sizeof kCode));
  while (!t.empty() && t.back() == ' ') t.pop_back();
  *text = t;
  return true;
}

InfoItem countedItem(const char* name, unsigned tag, const UInt8* bytes, UInt16 count) {
  std::string n = std::to_string(count);
  InfoItem item{name, n + " bytes", json::object({{"Bytes", n}})};
  std::string comment;
  if (tag == kTagUserComment && asciiComment(bytes, count, &comment)) {
    item.text += ": \"" + printable(comment) + "\"";
    item.json = json::object({{"Bytes", n}, {"Text", json::quote(comment)}});
  }
  return item;
}

InfoItem countedItem(const char* name, unsigned, const UInt16* values, UInt16 count) {
  if (count == 0) return {name, "", "[]"};
  return numbersItem(name, values, count);
}

std::string isoDate(const struct timespec& t) {
  std::tm tm{};
  time_t seconds = t.tv_sec;
  gmtime_r(&seconds, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

}  // namespace

std::vector<InfoItem> infoItems(const ExImageInfo& r) {
  std::vector<InfoItem> items;
  items.push_back(stringItem("FileName", r.getFileName()));
  items.push_back(numberItem("PixelWidth", r.getPixelWidth()));
  items.push_back(numberItem("PixelHeight", r.getPixelHeight()));
  items.push_back(numberItem("FileSize", r.getFileSize()));
  if (r.getCreationDate()) items.push_back(stringItem("CreationDate", isoDate(*r.getCreationDate())));

  InfoItem blocks{"AudioBlocks", std::to_string(r.numAudioBlocks()), ""};
  std::vector<std::string> blockJson;
  for (UInt32 k = 0; k < r.numAudioBlocks(); ++k) {
    const UInt8* data = nullptr;
    UInt32 length = 0, offset = 0;
    r.getNthAudioBlock(SInt32(k), &data, &length, &offset);
    blocks.text += "\n  " + std::to_string(k) + ": " + std::to_string(length) + " bytes at WAVE offset " +
                   std::to_string(offset);
    blockJson.push_back(json::object({{"Length", json::number(std::uint64_t(length))},
                                      {"Offset", json::number(std::uint64_t(offset))}}));
  }
  blocks.json = json::array(blockJson);
  items.push_back(blocks);
  items.push_back(numberItem("AudioSeconds", r.getAudioSeconds()));
  std::string soundFile;
  const SoundSource source = Convert2Mov::soundSourceOf(r, &soundFile);
  if (source != SoundSource::none)
    items.push_back(stringItem("SoundSource", source == SoundSource::embedded ? "embedded" : "sidecar"));
  if (source == SoundSource::sidecar) items.push_back(stringItem("SoundFile", soundFile));

#define EXIF_NUMBER(member, Type, setter, getter, flagSetter, flagGetter, name, tag) \
  if (r.flagGetter()) items.push_back(numberItem(name, r.getter()));
#define EXIF_ARRAY(member, ElemType, count, setter, getter, flagSetter, flagGetter, name, tag) \
  if (r.flagGetter()) items.push_back(arrayItem(name, tag, r.getter(), count));
#define EXIF_TEXT(member, size, setter, getter, flagSetter, flagGetter, name, tag) \
  if (r.flagGetter()) items.push_back(textItem(name, r.getter(), size));
#define EXIF_STRING(member, setter, getter, name, tag) \
  if (r.getter() != nullptr) items.push_back(stringItem(name, r.getter()));
#define EXIF_COUNTED(countMember, bufferMember, ElemType, countSetter, countGetter, bufferSetter, bufferGetter, name, \
                     tag)                                                                                          \
  if (r.bufferGetter() != nullptr) items.push_back(countedItem(name, tag, r.bufferGetter(), r.countGetter()));
#include "ImageAudio/ExifInfo/ExImageInfoFields.def"
  return items;
}

std::string formatInfoText(const ExImageInfo& record) {
  std::string out;
  for (const InfoItem& item : infoItems(record)) out += item.name + ": " + item.text + "\n";
  return out;
}

std::string formatInfoJson(const ExImageInfo& record) {
  std::vector<std::pair<std::string, std::string>> members;
  for (const InfoItem& item : infoItems(record)) members.emplace_back(item.name, item.json);
  return json::object(members, 2) + "\n";
}

}  // namespace cli
