// SPDX-License-Identifier: GPL-2.0-or-later
// Where a photograph's voice note can be, one row each: its name, how it is found for a
// photograph, how its recording is checked and read, and what extract writes. A new source is
// one file and one row; conversion, --info, extract, the made-from record and watch all ask here.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "media/Recording.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/MacTypes.h"

class ExImageInfo;

namespace sources {

// The photograph as its sources look at it.
struct Photograph {
  std::string path;                      // as given; its folder is where recordings beside it are
  const ExImageInfo* record = nullptr;   // its tags and voice-annotation blocks
  std::span<const std::uint8_t> bytes;   // the file's start: its picture and header segments
  bool readable = false;                 // its header was read (its pixel size is known)
  // The whole file, read where asked (a trailer after the picture is not held); nullptr when
  // bytes are the whole file.
  std::shared_ptr<media::ByteReader> file;
};

// What a source found for a photograph.
struct Found {
  std::string file;     // the recording's own file beside the photograph, when it is one (the
                        // user's: stamped in the made-from record, never removed)
  std::string problem;  // "" when usable; else why not, in words
  OSErr status = noErr;  // the problem's code
  std::uint64_t bytes = 0;  // the recording's size, once known
  std::string extension;    // extract's extension when it depends on the recording found (".m4a"); "" for the row's
  std::string passedOver;         // a file asked for first that did not serve, when this one did
  std::string passedOverProblem;  // why it did not ("is not there" ...)
};

// The recording as a source hands it to an output: the stored WAVE's bytes, or decoded PCM.
struct Recording {
  std::unique_ptr<media::ByteReader> wave;
  std::unique_ptr<media::PcmSource> pcm;
};

// The recording as a WAVE file, for outputs that read one.
struct WaveFile {
  std::string path;
  bool working = true;  // written for this conversion and removed when it ends
};

struct SoundSource {
  const char* name;  // --info's and --json's SoundSource ("embedded", "sidecar")
  // Whether the photograph has a recording of this kind: what was found (possibly with its
  // problem), or nothing. A look only: what --info shows.
  std::optional<Found> (*find)(const Photograph& photo);
  // Before anything is written: the recording must be whole. noErr, or the code with words in
  // problem; found->bytes is then the recording's size.
  OSErr (*check)(const Photograph& photo, Found* found, std::string* problem);
  // The recording as a WAVE file (for the QuickTime road); working files are the caller's to
  // remove. noErr, or the code with words in problem.
  OSErr (*waveFile)(const Photograph& photo, const Found& found, WaveFile* wave, std::string* problem);
  // The recording read as bytes or PCM, for outputs that take it so; it may refer to the
  // photograph's bytes. noErr, or the code with words in problem.
  OSErr (*open)(const Photograph& photo, const Found& found, Recording* recording, std::string* problem);
  // What extract writes: the extension of its file (".wav") and its bytes, into out.
  const char* extension;
  OSErr (*extract)(const Photograph& photo, const Found& found, std::FILE* out, std::uint64_t* written,
                   std::string* problem);
  // For recordings kept in files beside the photograph (nullptr for those inside it): whether a
  // file of that name may be one, and whether it may be the photograph's (watch converts the
  // photograph again when it arrives).
  bool (*recordingName)(const std::string& name);
  bool (*recordingOf)(const std::string& recordingName, const std::string& photoName);
  // For those beside it too: the names the photograph's lookup asks its folder for, in the order
  // asked (a name its tags give, then its own); and for those names, what the folder holds now
  // under each, in the same order ("" where it holds none), without reading the photograph: what
  // the lookup would examine if it ran now.
  std::vector<std::string> (*namesAsked)(const Photograph& photo);
  std::vector<std::string> (*namesNow)(const std::string& image, std::span<const std::string> asked);
};

// Every source, in the order a photograph's are taken: the first that finds one serves.
std::span<const SoundSource> SoundSources();
// The source of that name; nullptr when none has it.
const SoundSource* SoundSourceNamed(std::string_view name);

// The first source that finds a recording for the photograph, with what it found; the source
// is nullptr when none does.
struct Located {
  const SoundSource* source = nullptr;
  Found found;
};
Located LocateRecording(const Photograph& photo);
// Every source that finds a recording for the photograph, in the table's order: the first is
// the one LocateRecording gives.
std::vector<Located> FindRecordings(const Photograph& photo);
// Whether a file of that name may be a recording beside a photograph, by any source.
bool MayBeRecording(const std::string& name);
// Whether a file of that name may be the recording of the photograph photoName, by any source.
bool MayBeRecordingOf(const std::string& recordingName, const std::string& photoName);
// The names of files beside the photograph that its lookup would ask for, by the sources in
// their order; none past a source inside the photograph that finds one (it serves first).
std::vector<std::string> RecordingNamesAsked(const Photograph& photo);
// Whether a file of that name is one of those asked (letter case aside, as the folder is asked).
bool IsAskedFor(std::span<const std::string> asked, const std::string& recordingName);

}  // namespace sources
