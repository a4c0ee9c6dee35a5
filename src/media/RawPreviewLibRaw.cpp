// SPDX-License-Identifier: GPL-2.0-or-later
// The one place LibRaw is called: opened from memory with its memory bound set and its messages
// kept quiet, identified, its preview sized up before it is unpacked, and every throw caught.
// Built as a module of its own, loaded when a raw is first read, so that LibRaw and what it
// needs (OpenMP, LittleCMS) are not loaded with every start of the program.
#include "media/RawPreviewLibRaw.h"

#include <libraw/libraw.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace media {

namespace {

// LibRaw's own bound for what it allocates for one file; the preview never needs the sensor
// data, so this only caps a forged header's demands.
constexpr unsigned kLibRawMemoryMB = 512;

// How much of a stored JPEG preview LibRaw is given to make its memory picture of: past the
// start of image and the name of a leading APP1 segment, by which LibRaw tells whether it has EXIF.
constexpr unsigned kJpegHead = 64;

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
  if (!RawPreviewSizeTaken(t.twidth, t.theight)) return RawPreviewOutcome::tooLarge;
  if (t.tlength > size || !raw.previewLoaderTaken()) return RawPreviewOutcome::noPreview;
  // A preview whose bytes are not where the file says (stripped, or past its end) is none.
  o.stream->cutShort = false;
  if (int r = raw.unpack_thumb(); r != LIBRAW_SUCCESS) {
    const RawPreviewOutcome outcome = outcomeOf(r);
    return outcome == RawPreviewOutcome::noMemory ? outcome : RawPreviewOutcome::noPreview;
  }

  // For a JPEG, LibRaw's memory picture is its start of image and the EXIF segment it may put in,
  // then the stored stream's bytes: made of the stream's head alone, and the rest taken from the
  // stream as it lies, the megabytes are copied once, not twice.
  libraw_thumbnail_t& stored = raw.imgdata.thumbnail;
  const unsigned wholeLength = stored.tlength;
  const bool jpegStream = stored.tformat == LIBRAW_THUMBNAIL_JPEG && stored.thumb != nullptr &&
                          wholeLength > kJpegHead;
  if (jpegStream) stored.tlength = kJpegHead;
  int error = 0;
  libraw_processed_image_t* image = raw.dcraw_make_mem_thumb(&error);
  stored.tlength = wholeLength;
  if (image == nullptr)
    return error == ENOMEM ? RawPreviewOutcome::noMemory : outcomeOf(error ? error : LIBRAW_NO_THUMBNAIL);
  std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> held(image,
                                                                                     &LibRaw::dcraw_clear_mem);
  if (image->type == LIBRAW_IMAGE_JPEG) {
    // The frame header, not the container's note of it, says how large the picture is: the
    // caller reads it.
    out->isJpeg = true;
    // LibRaw puts an EXIF segment of its own right after the start of image when the stored
    // preview opens with none: then it hands over more than the file stores.
    if (!jpegStream) {
      out->ownExif = image->data_size <= t.tlength;
      out->jpeg.assign(image->data, image->data + image->data_size);
      return RawPreviewOutcome::ok;
    }
    if (image->data_size < kJpegHead) return RawPreviewOutcome::damaged;
    out->ownExif = image->data_size <= kJpegHead;
    out->jpeg.reserve(image->data_size + (wholeLength - kJpegHead));
    out->jpeg.assign(image->data, image->data + image->data_size);
    out->jpeg.insert(out->jpeg.end(), stored.thumb + kJpegHead, stored.thumb + wholeLength);
    return RawPreviewOutcome::ok;
  }
  if (image->type != LIBRAW_IMAGE_BITMAP || image->bits != 8 || (image->colors != 1 && image->colors != 3))
    return RawPreviewOutcome::noPreview;
  if (image->width == 0 || image->height == 0 || o.stream->cutShort) return RawPreviewOutcome::damaged;
  if (!RawPreviewSizeTaken(image->width, image->height)) return RawPreviewOutcome::tooLarge;
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

}  // namespace media

extern "C" int Still2movLibRawPreview(const std::uint8_t* data, std::size_t size, media::RawPreview* out) {
  using media::RawPreviewOutcome;
  RawPreviewOutcome r;
  try {
    r = media::readPreview(data, size, out);
  } catch (const std::bad_alloc&) {
    r = RawPreviewOutcome::noMemory;
  } catch (...) {
    r = RawPreviewOutcome::damaged;
  }
  return int(r);
}

extern "C" int Still2movLibRawIdentify(const std::uint8_t* data, std::size_t size) {
  using media::RawPreviewOutcome;
  try {
    return int(media::openRaw(data, size).outcome);
  } catch (const std::bad_alloc&) {
    return int(RawPreviewOutcome::noMemory);
  } catch (...) {
    return int(RawPreviewOutcome::damaged);
  }
}
