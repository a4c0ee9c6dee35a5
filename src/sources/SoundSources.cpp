// SPDX-License-Identifier: GPL-2.0-or-later
// The table of voice-note sources, made from SoundSources.def, and the questions every caller
// asks of it.
#include "sources/SoundSources.h"

namespace sources {

#define SOUND_SOURCE(row) SoundSource row();
#include "sources/SoundSources.def"
#undef SOUND_SOURCE

std::span<const SoundSource> SoundSources() {
  static const SoundSource rows[] = {
#define SOUND_SOURCE(row) row(),
#include "sources/SoundSources.def"
#undef SOUND_SOURCE
  };
  return rows;
}

const SoundSource* SoundSourceNamed(std::string_view name) {
  for (const SoundSource& row : SoundSources())
    if (name == row.name) return &row;
  return nullptr;
}

Located LocateRecording(const Photograph& photo) {
  for (const SoundSource& row : SoundSources())
    if (std::optional<Found> found = row.find(photo)) return {&row, std::move(*found)};
  return {};
}

std::vector<Located> FindRecordings(const Photograph& photo) {
  std::vector<Located> all;
  for (const SoundSource& row : SoundSources())
    if (std::optional<Found> found = row.find(photo)) all.push_back({&row, std::move(*found)});
  return all;
}

bool MayBeRecording(const std::string& name) {
  for (const SoundSource& row : SoundSources())
    if (row.recordingName && row.recordingName(name)) return true;
  return false;
}

bool MayBeRecordingOf(const std::string& recordingName, const std::string& photoName) {
  for (const SoundSource& row : SoundSources())
    if (row.recordingName && row.recordingName(recordingName) && row.recordingOf(recordingName, photoName)) return true;
  return false;
}

std::vector<std::string> RecordingNamesAsked(const Photograph& photo) {
  std::vector<std::string> names;
  for (const SoundSource& row : SoundSources()) {
    if (row.namesAsked) {
      for (std::string& name : row.namesAsked(photo)) names.push_back(std::move(name));
    } else if (row.find(photo)) {
      break;
    }
  }
  return names;
}

bool IsAskedFor(std::span<const std::string> asked, const std::string& recordingName) {
  auto lower = [](std::string s) {
    for (char& c : s)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
  };
  const std::string wanted = lower(recordingName);
  for (const std::string& name : asked)
    if (lower(name) == wanted) return true;
  return false;
}

}  // namespace sources
