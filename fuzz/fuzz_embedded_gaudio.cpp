// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: a photograph's XMP searched for a GAudio note, in the main packet or in the
// Extended XMP packet put together from its chunks, and the note's base64 decoded.
#include "media/EmbeddedNote.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  media::EmbeddedNote note;
  std::string why;
  media::FindGAudioNote(data, size, &note, &why);
  return 0;
}
