// SPDX-License-Identifier: GPL-2.0-or-later
// libjpeg's decoder and encoder behind status codes: its fatal errors, and the warnings that
// mean a damaged picture, unwind to a setjmp point; other warnings stay quiet.
#include "media/JpegCodec.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>

#include "media/JpegDcDecode.h"
#include "media/Status.h"

namespace media {

namespace {
thread_local JpegDecodeStats gLastStats;

// libjpeg fails cleanly (no backing store) past max_memory_to_use, which bounds what a
// progressive or multi-scan stream holds of its coefficients.
constexpr long kMaxCodecMemory = long(kMaxJpegDecodeBytes);

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  bool outOfMemory = false;
};

void onError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->outOfMemory = cinfo->err->msg_code == JERR_OUT_OF_MEMORY || cinfo->err->msg_code == JERR_NO_BACKING_STORE;
  std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr) {}

// Warnings after which the picture cannot come out whole: the data ends early or is corrupt
// where it matters. Junk bytes before a marker (common, and harmless) are not among them.
constexpr int kDamageWarnings[] = {JWRN_JPEG_EOF, JWRN_HIT_MARKER, JWRN_HUFF_BAD_CODE, JWRN_MUST_RESYNC,
                                   JWRN_ARITH_BAD_CODE};

void onEmit(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // trace messages
  for (int code : kDamageWarnings)
    if (cinfo->err->msg_code == code) onError(cinfo);
  cinfo->err->num_warnings++;
}

// Everything that changes between setjmp and a longjmp lives here, outside the frame that
// calls setjmp, so its value is defined after the jump.
struct DecodeJob {
  const std::uint8_t* data;
  std::size_t size;
  std::uint32_t minWidth, minHeight;
  PixelRowSink* sink;
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  std::vector<std::uint8_t> cmykRow;
  Status result = Status::ok;
};

void cmykToRgb(const std::uint8_t* cmyk, std::uint8_t* rgb, int width, bool inverted) {
  for (int x = 0; x < width; ++x) {
    unsigned c = cmyk[4 * x], m = cmyk[4 * x + 1], y = cmyk[4 * x + 2], k = cmyk[4 * x + 3];
    if (!inverted) {
      c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
    }
    // Inverted values are "how much light is left", so the product gives the colour.
    rgb[3 * x] = std::uint8_t((c * k + 127) / 255);
    rgb[3 * x + 1] = std::uint8_t((m * k + 127) / 255);
    rgb[3 * x + 2] = std::uint8_t((y * k + 127) / 255);
  }
}

void runDecode(DecodeJob& job) {
  jpeg_decompress_struct& cinfo = job.cinfo;
  if (setjmp(job.err.jump)) {
    job.result = job.err.outOfMemory ? Status::noMemory : Status::damaged;
    return;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxCodecMemory;
  jpeg_mem_src(&cinfo, job.data, static_cast<unsigned long>(job.size));
  jpeg_read_header(&cinfo, TRUE);
  bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  if (cinfo.jpeg_color_space == JCS_GRAYSCALE) cinfo.out_color_space = JCS_GRAYSCALE;
  else if (cmyk) cinfo.out_color_space = JCS_CMYK;
  else cinfo.out_color_space = JCS_RGB;
  int chosen = 8;
  for (int m = 1; m <= 8; ++m) {
    cinfo.scale_num = m;
    cinfo.scale_denom = 8;
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_width >= job.minWidth && cinfo.output_height >= job.minHeight) {
      chosen = m;
      break;
    }
  }
  cinfo.scale_num = chosen;
  cinfo.scale_denom = 8;
  jpeg_calc_output_dimensions(&cinfo);
  gLastStats = JpegDecodeStats{chosen, cinfo.output_width, cinfo.output_height};
  // At 1/8 only the DC coefficients count: a progressive picture is decoded from its DC scans in
  // 2 bytes a block, where libjpeg would hold all 64 coefficients of every block.
  if (chosen == 1 && cinfo.progressive_mode && !cinfo.arith_code && cinfo.data_precision == 8 &&
      (cinfo.jpeg_color_space == JCS_GRAYSCALE || cinfo.jpeg_color_space == JCS_YCbCr)) {
    job.result = JpegDecodeDcOnly(job.data, job.size, cinfo.jpeg_color_space == JCS_YCbCr, kMaxJpegDecodeBytes, job.sink);
    return;
  }
  const int width = int(cinfo.output_width), height = int(cinfo.output_height);
  job.result = job.sink->begin(width, height, cmyk ? 3 : cinfo.output_components);
  if (job.result != Status::ok) return;
  jpeg_start_decompress(&cinfo);
  if (cmyk) job.cmykRow.resize(std::size_t(width) * 4);
  while (cinfo.output_scanline < cinfo.output_height) {
    int y = int(cinfo.output_scanline);
    std::uint8_t* target = job.sink->rowBuffer(y);
    JSAMPROW row = cmyk ? job.cmykRow.data() : target;
    // The whole stream is in memory, so libjpeg never suspends: a row not read is an error.
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
      job.result = Status::damaged;
      return;
    }
    if (cmyk) cmykToRgb(job.cmykRow.data(), target, width, cinfo.saw_Adobe_marker);
    job.sink->rowFilled(y);
  }
  jpeg_finish_decompress(&cinfo);
}

struct EncodeJob {
  const PixelImage* image;
  int quality;
  bool fullChroma;
  jpeg_compress_struct cinfo;
  ErrorManager err;
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  Status result = Status::ok;
};

void runEncode(EncodeJob& job) {
  jpeg_compress_struct& cinfo = job.cinfo;
  if (setjmp(job.err.jump)) {
    job.result = job.err.outOfMemory ? Status::noMemory : Status::failed;
    return;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &job.buffer, &job.length);
  const PixelImage& img = *job.image;
  cinfo.image_width = JDIMENSION(img.width);
  cinfo.image_height = JDIMENSION(img.height);
  cinfo.input_components = img.channels;
  cinfo.in_color_space = img.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, job.quality, TRUE);
  cinfo.optimize_coding = TRUE;
  if (img.channels == 3 && job.fullChroma) {
    cinfo.comp_info[0].h_samp_factor = 1;
    cinfo.comp_info[0].v_samp_factor = 1;
  }
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(img.row(int(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
}

void installErrorManager(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = onError;
  err.pub.output_message = onMessage;
  err.pub.emit_message = onEmit;
}
}  // namespace

JpegDecodeStats JpegLastDecodeStats() { return gLastStats; }

Status JpegDecodeScaled(const std::uint8_t* data, std::size_t size, std::uint32_t minWidth, std::uint32_t minHeight,
                       PixelRowSink* sink) {
  if (data == nullptr || sink == nullptr || size == 0) return Status::badArgument;
  auto job = std::make_unique<DecodeJob>();
  job->data = data;
  job->size = size;
  job->minWidth = minWidth;
  job->minHeight = minHeight;
  job->sink = sink;
  std::memset(&job->cinfo, 0, sizeof job->cinfo);
  installErrorManager(job->err);
  job->cinfo.err = &job->err.pub;
  runDecode(*job);
  jpeg_destroy_decompress(&job->cinfo);
  return job->result;
}

Status JpegEncode(const PixelImage& image, int quality, bool fullChroma, std::vector<std::uint8_t>* out) {
  if (out == nullptr) return Status::badArgument;
  out->clear();
  if (image.width <= 0 || image.height <= 0 || (image.channels != 1 && image.channels != 3) ||
      image.pixels.size() != std::size_t(image.width) * image.height * image.channels ||
      image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION)
    return Status::badArgument;
  auto job = std::make_unique<EncodeJob>();
  job->image = &image;
  job->quality = quality < 1 ? 1 : quality > 100 ? 100 : quality;
  job->fullChroma = fullChroma;
  std::memset(&job->cinfo, 0, sizeof job->cinfo);
  installErrorManager(job->err);
  job->cinfo.err = &job->err.pub;
  runEncode(*job);
  jpeg_destroy_compress(&job->cinfo);
  if (job->result == Status::ok && job->buffer) out->assign(job->buffer, job->buffer + job->length);
  std::free(job->buffer);
  return job->result;
}

}  // namespace media
