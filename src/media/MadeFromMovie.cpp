// SPDX-License-Identifier: GPL-2.0-or-later
// Reading the made-from record out of a movie's head: the movie atom as the head reader finds
// it (a motion photo's in the MP4 after its still), then its user data.
#include "media/MadeFrom.h"
#include "media/MovieHead.h"
#include "media/MovieUserData.h"

namespace media {

std::optional<MadeFrom> ReadMadeFromMovie(const std::string& path) {
  const std::optional<MovieHead> head = ReadMovieHeadAtPath(path);
  if (!head) return std::nullopt;
  // An MP4 carries the record as a metadata item under the item type's four characters.
  const char key[] = {char(kMadeFromItemType >> 24), char(kMadeFromItemType >> 16), char(kMadeFromItemType >> 8),
                      char(kMadeFromItemType)};
  const std::optional<std::string> text = MovieUserDataText(head->moov, kMadeFromItemType, std::string_view(key, 4));
  if (!text) return std::nullopt;
  return DecodeMadeFrom(*text);
}

}  // namespace media
