// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: a photograph's XMP packet read and merged with the motion photo's properties.
// Every merged packet must be namespace-well-formed XML to expat (a second, independent parser),
// say it is a motion photo of the movie's length and fit one segment; anything else is refused.
#include <expat.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "media/MotionPhoto.h"
#include "media/MotionPhotoXmp.h"
#include "media/XmpPacket.h"

namespace {

bool expatReads(const std::string& text) {
  // The separator is one no XML text holds: a line end in a namespace URI reads as a space.
  XML_Parser parser = XML_ParserCreateNS(nullptr, '\x01');
  const bool ok = XML_Parse(parser, text.data(), int(text.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  // The first byte picks how many bytes follow the picture and the movie's length; the rest is
  // the packet.
  static constexpr std::uint64_t kAfter[] = {0, 1, 5000, 70000};
  static constexpr std::uint64_t kMovie[] = {1, 12, 4096, 9999999999999999999u};
  const std::uint64_t after = kAfter[data[0] & 3], movie = kMovie[(data[0] >> 2) & 3];
  const std::string packet(reinterpret_cast<const char*>(data) + 1, size - 1);

  // The read side, as the reader of our own files and the embedded-note readers use it.
  if (auto xmp = media::XmpPacket::Parse(packet)) {
    (void)xmp->Value("http://ns.google.com/photos/1.0/camera/", "MotionPhoto");
    (void)xmp->UnusedPrefix("GCamera");
  }
  (void)media::XmpSaysMotionPhoto(packet);
  (void)media::XmpMotionPhotoVideoLength(packet);
  // A photograph after the selector: the still around the movie, a trailer moved after it.
  if (size > 3 && data[1] == 0xFF && data[2] == 0xD8) {
    std::string why, tail;
    if (auto still = media::MotionPhotoStill(data + 1, size - 1, movie, &why, &tail)) {
      if (media::MotionPhotoVideoLength(reinterpret_cast<const std::uint8_t*>(still->data()), still->size()) != movie + tail.size())
        std::abort();
    } else if (why.empty()) {
      std::abort();
    }
    (void)media::IsMotionPhoto(data + 1, size - 1);
  }

  std::string why;
  const auto merged = media::MergeMotionPhotoXmp(packet, movie, after, &why);
  if (!merged) {
    if (why.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (merged->size() > media::kMaxXmpPacket || !expatReads(*merged) || !media::XmpSaysMotionPhoto(*merged) ||
      media::XmpMotionPhotoVideoLength(*merged) != movie)
    std::abort();
  return 0;
}
