// Building the movie from the photograph and its temporary WAVE file: resolve both to file
// specifications, name the movie in the photograph's folder, and have the tracks assembled.
#include <cstring>

#include "Convert2Mov.h"
#include "movie/QuickTimeU.h"
#include "platform/UtilsCIP.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Core/System.h"
#include "toolbox/Files/Files.h"
#include "toolbox/Movies/Movies.h"

namespace {

constexpr OSType kMovieCreator = FOUR_CHAR_CODE("TVOD");
constexpr OSType kUnknownFileType = FOUR_CHAR_CODE("????");

// An unresolved path leaves the specification naming nothing (folder ID 0), never stale bytes.
bool resolve(const std::string& path, FSSpec* spec) {
  std::memset(spec, 0, sizeof *spec);
  FSRef ref;
  if (FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, nullptr) != noErr) return false;
  if (!UtilsCIP::GetFSSpecFromFSRef(ref, *spec)) {
    std::memset(spec, 0, sizeof *spec);
    return false;
  }
  return true;
}

std::string lastPathComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t slash = p.find_last_of('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool isEmptyFile(const FSSpec& spec) {
  CInfoPBRec pb{};
  Str255 name;
  std::memcpy(name, spec.name, size_t(spec.name[0]) + 1);
  pb.ioNamePtr = name;
  pb.ioVRefNum = spec.vRefNum;
  pb.ioDirID = spec.parID;
  return PBGetCatInfoSync(&pb) == noErr && !(pb.ioFlAttrib & kioFlAttribDirMask) && pb.ioFlLgLen == 0;
}

}  // namespace

SInt32 Convert2Mov::assembleMovieTracksForMovie(const std::string& movie, const std::string& image,
                                                const std::string& audio, SInt32 resize) {
  mReport.assembled = true;
  mReport.moviePath.clear();
  mReport.soundSeconds = 0;

  // A WAVE file that does not resolve goes on as a specification of no file, so the sound
  // import fails and the assembly reports it.
  FSSpec audioSpec;
  resolve(audio, &audioSpec);
  FSSpec imageSpec;
  // The movie's folder is the photograph's: without it there is nowhere to put the movie.
  if (!resolve(image, &imageSpec)) return fnfErr;

  std::string name = lastPathComponent(movie);
  if (name.empty() || name.size() > 255) return bdNamErr;
  Str255 movieName;
  CopyCStringToPascal(name.c_str(), movieName);

  FSSpec movieSpec;
  std::memset(&movieSpec, 0, sizeof movieSpec);
  OSErr err = FSMakeFSSpec(imageSpec.vRefNum, imageSpec.parID, movieName, &movieSpec);
  if (err != noErr && err != fnfErr) return err;
  // A photograph (or recording) that already carries the movie's name must not be replaced by it.
  std::string moviePath, imagePath, audioPath;
  FSpGetPath(&movieSpec, &moviePath);
  FSpGetPath(&imageSpec, &imagePath);
  FSpGetPath(&audioSpec, &audioPath);
  if (moviePath == imagePath || moviePath == audioPath) return dupFNErr;
  mReport.moviePath = moviePath;

  // An existing movie stays where it is until the assembly replaces it whole.
  bool created = FSpCreate(&movieSpec, kMovieCreator, kUnknownFileType, smSystemScript) == noErr;

  int status = QuickTimeU::CreateMovie(movieSpec, imageSpec, audioSpec, resize);
  if (status == noErr) {
    TimeValue duration = 0;
    TimeScale scale = 0;
    // Read back from the written file: the duration the user gets, and proof that it is a movie.
    OSErr readErr = GetMovieFileTrackDuration(&movieSpec, SoundMediaType, &duration, &scale);
    if (readErr != noErr) return readErr;
    mReport.soundSeconds = double(duration) / double(scale);
  } else if (created && isEmptyFile(movieSpec)) {
    // No half-made movie is left behind: only the empty file made above is removed.
    FSpDelete(&movieSpec);
  }
  return status;
}
