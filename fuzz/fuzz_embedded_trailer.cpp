// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: a photograph's end read as a Sound & Shot trailer, and the kind of what it holds.
#include "media/EmbeddedNote.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  media::EmbeddedNote note;
  std::string why;
  if (media::FindSamsungTrailerNote(data, size, &note, &why) == media::Status::ok && note.found) {
    // The note must lie inside the input: reading it all is what the sanitizers check.
    volatile unsigned sum = 0;
    for (std::uint64_t i = 0; i < note.length; ++i) sum += data[note.offset + i];
  }
  return 0;
}
