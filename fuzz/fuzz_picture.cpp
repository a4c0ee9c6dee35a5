// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: picture bytes through the video track's path - the graphics importer's size and
// description, the exporter drawing a scaled copy in memory and describing it as the frame - plus
// the description of the same bytes held in memory.
// The scaled width comes from the input's length, so inputs stay plain image files.
#include <vector>

#include "FuzzScratch.h"
#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacMemory.h"
#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/Files.h"

namespace {
// 0 takes the unscaled path; the others fit the picture into that width as a conversion does.
constexpr short kWidths[] = {0, 600, 64, 1};

void takeFrame(char* data, ImageDescriptionHandle desc) {
  if (data != nullptr) DisposePtr(data);
  if (desc != nullptr) DisposeHandle(reinterpret_cast<Handle>(desc));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  std::vector<char> bytes(data, data + size);
  ImageDescriptionHandle inMemory = QuickTimeU::GetImageDescForImage(bytes.data(), (unsigned long)bytes.size());
  if (inMemory) DisposeHandle(reinterpret_cast<Handle>(inMemory));

  const fuzzscratch::Folder& scratch = fuzzscratch::folder();
  const std::string path = scratch.file("photo.jpg");
  fuzzscratch::Folder::write(path, data, size);
  FSSpec image;
  if (FSpFromPath(path, &image) != noErr) return 0;
  const short target = kWidths[size % (sizeof kWidths / sizeof kWidths[0])];
  short width = 0, height = 0;
  QuickTimeU::GetScaledDimension(image, &width, &height, target);
  if (target == 0) {
    takeFrame(QuickTimeU::GetImageDataFromFile(image), QuickTimeU::GetImageDescFromFile(image));
  } else {
    char* frame = nullptr;
    ImageDescriptionHandle desc = nullptr;
    QuickTimeU::CreateScaledImage(image, width, height, &frame, &desc);
    takeFrame(frame, desc);
  }
  scratch.empty();
  return 0;
}
