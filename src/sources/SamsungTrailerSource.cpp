// SPDX-License-Identifier: GPL-2.0-or-later
// Sound & Shot: the recording Samsung phones and cameras keep in the trailer after the picture.
// Found, checked, read and extracted as every note inside the photograph is.
#include "sources/EmbeddedNoteRow.h"

namespace sources {

SoundSource SamsungTrailerSource() { return EmbeddedNoteRow<media::FindSamsungTrailerNote>("samsung-trailer"); }

}  // namespace sources
