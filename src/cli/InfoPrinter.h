// SPDX-License-Identifier: GPL-2.0-or-later
// Renders an image information record for --info: exiftool's tag names and units where
// exiftool has the tag, clear names for the record's own facts; as aligned "Name : value"
// lines or as one JSON object per photograph.
//
// Items, in order: FileName, Directory, FileSize (bytes of the file), CreationDate (ISO 8601,
// UTC), ImageWidth, ImageHeight, BitmapSize (bytes of the decoded picture), AudioBlocks,
// AudioSeconds, SoundSource, SoundFile, SoundSources; then each metadata field the photograph carries, in the record's
// field order. Directory offsets (ExifOffset, GPSInfo, InteropOffset) only when verbose.
//
// Value forms (text / JSON):
//   numbers                  the shortest decimal that reads back exactly; a float the camera
//                            wrote as a fraction such as 1/3 is that fraction (see cameraValue)
//   ShutterSpeedValue        seconds; ApertureValue, MaxApertureValue: f-numbers (as exiftool)
//   GPSLatitude, GPSLongitude  signed decimal degrees (south and west negative); GPSAltitude
//                            negative below sea level; GPSDestLatitude/Longitude unsigned
//                            degrees beside their Ref; GPSTimeStamp "HH:MM:SS[.ss]"
//   texts                    escaped for the terminal / JSON strings (invalid UTF-8 as U+FFFD)
//   ExifVersion, FlashpixVersion  their 4 characters ("0220")
//   other arrays, ISO        numbers separated by spaces / JSON arrays (one value: a number)
//   TransferFunction         "768 values" in both forms
//   byte buffers (MakerNote, Opto-ElectricConvFactor, SpatialFrequencyResponse, CFAPattern)
//                            "(N bytes)" / {"Bytes": N}; a UserComment coded as ASCII (or
//                            with an empty code) is its text in both forms
//   AudioBlocks              the count (verbose: one line per block after it) /
//                            [{"Length": n, "Offset": n}, ...]
//   SoundSources             every usable voice note found, in the order they are taken, the
//                            one a conversion uses marked: "embedded (used), sidecar DIR/P.WAV" /
//                            [{"Source": s, "File": f, "Used": b}, ...], File only for a file
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class ExImageInfo;

namespace cli {

struct InfoItem {
  std::string name;
  std::string text;  // the value as the text form prints it (continuation lines after "\n")
  std::string json;  // the value encoded as JSON
};

// What --info knows of the photograph besides the record.
struct PhotoFacts {
  std::string path;          // as given
  std::uint64_t fileBytes = 0;
  std::string soundSource;   // "embedded" or "sidecar"; "" when there is no recording
  std::string soundFile;     // the recording beside the photograph, for "sidecar"
  // Every usable voice note found for the photograph, in the order they are taken.
  struct Note {
    std::string source;  // the source's name
    std::string file;    // the recording's own file, when it is one
    bool used = false;   // the one a conversion takes
  };
  std::vector<Note> notes;
};

std::vector<InfoItem> infoItems(const ExImageInfo& record, const PhotoFacts& facts, bool verbose);

// "Name<padding>: value" lines, the names padded to exiftool's column.
std::string formatInfoText(const std::vector<InfoItem>& items);
// One JSON object, SourceFile first, one member per line.
std::string formatInfoJson(const std::string& sourceFile, const std::vector<InfoItem>& items);
// The object for a file that could not be read.
std::string formatInfoErrorJson(const std::string& sourceFile, const std::string& error);

}  // namespace cli
