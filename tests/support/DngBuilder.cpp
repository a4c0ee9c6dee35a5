// SPDX-License-Identifier: GPL-2.0-or-later
// DNG files built directory by directory, with their strips placed after the directories.
#include "support/DngBuilder.h"

#include <cstdint>

#include "support/Fixtures.h"
#include "support/TestPaths.h"
#include "support/TiffBuilder.h"

namespace testsupport {

std::string dngThumbnailPixels() {
  std::string p(std::size_t(kDngThumbWidth) * kDngThumbHeight * 3, '\0');
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = char((i * 7) % 251);
  return p;
}

std::string dngPreviewJpeg(const DngSpec& spec) {
  std::string jpeg = fixtures::makeJpeg({64, 48});
  if (spec.frameSide != 0) {
    const std::size_t sof = jpeg.find("\xFF\xC0", 0, 2);
    if (sof == std::string::npos) return "";
    for (int i : {5, 7}) {
      jpeg[sof + i] = char(spec.frameSide >> 8);
      jpeg[sof + i + 1] = char(spec.frameSide);
    }
  }
  return jpeg;
}

std::string buildDng(const DngSpec& spec, const std::string& jpeg) {
  const std::string thumb = dngThumbnailPixels();
  const std::string rawData(std::size_t(kDngRawSide) * kDngRawSide * 2, '\x10');
  // Two passes: the first finds where the directories end, the second points at the strips
  // placed there (inline values only, so the directories keep their size).
  std::string stream;
  uint32_t blobs = 0, rawIfd = 0, previewIfd = 0;
  for (int pass = 0; pass < 2; ++pass) {
    TiffBuilder b(spec.bigEndian);
    const int ifd0 = b.directory();
    const int raw = b.directory();
    const int preview = spec.jpegPreview ? b.directory() : -1;
    const int exif = spec.dateTimeOriginal.empty() ? -1 : b.directory();
    const uint32_t thumbAt = blobs, rawAt = blobs + uint32_t(thumb.size()), jpegAt = rawAt + uint32_t(rawData.size());
    b.longs(ifd0, 254, {1});
    if (spec.thumbnail) {
      b.longs(ifd0, 256, {kDngThumbWidth});
      b.longs(ifd0, 257, {kDngThumbHeight});
      b.shorts(ifd0, 258, {8, 8, 8});
      b.shorts(ifd0, 259, {uint16_t(spec.thumbnailCompression)});
      b.shorts(ifd0, 262, {2});
    }
    b.ascii(ifd0, 271, "Canon");
    b.ascii(ifd0, 272, "Canon EOS 350D DIGITAL");
    if (spec.thumbnail) b.rawEntry(ifd0, 273, 4, 1, thumbAt);
    b.shorts(ifd0, 274, {uint16_t(spec.orientation)});
    if (spec.thumbnail) {
      b.shorts(ifd0, 277, {3});
      b.longs(ifd0, 278, {kDngThumbHeight});
      b.longs(ifd0, 279, {uint32_t(thumb.size())});
      b.shorts(ifd0, 284, {1});
    }
    if (spec.jpegPreview)
      b.longs(ifd0, 330, {rawIfd, previewIfd});
    else
      b.rawEntry(ifd0, 330, 4, 1, rawIfd);
    if (exif >= 0) {
      b.pointer(ifd0, 34665, exif);
      b.ascii(exif, 36867, spec.dateTimeOriginal);
    }
    b.bytes(ifd0, 50706, std::string("\1\4\0\0", 4), 1);
    b.bytes(ifd0, 50707, std::string("\1\1\0\0", 4), 1);
    b.ascii(ifd0, 50708, "Canon EOS 350D");
    b.entry(ifd0, 50721, 10, 9, [&] {  // ColorMatrix1: identity
      std::string m;
      for (int i = 0; i < 9; ++i) m += b.u32(i % 4 == 0 ? 1 : 0) + b.u32(1);
      return m;
    }());
    b.shorts(ifd0, 50778, {21});

    b.longs(raw, 254, {0});
    b.longs(raw, 256, {kDngRawSide});
    b.longs(raw, 257, {kDngRawSide});
    b.shorts(raw, 258, {16});
    b.shorts(raw, 259, {1});
    b.shorts(raw, 262, {32803});
    b.rawEntry(raw, 273, 4, 1, rawAt);
    b.shorts(raw, 277, {1});
    b.longs(raw, 278, {kDngRawSide});
    b.longs(raw, 279, {uint32_t(rawData.size())});
    b.shorts(raw, 284, {1});
    b.shorts(raw, 33421, {2, 2});
    b.bytes(raw, 33422, std::string("\0\1\1\2", 4), 1);

    if (preview >= 0) {
      b.longs(preview, 254, {1});
      b.longs(preview, 256, {uint32_t(spec.declaredWidth)});
      b.longs(preview, 257, {uint32_t(spec.declaredHeight)});
      b.shorts(preview, 258, {8, 8, 8});
      b.shorts(preview, 259, {7});
      b.shorts(preview, 262, {6});
      b.rawEntry(preview, 273, 4, 1, jpegAt);
      b.shorts(preview, 277, {3});
      b.longs(preview, 278, {uint32_t(spec.declaredHeight)});
      b.longs(preview, 279, {uint32_t(jpeg.size())});
      b.shorts(preview, 284, {1});
    }
    stream = b.build();
    if (stream.size() & 1) stream += '\0';
    blobs = uint32_t(stream.size());
    rawIfd = b.offsetOf(raw);
    previewIfd = preview >= 0 ? b.offsetOf(preview) : 0;
  }
  return stream + thumb + rawData + (spec.jpegPreview ? jpeg : "");
}

std::string simpleDcrawExtract(const std::string& path, std::string* extension) {
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  if (run("cd " + shellQuote(folder.empty() ? "." : folder) + " && simple_dcraw -e " + shellQuote(path) +
          " >/dev/null 2>&1") != 0)
    return "";
  for (const char* ext : {"jpg", "ppm"}) {
    std::string bytes = readFile(path + ".thumb." + ext);
    if (bytes.empty()) continue;
    if (extension != nullptr) *extension = ext;
    return bytes;
  }
  return "";
}

}  // namespace testsupport
