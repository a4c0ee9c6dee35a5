// SPDX-License-Identifier: GPL-2.0-or-later
// What a movie records of the files it was made from, so that a later run can tell, from the
// movie alone and a look at each file, whether it is still current and whose movie it is.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// The same of the size and modification time alone: what stays when only the change time moves
// (a change of mode or owner, another link, a restore that keeps times).
std::string LookDigest(const FileStamp& stamp);

// A digest of a file's contents, fed in pieces: SHA-256, as lower-case hex ("" when it could not
// be taken). OpenSSL's where the system has it, for its speed; else GLib's.
class ContentDigest {
 public:
  ContentDigest();
  ~ContentDigest();
  ContentDigest(const ContentDigest&) = delete;
  ContentDigest& operator=(const ContentDigest&) = delete;
  void add(const std::uint8_t* bytes, std::size_t size);
  std::string hex();  // ends the digest

 private:
  struct Sum;
  Sum* sum_;
};

// One file the record names beside the movie, as it was when the movie was made.
struct RecordedFile {
  std::string name;     // its name in the movie's folder
  std::string stamp;    // StampDigest
  std::string look;     // LookDigest; "" in records that keep none
  std::string content;  // ContentDigest's hex; "" when none was taken
  bool operator==(const RecordedFile&) const = default;
};

struct MadeFrom {
  std::string photograph;            // its name in the movie's folder
  std::string photographStamp;       // StampDigest of the photograph
  std::string recording;             // the recording beside it, by name; empty: the photograph's own
  std::string recordingStamp;        // StampDigest of the recording
  std::string format = "mov";        // the kind of movie made
  std::int32_t resize = 0;           // the longest side asked for, 0 for the natural size
  bool metadata = false;             // whether the capture facts were put in
  // What the recording's lookup saw, in records that keep it (older ones do not): the source
  // that served, the names it asked the folder for, and the files it passed over before the
  // recording, each as it was; and the look and contents of the photograph and the recording.
  bool lookupKept = false;
  std::string source;
  std::vector<std::string> asked;
  std::vector<RecordedFile> passedOver;
  std::string photographLook, photographContent;
  std::string recordingLook, recordingContent;
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
