// SPDX-License-Identifier: GPL-2.0-or-later
// The one place LibRaw is called: opened from memory with its memory bound set and its messages
// kept quiet, identified, its preview sized up before it is unpacked, and every throw caught.
#include "media/RawPreview.h"

#include <libraw/libraw.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "media/JpegStructure.h"

namespace media {

namespace {

// LibRaw's own bound for what it allocates for one file; the preview never needs the sensor
// data, so this only caps a forged header's demands.
constexpr unsigned kLibRawMemoryMB = 512;

// LibRaw reports a short file and a refused allocation on stderr unless told otherwise; a
// conversion says such things in its own words.
void quietData(void*, const char*, const int) {}
void quietMemory(void*, const char*, const char*) {}

RawPreviewOutcome outcomeOf(int libraw) {
  switch (libraw) {
    case LIBRAW_SUCCESS: return RawPreviewOutcome::ok;
    case LIBRAW_FILE_UNSUPPORTED: return RawPreviewOutcome::notRaw;
    case LIBRAW_NO_THUMBNAIL:
    case LIBRAW_UNSUPPORTED_THUMBNAIL: return RawPreviewOutcome::noPreview;
    case LIBRAW_UNSUFFICIENT_MEMORY:
    case LIBRAW_TOO_BIG: return RawPreviewOutcome::noMemory;
    default: return RawPreviewOutcome::damaged;
  }
}

bool sizeTaken(std::uint64_t width, std::uint64_t height) {
  return width <= std::uint64_t(kMaxRawPreviewSide) && height <= std::uint64_t(kMaxRawPreviewSide) &&
         width * height <= kMaxRawPreviewPixels;
}

// The file's bytes as LibRaw reads them. LibRaw allocates what a header declares and reads
// into it; where the file ends first, the rest is zeroed here (else it would hand back whatever
// the allocator left there) and the shortfall noted.
class BoundedBuffer : public LibRaw_buffer_datastream {
 public:
  // LibRaw reads the buffer only; its interface predates const.
  BoundedBuffer(const std::uint8_t* data, std::size_t size)
      : LibRaw_buffer_datastream(const_cast<std::uint8_t*>(data), size) {}
  int read(void* into, std::size_t itemSize, std::size_t items) override {
    const INT64 before = tell();
    const int r = LibRaw_buffer_datastream::read(into, itemSize, items);
    const INT64 got = tell() - before;
    std::size_t wanted = 0;
    if (into != nullptr && got >= 0 && !__builtin_mul_overflow(itemSize, items, &wanted) &&
        std::size_t(got) < wanted) {
      std::memset(static_cast<char*>(into) + got, 0, wanted - std::size_t(got));
      cutShort = true;
    }
    return r;
  }
  bool cutShort = false;
};

// LibRaw's preview loaders by kind: only the JPEG and the 8-bit bitmap ones are taken. The
// others (layer, Rollei, 16-bit, Kodak, Foveon) write past their buffers on forged sizes.
class Processor : public LibRaw {
 public:
  Processor() : LibRaw(LIBRAW_OPTIONS_NONE) {}
  bool previewLoaderTaken() const {
    return write_thumb == &Processor::jpeg_thumb || write_thumb == &Processor::ppm_thumb;
  }
};

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

struct Opened {
  std::unique_ptr<BoundedBuffer> stream;  // outlives the processor that reads it
  std::unique_ptr<Processor> raw;
  RawPreviewOutcome outcome = RawPreviewOutcome::ok;
};

Opened openRaw(const std::uint8_t* data, std::size_t size) {
  Opened o;
  if (data == nullptr || size == 0) {
    o.outcome = RawPreviewOutcome::notRaw;
    return o;
  }
  if (!RawLayoutSound(data, size)) {
    o.outcome = RawPreviewOutcome::damaged;
    return o;
  }
  o.stream.reset(new (std::nothrow) BoundedBuffer(data, size));
  o.raw.reset(new (std::nothrow) Processor());
  if (!o.stream || !o.raw) {
    o.outcome = RawPreviewOutcome::noMemory;
    return o;
  }
  o.raw->set_dataerror_handler(quietData, nullptr);
  o.raw->set_memerror_handler(quietMemory, nullptr);
  o.raw->imgdata.params.max_raw_memory_mb = kLibRawMemoryMB;
  o.outcome = outcomeOf(o.raw->open_datastream(o.stream.get()));
  return o;
}

RawPreviewOutcome readPreview(const std::uint8_t* data, std::size_t size, RawPreview* out) {
  Opened o = openRaw(data, size);
  if (o.outcome != RawPreviewOutcome::ok) return o.outcome;
  Processor& raw = *o.raw;
  out->orientation = RawFlipOrientation(raw.imgdata.sizes.flip);
  out->captureTime = raw.imgdata.other.timestamp > 0 ? std::int64_t(raw.imgdata.other.timestamp) : 0;

  const libraw_thumbnail_t& t = raw.imgdata.thumbnail;
  if (t.tlength == 0 && t.twidth == 0 && t.theight == 0) return RawPreviewOutcome::noPreview;
  // The sizes the file declares are judged before LibRaw allocates for them: a preview is stored
  // inside the file, so its length cannot pass the file's.
  if (!sizeTaken(t.twidth, t.theight)) return RawPreviewOutcome::tooLarge;
  if (t.tlength > size || !raw.previewLoaderTaken()) return RawPreviewOutcome::noPreview;
  // A preview whose bytes are not where the file says (stripped, or past its end) is none.
  o.stream->cutShort = false;
  if (int r = raw.unpack_thumb(); r != LIBRAW_SUCCESS) {
    const RawPreviewOutcome outcome = outcomeOf(r);
    return outcome == RawPreviewOutcome::noMemory ? outcome : RawPreviewOutcome::noPreview;
  }

  int error = 0;
  libraw_processed_image_t* image = raw.dcraw_make_mem_thumb(&error);
  if (image == nullptr)
    return error == ENOMEM ? RawPreviewOutcome::noMemory : outcomeOf(error ? error : LIBRAW_NO_THUMBNAIL);
  std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> held(image,
                                                                                     &LibRaw::dcraw_clear_mem);
  if (image->type == LIBRAW_IMAGE_JPEG) {
    // The frame header, not the container's note of it, says how large the picture is; a
    // stream cut short (LibRaw hands over what the file holds) could never be shown whole.
    JpegLayout layout;
    if (ParseJpegLayout(image->data, image->data_size, &layout) != Status::ok || layout.width == 0 ||
        layout.height == 0 || JpegMissingPart(layout) != nullptr)
      return RawPreviewOutcome::damaged;
    if (!sizeTaken(layout.width, layout.height)) return RawPreviewOutcome::tooLarge;
    out->isJpeg = true;
    // LibRaw puts an EXIF segment of its own right after the start of image when the stored
    // preview opens with none: then it hands over more than the file stores.
    out->ownExif = image->data_size <= t.tlength;
    out->jpeg.assign(image->data, image->data + image->data_size);
    out->width = int(layout.width);
    out->height = int(layout.height);
    return RawPreviewOutcome::ok;
  }
  if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 || (image->colors != 1 && image->colors != 3))
    return RawPreviewOutcome::noPreview;
  if (image->width == 0 || image->height == 0 || o.stream->cutShort) return RawPreviewOutcome::damaged;
  if (!sizeTaken(image->width, image->height)) return RawPreviewOutcome::tooLarge;
  const std::size_t bytes = std::size_t(image->width) * image->height * image->colors;
  if (image->data_size < bytes) return RawPreviewOutcome::damaged;
  out->isJpeg = false;
  out->bitmap.width = image->width;
  out->bitmap.height = image->height;
  out->bitmap.channels = image->colors;
  out->bitmap.pixels.assign(image->data, image->data + bytes);
  out->width = image->width;
  out->height = image->height;
  return RawPreviewOutcome::ok;
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

std::string RawPreviewAnswer(RawPreviewOutcome outcome, const RawPreview& preview) {
  const bool ok = outcome == RawPreviewOutcome::ok;
  const std::vector<std::uint8_t>& payload = preview.isJpeg ? preview.jpeg : preview.bitmap.pixels;
  std::string s(kAnswerTag, sizeof kAnswerTag);
  s.reserve(kAnswerHeader + (ok ? payload.size() : 0));
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
  if (ok) s.append(reinterpret_cast<const char*>(payload.data()), payload.size());
  return s;
}

bool ReadRawPreviewAnswer(std::string_view bytes, RawPreviewOutcome* outcome, RawPreview* preview) {
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
  if (said > unsigned(RawPreviewOutcome::lost) || unsigned(static_cast<unsigned char>(bytes[5])) > 1 || ownExif > 1 ||
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
  if (width == 0 || height == 0 || !sizeTaken(width, height) || orientation < 1 || orientation > 8) return false;
  if (isJpeg ? (payload.empty() || channels != 0)
             : ((channels != 1 && channels != 3) || payload.size() != std::uint64_t(width) * height * channels))
    return false;
  const auto* p = reinterpret_cast<const std::uint8_t*>(payload.data());
  preview->isJpeg = isJpeg;
  if (isJpeg) {
    preview->jpeg.assign(p, p + payload.size());
  } else {
    preview->bitmap.width = int(width);
    preview->bitmap.height = int(height);
    preview->bitmap.channels = channels;
    preview->bitmap.pixels.assign(p, p + payload.size());
  }
  preview->width = int(width);
  preview->height = int(height);
  preview->orientation = orientation;
  preview->ownExif = ownExif != 0;
  preview->captureTime = captureTime;
  *outcome = told;
  return true;
}

bool RawLayoutSound(const std::uint8_t* data, std::size_t size) {
  return data != nullptr && (!looksLikeBoxes(data, size) || boxesSound(data, size, 0));
}

int RawFlipOrientation(int flip) {
  // Indexed by flip: 4 is a transpose (EXIF 5), 5 a quarter turn left (8), 6 one right (6).
  static constexpr int kOrientation[8] = {1, 2, 4, 3, 5, 8, 6, 7};
  return flip >= 0 && flip < 8 ? kOrientation[flip] : 1;
}

RawPreviewOutcome ReadRawPreview(const std::uint8_t* data, std::size_t size, RawPreview* out) {
  if (out == nullptr) return RawPreviewOutcome::notRaw;
  *out = RawPreview{};
  RawPreviewOutcome r;
  try {
    r = readPreview(data, size, out);
  } catch (const std::bad_alloc&) {
    r = RawPreviewOutcome::noMemory;
  } catch (...) {
    r = RawPreviewOutcome::damaged;
  }
  if (r != RawPreviewOutcome::ok) *out = RawPreview{};
  return r;
}

RawPreviewOutcome IdentifyRaw(const std::uint8_t* data, std::size_t size) {
  try {
    return openRaw(data, size).outcome;
  } catch (const std::bad_alloc&) {
    return RawPreviewOutcome::noMemory;
  } catch (...) {
    return RawPreviewOutcome::damaged;
  }
}

}  // namespace media
