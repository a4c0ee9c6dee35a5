// SPDX-License-Identifier: GPL-2.0-or-later
// Synthetic photographs and recordings for the tests, voice-annotated copies made through the
// embedder, and a runner for the built program that keeps its output streams apart.
#include "support/Fixtures.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/TestPaths.h"
#include "support/TiffBuilder.h"

namespace fixtures {
namespace {

constexpr double kPi = 3.14159265358979323846;

void putLE16(std::string* s, unsigned v) {
  s->push_back(char(v & 0xFF));
  s->push_back(char((v >> 8) & 0xFF));
}
void putLE32(std::string* s, std::uint32_t v) {
  putLE16(s, v & 0xFFFF);
  putLE16(s, v >> 16);
}
void putChunk(std::string* s, const char* id, const std::string& body) {
  s->append(id, 4);
  putLE32(s, std::uint32_t(body.size()));
  *s += body;
  if (body.size() % 2) s->push_back('\0');  // chunks keep even alignment
}

// A tone per channel, 16-bit, at 60% of full scale.
std::vector<std::int16_t> tone(int channels, const WaveSpec& spec, std::size_t* frames) {
  *frames = std::size_t(std::llround(spec.seconds * spec.rate));
  std::vector<std::int16_t> pcm(*frames * channels);
  for (std::size_t i = 0; i < *frames; ++i)
    for (int c = 0; c < channels; ++c)
      pcm[i * channels + c] = std::int16_t(std::lround(19660.0 * std::sin(2 * kPi * (440.0 + 220.0 * c) * double(i) / spec.rate)));
  return pcm;
}

std::string riffWave(unsigned format, int channels, int rate, unsigned blockAlign, unsigned bits,
                     std::uint32_t avgBytes, const std::string& extra, bool withFact, std::uint32_t frames,
                     const std::string& data) {
  std::string fmt;
  putLE16(&fmt, format);
  putLE16(&fmt, unsigned(channels));
  putLE32(&fmt, std::uint32_t(rate));
  putLE32(&fmt, avgBytes);
  putLE16(&fmt, blockAlign);
  putLE16(&fmt, bits);
  if (format != 1) {
    putLE16(&fmt, unsigned(extra.size()));
    fmt += extra;
  }
  std::string body = "WAVE";
  putChunk(&body, "fmt ", fmt);
  if (withFact) {
    std::string fact;
    putLE32(&fact, frames);
    putChunk(&body, "fact", fact);
  }
  putChunk(&body, "data", data);
  std::string wave = "RIFF";
  putLE32(&wave, std::uint32_t(body.size()));
  return wave + body;
}

unsigned char linearToMuLaw(int s) {
  constexpr int kBias = 0x84, kClip = 32635;
  int sign = (s >> 8) & 0x80;
  if (sign) s = -s;
  if (s > kClip) s = kClip;
  s += kBias;
  int exponent = 7;
  for (int mask = 0x4000; !(s & mask) && exponent > 0; --exponent, mask >>= 1) {
  }
  int mantissa = (s >> (exponent + 3)) & 0x0F;
  return static_cast<unsigned char>(~(sign | (exponent << 4) | mantissa));
}

unsigned char linearToALaw(int s) {
  static const int kSegEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
  int v = s >> 3, mask;
  if (v >= 0) {
    mask = 0xD5;
  } else {
    mask = 0x55;
    v = -v - 1;
  }
  int seg = 0;
  while (seg < 8 && v > kSegEnd[seg]) ++seg;
  if (seg >= 8) return static_cast<unsigned char>(0x7F ^ mask);
  int a = seg << 4;
  a |= seg < 2 ? (v >> 1) & 0x0F : (v >> seg) & 0x0F;
  return static_cast<unsigned char>(a ^ mask);
}

// IMA ADPCM, mono: each 256-byte block holds a 4-byte header (first sample, step index) and
// 504 more samples as nibbles, low nibble first.
std::string imaAdpcmData(const std::vector<std::int16_t>& pcm, std::size_t* blocksOut) {
  static const int kSteps[89] = {
      7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,    28,
      31,    34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,   118,
      130,   143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,   494,
      544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,
      2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,
      9493,  10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
  static const int kIndexStep[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
  constexpr std::size_t kPerBlock = 505;
  std::size_t blocks = (pcm.size() + kPerBlock - 1) / kPerBlock;
  if (blocks == 0) blocks = 1;
  std::string data;
  int index = 0;
  for (std::size_t b = 0; b < blocks; ++b) {
    auto sample = [&](std::size_t k) -> int {
      std::size_t i = b * kPerBlock + k;
      return i < pcm.size() ? pcm[i] : 0;
    };
    int predictor = sample(0);
    putLE16(&data, unsigned(std::uint16_t(std::int16_t(predictor))));
    data.push_back(char(index));
    data.push_back('\0');
    unsigned char pending = 0;
    for (std::size_t k = 1; k < kPerBlock; ++k) {
      int step = kSteps[index];
      int diff = sample(k) - predictor;
      int code = 0;
      if (diff < 0) {
        code = 8;
        diff = -diff;
      }
      int delta = step >> 3;
      if (diff >= step) {
        code |= 4;
        diff -= step;
        delta += step;
      }
      step >>= 1;
      if (diff >= step) {
        code |= 2;
        diff -= step;
        delta += step;
      }
      step >>= 1;
      if (diff >= step) {
        code |= 1;
        delta += step;
      }
      predictor += (code & 8) ? -delta : delta;
      predictor = std::clamp(predictor, -32768, 32767);
      index = std::clamp(index + kIndexStep[code & 7], 0, 88);
      if (k % 2 == 1) {
        pending = static_cast<unsigned char>(code);
      } else {
        data.push_back(char(pending | (code << 4)));
      }
    }
  }
  *blocksOut = blocks;
  return data;
}

std::string waveWithSox(const WaveSpec& spec, const char* encoding = "ms-adpcm") {
  testsupport::ScratchDir dir;
  std::string path = dir.file("sox.wav");
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", spec.seconds);
  std::string cmd = "sox -q -n -r " + std::to_string(spec.rate) + " -c 1 -e " + encoding + " " +
                    testsupport::shellQuote(path) + " synth " + seconds + " sine 440 vol 0.6 2>/dev/null";
  if (testsupport::run(cmd) != 0) return "";
  return testsupport::readFile(path);
}

// The usual speakers of a channel count, as WAVE channel masks name them.
unsigned usualChannelMask(int channels) {
  static const unsigned kMasks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x13F, 0x63F};
  return channels >= 1 && channels <= 8 ? kMasks[channels] : 0;
}

// Linear samples of any width: the tone at 60% of full scale, each channel its own pitch.
// Integers of fewer valid bits than their container sit at its top; 8-bit samples are unsigned.
std::string linearWave(int containerBits, bool isFloat, int channels, const WaveSpec& spec) {
  const std::size_t frames = std::size_t(std::llround(spec.seconds * spec.rate));
  const int bytes = containerBits / 8;
  const int valid = spec.validBits > 0 ? spec.validBits : containerBits;
  std::string data;
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      double x = 0.6 * std::sin(2 * kPi * (440.0 + 220.0 * c) * double(i) / spec.rate);
      std::uint64_t bits = 0;
      if (isFloat && bytes == 4) {
        float f = float(x);
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        bits = u;
      } else if (isFloat) {
        std::memcpy(&bits, &x, 8);
      } else {
        std::int64_t v = std::llround(x * double(std::int64_t(1) << (valid - 1)));
        v *= std::int64_t(1) << (containerBits - valid);
        if (bytes == 1) v += 128;
        bits = std::uint64_t(v);
      }
      for (int k = 0; k < bytes; ++k) data.push_back(char((bits >> (8 * k)) & 0xFF));
    }
  }
  const bool extensible = spec.extensible || valid != containerBits;
  std::string extra;
  if (extensible) {
    putLE16(&extra, unsigned(valid));
    putLE32(&extra, spec.channelMask ? spec.channelMask : usualChannelMask(channels));
    putLE16(&extra, isFloat ? 3 : 1);
    extra.append("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  }
  const unsigned blockAlign = unsigned(bytes * channels);
  const unsigned tag = extensible ? 0xFFFE : isFloat ? 3 : 1;
  return riffWave(tag, channels, spec.rate, blockAlign, unsigned(containerBits), std::uint32_t(spec.rate) * blockAlign,
                  extra, tag != 1, std::uint32_t(frames), data);
}

}  // namespace

std::string encodeJpeg(int width, int height, int components, const JpegEncoding& how,
                       const std::function<void(int y, std::uint8_t* row)>& fillRow) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = JDIMENSION(width);
  cinfo.image_height = JDIMENSION(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, how.quality, TRUE);
  if (how.progressive) jpeg_simple_progression(&cinfo);
  cinfo.arith_code = how.arithmetic ? TRUE : FALSE;
  cinfo.restart_in_rows = how.restartRows;
  if (how.fullChroma && components == 3) cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<std::uint8_t> row(std::size_t(width) * std::size_t(components));
  while (cinfo.next_scanline < cinfo.image_height) {
    fillRow(int(cinfo.next_scanline), row.data());
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string bytes(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return bytes;
}

std::string makeJpeg(const JpegSpec& spec) {
  JpegEncoding how;
  how.quality = spec.quality;
  how.progressive = spec.progressive;
  const int components = spec.grey ? 1 : 3;
  return encodeJpeg(spec.width, spec.height, components, how, [&](int y, std::uint8_t* row) {
    for (int x = 0; x < spec.width; ++x) {
      std::uint8_t* px = &row[std::size_t(x) * components];
      px[0] = static_cast<std::uint8_t>((x * 255) / std::max(1, spec.width - 1));
      if (!spec.grey) {
        px[1] = static_cast<std::uint8_t>((y * 255) / std::max(1, spec.height - 1));
        px[2] = static_cast<std::uint8_t>(((x / 8 + y / 8) % 2) ? 200 : 40);
      }
    }
  });
}

std::string withSegment(const std::string& jpeg, unsigned char marker, const std::string& payload) {
  std::string seg = "\xFF";
  seg.push_back(char(marker));
  std::size_t length = payload.size() + 2;
  seg.push_back(char((length >> 8) & 0xFF));
  seg.push_back(char(length & 0xFF));
  seg += payload;
  return jpeg.substr(0, 2) + seg + jpeg.substr(2);
}

std::string withRelatedSoundFile(const std::string& jpeg, const std::string& name) {
  testsupport::TiffBuilder b;
  const int ifd0 = b.directory();
  const int exif = b.directory();
  b.pointer(ifd0, 34665, exif);
  b.ascii(exif, 40964, name + std::string(name.size() < 12 ? 12 - name.size() : 0, '\0'), 13);
  return withSegment(jpeg, 0xE1, std::string("Exif\0\0", 6) + b.build());
}

std::string iccProfileSegmentPayload() {
  std::string p("ICC_PROFILE\0", 12);
  p.push_back('\x01');  // chunk 1
  p.push_back('\x01');  // of 1
  // A profile header's size field and signature; the rest stays zero.
  std::string profile(128, '\0');
  profile[3] = char(128);
  profile.replace(36, 4, "acsp");
  return p + profile;
}

std::string makeWave(WaveKind kind, const WaveSpec& spec) {
  std::size_t frames = 0;
  const bool plain = spec.channels == 0 && spec.validBits == 0 && !spec.extensible;
  switch (kind) {
    case WaveKind::pcm24: return linearWave(24, false, spec.channels ? spec.channels : 2, spec);
    case WaveKind::pcm32: return linearWave(32, false, spec.channels ? spec.channels : 2, spec);
    case WaveKind::float32: return linearWave(32, true, spec.channels ? spec.channels : 2, spec);
    case WaveKind::float64: return linearWave(64, true, spec.channels ? spec.channels : 2, spec);
    case WaveKind::gsm610: return waveWithSox(spec, "gsm-full-rate");
    default: break;
  }
  if (!plain && (kind == WaveKind::pcm8 || kind == WaveKind::pcm16Mono || kind == WaveKind::pcm16Stereo)) {
    const int channels = spec.channels ? spec.channels : kind == WaveKind::pcm16Stereo ? 2 : 1;
    return linearWave(kind == WaveKind::pcm8 ? 8 : 16, false, channels, spec);
  }
  switch (kind) {
    case WaveKind::pcm8: {
      auto pcm = tone(1, spec, &frames);
      std::string data;
      for (std::int16_t s : pcm) data.push_back(char((s >> 8) + 128));
      return riffWave(1, 1, spec.rate, 1, 8, std::uint32_t(spec.rate), "", false, 0, data);
    }
    case WaveKind::pcm16Mono:
    case WaveKind::pcm16Stereo: {
      int channels = kind == WaveKind::pcm16Mono ? 1 : 2;
      auto pcm = tone(channels, spec, &frames);
      std::string data;
      for (std::int16_t s : pcm) putLE16(&data, unsigned(std::uint16_t(s)));
      return riffWave(1, channels, spec.rate, unsigned(2 * channels), 16, std::uint32_t(spec.rate * 2 * channels), "",
                      false, 0, data);
    }
    case WaveKind::muLaw:
    case WaveKind::aLaw: {
      const int channels = spec.channels ? spec.channels : 1;
      auto pcm = tone(channels, spec, &frames);
      std::string data;
      for (std::int16_t s : pcm) data.push_back(char(kind == WaveKind::muLaw ? linearToMuLaw(s) : linearToALaw(s)));
      return riffWave(kind == WaveKind::muLaw ? 7 : 6, channels, spec.rate, unsigned(channels), 8,
                      std::uint32_t(spec.rate * channels), "", true, std::uint32_t(frames), data);
    }
    case WaveKind::imaAdpcm: {
      auto pcm = tone(1, spec, &frames);
      std::size_t blocks = 0;
      std::string data = imaAdpcmData(pcm, &blocks);
      std::string extra;
      putLE16(&extra, 505);  // samples per block
      std::uint32_t avg = std::uint32_t((std::uint64_t(spec.rate) * 256) / 505);
      return riffWave(0x11, 1, spec.rate, 256, 4, avg, extra, true, std::uint32_t(frames), data);
    }
    case WaveKind::msAdpcm:
      return waveWithSox(spec);
    default:
      break;
  }
  return "";
}

bool haveWaveKind(WaveKind kind) {
  return (kind != WaveKind::msAdpcm && kind != WaveKind::gsm610) || testsupport::haveTool("sox");
}

const char* waveKindName(WaveKind kind) {
  switch (kind) {
    case WaveKind::pcm8: return "pcm8";
    case WaveKind::pcm16Mono: return "pcm16Mono";
    case WaveKind::pcm16Stereo: return "pcm16Stereo";
    case WaveKind::muLaw: return "muLaw";
    case WaveKind::aLaw: return "aLaw";
    case WaveKind::imaAdpcm: return "imaAdpcm";
    case WaveKind::msAdpcm: return "msAdpcm";
    case WaveKind::pcm24: return "pcm24";
    case WaveKind::pcm32: return "pcm32";
    case WaveKind::float32: return "float32";
    case WaveKind::float64: return "float64";
    case WaveKind::gsm610: return "gsm610";
  }
  return "?";
}

flashpix::EmbedOptions pieces(std::uint32_t maxPieceBytes, std::vector<std::size_t> order) {
  flashpix::EmbedOptions options;
  options.maxPieceBytes = maxPieceBytes;
  options.pieceOrder = std::move(order);
  return options;
}

std::string embedWave(const std::string& jpeg, const std::string& wave, const flashpix::EmbedOptions& options) {
  std::string out;
  if (flashpix::embedAudio(jpeg, wave, options, &out) != flashpix::EmbedStatus::ok) return "";
  return out;
}

std::string infoLine(const std::string& name, const std::string& value) {
  std::string line = name;
  if (line.size() < 32) line.resize(32, ' ');
  return line + ": " + value + "\n";
}

RunResult runStill2mov(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
  RunResult result;
  char outName[] = "/tmp/still2mov-out-XXXXXX";
  char errName[] = "/tmp/still2mov-err-XXXXXX";
  int outFd = mkstemp(outName);
  int errFd = mkstemp(errName);
  if (outFd < 0 || errFd < 0) return result;
  std::string program = testsupport::binaryPath();
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int nullFd = open("/dev/null", O_RDONLY);
    dup2(nullFd, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  close(outFd);
  close(errFd);
  result.out = testsupport::readFile(outName);
  result.err = testsupport::readFile(errName);
  unlink(outName);
  unlink(errName);
  return result;
}

}  // namespace fixtures
