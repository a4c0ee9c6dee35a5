// Fuzz target: image bytes through the graphics importer's description of an image in memory.
#include <vector>

#include "movie/QuickTimeU.h"
#include "toolbox/Core/MacMemory.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  std::vector<char> bytes(data, data + size);
  ImageDescriptionHandle desc = QuickTimeU::GetImageDescForImage(bytes.data(), (unsigned long)bytes.size());
  if (desc) DisposeHandle(reinterpret_cast<Handle>(desc));
  return 0;
}
