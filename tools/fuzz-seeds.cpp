// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the raw seed inputs of the fuzz targets: photographs carrying every kind of recording in
// every piece layout, EXIF and TIFF streams, WAVE files, pictures, and crafted damaged inputs.
// Usage: fuzz-seeds OUTDIR   -> OUTDIR/<target>/<name>; inputs that must stay are named "crafted-*".
// Everything is built from fixed values, so two runs write the same bytes.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "../fuzz/SidecarInput.h"
#include "../fuzz/TiffFileScript.h"
#include "ImageAudio/Embed/FlashPixAudioWriter.h"
#include "media/MotionPhotoXmp.h"
#include "support/EmbeddedNoteBuilder.h"
#include "support/Fixtures.h"
#include "support/JpegBuilder.h"
#include "support/TestPaths.h"
#include "support/TiffBuilder.h"

namespace {

using fixtures::WaveKind;
using testsupport::TiffBuilder;

std::string gOut;

void put(const std::string& target, const std::string& name, const std::string& bytes) {
  const std::string dir = gOut + "/" + target;
  mkdir(dir.c_str(), 0755);
  testsupport::writeFile(dir + "/" + name, bytes);
}

const std::string kExifId("Exif\0\0", 6);

// ---- EXIF and TIFF streams ----

// Every primary, EXIF, interoperability and GPS row a camera writes, with sensible values.
std::string cameraStream(bool big, bool withGps = true, bool withTransfer = false, uint16_t orientation = 1) {
  TiffBuilder b(big);
  const int ifd0 = b.directory();
  const int exif = b.directory();
  const int interop = b.directory();
  b.ascii(ifd0, 270, "voice note");
  b.ascii(ifd0, 271, "Camera Maker");
  b.ascii(ifd0, 272, "Model 1");
  b.shorts(ifd0, 274, {orientation});
  b.rationals(ifd0, 282, {{72, 1}});
  b.rationals(ifd0, 283, {{72, 1}});
  b.shorts(ifd0, 296, {2});
  if (withTransfer) {
    std::vector<uint16_t> t(768);
    for (size_t i = 0; i < t.size(); ++i) t[i] = uint16_t((i % 256) * 257);
    b.shorts(ifd0, 301, t);
  }
  b.ascii(ifd0, 305, "firmware 1.0");
  b.ascii(ifd0, 306, "2024:05:01 09:30:00");
  b.ascii(ifd0, 315, "someone");
  b.rationals(ifd0, 318, {{313, 1000}, {329, 1000}});
  b.rationals(ifd0, 319, {{64, 100}, {33, 100}, {21, 100}, {71, 100}, {15, 100}, {6, 100}});
  b.rationals(ifd0, 529, {{299, 1000}, {587, 1000}, {114, 1000}});
  b.shorts(ifd0, 531, {2});
  b.rationals(ifd0, 532, {{0, 1}, {255, 1}, {128, 1}, {255, 1}, {128, 1}, {255, 1}});
  b.ascii(ifd0, 33432, "(c) nobody");
  b.pointer(ifd0, 34665, exif);

  b.rationals(exif, 33434, {{1, 125}});
  b.rationals(exif, 33437, {{28, 10}});
  b.shorts(exif, 34850, {2});
  b.ascii(exif, 34852, "none");
  b.shorts(exif, 34855, {100, 200});
  b.bytes(exif, 34856, std::string("\0\1\0\1oecf", 8));
  b.bytes(exif, 36864, "0220");
  b.ascii(exif, 36867, "2024:05:01 09:30:00");
  b.ascii(exif, 36868, "2024:05:01 09:30:01");
  b.bytes(exif, 37121, std::string("\1\2\3\0", 4));
  b.rationals(exif, 37122, {{2, 1}});
  b.rationals(exif, 37377, {{uint32_t(-7), 1}}, 10);
  b.rationals(exif, 37378, {{3, 1}});
  b.rationals(exif, 37379, {{uint32_t(-1), 2}}, 10);
  b.rationals(exif, 37380, {{0, 1}}, 10);
  b.rationals(exif, 37381, {{3, 1}});
  b.rationals(exif, 37382, {{15, 10}});
  b.shorts(exif, 37383, {5});
  b.shorts(exif, 37384, {1});
  b.shorts(exif, 37385, {16});
  b.rationals(exif, 37386, {{63, 10}});
  b.bytes(exif, 37500, std::string(24, 'm'));
  b.bytes(exif, 37510, std::string("ASCII\0\0\0a comment", 17));
  b.ascii(exif, 37520, "12");
  b.ascii(exif, 37521, "34");
  b.ascii(exif, 37522, "56");
  b.bytes(exif, 40960, "0100");
  b.shorts(exif, 40961, {1});
  b.longs(exif, 40962, {64});
  b.shorts(exif, 40963, {48}, 3);
  b.ascii(exif, 40964, "DSC00001.WAV");
  b.pointer(exif, 40965, interop);
  b.rationals(exif, 41483, {{10, 1}});
  b.bytes(exif, 41484, std::string("\0\2\0\1sfr\0", 8));
  b.rationals(exif, 41486, {{2000, 1}});
  b.rationals(exif, 41487, {{2000, 1}});
  b.shorts(exif, 41488, {2});
  b.shorts(exif, 41492, {32, 24});
  b.rationals(exif, 41493, {{100, 1}});
  b.shorts(exif, 41495, {2});
  b.bytes(exif, 41728, "\3");
  b.bytes(exif, 41729, "\1");
  b.bytes(exif, 41730, std::string("\0\2\0\2\0\1\1\2", 8));

  b.ascii(interop, 1, "R98");
  b.bytes(interop, 2, "0100");

  if (withGps) {
    const int gps = b.directory();
    b.pointer(ifd0, 34853, gps);
    b.bytes(gps, 0, std::string("\2\2\0\0", 4), 1);
    b.ascii(gps, 1, "N");
    b.rationals(gps, 2, {{51, 1}, {30, 1}, {1234, 100}});
    b.ascii(gps, 3, "W");
    b.rationals(gps, 4, {{0, 1}, {7, 1}, {3960, 100}});
    b.bytes(gps, 5, std::string("\0", 1), 1);
    b.rationals(gps, 6, {{35, 1}});
    b.rationals(gps, 7, {{9, 1}, {30, 1}, {0, 1}});
    b.ascii(gps, 8, "07");
    b.ascii(gps, 9, "A");
    b.ascii(gps, 10, "3");
    b.rationals(gps, 11, {{15, 10}});
    b.ascii(gps, 12, "K");
    b.rationals(gps, 13, {{0, 1}});
    b.ascii(gps, 14, "T");
    b.rationals(gps, 15, {{90, 1}});
    b.ascii(gps, 16, "M");
    b.rationals(gps, 17, {{180, 1}});
    b.ascii(gps, 18, "WGS-84");
    b.ascii(gps, 19, "N");
    b.rationals(gps, 20, {{51, 1}, {31, 1}, {0, 1}});
    b.ascii(gps, 21, "E");
    b.rationals(gps, 22, {{0, 1}, {1, 1}, {0, 1}});
    b.ascii(gps, 23, "T");
    b.rationals(gps, 24, {{45, 1}});
    b.ascii(gps, 25, "K");
    b.rationals(gps, 26, {{3, 1}});
  }
  return b.build();
}

// Only a primary directory, with the entries the caller adds.
template <typename Fill>
std::string primaryOnly(bool big, Fill fill) {
  TiffBuilder b(big);
  const int d = b.directory();
  b.ascii(d, 271, "Camera Maker");
  fill(b, d);
  return b.build();
}

// A TIFF image the library's own directory reader accepts: one grey pixel in one strip, then
// the entries the caller adds.
template <typename Fill>
std::string tinyImage(bool big, Fill fill) {
  TiffBuilder b(big);
  const int d = b.directory();
  b.longs(d, 256, {1});
  b.longs(d, 257, {1});
  b.shorts(d, 258, {8});
  b.shorts(d, 259, {1});
  b.shorts(d, 262, {1});
  fill(b, d);
  b.longs(d, 278, {1});
  b.longs(d, 279, {1});
  // The strip's one byte sits in the strip-offset entry's own value field region: offset 0 is
  // the header's first byte, which is as good a pixel as any.
  b.longs(d, 273, {0});
  return b.build();
}

// The transfer-table cases: a table sized for one depth, then a larger depth.
std::string transferThenDepth(bool big, unsigned tables, uint16_t laterDepth, bool depthFirst) {
  return primaryOnly(big, [&](TiffBuilder& b, int d) {
    if (tables == 3) b.shorts(d, 277, {3});
    if (depthFirst) b.shorts(d, 258, {1});
    b.shorts(d, 301, std::vector<uint16_t>(2 * tables, 0x8000));  // 2^1 entries per table
    b.shorts(d, 258, {laterDepth});
  });
}

// Compression in the primary directory (the library sets up a codec for it), then a
// sub-directory read.
std::string compressionInPrimary(bool big) {
  TiffBuilder b(big);
  const int ifd0 = b.directory();
  const int exif = b.directory();
  b.shorts(ifd0, 259, {7});
  b.pointer(ifd0, 34665, exif);
  b.rationals(exif, 33434, {{1, 60}});
  return b.build();
}

// ---- WAVE files ----

constexpr WaveKind kWaveKinds[] = {WaveKind::pcm8,  WaveKind::pcm16Mono, WaveKind::pcm16Stereo, WaveKind::muLaw,
                                   WaveKind::aLaw, WaveKind::imaAdpcm,  WaveKind::msAdpcm};

uint32_t le32At(const std::string& s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 | uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}
void setLe32(std::string* s, size_t at, uint32_t v) { s->replace(at, 4, testsupport::le32(v)); }

// Offset of a chunk's header in a RIFF file, or npos.
size_t chunkAt(const std::string& wave, const char* id) {
  size_t pos = 12;
  while (pos + 8 <= wave.size()) {
    if (wave.compare(pos, 4, id) == 0) return pos;
    pos += 8 + le32At(wave, pos + 4) + (le32At(wave, pos + 4) & 1);
  }
  return std::string::npos;
}

std::string chunk(const char* id, const std::string& body) {
  std::string c = std::string(id, 4) + testsupport::le32(uint32_t(body.size())) + body;
  if (body.size() & 1) c += '\0';
  return c;
}

std::string riff(const std::string& chunks) {
  return "RIFF" + testsupport::le32(uint32_t(chunks.size() + 4)) + "WAVE" + chunks;
}

// A PCM format chunk body.
std::string pcmFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  using testsupport::le16;
  const uint16_t align = uint16_t(channels * ((bits + 7) / 8));
  return le16(tag) + le16(channels) + testsupport::le32(rate) + testsupport::le32(rate * align) + le16(align) +
         le16(bits);
}

std::string wave(WaveKind kind, double seconds) { return fixtures::makeWave(kind, {.seconds = seconds, .rate = 8000}); }

void waveSeeds() {
  for (WaveKind kind : kWaveKinds) {
    const std::string w = wave(kind, 0.05);
    if (w.empty()) {
      std::fprintf(stderr, "fuzz-seeds: no %s recording (sox missing?)\n", fixtures::waveKindName(kind));
      std::exit(1);
    }
    put("wave_import", std::string("kind-") + fixtures::waveKindName(kind) + ".wav", w);
  }
  const std::string pcm = testsupport::pseudoRandomBytes(400, 7);
  put("wave_import", "pcm16-11025-stereo.wav", riff(chunk("fmt ", pcmFormat(1, 2, 11025, 16)) + chunk("data", pcm)));
  put("wave_import", "pcm24.wav", riff(chunk("fmt ", pcmFormat(1, 1, 8000, 24)) + chunk("data", pcm.substr(0, 300))));
  put("wave_import", "float32.wav", riff(chunk("fmt ", pcmFormat(3, 1, 8000, 32)) + chunk("data", pcm)));
  {
    using testsupport::le16;
    std::string ext = pcmFormat(0xFFFE, 1, 8000, 16) + le16(22) + le16(16) + testsupport::le32(4) + le16(1) +
                      std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    put("wave_import", "extensible-pcm16.wav", riff(chunk("fmt ", ext) + chunk("data", pcm)));
  }
  put("wave_import", "list-before-fmt.wav",
      riff(chunk("LIST", "INFOISFT" + testsupport::le32(5) + "sox\0\0") + chunk("fmt ", pcmFormat(1, 1, 8000, 8)) +
           chunk("data", pcm.substr(0, 101))));
  put("wave_import", "fmt-after-data.wav",
      riff(chunk("data", pcm) + chunk("fmt ", pcmFormat(1, 1, 8000, 16))));

  // The linear kinds at their widths and channel counts, plain and extensible.
  for (WaveKind kind : {WaveKind::pcm24, WaveKind::pcm32, WaveKind::float32, WaveKind::float64, WaveKind::gsm610})
    put("wave_import", std::string("kind-") + fixtures::waveKindName(kind) + ".wav", wave(kind, 0.05));
  auto linear = [](WaveKind kind, fixtures::WaveSpec spec) {
    spec.seconds = 0.02;
    return fixtures::makeWave(kind, spec);
  };
  put("wave_import", "pcm24-6ch-96k.wav", linear(WaveKind::pcm24, {.rate = 96000, .channels = 6}));
  put("wave_import", "pcm32-valid24.wav", linear(WaveKind::pcm32, {.validBits = 24}));
  put("wave_import", "pcm32-valid8.wav", linear(WaveKind::pcm32, {.channels = 1, .validBits = 8}));
  put("wave_import", "pcm16-valid12.wav", linear(WaveKind::pcm16Mono, {.validBits = 12}));
  put("wave_import", "float32-extensible.wav", linear(WaveKind::float32, {.extensible = true}));
  put("wave_import", "pcm16-8ch-mask.wav",
      linear(WaveKind::pcm16Stereo, {.channels = 8, .extensible = true, .channelMask = 0x63F}));
  put("wave_import", "float64-3ch.wav", linear(WaveKind::float64, {.channels = 3}));
  {
    using testsupport::le16;
    const std::string data = chunk("data", pcm.substr(0, 96));
    auto extensible = [&](uint16_t channels, uint16_t bits, uint16_t cb, uint16_t valid, const std::string& guid) {
      return riff(chunk("fmt ", pcmFormat(0xFFFE, channels, 8000, bits) + le16(cb) + le16(valid) +
                                    testsupport::le32(0) + guid) + data);
    };
    const std::string pcmGuid("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);
    const std::string floatGuid("\x03\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);
    const std::string oddGuid("\x01\x00\x00\x00\x11\x11\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);
    put("wave_import", "crafted-extensible-valid-above-container.wav", extensible(2, 16, 22, 24, pcmGuid));
    put("wave_import", "crafted-extensible-extension-short.wav", extensible(1, 16, 0, 16, pcmGuid).replace(16, 4,
        testsupport::le32(18)));
    put("wave_import", "crafted-extensible-foreign-guid.wav", extensible(1, 16, 22, 16, oddGuid));
    put("wave_import", "crafted-extensible-float24.wav", extensible(1, 24, 22, 24, floatGuid));
    put("wave_import", "crafted-nine-channels.wav", riff(chunk("fmt ", pcmFormat(1, 9, 8000, 16)) + data));
    put("wave_import", "crafted-pcm-zero-bits.wav", riff(chunk("fmt ", pcmFormat(1, 2, 8000, 0)) + data));
    put("wave_import", "crafted-float16.wav", riff(chunk("fmt ", pcmFormat(3, 1, 8000, 16)) + data));
    put("wave_import", "crafted-pcm-40-bits.wav", riff(chunk("fmt ", pcmFormat(1, 1, 8000, 40)) + data));
    // A frame wider than the whole data chunk.
    put("wave_import", "crafted-frame-beyond-data.wav",
        riff(chunk("fmt ", pcmFormat(1, 8, 8000, 32)) + chunk("data", pcm.substr(0, 7))));
  }

  std::string big = wave(WaveKind::pcm16Mono, 0.02);
  setLe32(&big, chunkAt(big, "data") + 4, 0x7FFFFFF0);
  put("wave_import", "crafted-data-size-huge.wav", big);
  std::string bigRiff = wave(WaveKind::imaAdpcm, 0.1);
  setLe32(&bigRiff, 4, 0xFFFFFFF0);
  setLe32(&bigRiff, chunkAt(bigRiff, "data") + 4, 0xFFFFFF00);
  put("wave_import", "crafted-riff-and-data-size-huge.wav", bigRiff);
  std::string cut = wave(WaveKind::msAdpcm, 0.2);
  put("wave_import", "crafted-cut-inside-data.wav", cut.substr(0, cut.size() * 2 / 3));
}

// ---- Photographs ----

std::string smallPhoto() { return fixtures::makeJpeg({.width = 64, .height = 48, .quality = 50}); }

std::string withExif(const std::string& jpeg, const std::string& tiff) {
  return fixtures::withSegment(jpeg, 0xE1, kExifId + tiff);
}

std::string embed(const std::string& jpeg, const std::string& w, const flashpix::EmbedOptions& options = {}) {
  std::string out = fixtures::embedWave(jpeg, w, options);
  if (out.empty()) {
    std::fprintf(stderr, "fuzz-seeds: the embedder refused a seed\n");
    std::exit(1);
  }
  return out;
}

// Offset of the n-th (from 0) APP2 "FPXR" stream piece (type 2) of a photograph, or npos.
size_t streamPiece(const std::string& jpeg, int n) {
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && uint8_t(jpeg[pos]) == 0xFF && uint8_t(jpeg[pos + 1]) != 0xDA) {
    const size_t length = size_t(uint8_t(jpeg[pos + 2])) << 8 | uint8_t(jpeg[pos + 3]);
    if (uint8_t(jpeg[pos + 1]) == 0xE2 && jpeg.compare(pos + 4, 4, "FPXR") == 0 && jpeg[pos + 10] == 2 && n-- == 0)
      return pos;
    pos += 2 + length;
  }
  return std::string::npos;
}

// The first image of a Multi-Picture file: jpeg with an MPF index whose first entry gives the
// length of the result plus claimedExtra bytes, and whose second lists next, which the caller
// appends.
std::string withMpfIndex(const std::string& jpeg, const std::string& next, bool big, long claimedExtra = 0) {
  auto u32 = [big](uint32_t v) { return big ? testsupport::be32(v) : testsupport::le32(v); };
  auto u16 = [big](uint16_t v) { return big ? testsupport::be16(v) : testsupport::le16(v); };
  constexpr uint32_t kEntries = 8 + 2 + 12 + 4;  // header, one IFD entry, next-IFD link
  const size_t segment = 2 + 2 + 4 + kEntries + 32;
  const uint32_t first = uint32_t(long(jpeg.size() + segment) + claimedExtra);
  std::string index = std::string("MPF\0", 4) + (big ? std::string("MM\0*", 4) : std::string("II*\0", 4)) + u32(8) +
                      u16(1) + u16(0xB002) + u16(7) + u32(32) + u32(kEntries) + u32(0);
  index += u32(0x20030000) + u32(first) + u32(0) + std::string(4, '\0');
  index += u32(0x00020002) + u32(uint32_t(next.size())) + u32(first - 8 - 4) + std::string(4, '\0');
  return fixtures::withSegment(jpeg, 0xE2, index);
}

// Start of the entropy-coded data (after the SOS segment).
size_t scanData(const std::string& jpeg) {
  size_t sos = jpeg.find("\xFF\xDA");
  return sos + 2 + (size_t(uint8_t(jpeg[sos + 2])) << 8 | uint8_t(jpeg[sos + 3]));
}

void photoSeeds() {
  const std::string plain = smallPhoto();
  const std::string camera = withExif(plain, cameraStream(false, true));
  const std::vector<std::string> photoTargets = {"jpeg_reader", "conversion"};
  auto both = [&](const std::string& name, const std::string& bytes) {
    for (const std::string& t : photoTargets) put(t, name, bytes);
  };

  both("plain.jpg", plain);
  both("camera-no-audio.jpg", camera);
  both("icc-profile.jpg", fixtures::withSegment(embed(plain, wave(WaveKind::pcm8, 0.05)), 0xE2,
                                                fixtures::iccProfileSegmentPayload()));
  for (WaveKind kind : kWaveKinds)
    both(std::string("one-piece-") + fixtures::waveKindName(kind) + ".jpg", embed(camera, wave(kind, 0.1)));

  const std::string ima = wave(WaveKind::imaAdpcm, 0.5);  // several 256-byte blocks
  const std::string manyPieces = embed(camera, ima, fixtures::pieces(300));
  both("many-pieces.jpg", manyPieces);
  const size_t pieceCount = flashpix::pieceCount(ima.size(), 300);
  std::vector<size_t> reversed;
  for (size_t k = pieceCount; k-- > 0;) reversed.push_back(k);
  both("pieces-out-of-order.jpg", embed(camera, ima, fixtures::pieces(300, reversed)));
  flashpix::EmbedOptions noContents = fixtures::pieces(400);
  noContents.contentsList = false;
  both("pieces-no-contents-list.jpg", embed(plain, ima, noContents));
  // Pieces long enough that the conversion leaves whole pages of them in the file, unheld.
  both("long-pieces.jpg", embed(plain, wave(WaveKind::pcm8, 1.5), fixtures::pieces(6000)));
  both("grey-progressive.jpg",
       embed(fixtures::makeJpeg({.width = 40, .height = 30, .grey = true, .progressive = true, .quality = 50}),
             wave(WaveKind::muLaw, 0.1)));

  // Recordings of the wider linear kinds, carried in the photograph.
  both("one-piece-float32.jpg", embed(camera, wave(WaveKind::float32, 0.05)));
  both("one-piece-pcm24-6ch.jpg",
       embed(camera, fixtures::makeWave(WaveKind::pcm24, {.seconds = 0.01, .rate = 48000, .channels = 6})));
  both("one-piece-pcm32-valid24.jpg", embed(plain, fixtures::makeWave(WaveKind::pcm32, {.seconds = 0.02, .validBits = 24})));
  // Every orientation a camera writes, and values none does.
  for (uint16_t o : {3, 6, 8})
    both("orientation-" + std::to_string(o) + ".jpg",
         embed(withExif(plain, cameraStream(o == 8, false, false, o)), wave(WaveKind::pcm8, 0.02)));
  for (uint16_t o : {0, 9, 0xFFFF})
    both("crafted-orientation-" + std::to_string(o) + ".jpg", withExif(plain, cameraStream(false, false, false, o)));
  // Multi-Picture files: the first image's index gives its length; a second image follows.
  const std::string second = fixtures::makeJpeg({.width = 16, .height = 12, .quality = 30});
  both("mpf-two-images.jpg", withMpfIndex(embed(camera, wave(WaveKind::pcm8, 0.02)), second, false) + second);
  both("mpf-two-images-mm.jpg", withMpfIndex(plain, second, true) + second);
  both("crafted-mpf-length-beyond-file.jpg", withMpfIndex(plain, second, false, 1 << 20) + second);
  both("crafted-mpf-length-inside-image.jpg", withMpfIndex(plain, second, false, -40) + second);
  {
    std::string entriesAway = withMpfIndex(plain, second, false);
    const size_t at = entriesAway.find(std::string("\x02\xB0\x07\0", 4));
    entriesAway.replace(at + 8, 4, testsupport::le32(0xFFFFFFF0));
    both("crafted-mpf-entries-offset-huge.jpg", entriesAway + second);
  }

  // Pieces that claim offsets or sizes far beyond the bytes the photograph carries.
  {
    std::string hugeOffset = manyPieces;
    size_t last = streamPiece(hugeOffset, int(pieceCount) - 1);
    hugeOffset.replace(last + 13, 4, testsupport::be32(0x7FFFFF00));
    both("crafted-piece-offset-2g.jpg", hugeOffset);
    hugeOffset.replace(last + 13, 4, testsupport::be32(0xFFFFFF00));
    both("crafted-piece-offset-4g.jpg", hugeOffset);
    std::string bigData = wave(WaveKind::pcm16Mono, 0.05);
    setLe32(&bigData, 4, 0xFFFFFFF0);
    setLe32(&bigData, chunkAt(bigData, "data") + 4, 0x7FFFFFF0);
    both("crafted-wave-data-size-2g.jpg", embed(plain, bigData));
  }
  // Damaged photographs: cut inside the audio pieces, the last piece gone, cut inside the picture.
  {
    const size_t second = streamPiece(manyPieces, 1);
    both("crafted-cut-inside-audio.jpg", manyPieces.substr(0, second + 100));
    const size_t lastPiece = streamPiece(manyPieces, int(pieceCount) - 1);
    const size_t lastLength = 2 + (size_t(uint8_t(manyPieces[lastPiece + 2])) << 8 | uint8_t(manyPieces[lastPiece + 3]));
    both("crafted-last-piece-missing.jpg", std::string(manyPieces).erase(lastPiece, lastLength));
    const std::string onePiece = embed(camera, wave(WaveKind::pcm16Mono, 0.1));
    const size_t scan = scanData(onePiece);
    both("crafted-cut-inside-picture.jpg", onePiece.substr(0, scan + (onePiece.size() - scan) / 2));
  }
  // Transfer tables sized for one depth read at a larger one, in a photograph.
  both("crafted-transfer-before-depth.jpg", embed(withExif(plain, transferThenDepth(false, 1, 8, false)),
                                                  wave(WaveKind::pcm8, 0.05)));
  both("crafted-depth-repeated-larger-mm.jpg", embed(withExif(plain, transferThenDepth(true, 3, 16, true)),
                                                     wave(WaveKind::pcm8, 0.05)));
  // Compression in the primary directory (a codec is set up for it).
  both("crafted-compression-in-ifd0.jpg", embed(withExif(plain, compressionInPrimary(false)), wave(WaveKind::pcm8, 0.05)));
  // Two EXIF segments: the second has no sub-directories of its own but bytes where the first's were.
  {
    const std::string first = cameraStream(false, true);
    std::string second = primaryOnly(false, [](TiffBuilder&, int) {});
    second += testsupport::pseudoRandomBytes(first.size(), 3);
    const std::string two = fixtures::withSegment(withExif(plain, second), 0xE1, kExifId + first);
    both("crafted-two-exif-segments.jpg", embed(two, wave(WaveKind::pcm8, 0.05)));
  }
}

// ---- Recordings beside the photograph (conversion only) ----

void sidecarSeeds() {
  const std::string plain = smallPhoto();
  const std::string camera = withExif(plain, cameraStream(false, false, false, 6));  // names DSC00001.WAV
  auto put2 = [](const std::string& name, const std::string& photo, unsigned char choice, const std::string& w) {
    put("conversion", name, sidecarinput::join(photo, choice, w));
  };
  put2("beside-same-stem.jpg", plain, 0, wave(WaveKind::imaAdpcm, 0.1));
  put2("beside-related-name.jpg", camera, 1, wave(WaveKind::pcm16Stereo, 0.05));
  put2("beside-float32.jpg", plain, 0, wave(WaveKind::float32, 0.05));
  std::string cut = wave(WaveKind::pcm16Mono, 0.1);
  put2("crafted-beside-cut-short.jpg", plain, 0, cut.substr(0, cut.size() / 2));
  put2("crafted-beside-not-wave.jpg", plain, 0, "RIFF\x04\0\0\0AVI ");
  put2("crafted-beside-empty.jpg", camera, 1, "");
  // A recording beside a photograph that carries its own: the embedded one wins.
  put2("beside-and-embedded.jpg", embed(plain, wave(WaveKind::pcm8, 0.02)), 0, wave(WaveKind::muLaw, 0.05));
}

// ---- TIFF streams for the EXIF segment and the library's own directory reader ----

// The offsets of the directories the builder lays out one after another from byte 8.
std::vector<uint32_t> directoryOffsets(const std::string& tiff) {
  const bool big = tiff[0] == 'M';
  auto u16 = [&](size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(tiff.data() + at);
    return big ? uint32_t(p[0] << 8 | p[1]) : uint32_t(p[1] << 8 | p[0]);
  };
  std::vector<uint32_t> offsets;
  for (uint32_t at = 8; at + 2 <= tiff.size() && offsets.size() < 8;) {
    const uint32_t entries = u16(at);
    if (entries == 0 || at + 2 + 12 * entries + 4 > tiff.size()) break;
    offsets.push_back(at);
    at += 2 + 12 * entries + 4;
  }
  return offsets;
}

// Links each directory to the one after it, so the library's own reader walks a chain.
std::string chained(std::string tiff) {
  const std::vector<uint32_t> offsets = directoryOffsets(tiff);
  const bool big = tiff[0] == 'M';
  for (size_t d = 0; d + 1 < offsets.size(); ++d) {
    const size_t field = offsets[d + 1] - 4;
    for (int b = 0; b < 4; ++b)
      tiff[field + size_t(b)] = char((offsets[d + 1] >> (8 * (big ? 3 - b : b))) & 0xFF);
  }
  return tiff;
}

using tiffscript::Op;
using tiffscript::Step;

// As a photograph's EXIF segment is read: no directory at open, then the first one with the
// directories it names.
std::string asExifSegment(const std::string& tiff) {
  return tiffscript::build(true, {{Op::recordExif, 0}, {Op::print, 0}}, tiff);
}
// As a TIFF file is read: the first directory at open, then the next ones in the chain.
std::string asTiffFile(const std::string& tiff) {
  return tiffscript::build(false, {{Op::recordCurrent, 0}, {Op::print, 0}, {Op::recordTiff, 0}, {Op::print, 0},
                                   {Op::next, 0}, {Op::print, 0}}, tiff);
}

void tiffSeeds() {
  auto both = [](const std::string& name, const std::string& tiff) {
    put("exif_segment", name, tiff);
    put("tiff_file", name, asExifSegment(tiff));
  };
  both("camera-ii.tif", cameraStream(false, true, true));
  both("camera-mm.tif", cameraStream(true, true, false));
  both("camera-no-gps.tif", cameraStream(false, false, false));
  both("crafted-transfer-before-depth-ii.tif", transferThenDepth(false, 1, 8, false));
  both("crafted-transfer-before-depth-mm.tif", transferThenDepth(true, 1, 8, false));
  both("crafted-transfer3-before-depth16-ii.tif", transferThenDepth(false, 3, 16, false));
  both("crafted-depth-repeated-larger-ii.tif", transferThenDepth(false, 1, 8, true));
  both("crafted-depth-repeated-larger-mm.tif", transferThenDepth(true, 3, 16, true));
  both("crafted-compression-in-ifd0.tif", compressionInPrimary(false));
  both("crafted-compression-in-ifd0-mm.tif", compressionInPrimary(true));

  // Each directory of a camera stream reached on its own, by offset or by number, through
  // each reader; and a chain walked to its end.
  for (bool big : {false, true}) {
    const std::string camera = cameraStream(big, true, true);
    const std::vector<uint32_t> at = directoryOffsets(camera);  // primary, EXIF, interop, GPS
    const std::string order = big ? "-mm" : "-ii";
    put("tiff_file", "directories-by-offset" + order + ".tif",
        tiffscript::build(true, {{Op::privateAt, at[0]}, {Op::recordCurrent, 0}, {Op::privateAt, at[1]},
                                 {Op::recordCurrent, 1}, {Op::privateAt, at[3]}, {Op::recordCurrent, 2},
                                 {Op::privateAt, at[2]}, {Op::print, 0}}, camera));
    put("tiff_file", "library-reader-by-offset" + order + ".tif",
        tiffscript::build(false, {{Op::subDirectory, at[1]}, {Op::recordCurrent, 1}, {Op::print, 3},
                                  {Op::subDirectory, at[3]}, {Op::recordCurrent, 2}, {Op::print, 0}}, camera));
    const std::string chain = chained(camera);
    put("tiff_file", "chain-walked" + order + ".tif",
        tiffscript::build(false, {{Op::next, 0}, {Op::recordCurrent, 1}, {Op::next, 0}, {Op::print, 0}, {Op::next, 0},
                                  {Op::recordCurrent, 2}, {Op::number, 1}, {Op::print, 0}, {Op::number, 0},
                                  {Op::recordTiff, 0}, {Op::print, 0}}, chain));
  }
  put("tiff_file", "crafted-offset-beyond-stream.tif",
      tiffscript::build(true, {{Op::privateAt, 0xFFFFFFF0}, {Op::subDirectory, 0xFFFFFFFE}, {Op::recordCurrent, 0},
                               {Op::print, 0}}, cameraStream(false)));

  // Image directories for the library's own reader, each carrying rows it must be told about.
  auto image = [](const std::string& name, const std::string& tiff) { put("tiff_file", name, asTiffFile(tiff)); };
  image("tiny-image-ii.tif", tinyImage(false, [](TiffBuilder&, int) {}));
  image("tiny-camera-rows-mm.tif", tinyImage(true, [](TiffBuilder& b, int d) {
          b.ascii(d, 271, "Camera Maker");
          b.ascii(d, 306, "2024:05:01 09:30:00");
          b.rationals(d, 33434, {{1, 60}});
          b.shorts(d, 34855, {400});
        }));
  image("crafted-tiny-compression7.tif", tinyImage(false, [](TiffBuilder& b, int d) { b.shorts(d, 259, {7}); }));
  image("crafted-filesource.tif", tinyImage(false, [](TiffBuilder& b, int d) { b.bytes(d, 41728, "\3"); }));
  image("crafted-scenetype-mm.tif", tinyImage(true, [](TiffBuilder& b, int d) { b.bytes(d, 41729, "\1"); }));
  image("crafted-datetimeoriginal.tif",
        tinyImage(false, [](TiffBuilder& b, int d) { b.ascii(d, 36867, "2024:05:01 09:30:00"); }));
  image("crafted-datetimedigitized.tif",
        tinyImage(false, [](TiffBuilder& b, int d) { b.ascii(d, 36868, "2024:05:01 09:30:00"); }));
  image("crafted-relatedsoundfile.tif",
        tinyImage(false, [](TiffBuilder& b, int d) { b.ascii(d, 40964, "DSC00001.WAV"); }));
  for (uint16_t tag : {1, 3, 9, 10, 12, 14, 16, 19, 21, 23, 25}) {
    image("crafted-gps-ascii-" + std::to_string(tag) + ".tif",
          tinyImage(false, [tag](TiffBuilder& b, int d) { b.ascii(d, tag, "N"); }));
  }
}

// ---- Pictures ----

struct PictureSpec {
  int width, height, components;
  bool progressive = false;
  bool arithmetic = false;
  int restartRows = 0;
  bool fullChroma = false;
};

std::string encode(const PictureSpec& spec) {
  fixtures::JpegEncoding how;
  how.quality = 40;
  how.progressive = spec.progressive;
  how.arithmetic = spec.arithmetic;
  how.restartRows = spec.restartRows;
  how.fullChroma = spec.fullChroma;
  const size_t rowSamples = size_t(spec.width) * size_t(spec.components);
  return fixtures::encodeJpeg(spec.width, spec.height, spec.components, how, [&](int y, std::uint8_t* row) {
    for (size_t x = 0; x < rowSamples; ++x) row[x] = std::uint8_t((x * 5 + size_t(y) * 3) & 0xFF);
  });
}

void pictureSeeds() {
  put("picture", "rgb-64x48.jpg", encode({64, 48, 3}));
  put("picture", "rgb-48x64-444.jpg", encode({48, 64, 3, false, false, 0, true}));
  put("picture", "grey-40x30.jpg", encode({40, 30, 1}));
  put("picture", "progressive-40x30.jpg", encode({40, 30, 3, true}));
  // Scaled to an eighth, progressive pictures are decoded from their DC scans alone.
  put("picture", "progressive-restarts-48x40.jpg", encode({48, 40, 3, true, false, 1}));
  put("picture", "progressive-grey-33x17.jpg", encode({33, 17, 1, true}));
  put("picture", "progressive-444-24x24.jpg", encode({24, 24, 3, true, false, 0, true}));
  // The DC-scan decoder's own: a byte saying YCbCr (1) or grey (0), then the stream.
  put("jpeg_dc", "ycc-420.jpg", "\x01" + encode({40, 30, 3, true}));
  put("jpeg_dc", "ycc-restarts.jpg", "\x01" + encode({48, 40, 3, true, false, 1}));
  put("jpeg_dc", "ycc-444.jpg", "\x01" + encode({24, 24, 3, true, false, 0, true}));
  put("jpeg_dc", "grey.jpg", std::string(1, '\0') + encode({33, 17, 1, true}));
  put("picture", "cmyk-16x16.jpg", encode({16, 16, 4}));
  put("picture", "arithmetic-16x16.jpg", encode({16, 16, 3, false, true}));
  put("picture", "restarts-32x32.jpg", encode({32, 32, 3, false, false, 1}));
  put("picture", "one-pixel.jpg", encode({1, 1, 3}));
  put("picture", "wide-200x3.jpg", encode({200, 3, 1}));
  put("picture", "tall-3x200.jpg", encode({3, 200, 3}));
  put("picture", "with-exif.jpg", withExif(encode({24, 16, 3}), cameraStream(false, false)));
  const std::string whole = encode({64, 48, 3, true});
  const size_t scan = scanData(whole);
  put("picture", "crafted-cut-inside-picture.jpg", whole.substr(0, scan + (whole.size() - scan) / 3));
  const std::string small = encode({16, 12, 3});
  put("picture", "mpf-two-images.jpg", withMpfIndex(encode({40, 30, 3}), small, false) + small);
  put("picture", "crafted-mpf-length-inside-image.jpg", withMpfIndex(encode({40, 30, 3}), small, true, -30) + small);
  // A frame header that claims a huge picture over a few bytes of data.
  std::string claim = encode({8, 8, 1});
  const size_t sof = claim.find("\xFF\xC0");
  claim.replace(sof + 5, 4, testsupport::be16(30000) + testsupport::be16(30000));
  put("picture", "crafted-huge-frame-claim.jpg", claim);
}

// ---- XMP packets for the motion photo merge: one selector byte, then the packet ----

void motionXmpSeeds() {
  const std::string head = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                           "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n";
  const std::string tail = "\n</rdf:RDF></x:xmpmeta>\n" + std::string(200, ' ') + "<?xpacket end=\"w\"?>";
  const std::string camera = "xmlns:GCamera=\"http://ns.google.com/photos/1.0/camera/\"";
  const std::string container = "xmlns:Container=\"http://ns.google.com/photos/1.0/container/\" "
                                "xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\"";
  const std::string directory = "<Container:Directory " + container + "><rdf:Seq><rdf:li rdf:parseType=\"Resource\">"
                                "<Container:Item Item:Semantic=\"Primary\" Item:Mime=\"image/jpeg\" Item:Padding=\"1\"/></rdf:li>"
                                "<rdf:li rdf:parseType=\"Resource\"><Container:Item rdf:parseType=\"Resource\"><Item:Semantic>GainMap</Item:Semantic>"
                                "<Item:Length>4000</Item:Length></Container:Item></rdf:li></rdf:Seq></Container:Directory>";
  const struct {
    const char* name;
    char selector;  // bytes after the picture (low two bits), the movie's length (next two)
    std::string packet;
  } seeds[] = {
      {"ours.xmp", 0, media::MotionPhotoXmp(4096, 5000)},
      {"attributes.xmp", 1, head + "<rdf:Description rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"3\"/>" + tail},
      {"elements.xmp", 2, head + "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:title><rdf:Alt>"
                              "<rdf:li xml:lang=\"x-default\">t</rdf:li></rdf:Alt></dc:title></rdf:Description>" + tail},
      {"crafted-comment-description.xmp", 0, head + "<!-- <rdf:Description rdf:about=\"\"> --><rdf:Description rdf:about=\"\"/>" + tail},
      {"crafted-nested-description.xmp", 4, head + "<rdf:Description rdf:about=\"\" xmlns:r=\"http://www.metadataworkinggroup.com/schemas/regions/\">"
                                              "<r:Regions rdf:parseType=\"Resource\"><r:RegionList><rdf:Bag><rdf:li><rdf:Description r:Name=\"A\"/>"
                                              "</rdf:li></rdf:Bag></r:RegionList></r:Regions></rdf:Description>" + tail},
      {"crafted-cdata-end-tag.xmp", 5, head + "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:source><![CDATA[</rdf:Description>]]>"
                                         "</dc:source></rdf:Description>" + tail},
      {"crafted-rebound-prefix.xmp", 6, head + "<rdf:Description xmlns:GCamera=\"http://example.com/\" GCamera:MotionPhoto=\"1\"/>" + tail},
      {"crafted-other-prefix.xmp", 7, head + "<rdf:Description xmlns:C=\"http://ns.google.com/photos/1.0/camera/\" C:MicroVideoOffset=\"9\"/>" + tail},
      {"crafted-gain-map-directory.xmp", 2, head + "<rdf:Description>" + directory + "</rdf:Description>" + tail},
      {"crafted-motion-photo-zero.xmp", 8, head + "<rdf:Description " + camera + "><GCamera:MotionPhoto>0</GCamera:MotionPhoto><GCamera:MicroVideo/>"
                                             "</rdf:Description>" + tail},
      {"crafted-offset-in-text.xmp", 9, head + "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:source>GCamera:MicroVideoOffset=\"12\""
                                          "</dc:source></rdf:Description>" + tail},
      {"crafted-default-namespace.xmp", 10, head + "<Description xmlns=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"/>" + tail},
      {"crafted-two-descriptions.xmp", 11, head + "<rdf:Description " + camera + " GCamera:MotionPhoto=\"0\"/><rdf:Description>" + directory +
                                               "</rdf:Description>" + tail},
      {"crafted-doctype.xmp", 0, "<!DOCTYPE x [<!ENTITY a \"b\">]>" + head + "<rdf:Description/>" + tail},
      {"crafted-no-description.xmp", 0, head + tail},
      {"crafted-not-utf8-in-instruction.xmp", 7, "<?pi \xD5?>" + head + "<rdf:Description/>" + tail},
      {"crafted-full-segment.xmp", 12, head + "<rdf:Description xmlns:dc=\"http://purl.org/dc/elements/1.1/\" dc:format=\"" + std::string(64000, 'x') +
                                           "\"/>" + tail},
  };
  for (const auto& seed : seeds) put("motion_xmp", seed.name, std::string(1, seed.selector) + seed.packet);
  // Photographs: one with its own packet and a Samsung trailer after the picture, one without.
  auto le = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  const std::string name = "Sound_Shot_Data", block = std::string(2, '\0') + "\x30\x0a" + le(uint32_t(name.size())) + name + "note";
  const std::string sefh = "SEFH" + le(107) + le(1) + std::string(2, '\0') + "\x30\x0a" + le(uint32_t(block.size())) + le(uint32_t(block.size()));
  const std::string samsung = block + sefh + le(uint32_t(sefh.size())) + "SEFT";
  const std::string photo = fixtures::withSegment(fixtures::makeJpeg(), 0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) + seeds[1].packet);
  put("motion_xmp", "photo-with-packet-and-trailer.jpg", std::string(1, '\x02') + photo + samsung);
  put("motion_xmp", "photo.jpg", std::string(1, '\x05') + fixtures::makeJpeg());
}

}  // namespace

void rawPreviewSeeds(const std::string& out);  // tools/fuzz-seeds-raw.cpp
// ---- voice notes kept inside photographs ----

void embeddedSeeds() {
  using namespace notebuilder;
  fixtures::JpegSpec small;
  small.width = small.height = 16;
  const std::string jpeg = fixtures::makeJpeg(small);
  fixtures::WaveSpec brief;
  brief.seconds = 0.05;
  const std::string wave = fixtures::makeWave(WaveKind::pcm16Mono, brief);
  const std::string m4aHead = std::string("\0\0\0\x18" "ftypM4A \0\0\0\0M4A mp42", 24);
  put("embedded_trailer", "sound-and-shot", soundAndShot(jpeg, wave));
  put("embedded_trailer", "sound-and-shot-m4a", soundAndShot(jpeg, m4aHead));
  put("embedded_trailer", "other-blocks", samsungTrailer(jpeg, {{0x0a01, "Image_UTC_Data", "1700000000000"}, {0x0b41, "Other", "x"}}));
  std::string outside = soundAndShot(jpeg, wave);
  outside.replace(outside.size() - 8, 4, "\xF0\xFF\xFF\xFF");
  put("embedded_trailer", "crafted-directory-outside-file", outside);

  const std::string fff = flirFff(wave);
  put("embedded_flir", "one-segment", flirSegments(jpeg, fff, 60000));
  put("embedded_flir", "three-segments", flirSegments(jpeg, fff, 400));
  put("embedded_flir", "out-of-order", flirSegments(jpeg, fff, 400, {2, 0, 1}));
  put("embedded_flir", "crafted-segment-missing", flirSegments(jpeg, fff, 400, {0, 2}));
  put("embedded_flir", "no-audio-record", flirSegments(jpeg, flirFff(wave, 0x22), 60000));

  put("embedded_gaudio", "main-packet", withStandardXmp(jpeg, xmpPacket(gaudioAttributes("audio/wav", wave))));
  put("embedded_gaudio", "extended", gaudioExtended(jpeg, wave, 500));
  const std::string ext = xmpPacket(gaudioAttributes("audio/mp4", m4aHead)), guid = md5Guid(ext);
  const std::string main = xmpPacket("xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" xmpNote:HasExtendedXMP=\"" + guid + "\"");
  put("embedded_gaudio", "extended-out-of-order", withExtendedXmp(jpeg, main, ext, guid, 100, {1, 0}));
  put("embedded_gaudio", "crafted-extended-chunk-missing", withExtendedXmp(jpeg, main, ext, guid, 50, {0, 2}));
  put("extended_xmp", "two-chunks", withExtendedXmp(jpeg, main, ext, guid, 100));
  put("extended_xmp", "out-of-order", withExtendedXmp(jpeg, main, ext, guid, 40, {2, 0, 1}));
  put("extended_xmp", "crafted-gap", withExtendedXmp(jpeg, main, ext, guid, 40, {0, 2}));

  const std::string text = base64(wave);
  std::string lines;
  for (std::size_t at = 0; at < text.size(); at += 76) lines += text.substr(at, 76) + "\n";
  put("gaudio_base64", "plain", std::string(1, char(40)) + text);
  put("gaudio_base64", "lines", std::string(1, char(255)) + lines);
  put("gaudio_base64", "crafted-over-limit", std::string(1, char(1)) + text);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz-seeds OUTDIR\n");
    return 2;
  }
  gOut = argv[1];
  mkdir(gOut.c_str(), 0755);
  waveSeeds();
  photoSeeds();
  sidecarSeeds();
  tiffSeeds();
  pictureSeeds();
  rawPreviewSeeds(gOut);
  motionXmpSeeds();
  embeddedSeeds();
  return 0;
}
