// SPDX-License-Identifier: GPL-2.0-or-later
// How one fuzz input carries a photograph and a recording to lay beside it: the photograph's
// bytes, the mark, one byte choosing the recording's name, then the recording's bytes.
#pragma once
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace sidecarinput {

inline constexpr std::string_view kMark = "\n--recording-beside--\n";

// The names a camera gives its recording: the photograph's own stem, or the one its EXIF
// RelatedSoundFile names ("DSC00001.WAV" in the seeds) in another letter case.
inline const char* recordingName(unsigned char choice) { return choice & 1 ? "dsc00001.wav" : "photo.wav"; }

struct Parts {
  std::string_view photo;
  std::string_view recording;  // empty: nothing beside the photograph
  const char* name = nullptr;
};

inline Parts split(const unsigned char* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t at = all.rfind(kMark);
  if (at == std::string_view::npos || at + kMark.size() >= size) return {all, {}, nullptr};
  const std::size_t choice = at + kMark.size();
  return {all.substr(0, at), all.substr(choice + 1), recordingName(static_cast<unsigned char>(all[choice]))};
}

inline std::string join(const std::string& photo, unsigned char choice, const std::string& recording) {
  return photo + std::string(kMark) + static_cast<char>(choice) + recording;
}

}  // namespace sidecarinput
