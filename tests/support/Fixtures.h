// Shared test fixtures: synthetic photographs and recordings, photographs carrying a voice
// annotation, and running the built still2mov. Everything works on byte strings.
//
// Photographs
//   makeJpeg({.width = 64, .height = 48})            baseline colour JPEG (JFIF APP0 only)
//   makeJpeg({.grey = true, .progressive = true})    grey, progressive
//   withSegment(jpeg, 0xE2, payload)                 inserts a segment right after SOI
//   iccProfileSegmentPayload()                       an APP2 "ICC_PROFILE" payload (not FlashPix)
//
// Recordings (complete RIFF WAVE files; a sine tone, so decoders produce real sound)
//   makeWave(WaveKind::imaAdpcm)        IMA ADPCM as cameras make it: 8 kHz mono, 256-byte
//                                       blocks of 505 samples, with a "fact" chunk
//   makeWave(WaveKind::pcm16Stereo, {.seconds = 0.5, .rate = 11025})
//   Kinds: pcm8 (unsigned), pcm16Mono, pcm16Stereo, muLaw, aLaw, imaAdpcm (all written by
//   hand, always available) and msAdpcm (made with sox; "" when sox is missing - use
//   haveWaveKind(); tests REQUIRE_TOOL("sox") for it).
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

// A copy of jpeg with a segment (marker 0xE0..0xFE, payload without the length field)
// inserted directly after SOI.
std::string withSegment(const std::string& jpeg, unsigned char marker, const std::string& payload);
// A small but well-formed "ICC_PROFILE" APP2 payload (chunk 1 of 1).
std::string iccProfileSegmentPayload();

enum class WaveKind { pcm8, pcm16Mono, pcm16Stereo, muLaw, aLaw, imaAdpcm, msAdpcm };
struct WaveSpec {
  double seconds = 1.0;
  int rate = 8000;
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

}  // namespace fixtures
