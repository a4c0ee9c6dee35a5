// SPDX-License-Identifier: GPL-2.0-or-later
// A raw's preview: the bytes checked before LibRaw is given them, LibRaw's module loaded on first
// use and asked, the JPEG it hands over checked whole, and the answer that crosses a process.
#include "media/RawPreview.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

#include "media/JpegStructure.h"
#include "media/RawPreviewLibRaw.h"

namespace media {

namespace {

// ISO base media boxes (a CR3's) must each be at least a header long and inside their parent:
// LibRaw's walk of them loops forever on one that is not. Containers are walked into.
bool boxesSound(const std::uint8_t* p, std::size_t size, int depth) {
  static const char* const kContainers[] = {"moov", "trak", "mdia", "minf", "stbl", "dinf", "edts", "udta"};
  std::size_t at = 0;
  while (at < size) {
    if (size - at < 8) return false;
    std::uint64_t box = (std::uint64_t(p[at]) << 24) | (p[at + 1] << 16) | (p[at + 2] << 8) | p[at + 3];
    std::size_t header = 8;
    if (box == 1) {
      if (size - at < 16) return false;
      box = 0;
      for (int i = 0; i < 8; ++i) box = (box << 8) | p[at + 8 + i];
      header = 16;
    } else if (box == 0) {
      box = size - at;  // to the end
    }
    if (box < header || box > size - at) return false;
    bool container = false;
    for (const char* c : kContainers) container = container || std::memcmp(p + at + 4, c, 4) == 0;
    if (container && (depth > 16 || !boxesSound(p + at + header, std::size_t(box) - header, depth + 1))) return false;
    at += std::size_t(box);
  }
  return true;
}

bool looksLikeBoxes(const std::uint8_t* data, std::size_t size) {
  return size >= 12 && std::memcmp(data + 4, "ftyp", 4) == 0;
}

}  // namespace

const char* RawPreviewWords(RawPreviewOutcome outcome) {
  switch (outcome) {
    case RawPreviewOutcome::ok: return "";
    case RawPreviewOutcome::notRaw: return "not a raw photograph LibRaw reads";
    case RawPreviewOutcome::noPreview: return "no preview picture to show";
    case RawPreviewOutcome::tooLarge: return "its preview picture is too large to show";
    case RawPreviewOutcome::damaged: return "its preview picture is damaged";
    case RawPreviewOutcome::noMemory: return "not enough memory to read its preview picture";
    case RawPreviewOutcome::lost: return "the raw photograph could not be read";
    case RawPreviewOutcome::unavailable: return "LibRaw cannot be loaded to read raw photographs";
  }
  return "";
}

namespace {

// The answer's layout: "RPV2", outcome, isJpeg, channels, orientation (a byte each), then width,
// height (4 bytes each), ownExif (a byte), the capture time and the payload's length (8 each;
// this machine's order: both ends are this program) and the payload.
constexpr char kAnswerTag[4] = {'R', 'P', 'V', '2'};
constexpr std::size_t kAnswerHeader = 4 + 4 + 4 + 4 + 1 + 8 + 8;

void putU32(std::string* s, std::uint32_t v) { s->append(reinterpret_cast<const char*>(&v), sizeof v); }
std::uint32_t getU32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

std::string RawPreviewAnswerHead(RawPreviewOutcome outcome, const RawPreview& preview) {
  const bool ok = outcome == RawPreviewOutcome::ok;
  const std::vector<std::uint8_t>& payload = preview.isJpeg ? preview.jpeg : preview.bitmap.pixels;
  std::string s(kAnswerTag, sizeof kAnswerTag);
  s.reserve(kAnswerHeader);
  s.push_back(char(outcome));
  s.push_back(char(ok && preview.isJpeg));
  s.push_back(char(ok && !preview.isJpeg ? preview.bitmap.channels : 0));
  s.push_back(char(ok ? preview.orientation : 1));
  putU32(&s, std::uint32_t(ok ? preview.width : 0));
  putU32(&s, std::uint32_t(ok ? preview.height : 0));
  s.push_back(char(ok && preview.isJpeg && preview.ownExif));
  const std::int64_t captureTime = ok && preview.captureTime > 0 ? preview.captureTime : 0;
  s.append(reinterpret_cast<const char*>(&captureTime), sizeof captureTime);
  const std::uint64_t length = ok ? payload.size() : 0;
  s.append(reinterpret_cast<const char*>(&length), sizeof length);
  return s;
}

std::string RawPreviewAnswer(RawPreviewOutcome outcome, const RawPreview& preview) {
  std::string s = RawPreviewAnswerHead(outcome, preview);
  if (outcome == RawPreviewOutcome::ok) {
    const std::vector<std::uint8_t>& payload = preview.isJpeg ? preview.jpeg : preview.bitmap.pixels;
    s.append(reinterpret_cast<const char*>(payload.data()), payload.size());
  }
  return s;
}

namespace {

// Checks an answer whole and fills all of the preview but its payload; the caller puts that in.
bool readAnswerHead(std::string_view bytes, RawPreviewOutcome* outcome, RawPreview* preview) {
  *preview = RawPreview{};
  *outcome = RawPreviewOutcome::lost;
  if (bytes.size() < kAnswerHeader || std::memcmp(bytes.data(), kAnswerTag, sizeof kAnswerTag) != 0) return false;
  const auto said = static_cast<unsigned char>(bytes[4]);
  const bool isJpeg = bytes[5] != 0;
  const int channels = static_cast<unsigned char>(bytes[6]);
  const int orientation = static_cast<unsigned char>(bytes[7]);
  const std::uint32_t width = getU32(bytes.data() + 8), height = getU32(bytes.data() + 12);
  const auto ownExif = static_cast<unsigned char>(bytes[16]);
  std::int64_t captureTime;
  std::memcpy(&captureTime, bytes.data() + 17, sizeof captureTime);
  std::uint64_t length;
  std::memcpy(&length, bytes.data() + 25, sizeof length);
  const std::string_view payload = bytes.substr(kAnswerHeader);
  if (payload.size() != length) return false;
  if (said > unsigned(RawPreviewOutcome::unavailable) || unsigned(static_cast<unsigned char>(bytes[5])) > 1 || ownExif > 1 ||
      captureTime < 0 || (ownExif && !isJpeg))
    return false;
  const auto told = RawPreviewOutcome(said);
  if (told != RawPreviewOutcome::ok) {
    if (!payload.empty() || width != 0 || height != 0 || isJpeg || channels != 0 || orientation != 1 ||
        captureTime != 0)
      return false;
    *outcome = told;
    return true;
  }
  if (width == 0 || height == 0 || !RawPreviewSizeTaken(width, height) || orientation < 1 || orientation > 8) return false;
  if (isJpeg ? (payload.empty() || channels != 0)
             : ((channels != 1 && channels != 3) || payload.size() != std::uint64_t(width) * height * channels))
    return false;
  preview->isJpeg = isJpeg;
  if (!isJpeg) {
    preview->bitmap.width = int(width);
    preview->bitmap.height = int(height);
    preview->bitmap.channels = channels;
  }
  preview->width = int(width);
  preview->height = int(height);
  preview->orientation = orientation;
  preview->ownExif = ownExif != 0;
  preview->captureTime = captureTime;
  *outcome = told;
  return true;
}

}  // namespace

bool ReadRawPreviewAnswer(std::string_view bytes, RawPreviewOutcome* outcome, RawPreview* preview) {
  if (!readAnswerHead(bytes, outcome, preview)) return false;
  if (*outcome == RawPreviewOutcome::ok) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data()) + kAnswerHeader;
    (preview->isJpeg ? preview->jpeg : preview->bitmap.pixels).assign(p, p + (bytes.size() - kAnswerHeader));
  }
  return true;
}

bool ReadRawPreviewAnswer(std::vector<std::uint8_t>&& bytes, RawPreviewOutcome* outcome, RawPreview* preview) {
  std::vector<std::uint8_t> block = std::move(bytes);
  bytes.clear();
  if (!readAnswerHead({reinterpret_cast<const char*>(block.data()), block.size()}, outcome, preview)) return false;
  if (*outcome == RawPreviewOutcome::ok) {
    // The header is moved out of the way within the block (no new pages), not the payload copied.
    block.erase(block.begin(), block.begin() + kAnswerHeader);
    (preview->isJpeg ? preview->jpeg : preview->bitmap.pixels) = std::move(block);
  }
  return true;
}

bool RawLayoutSound(const std::uint8_t* data, std::size_t size) {
  return data != nullptr && (!looksLikeBoxes(data, size) || boxesSound(data, size, 0));
}

namespace {

// The module's entry points: linked into this binary (the fuzz target), else loaded once, from
// beside the program (a build) or from where it is installed, and never unloaded.
struct Module {
  decltype(&Still2movLibRawPreview) preview = nullptr;
  decltype(&Still2movLibRawIdentify) identify = nullptr;
  std::string why;
};

const Module& module() {
  static const Module* m = [] {
    auto* out = new Module;
    if (&Still2movLibRawPreview != nullptr && &Still2movLibRawIdentify != nullptr) {
      out->preview = &Still2movLibRawPreview;
      out->identify = &Still2movLibRawIdentify;
      return out;
    }
    void* handle = nullptr;
    // $ORIGIN spelled out as the program's folder: dlopen would read it as the folder of whatever
    // calls it, which under a sanitizer is the sanitizer's library.
    std::string origin = "$ORIGIN";
    char exe[4096];
    if (const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe); n > 0 && std::size_t(n) < sizeof exe) {
      const std::string path(exe, std::size_t(n));
      origin = path.substr(0, path.rfind('/'));
    }
    for (const char* place : {"/" STILL2MOV_LIBRAW_MODULE_NAME, "/" STILL2MOV_LIBRAW_MODULE}) {
      const std::string full = origin + place;
      if ((handle = dlopen(full.c_str(), RTLD_LAZY | RTLD_LOCAL)) != nullptr) break;
    }
    if (handle == nullptr) {
      const char* error = dlerror();
      out->why = std::string("cannot load " STILL2MOV_LIBRAW_MODULE_NAME) + (error ? std::string(": ") + error : "");
      return out;
    }
    out->preview = reinterpret_cast<decltype(out->preview)>(dlsym(handle, "Still2movLibRawPreview"));
    out->identify = reinterpret_cast<decltype(out->identify)>(dlsym(handle, "Still2movLibRawIdentify"));
    if (out->preview == nullptr || out->identify == nullptr) {
      out->preview = nullptr;
      out->identify = nullptr;
      out->why = STILL2MOV_LIBRAW_MODULE_NAME " has not the functions it should";
    }
    return out;
  }();
  return *m;
}

RawPreviewOutcome outcomeFrom(int told) {
  return told >= 0 && told <= int(RawPreviewOutcome::unavailable) ? RawPreviewOutcome(told) : RawPreviewOutcome::damaged;
}

}  // namespace

bool LoadRawPreviewModule(std::string* why) {
  const Module& m = module();
  if (m.preview == nullptr && why != nullptr) *why = m.why;
  return m.preview != nullptr;
}

RawPreviewOutcome ReadRawPreview(const std::uint8_t* data, std::size_t size, RawPreview* out) {
  if (out == nullptr) return RawPreviewOutcome::notRaw;
  *out = RawPreview{};
  RawPreviewOutcome r = RawPreviewOutcome::notRaw;
  if (data == nullptr || size == 0) return r;
  if (!RawLayoutSound(data, size)) return RawPreviewOutcome::damaged;
  const Module& m = module();
  if (m.preview == nullptr) return RawPreviewOutcome::unavailable;
  r = outcomeFrom(m.preview(data, size, out));
  if (r == RawPreviewOutcome::ok && out->isJpeg) {
    // The frame header, not the container's note of it, says how large the picture is; a
    // stream cut short (LibRaw hands over what the file holds) could never be shown whole.
    JpegLayout layout;
    if (ParseJpegLayout(out->jpeg.data(), out->jpeg.size(), &layout) != Status::ok || layout.width == 0 ||
        layout.height == 0 || JpegMissingPart(layout) != nullptr)
      r = RawPreviewOutcome::damaged;
    else if (!RawPreviewSizeTaken(layout.width, layout.height))
      r = RawPreviewOutcome::tooLarge;
    out->width = int(layout.width);
    out->height = int(layout.height);
  }
  if (r != RawPreviewOutcome::ok) *out = RawPreview{};
  return r;
}

RawPreviewOutcome IdentifyRaw(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0) return RawPreviewOutcome::notRaw;
  if (!RawLayoutSound(data, size)) return RawPreviewOutcome::damaged;
  const Module& m = module();
  if (m.identify == nullptr) return RawPreviewOutcome::unavailable;
  return outcomeFrom(m.identify(data, size));
}

}  // namespace media
