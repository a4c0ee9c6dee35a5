// SPDX-License-Identifier: GPL-2.0-or-later
// Sound & Shot: the recording Samsung phones and cameras keep in the trailer after the picture.
// Found, checked, read and extracted as every note inside the photograph is.
#include "sources/EmbeddedNoteRow.h"

namespace sources {
namespace {

// The trailer lies after the picture: read from the file's end, not from the held start.
media::Status findInTrailer(const std::uint8_t*, std::size_t, media::ByteReader& file, media::EmbeddedNote* note,
                            std::string* why) {
  return media::FindSamsungTrailerNote(file, note, why);
}

}  // namespace

SoundSource SamsungTrailerSource() { return EmbeddedNoteRow<findInTrailer>("samsung-trailer"); }

}  // namespace sources
