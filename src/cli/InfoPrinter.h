// Renders an image information record for --info: one "Name: value" line per item, or one
// JSON object. File facts and the audio blocks always appear; metadata fields only when present.
//
// Value forms (text / JSON):
//   integers and floats       decimal; floats in the shortest form that reads back as the same
//                             float (JSON null for NaN or infinity)
//   strings, date texts       as they are / JSON strings (control characters escaped, invalid
//                             UTF-8 replaced by U+FFFD)
//   ExifVersion, FlashPixVersion  their 4 characters ("0220")
//   other inline arrays, ISOSpeedRatings  numbers separated by spaces / JSON arrays of numbers
//                             (one-element arrays such as FileSource print as a single number)
//   TransferFunction          "768 values" in both forms
//   byte buffers (MakerNote, UserComment, OECF, CFAPattern, SpatialFrequencyResponse)
//                             "N bytes" / {"Bytes": N}; a UserComment coded "ASCII\0\0\0" adds
//                             its text: N bytes: "text" / {"Bytes": N, "Text": "text"}
//   CreationDate              ISO 8601 in UTC, e.g. 2024-05-01T09:30:00Z
//   AudioBlocks               the count, then one line per block / [{"Length": n, "Offset": n}]
#pragma once
#include <string>
#include <utility>
#include <vector>

class ExImageInfo;

namespace cli {

struct InfoItem {
  std::string name;
  std::string text;  // the value as the text form prints it
  std::string json;  // the value encoded as JSON
};

// Every item the record holds, in print order: file facts, audio, then the metadata fields in
// the record's field order.
std::vector<InfoItem> infoItems(const ExImageInfo& record);

std::string formatInfoText(const ExImageInfo& record);
std::string formatInfoJson(const ExImageInfo& record);

}  // namespace cli
