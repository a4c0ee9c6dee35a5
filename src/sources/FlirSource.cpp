// SPDX-License-Identifier: GPL-2.0-or-later
// FLIR thermal cameras: the voice annotation record of the FFF data in the APP1 "FLIR" segments.
// Found, checked, read and extracted as every note inside the photograph is.
#include "sources/EmbeddedNoteRow.h"

namespace sources {

SoundSource FlirSource() { return EmbeddedNoteRow<InHeader<media::FindFlirNote>>("flir"); }

}  // namespace sources
