// SPDX-License-Identifier: GPL-2.0-or-later
// Movie checks: atom walking over file bytes, and running the external readers on movie files.
// Output of the tools is parsed from their plain key=value or text forms.
#include "support/MovieChecks.h"

#include <cstdlib>
#include <sstream>

#include "support/TestPaths.h"

namespace moviechecks {

using testsupport::run;
using testsupport::shellQuote;

std::uint32_t be32(const std::string& s, std::size_t at) {
  if (at + 4 > s.size()) return 0;
  return (std::uint32_t(std::uint8_t(s[at])) << 24) | (std::uint32_t(std::uint8_t(s[at + 1])) << 16) |
         (std::uint32_t(std::uint8_t(s[at + 2])) << 8) | std::uint8_t(s[at + 3]);
}

std::uint16_t be16(const std::string& s, std::size_t at) {
  if (at + 2 > s.size()) return 0;
  return std::uint16_t((std::uint8_t(s[at]) << 8) | std::uint8_t(s[at + 1]));
}

std::vector<AtomRef> childAtoms(const std::string& bytes, std::size_t begin, std::size_t end) {
  std::vector<AtomRef> atoms;
  std::size_t p = begin;
  while (p + 8 <= end) {
    AtomRef a;
    a.offset = p;
    a.size = be32(bytes, p);
    a.type = bytes.substr(p + 4, 4);
    if (a.size == 1) {
      if (p + 16 > end) break;
      a.size = (std::uint64_t(be32(bytes, p + 8)) << 32) | be32(bytes, p + 12);
      a.header = 16;
    } else if (a.size == 0) {
      a.size = end - p;
    }
    if (a.size < a.header || a.size > end - p) break;
    atoms.push_back(a);
    p += std::size_t(a.size);
  }
  return atoms;
}

std::string atomBody(const std::string& bytes, const std::string& path, bool* found) {
  if (found) *found = false;
  std::size_t begin = 0, end = bytes.size();
  std::stringstream parts(path);
  std::string part;
  while (std::getline(parts, part, '/')) {
    int nth = 1;
    std::size_t hash = part.find('#');
    if (hash != std::string::npos) {
      nth = std::atoi(part.c_str() + hash + 1);
      part = part.substr(0, hash);
    }
    bool matched = false;
    for (const AtomRef& a : childAtoms(bytes, begin, end)) {
      if (a.type == part && --nth == 0) {
        begin = a.bodyBegin();
        end = a.end();
        matched = true;
        break;
      }
    }
    if (!matched) return "";
  }
  if (found) *found = true;
  return bytes.substr(begin, end - begin);
}

std::vector<std::string> topLevelTypes(const std::string& bytes) {
  std::vector<std::string> types;
  for (const AtomRef& a : childAtoms(bytes, 0, bytes.size())) types.push_back(a.type);
  return types;
}

std::string completeMovieProblem(const std::string& bytes) {
  if (bytes.empty()) return "empty file";
  std::vector<AtomRef> top = childAtoms(bytes, 0, bytes.size());
  std::uint64_t covered = 0;
  for (const AtomRef& a : top) covered += a.size;
  if (covered != bytes.size()) return "atoms do not cover the file";
  if (topLevelTypes(bytes) != std::vector<std::string>{"ftyp", "moov", "mdat"}) return "not ftyp, moov, mdat";
  const AtomRef& mdat = top[2];
  for (int track = 1; track <= 2; ++track) {
    std::string prefix = "moov/trak#" + std::to_string(track) + "/";
    std::string kind = atomBody(bytes, prefix + "mdia/hdlr").substr(8, 4);
    if (kind != (track == 1 ? "soun" : "vide")) return "track " + std::to_string(track) + " is '" + kind + "'";
    std::string stbl = prefix + "mdia/minf/stbl/";
    std::string stsz = atomBody(bytes, stbl + "stsz");
    std::string stco = atomBody(bytes, stbl + "stco");
    std::uint32_t samples = be32(stsz, 8), uniform = be32(stsz, 4), chunks = be32(stco, 4);
    if (samples == 0 || chunks == 0) return "track " + std::to_string(track) + " has no samples";
    if (track == 2) {
      std::string tkhd = atomBody(bytes, prefix + "tkhd");
      if (samples != 1 || uniform == 0) return "the video track does not hold one frame";
      // Version 1 (64-bit times) puts the size 12 bytes further on.
      const std::size_t sizeAt = !tkhd.empty() && tkhd[0] == 1 ? 88 : 76;
      if (be32(tkhd, sizeAt) == 0 || be32(tkhd, sizeAt + 4) == 0) return "the video track has no size";
    }
    for (std::uint32_t c = 0; c < chunks; ++c) {
      std::uint32_t at = be32(stco, 8 + 4 * c);
      if (at < mdat.bodyBegin() || at >= mdat.end()) return "a chunk lies outside the sample atom";
    }
  }
  std::string swr = atomBody(bytes, "moov/udta/\xA9swr");
  if (swr.size() < 4 || swr.compare(4, 9, "still2mov") != 0) return "no still2mov mark";
  return "";
}

std::vector<Stream> probeStreams(const std::string& path) {
  std::string out;
  run("ffprobe -v error -show_entries stream=codec_type,codec_name,duration,width,height,sample_rate,channels "
      "-of compact=p=0:nk=0 " + shellQuote(path) + " 2>/dev/null",
      &out);
  std::vector<Stream> streams;
  std::stringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    Stream s;
    std::stringstream fields(line);
    std::string field;
    while (std::getline(fields, field, '|')) {
      std::size_t eq = field.find('=');
      if (eq == std::string::npos) continue;
      std::string key = field.substr(0, eq), value = field.substr(eq + 1);
      if (key == "codec_type") s.codecType = value;
      else if (key == "codec_name") s.codecName = value;
      else if (key == "duration") s.duration = std::atof(value.c_str());
      else if (key == "width") s.width = std::atoi(value.c_str());
      else if (key == "height") s.height = std::atoi(value.c_str());
      else if (key == "sample_rate") s.sampleRate = std::atoi(value.c_str());
      else if (key == "channels") s.channels = std::atoi(value.c_str());
    }
    streams.push_back(s);
  }
  return streams;
}

std::string decodePcm(const std::string& path) {
  std::string out;
  run("ffmpeg -v error -i " + shellQuote(path) + " -map 0:a -f s16le - 2>/dev/null", &out);
  return out;
}

std::string playedPart(std::string decoded, const std::string& wave, std::size_t bytesPerSample) {
  auto le = [&](std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int k = n - 1; k >= 0; --k) v = (v << 8) | std::uint8_t(wave[at + std::size_t(k)]);
    return v;
  };
  std::uint32_t tag = 0, channels = 0, fact = 0;
  for (std::size_t at = 12; at + 8 <= wave.size();) {
    const std::uint32_t size = le(at + 4, 4);
    const std::string id = wave.substr(at, 4);
    if (id == "fmt " && at + 12 <= wave.size()) {
      tag = le(at + 8, 2);
      channels = le(at + 10, 2);
    }
    if (id == "fact" && size >= 4 && at + 12 <= wave.size()) fact = le(at + 8, 4);
    if (id == "data") break;
    at += 8 + std::size_t(size) + (size & 1);
  }
  const std::size_t played = std::size_t(fact) * channels * bytesPerSample;
  if (tag != 1 && tag != 3 && fact != 0 && played < decoded.size()) decoded.resize(played);
  return decoded;
}

std::string copyFrame(const std::string& path) {
  std::string out;
  run("ffmpeg -v error -i " + shellQuote(path) + " -map 0:v -c copy -frames:v 1 -f image2 - 2>/dev/null", &out);
  return out;
}

std::string decodeRgb(const std::string& path, int* width, int* height) {
  std::string dims;
  run("ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 " + shellQuote(path) +
          " 2>/dev/null",
      &dims);
  if (width && height && std::sscanf(dims.c_str(), "%d,%d", width, height) != 2) *width = *height = 0;
  std::string out;
  run("ffmpeg -v error -i " + shellQuote(path) + " -map 0:v -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null",
      &out);
  return out;
}

std::string decodeRgbScaled(const std::string& path, int width, int height) {
  std::string out;
  run("ffmpeg -v error -i " + shellQuote(path) + " -map 0:v -frames:v 1 -vf scale=" + std::to_string(width) + ":" +
          std::to_string(height) + ":flags=area -f rawvideo -pix_fmt rgb24 - 2>/dev/null",
      &out);
  return out;
}

std::vector<InfoTrack> mediainfoTracks(const std::string& path) {
  std::vector<InfoTrack> tracks;
  for (const char* kind : {"Audio", "Video"}) {
    std::string out;
    run(std::string("mediainfo --Inform=\"") + kind + ";%CodecID%|%Duration%\\n\" " + shellQuote(path) +
            " 2>/dev/null",
        &out);
    std::stringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
      std::size_t bar = line.find('|');
      if (bar == std::string::npos) continue;
      tracks.push_back(InfoTrack{kind, line.substr(0, bar), std::atof(line.c_str() + bar + 1) / 1000.0});
    }
  }
  return tracks;
}

DiscovererInfo discover(const std::string& path) {
  DiscovererInfo info;
  std::string out;
  run("gst-discoverer-1.0 -v " + shellQuote(path) + " 2>/dev/null", &out);
  std::stringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t at = line.find("Duration: ");
    int h = 0, m = 0;
    double s = 0;
    if (at != std::string::npos && std::sscanf(line.c_str() + at + 10, "%d:%d:%lf", &h, &m, &s) == 3)
      info.durationSeconds = h * 3600 + m * 60 + s;
    std::size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    std::string word = line.substr(first);
    for (const char* kind : {"audio", "video"}) {
      if (word.rfind(std::string(kind) + " #", 0) != 0) continue;
      info.streams.push_back(kind);
      std::size_t colon = word.find(": ");
      std::size_t comma = word.find(',', colon);
      info.caps.push_back(colon == std::string::npos ? "" : word.substr(colon + 2, comma - colon - 2));
    }
  }
  return info;
}

double meanAbsDifference(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double total = 0;
  for (std::size_t k = 0; k < a.size(); ++k) total += std::abs(int(std::uint8_t(a[k])) - int(std::uint8_t(b[k])));
  return total / double(a.size());
}

}  // namespace moviechecks
