// SPDX-License-Identifier: GPL-2.0-or-later
// Checking written movies: a small atom parser for structure, and the answers of ffprobe, ffmpeg,
// mediainfo and gst-discoverer-1.0 about the same files. Every reader call returns "" or an empty
// result when its tool is missing or fails; tests first REQUIRE_TOOL() it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace moviechecks {

struct AtomRef {
  std::string type;
  std::size_t offset = 0;  // of the header
  std::size_t header = 8;
  std::uint64_t size = 0;  // header included
  std::size_t bodyBegin() const { return offset + header; }
  std::size_t end() const { return std::size_t(offset + size); }
};

// The atoms in bytes[begin, end); stops at the first malformed size.
std::vector<AtomRef> childAtoms(const std::string& bytes, std::size_t begin, std::size_t end);
// The body of the atom at a path such as "moov/trak#2/mdia/minf/stbl/stsd" (#n: the n-th of that
// type, from 1). found tells whether it exists.
std::string atomBody(const std::string& bytes, const std::string& path, bool* found = nullptr);
std::vector<std::string> topLevelTypes(const std::string& bytes);

// "" when bytes are a whole movie as still2mov writes it: ftyp, moov and mdat tiling the file,
// a sound track and a video track of one frame with a size, every chunk inside the sample atom,
// and the program's mark; otherwise what is missing, in words.
std::string completeMovieProblem(const std::string& bytes);

std::uint32_t be32(const std::string& s, std::size_t at);
std::uint16_t be16(const std::string& s, std::size_t at);

struct Stream {
  std::string codecType, codecName;
  double duration = 0;
  int width = 0, height = 0, sampleRate = 0, channels = 0;
};
std::vector<Stream> probeStreams(const std::string& path);

// 16-bit little-endian PCM of the first sound stream, as ffmpeg decodes it.
std::string decodePcm(const std::string& path);
// What of decoded (samples of bytesPerSample, the WAVE's channels interleaved) the recording
// plays: a compressed WAVE's fact chunk cuts its last block's padding; decoders of WAVE files
// (ffmpeg's) play it. decoded as it is for a WAVE without a fact or of linear PCM or float.
std::string playedPart(std::string decoded, const std::string& wave, std::size_t bytesPerSample);
// The first video frame's stored bytes (no re-encoding).
std::string copyFrame(const std::string& path);
// The first video frame decoded to packed RGB, optionally scaled to w by h first.
std::string decodeRgb(const std::string& path, int* width = nullptr, int* height = nullptr);
std::string decodeRgbScaled(const std::string& path, int width, int height);

struct InfoTrack {
  std::string kind;  // "Audio" or "Video"
  std::string codecId;
  double durationSeconds = 0;
};
std::vector<InfoTrack> mediainfoTracks(const std::string& path);

struct DiscovererInfo {
  double durationSeconds = 0;
  std::vector<std::string> streams;  // "audio", "video" in the order reported
  std::vector<std::string> caps;     // each stream's media type, e.g. "image/jpeg"
};
DiscovererInfo discover(const std::string& path);

// Mean absolute difference of two equally sized byte images, in levels.
double meanAbsDifference(const std::string& a, const std::string& b);

}  // namespace moviechecks
