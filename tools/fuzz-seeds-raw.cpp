// SPDX-License-Identifier: GPL-2.0-or-later
// The raw preview target's seeds: DNGs in both byte orders with JPEG, bitmap or no previews,
// crafted size claims and cuts, and the opening bytes by which other raw formats are known.
#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "support/DngBuilder.h"
#include "support/TestPaths.h"

void rawPreviewSeeds(const std::string& out) {
  using testsupport::DngSpec;
  const std::string dir = out + "/raw_preview";
  mkdir(dir.c_str(), 0755);
  auto put = [&](const std::string& name, const std::string& bytes) {
    testsupport::writeFile(dir + "/" + name, bytes);
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
}
