// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: a photograph's FLIR APP1 segments put together and their record directory read.
#include "media/EmbeddedNote.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  media::EmbeddedNote note;
  std::string why;
  media::FindFlirNote(data, size, &note, &why);
  return 0;
}
