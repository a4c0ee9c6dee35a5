// SPDX-License-Identifier: GPL-2.0-or-later
// The raw preview target's seeds: DNGs in both byte orders with JPEG, bitmap or no previews,
// crafted size claims and cuts, and the opening bytes by which other raw formats are known, each
// after the byte (odd) that makes the target read a raw; and answers (after an even byte).
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "media/RawPreview.h"
#include "support/DngBuilder.h"
#include "support/TestPaths.h"

void rawPreviewSeeds(const std::string& out) {
  using testsupport::DngSpec;
  const std::string dir = out + "/raw_preview";
  mkdir(dir.c_str(), 0755);
  auto put = [&](const std::string& name, const std::string& bytes) {
    testsupport::writeFile(dir + "/" + name, "\x01" + bytes);
  };
  auto dng = [](const DngSpec& spec) { return testsupport::buildDng(spec, testsupport::dngPreviewJpeg(spec)); };

  const std::vector<std::pair<const char*, DngSpec>> dngs = {
      {"dng-ii.dng", {}},
      {"dng-mm.dng", {.bigEndian = true}},
      {"dng-turned-right.dng", {.orientation = 6}},
      {"dng-mirrored-mm.dng", {.orientation = 5, .bigEndian = true}},
      {"dng-jpeg-alone.dng", {.thumbnail = false}},
      {"dng-bitmap-only.dng", {.jpegPreview = false}},
      {"dng-bitmap-only-mm.dng", {.jpegPreview = false, .bigEndian = true}},
      {"dng-raw-only.dng", {.thumbnail = false, .jpegPreview = false}},
      {"crafted-declares-65000-square.dng", {.declaredWidth = 65000, .declaredHeight = 65000}},
      {"crafted-frame-claims-65000-square.dng", {.frameSide = 65000}},
      {"crafted-layer-thumbnail.dng", {.jpegPreview = false, .thumbnailCompression = 0}},
  };
  for (const auto& [name, spec] : dngs) put(name, dng(spec));
  const DngSpec plain;
  const std::string whole = dng(plain);
  const std::size_t jpegSize = testsupport::dngPreviewJpeg(plain).size();
  put("crafted-preview-cut-short.dng", whole.substr(0, whole.size() - jpegSize / 2));
  put("crafted-directories-alone.dng", whole.substr(0, 600));

  // Openings other raw formats are told by, each padded so a header read finds bytes to read.
  const std::vector<std::pair<const char*, std::string>> openings = {
      {"crafted-raf-opening.raf", std::string("FUJIFILMCCD-RAW 0201FF393101", 28)},
      {"crafted-mrw-opening.mrw", std::string("\0MRM\0\0\0\x40\0PRD\0\0\0\x18", 16)},
      {"crafted-crw-opening.crw", std::string("II\x1a\0\0\0HEAPCCDR", 14)},
      {"crafted-orf-opening.orf", std::string("IIRO\x08\0\0\0", 8)},
      {"crafted-rw2-opening.rw2", std::string("IIU\0\x08\0\0\0", 8)},
      {"crafted-x3f-opening.x3f", std::string("FOVb\0\0\x02\0", 8)},
      {"crafted-cr3-opening.cr3", std::string("\0\0\0\x18" "ftypcrx \0\0\0\1crx isom", 24)},
      {"crafted-cr3-box-of-no-length.cr3",
       std::string("\0\0\0\x18" "ftypcrx \0\0\0\1crx isom\0\0\0\1\x08\0\0\0", 32)},
  };
  for (const auto& [name, head] : openings) put(name, head + std::string(512, '\0'));

  // Raws that crash LibRaw as it reads their TIFF directories: a child's crash, a refusal.
  for (const char* name : {"tiff-directory-1.dng", "tiff-directory-2.dng", "tiff-directory-3.dng"})
    put(std::string("crafted-crashes-libraw-") + name,
        testsupport::readFile(std::string(STILL2MOV_SOURCE_DIR) + "/tests/photos/hostile-raws/" + name));

  // Answers as a child gives them: a JPEG preview, a grey bitmap and a refusal.
  auto answer = [&](const std::string& name, media::RawPreviewOutcome outcome, const media::RawPreview& p) {
    testsupport::writeFile(dir + "/" + name, "\x02" + media::RawPreviewAnswer(outcome, p));
  };
  media::RawPreview jpeg;
  const std::string preview = testsupport::dngPreviewJpeg(plain);
  jpeg.isJpeg = true;
  jpeg.jpeg.assign(preview.begin(), preview.end());
  jpeg.width = jpeg.height = 16;
  jpeg.orientation = 6;
  answer("answer-jpeg", media::RawPreviewOutcome::ok, jpeg);
  media::RawPreview grey;
  grey.bitmap = {4, 2, 1, std::vector<std::uint8_t>(8, 0x80)};
  grey.width = 4;
  grey.height = 2;
  answer("answer-bitmap", media::RawPreviewOutcome::ok, grey);
  answer("answer-no-preview", media::RawPreviewOutcome::noPreview, {});
}
