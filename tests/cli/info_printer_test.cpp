// SPDX-License-Identifier: GPL-2.0-or-later
// The --info printer over a record filled by its setters: exiftool's names and units, presence
// rules, numbers that read back exactly, and text that stays safe whatever bytes it holds.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "cli/DisplayText.h"
#include "cli/InfoPrinter.h"
#include "cli/JsonText.h"
#include "cli/Numbers.h"
#include "support/TestPaths.h"

namespace {

std::vector<cli::InfoItem> itemsOf(const ExImageInfo& r, bool verbose = false) {
  return cli::infoItems(r, {"/photos/dsc0001.jpg", 1234, "", "", {}}, verbose);
}

std::string itemText(const ExImageInfo& r, const std::string& name, std::string* json = nullptr, bool verbose = false) {
  for (const cli::InfoItem& item : itemsOf(r, verbose))
    if (item.name == name) {
      if (json) *json = item.json;
      return item.text;
    }
  return "<absent>";
}

bool validJson(const std::string& text) {
  if (!testsupport::requireTool("python3")) return false;
  testsupport::ScratchDir dir;
  testsupport::writeFile(dir.file("x.json"), text);
  return testsupport::run("python3 -m json.tool " + testsupport::shellQuote(dir.file("x.json")) + " >/dev/null 2>&1") == 0;
}

}  // namespace

TEST(InfoPrinter, FreshRecordShowsOnlyFileFactsAndAudio) {
  ExImageInfo r;
  std::vector<std::string> names;
  for (const cli::InfoItem& item : itemsOf(r)) names.push_back(item.name);
  EXPECT_EQ(names, (std::vector<std::string>{"FileName", "Directory", "FileSize", "ImageWidth", "ImageHeight",
                                             "BitmapSize", "AudioBlocks", "AudioSeconds"}));
  EXPECT_EQ(itemText(r, "FileName"), "dsc0001.jpg");
  EXPECT_EQ(itemText(r, "Directory"), "/photos");
  EXPECT_EQ(itemText(r, "FileSize"), "1234");
  EXPECT_TRUE(validJson(cli::formatInfoJson("/photos/dsc0001.jpg", itemsOf(r))));
}

TEST(InfoPrinter, ValuesUnderExiftoolsNamesAndUnits) {
  ExImageInfo r;
  r.setPixelWidth(1280);
  r.setPixelHeight(960);
  r.setFileSize(1280 * 960 * 3);
  r.setCreationDate(timespec{1714555800, 0});
  static const UInt8 wave[100] = {};
  r.addAudioSample(wave, 60, 0);
  r.addAudioSample(wave + 60, 40, 60);
  r.setAudioSeconds(5);

  r.setExposureTime(1.0f / 3);
  r.setExposureTimePresent(true);
  r.setShutterSpeed(6.0f);  // APEX: 1/64 s
  r.setShutterSpeedPresent(true);
  r.setApertureValue(4.0f);  // APEX: f/4
  r.setApertureValuePresent(true);
  r.setExposureBias(-2.0f / 3);
  r.setExposureBiasPresent(true);
  r.setExifIFD(512);
  r.setExifIFDPresent(true);
  const UInt8 version[4] = {'0', '2', '2', '0'};
  r.setEXIFVersion(version);
  r.setVersionPresent(true);
  r.setFlashPixVersion(version);
  r.setFlashPixVersionPresent(true);
  const UInt8 components[4] = {1, 2, 3, 0};
  r.setComponentConfig(components);
  r.setComponentConfigPresent(true);
  const UInt8 source[1] = {3};
  r.setFileSource(source);
  r.setFileSourcePresent(true);
  const float white[2] = {0.3127f, 0.329f};
  r.setWhitePoint(white);
  r.setWhitePointPresent(true);
  const UInt16 transfer[768] = {};
  r.setTransferFunction(transfer);
  r.setTransferFunctionPresent(true);
  r.setDateTimeDigitized("2004:01:31 12:00:00");
  r.setDateTimeDigitizedPresent(true);
  r.setPixelXDimension(1280);
  r.setPixelXDimensionPresent(true);
  r.setNumISOSpeeds(2);
  const UInt16 iso[2] = {100, 200};
  r.setISOSpeedRating(iso);
  r.setMakerNoteLength(4);
  const UInt8 note[4] = {1, 2, 3, 4};
  r.setMakerNote(note);
  const char comment[] = "ASCII\0\0\0Hello   ";
  r.setCommentLength(sizeof comment - 1);
  r.setComment(reinterpret_cast<const UInt8*>(comment));

  std::string json;
  EXPECT_EQ(itemText(r, "ImageWidth"), "1280");
  EXPECT_EQ(itemText(r, "BitmapSize"), "3686400");
  EXPECT_EQ(itemText(r, "CreationDate", &json), "2024-05-01T09:30:00Z");
  EXPECT_EQ(itemText(r, "AudioBlocks", &json), "2");
  EXPECT_EQ(json, R"([{"Length": 60, "Offset": 0}, {"Length": 40, "Offset": 60}])");
  EXPECT_EQ(itemText(r, "AudioBlocks", nullptr, true), "2\n0: 60 bytes at WAVE offset 0\n1: 40 bytes at WAVE offset 60");
  // The camera wrote 1/3 and -2/3: the float's rounding does not show.
  EXPECT_EQ(itemText(r, "ExposureTime", &json), "0.3333333333333333");
  EXPECT_EQ(json, "0.3333333333333333");
  EXPECT_EQ(itemText(r, "ExposureCompensation"), "-0.6666666666666666");
  EXPECT_EQ(itemText(r, "ShutterSpeedValue"), "0.015625");
  EXPECT_EQ(itemText(r, "ApertureValue"), "4");
  EXPECT_EQ(itemText(r, "ExifVersion", &json), "0220");
  EXPECT_EQ(json, "\"0220\"");
  EXPECT_EQ(itemText(r, "FlashpixVersion"), "0220");
  EXPECT_EQ(itemText(r, "ComponentsConfiguration", &json), "1 2 3 0");
  EXPECT_EQ(json, "[1, 2, 3, 0]");
  EXPECT_EQ(itemText(r, "FileSource", &json), "3");
  EXPECT_EQ(itemText(r, "WhitePoint", &json), "0.3127 0.329");
  EXPECT_EQ(json, "[0.3127, 0.329]");
  EXPECT_EQ(itemText(r, "TransferFunction"), "768 values");
  EXPECT_EQ(itemText(r, "CreateDate"), "2004:01:31 12:00:00");
  EXPECT_EQ(itemText(r, "ExifImageWidth"), "1280");
  EXPECT_EQ(itemText(r, "ISO", &json), "100 200");
  EXPECT_EQ(json, "[100, 200]");
  EXPECT_EQ(itemText(r, "MakerNote", &json), "(4 bytes)");
  EXPECT_EQ(json, R"({"Bytes": 4})");
  EXPECT_EQ(itemText(r, "UserComment", &json), "Hello");
  EXPECT_EQ(json, "\"Hello\"");
  // The record's own names stay out of what the user reads; offsets only when verbose.
  for (const char* recordName : {"ISOSpeedRatings", "DateTimeDigitized", "FlashPixVersion", "PixelXDimension",
                                 "ExposureBiasValue", "ExifTag", "ExifOffset"})
    EXPECT_EQ(itemText(r, recordName), "<absent>") << recordName;
  EXPECT_EQ(itemText(r, "ExifOffset", nullptr, true), "512");

  // Flags decide, not values: a set value without its flag stays out, and so does an unset string.
  r.setYResolution(300.0f);
  EXPECT_EQ(itemText(r, "YResolution"), "<absent>");
  EXPECT_EQ(itemText(r, "Model"), "<absent>");

  const std::string all = cli::formatInfoJson("/photos/dsc0001.jpg", itemsOf(r));
  EXPECT_EQ(all.rfind("{\n  \"SourceFile\": \"/photos/dsc0001.jpg\",\n", 0), 0u) << all;
  EXPECT_TRUE(validJson(all)) << all;
  // exiftool's column: the name padded to 32, then ": ".
  EXPECT_NE(cli::formatInfoText(itemsOf(r)).find("\nExposureTime                    : 0.3333333333333333\n"),
            std::string::npos);
}

TEST(InfoPrinter, HostileStringsStayOnOneLineAndInValidJson) {
  ExImageInfo r;
  r.setMake("line\nbreak\t\"quoted\"\\ \x01\x7f \xC2\x9B[31m \xE2\x80\xAE");
  r.setModel("bad \xC3\x28 utf8 \xE2\x82\xAC ok \xF0\x9F\x93\xB7 \xED\xA0\x80 end\xC3");
  std::string json;
  EXPECT_EQ(itemText(r, "Make", &json), "line\\nbreak\\t\"quoted\"\\\\ \\x01\\x7f \\u{009b}[31m \\u{202e}");
  EXPECT_EQ(json, "\"line\\nbreak\\t\\\"quoted\\\"\\\\ \\u0001\\u007f \xC2\x9B[31m \xE2\x80\xAE\"");
  // A directory's bytes that are no UTF-8 show as exiftool shows them, '?' each, in both forms.
  EXPECT_EQ(itemText(r, "Model", &json), "bad ?( utf8 \xE2\x82\xAC ok \xF0\x9F\x93\xB7 ??? end?");
  EXPECT_EQ(json, "\"bad ?( utf8 \xE2\x82\xAC ok \xF0\x9F\x93\xB7 ??? end?\"");
  EXPECT_TRUE(validJson(cli::formatInfoJson("x", itemsOf(r))));
  // A file name is text from outside too.
  EXPECT_EQ(cli::displayText("a\rb\x1b[2J\x9b" "c"), "a\\rb\\x1b[2J\\x9bc");
}

TEST(InfoPrinter, EveryFloatPrintsAsAValueThatReadsBackAsIt) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::uint32_t> bits;
  int recovered = 0;
  for (int i = 0; i < 200000; ++i) {
    std::uint32_t b = bits(rng);
    float v;
    std::memcpy(&v, &b, sizeof v);
    if (!std::isfinite(v)) continue;
    const std::string text = cli::json::number(v);
    ASSERT_EQ(std::strtof(text.c_str(), nullptr), v) << text;
    char own[32];
    *std::to_chars(own, own + sizeof own, v).ptr = '\0';
    recovered += text != own;
  }
  // A fraction stands in for a float only by design, never for arbitrary bits.
  EXPECT_LT(recovered, 20);
  // What cameras write: fractions of small denominators, and short decimals as they are.
  const std::pair<float, const char*> written[] = {
      {1.0f / 3, "0.3333333333333333"}, {1.0f / 60, "0.016666666666666666"}, {10.0f / 3, "3.3333333333333335"},
      {1.0f / 125, "0.008"},             {0.3127f, "0.3127"},                 {28.04669f, "28.04669"},
      {72.0f, "72"},                     {16777216.0f, "16777216"},           {1e-7f, "1e-07"},
  };
  for (const auto& [v, text] : written) EXPECT_EQ(cli::json::number(v), text);
  EXPECT_EQ(cli::json::number(std::numeric_limits<float>::quiet_NaN()), "null");
  EXPECT_EQ(cli::json::number(std::numeric_limits<float>::infinity()), "null");
}
