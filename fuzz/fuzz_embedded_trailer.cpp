// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: a photograph's end read as a Sound & Shot trailer, and the kind of what it holds.
#include <vector>

#include "media/EmbeddedNote.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  media::EmbeddedNote note;
  std::string why;
  if (media::FindSamsungTrailerNote(data, size, &note, &why) == media::Status::ok && note.found) {
    // The note must lie inside the input: copying it all is what the sanitizers check.
    const std::vector<unsigned char> recording(data + note.offset, data + note.offset + note.length);
    if (recording.size() != note.length) __builtin_trap();
  }
  return 0;
}
