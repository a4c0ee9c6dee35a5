// SPDX-License-Identifier: GPL-2.0-or-later
// The motion photo PHOTO.MP.jpg: the photograph as it is, with the MP4 appended, which photo
// libraries play. It is itself a photograph, so a walk must know it for ours.
#include "media/JpegMarkers.h"
#include "media/MotionPhoto.h"
#include "outputs/QuickTimeRoad.h"
#include "outputs/StillMp4Road.h"
#include "toolbox/AppKit/NSPathUtilities.h"
#include "toolbox/Movies/Movies.h"

namespace outputs {
namespace {

bool jpegName(const std::string& name) {
  const std::string extension = NSStringPathExtension(name);
  std::string lower;
  for (char c : extension) lower.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
  return lower == "jpg" || lower == "jpeg";
}

// The last component's extension is kept: IMG_1.JPG gives IMG_1.MP.JPG. A motion photo is a JPEG,
// so a photograph of another kind gives its name a JPEG's ending: DSC_1.NEF gives DSC_1.MP.jpg.
// Trailing slashes are not part of the name.
std::string pathFor(const std::string& image) {
  std::string name = image;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  if (!jpegName(name) && !NSStringPathExtension(name).empty()) name = NSStringByDeletingPathExtension(name);
  return media::MotionPhotoName(name);
}

// IMG_0001.MP.JPG is IMG_0001.JPG's, when that name gives it back.
std::optional<std::string> photographOf(const std::string& path) {
  const std::string stem = NSStringByDeletingPathExtension(path);
  if (stem.size() < 4 || stem.compare(stem.size() - 3, 3, ".MP") != 0) return std::nullopt;
  const std::string source = stem.substr(0, stem.size() - 3) + path.substr(stem.size());
  return pathFor(source) == path ? std::optional(source) : std::nullopt;
}

// A motion photo is made of the photograph once: one that already is one (of any maker) stays as
// it is, and so does one whose XMP cannot take the properties, each said in its own words. A
// photograph that is no JPEG (a raw) is made one from the still its kind hands over, which the
// writer judges.
std::string refusal(std::span<const std::uint8_t> photograph) {
  if (!media::StartsWithSOI(photograph.data(), photograph.size())) return "";
  return media::MotionPhotoRefusal(photograph.data(), photograph.size());
}

int write(const OutputJob& job) { return WriteStillMp4(job, true); }

}  // namespace

Output MotionOutput() {
  return {"motion", "motion photo PHOTO.MP.jpg: the photograph with the MP4 appended",
          "motion photo", pathFor, photographOf, refusal,
          false, write, ReadMovieMadeFrom, ReadMovieSoundSeconds};
}

}  // namespace outputs
