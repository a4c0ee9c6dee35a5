// SPDX-License-Identifier: GPL-2.0-or-later
// Google's GAudio: the recording as base64 in the photograph's XMP, main or Extended.
// Found, checked, read and extracted as every note inside the photograph is.
#include "sources/EmbeddedNoteRow.h"

namespace sources {

SoundSource GAudioSource() { return EmbeddedNoteRow<InHeader<media::FindGAudioNote>>("gaudio"); }

}  // namespace sources
