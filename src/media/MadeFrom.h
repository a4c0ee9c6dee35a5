// SPDX-License-Identifier: GPL-2.0-or-later
// What a movie records of the files it was made from, so that a later run can tell, from the
// movie alone and a look at each file, whether it is still current and whose movie it is.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "media/MovieAtoms.h"

namespace media {

// What a look at a file (no read) tells of its contents: its size, its modification time, which
// the user can set back, and its change time, which any write moves and nobody can set.
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;  // since 1970, nanoseconds
  std::int64_t changedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp as the record keeps it: a digest (64-bit FNV-1a of its numbers), so that a movie
// shared with others does not tell when its photograph was written; a change still shows.
std::string StampDigest(const FileStamp& stamp);

struct MadeFrom {
  std::string photograph;            // its name in the movie's folder
  std::string photographStamp;       // StampDigest of the photograph
  std::string recording;             // the recording beside it, by name; empty: the photograph's own
  std::string recordingStamp;        // StampDigest of the recording
  std::string format = "mov";        // the kind of movie made
  std::int32_t resize = 0;           // the longest side asked for, 0 for the natural size
  bool metadata = false;             // whether the capture facts were put in
  bool operator==(const MadeFrom&) const = default;
};

// The record as text (UTF-8, any length a name takes), carried by the movie as a metadata
// string; and back. Nothing when the text is no record of this kind.
std::string EncodeMadeFrom(const MadeFrom& record);
std::optional<MadeFrom> DecodeMadeFrom(std::string_view text);

// The record a movie carries in its movie atom's user data: a QuickTime movie as the text item
// of type s2mf, an MP4 as the metadata item under the key "s2mf", a motion photo in the MP4
// after its still. Read from the file's head in one read when the movie atom comes first (as
// ours do; a motion photo takes two or three): the regular file at path only, never through a
// link. Nothing when there is none.
constexpr FourCC kMadeFromItemType = MakeFourCC("s2mf");
std::optional<MadeFrom> ReadMadeFromMovie(const std::string& path);

}  // namespace media
