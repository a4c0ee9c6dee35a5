// The --info printer over a record filled by its setters: every value form, presence rules,
// and JSON that stays valid whatever bytes the photograph's strings hold.
#include <gtest/gtest.h>

#include "ImageAudio/ExifInfo/ExImageInfo.h"
#include "cli/InfoPrinter.h"
#include "cli/JsonText.h"
#include "support/TestPaths.h"

namespace {

std::string itemText(const ExImageInfo& r, const std::string& name, std::string* json = nullptr) {
  for (const cli::InfoItem& item : cli::infoItems(r))
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
  for (const cli::InfoItem& item : cli::infoItems(r)) names.push_back(item.name);
  EXPECT_EQ(names, (std::vector<std::string>{"FileName", "PixelWidth", "PixelHeight", "FileSize", "AudioBlocks",
                                             "AudioSeconds"}));
  EXPECT_TRUE(validJson(cli::formatInfoJson(r)));
}

TEST(InfoPrinter, EachValueFormInTextAndJson) {
  ExImageInfo r;
  r.setFileName("/photos/dsc0001.jpg");
  r.setPixelWidth(1280);
  r.setPixelHeight(960);
  r.setCreationDate(timespec{1714555800, 0});
  static const UInt8 wave[100] = {};
  r.addAudioSample(wave, 60, 0);
  r.addAudioSample(wave + 60, 40, 60);
  r.setAudioSeconds(5);

  r.setXResolution(72.0f);
  r.setXResolutionPresent(true);
  r.setExposureTime(1.0f / 3);
  r.setExposureTimePresent(true);
  r.setFlash(16);
  r.setFlashPresent(true);
  r.setExifIFD(-5);
  r.setExifIFDPresent(true);
  const UInt8 version[4] = {'0', '2', '2', '0'};
  r.setEXIFVersion(version);
  r.setVersionPresent(true);
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
  r.setDateTimeOriginal("2004:01:31 12:00:00");
  r.setDateTimeOriginalPresent(true);
  r.setMake("Vantor");
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
  EXPECT_EQ(itemText(r, "CreationDate", &json), "2024-05-01T09:30:00Z");
  EXPECT_EQ(itemText(r, "AudioBlocks", &json), "2\n  0: 60 bytes at WAVE offset 0\n  1: 40 bytes at WAVE offset 60");
  EXPECT_EQ(json, R"([{"Length": 60, "Offset": 0}, {"Length": 40, "Offset": 60}])");
  EXPECT_EQ(itemText(r, "XResolution", &json), "72");
  EXPECT_EQ(json, "72");
  EXPECT_EQ(itemText(r, "ExposureTime", &json), "0.33333334");
  EXPECT_EQ(std::strtof(json.c_str(), nullptr), 1.0f / 3);
  EXPECT_EQ(itemText(r, "Flash"), "16");
  EXPECT_EQ(itemText(r, "ExifTag", &json), "-5");
  EXPECT_EQ(itemText(r, "ExifVersion", &json), "0220");
  EXPECT_EQ(json, "\"0220\"");
  EXPECT_EQ(itemText(r, "ComponentsConfiguration", &json), "1 2 3 0");
  EXPECT_EQ(json, "[1, 2, 3, 0]");
  EXPECT_EQ(itemText(r, "FileSource", &json), "3");
  EXPECT_EQ(itemText(r, "WhitePoint", &json), "0.3127 0.329");
  EXPECT_EQ(json, "[0.3127, 0.329]");
  EXPECT_EQ(itemText(r, "TransferFunction", &json), "768 values");
  EXPECT_EQ(itemText(r, "DateTimeOriginal"), "2004:01:31 12:00:00");
  EXPECT_EQ(itemText(r, "Make", &json), "Vantor");
  EXPECT_EQ(itemText(r, "ISOSpeedRatings", &json), "100 200");
  EXPECT_EQ(json, "[100, 200]");
  EXPECT_EQ(itemText(r, "MakerNote", &json), "4 bytes");
  EXPECT_EQ(json, R"({"Bytes": 4})");
  EXPECT_EQ(itemText(r, "UserComment", &json), "16 bytes: \"Hello\"");
  EXPECT_EQ(json, R"({"Bytes": 16, "Text": "Hello"})");

  // Flags decide, not values: a set value without its flag stays out, and so does an unset string.
  r.setYResolution(300.0f);
  EXPECT_EQ(itemText(r, "YResolution"), "<absent>");
  EXPECT_EQ(itemText(r, "Model"), "<absent>");
  EXPECT_EQ(itemText(r, "GPSLattitude"), "<absent>");

  std::string all = cli::formatInfoJson(r);
  EXPECT_TRUE(validJson(all)) << all;
  EXPECT_NE(cli::formatInfoText(r).find("\nMake: Vantor\n"), std::string::npos);
}

TEST(InfoPrinter, HostileStringsStayOnOneLineAndInValidJson) {
  ExImageInfo r;
  r.setMake("line\nbreak\t\"quoted\"\\ \x01\x7f");
  r.setModel("bad \xC3\x28 utf8 \xE2\x82\xAC ok \xF0\x9F\x93\xB7 \xED\xA0\x80 end\xC3");
  std::string json;
  EXPECT_EQ(itemText(r, "Make", &json), "line\\x0abreak\\x09\"quoted\"\\ \\x01\\x7f");
  EXPECT_EQ(json, R"("line\nbreak\t\"quoted\"\\ \u0001\u007f")");
  itemText(r, "Model", &json);
  EXPECT_EQ(json, "\"bad \xEF\xBF\xBD( utf8 \xE2\x82\xAC ok \xF0\x9F\x93\xB7 \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end\xEF\xBF\xBD\"");
  EXPECT_TRUE(validJson(cli::formatInfoJson(r)));
}

TEST(InfoPrinter, FloatsReadBackExactly) {
  for (float v : {0.1f, 1e-7f, 3.4028235e38f, -2.5f, 16777217.0f, 1.0f / 7}) {
    std::string s = cli::json::number(v);
    EXPECT_EQ(std::strtof(s.c_str(), nullptr), v) << s;
  }
  EXPECT_EQ(cli::json::number(std::numeric_limits<float>::quiet_NaN()), "null");
  EXPECT_EQ(cli::json::number(std::numeric_limits<float>::infinity()), "null");
}
