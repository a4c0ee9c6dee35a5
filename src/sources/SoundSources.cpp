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

}  // namespace sources
