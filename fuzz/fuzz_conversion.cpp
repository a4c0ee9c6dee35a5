// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: the whole conversion of a photograph - tag reader, recording written to the
// temporary folder, sound import, picture scaling and movie writing - in a private folder that
// is emptied after each input. The resize width comes from the input's length. An input may
// also carry a recording that is laid beside the photograph (see SidecarInput.h).
// Files are capped at 64 MB: a photograph of this size that makes a bigger file is a disk bomb,
// and the fuzzer reports the signal the cap raises as a finding.
#include <stdlib.h>
#include <sys/resource.h>

#include "Convert2Mov.h"
#include "FuzzScratch.h"
#include "SidecarInput.h"

// The output written, by its name; fuzz_conversion_mp4 builds this same target for MP4s.
#ifndef STILL2MOV_FUZZ_FORMAT
#define STILL2MOV_FUZZ_FORMAT "mov"
#endif

namespace {
constexpr SInt32 kResizes[] = {600, 0, 64};
constexpr rlim_t kFileCap = rlim_t(64) << 20;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const fuzzscratch::Folder& scratch = fuzzscratch::folder();
  // The recording goes to the temporary folder; keep it inside the scratch folder too.
  setenv("TMPDIR", scratch.path().c_str(), 1);
  rlimit cap{kFileCap, kFileCap};
  setrlimit(RLIMIT_FSIZE, &cap);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  const fuzzscratch::Folder& scratch = fuzzscratch::folder();
  const sidecarinput::Parts parts = sidecarinput::split(data, size);
  const std::string photo = scratch.file("photo.jpg");
  fuzzscratch::Folder::write(photo, reinterpret_cast<const unsigned char*>(parts.photo.data()), parts.photo.size());
  if (parts.name != nullptr)
    fuzzscratch::Folder::write(scratch.file(parts.name), reinterpret_cast<const unsigned char*>(parts.recording.data()),
                               parts.recording.size());
  Convert2Mov converter;
  converter.setOutput(*outputs::OutputNamed(STILL2MOV_FUZZ_FORMAT));
  const size_t n = parts.photo.size();
  converter.createMovie(Convert2Mov::moviePathFor(photo, converter.output()), photo,
                        kResizes[n % (sizeof kResizes / sizeof kResizes[0])]);
  scratch.empty();
  return 0;
}
