// SPDX-License-Identifier: GPL-2.0-or-later
// Shared test fixtures: synthetic photographs and recordings, photographs carrying a voice
// annotation, and running the built still2mov. Everything works on byte strings.
//
// Photographs
//   makeJpeg({.width = 64, .height = 48})            baseline colour JPEG (JFIF APP0 only)
//   makeJpeg({.grey = true, .progressive = true})    grey, progressive
//   encodeJpeg(w, h, 3, {.restartRows = 1}, fill)    any pixels (fill(y, row) writes each row) with
//                                                    chosen structure: progressive, arithmetic,
//                                                    restart markers, 4:4:4, grey (1), CMYK (4)
//   withSegment(jpeg, 0xE2, payload)                 inserts a segment right after SOI
//   iccProfileSegmentPayload()                       an APP2 "ICC_PROFILE" payload (not FlashPix)
//
// Recordings (complete RIFF WAVE files; a sine tone, so decoders produce real sound)
//   makeWave(WaveKind::imaAdpcm)        IMA ADPCM as cameras make it: 8 kHz mono, 256-byte
//                                       blocks of 505 samples, with a "fact" chunk
//   makeWave(WaveKind::pcm16Stereo, {.seconds = 0.5, .rate = 11025})
//   Kinds: pcm8 (unsigned), pcm16Mono, pcm16Stereo, pcm24, pcm32, float32, float64, muLaw,
//   aLaw, imaAdpcm (all written by hand, always available), msAdpcm and gsm610 (made with
//   sox; "" when sox is missing - use haveWaveKind(); tests REQUIRE_TOOL("sox") for them).
//   makeWave(WaveKind::pcm24, {.seconds = 0.3, .rate = 96000, .channels = 6})
//   makeWave(WaveKind::pcm32, {.validBits = 24})   24 valid bits in 32-bit containers
//   The linear kinds take .channels (1 to 8) and, extensible, a channel mask; without one an
//   extensible header names the usual speakers (FL FR FC LFE BL BR SL SR, in that order).
//
// Voice-annotated photographs (through flashpix::embedAudio, so the layout is the one the
// embed command writes)
//   embedWave(jpeg, wave)                               one piece when it fits
//   embedWave(jpeg, wave, pieces(1000))                 many pieces of at most 1000 stream bytes
//   embedWave(jpeg, wave, pieces(5000, {0, 2, 1}))      out of order: third piece before second
//   Returns "" when the embedder refuses (not a WAVE, not a JPEG, bad options).
//
// Running the program
//   RunResult r = runStill2mov({"--no-resize", photo}, {{"TMPDIR", scratch.path()}});
//   r.status is the exit status (-1 when it did not exit normally), r.out / r.err the output.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ImageAudio/Embed/FlashPixAudioWriter.h"

namespace fixtures {

struct JpegSpec {
  int width = 64;
  int height = 48;
  bool grey = false;
  bool progressive = false;
  int quality = 85;
};
std::string makeJpeg(const JpegSpec& spec = {});

// How a picture is encoded; libjpeg's defaults otherwise (4:2:0 for colour, Huffman, no restarts).
struct JpegEncoding {
  int quality = 85;
  bool progressive = false;
  bool arithmetic = false;
  int restartRows = 0;      // restart interval in MCU rows
  bool fullChroma = false;  // 4:4:4
};
// components: 1 grey, 3 RGB, 4 CMYK (as Adobe writes it). fillRow(y, row) fills row y's
// width × components samples.
std::string encodeJpeg(int width, int height, int components, const JpegEncoding& how,
                       const std::function<void(int y, std::uint8_t* row)>& fillRow);

// A copy of jpeg with a segment (marker 0xE0..0xFE, payload without the length field)
// inserted directly after SOI.
std::string withSegment(const std::string& jpeg, unsigned char marker, const std::string& payload);
// A copy of jpeg whose EXIF names a recording beside it in RelatedSoundFile, as cameras write
// it: 12 characters padded with NULs, and a terminator.
std::string withRelatedSoundFile(const std::string& jpeg, const std::string& name);
// A small but well-formed "ICC_PROFILE" APP2 payload (chunk 1 of 1).
std::string iccProfileSegmentPayload();

enum class WaveKind {
  pcm8, pcm16Mono, pcm16Stereo, muLaw, aLaw, imaAdpcm, msAdpcm,
  pcm24, pcm32, float32, float64,  // linear, two channels unless the spec says otherwise
  gsm610,                          // made with sox: 8 kHz mono only
};
struct WaveSpec {
  double seconds = 1.0;
  int rate = 8000;
  // For the linear kinds (PCM, float, mu-law, A-law); 0 keeps the kind's own count.
  int channels = 0;
  // Integer PCM only: WAVE_FORMAT_EXTENSIBLE with this many valid bits at the top of each
  // sample's container (0: all of them).
  int validBits = 0;
  bool extensible = false;    // WAVE_FORMAT_EXTENSIBLE even where the plain header would do
  unsigned channelMask = 0;   // extensible: 0 gives the usual speakers for the channel count
};
std::string makeWave(WaveKind kind, const WaveSpec& spec = {});
bool haveWaveKind(WaveKind kind);
const char* waveKindName(WaveKind kind);

// Options for a piece size and, optionally, the order the pieces are written in.
flashpix::EmbedOptions pieces(std::uint32_t maxPieceBytes, std::vector<std::size_t> order = {});
std::string embedWave(const std::string& jpeg, const std::string& wave, const flashpix::EmbedOptions& options = {});

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs the built still2mov with args (no shell involved in their meaning) and the given
// extra environment variables; standard input is empty.
RunResult runStill2mov(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {});
// One line of --info's text form: the name in its column, then the value.
std::string infoLine(const std::string& name, const std::string& value);

}  // namespace fixtures
