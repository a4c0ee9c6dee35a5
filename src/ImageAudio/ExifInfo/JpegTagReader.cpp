// SPDX-License-Identifier: GPL-2.0-or-later
// Reading a JPEG header with libjpeg: the APP1 and APP2 segments in file order, the decoded
// size, the path and the creation date, then the search for the voice annotation.
#include "ImageAudio/ExifInfo/JpegTagReader.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "toolbox/Core/MacErrors.h"
#include "toolbox/Files/FileAttributes.h"
#include "toolbox/Files/RegularFiles.h"

namespace {

constexpr int kAPP1 = JPEG_APP0 + 1;
constexpr int kAPP2 = JPEG_APP0 + 2;

struct ReaderErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

// A fatal decoder error returns to runDecoder; the decoder is then only destroyed.
void my_error_exit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ReaderErrorManager*>(cinfo->err);
  std::longjmp(manager->jump, 1);
}

void ExifJpegOutputMessage(j_common_ptr) {}

// At the end of the data the source pads with fake markers; a segment cut short there
// would be filled with those bytes, so running out of data is as fatal as any error.
void ExifJpegEmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) {
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) my_error_exit(cinfo);
    cinfo->err->num_warnings++;
  }
}

struct DecodedSize {
  UInt32 width = 0;
  UInt32 height = 0;
  UInt32 components = 0;
};

// Where the APP2 segments go (cinfo->client_data).
struct SegmentSink {
  ExImageInfo* record;
  bool inPlace;  // the source's bytes outlive the record: pointed at, not copied
};

// The APP2 segment at the source, its body copied straight into the record's FlashPix data list
// (or pointed at, in place): libjpeg keeps no copy of its own, so a long voice annotation is held
// once. A body cut short ends the header read as running out of data does (see the emit hook).
boolean copyFlashPixSegment(j_decompress_ptr cinfo) {
  jpeg_source_mgr* src = cinfo->src;
  auto byte = [cinfo, src]() -> UInt8 {
    if (src->bytes_in_buffer == 0) (*src->fill_input_buffer)(cinfo);
    --src->bytes_in_buffer;
    return *src->next_input_byte++;
  };
  const UInt32 high = byte();
  const UInt32 length = (high << 8) | byte();
  if (length < 2) return TRUE;  // a bogus length word: nothing kept, as libjpeg's own saving does
  const UInt32 body = length - 2;
  if (src->bytes_in_buffer < body) {
    // The source holds the whole stream, so this is its end: the fill reports it, and the emit
    // hook makes that fatal before anything is allocated.
    (*src->fill_input_buffer)(cinfo);
    return TRUE;
  }
  const SegmentSink* sink = static_cast<const SegmentSink*>(cinfo->client_data);
  const UInt8* at = src->next_input_byte;
  src->next_input_byte += body;
  src->bytes_in_buffer -= body;
  if (sink->inPlace) {
    sink->record->addFlashPixView(at, body);
    return TRUE;
  }
  auto* copy = static_cast<UInt8*>(std::malloc(body > 0 ? body : 1));
  // An allocation that fails skips the segment; later ones are still collected.
  if (copy == nullptr) return TRUE;
  if (body > 0) std::memcpy(copy, at, body);
  sink->record->addFlashPixData(copy, body);
  return TRUE;
}

// Every decoder step that can fail. Only complete segments are on the saved-marker list, so
// what it holds after a failure is sound. No C++ object with a destructor lives here, as a
// failure leaves by longjmp.
bool runDecoder(jpeg_decompress_struct* cinfo, ReaderErrorManager* manager, const UInt8* bytes, size_t length,
                DecodedSize* size) {
  if (setjmp(manager->jump) != 0) return false;
  jpeg_create_decompress(cinfo);
  jpeg_mem_src(cinfo, bytes, static_cast<unsigned long>(length));
  jpeg_save_markers(cinfo, kAPP1, 0xFFFF);
  jpeg_set_marker_processor(cinfo, kAPP2, copyFlashPixSegment);
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  // Gives the output size the start step would give, without reading a progressive file's scans.
  jpeg_calc_output_dimensions(cinfo);
  size->width = cinfo->output_width;
  size->height = cinfo->output_height;
  size->components = UInt32(cinfo->output_components);
  return true;
}

// Height times 4-byte-aligned row bytes; a size beyond 32 bits reads as the largest one.
UInt32 bitmapSize(const DecodedSize& size) {
  UInt64 rowBytes = (UInt64(size.width) * size.components + 3) & ~UInt64(3);
  UInt64 total = rowBytes * size.height;
  return total > std::numeric_limits<UInt32>::max() ? std::numeric_limits<UInt32>::max() : UInt32(total);
}

}  // namespace

void JpegTagReader::readTags(const std::string& path, ExImageInfo* record) {
  if (record == nullptr) return;
  std::lock_guard<std::recursive_mutex> lock(m_pTagReaderLock);
  mDataStore = record;
  // Only a regular file is a photograph; anything else under the name is never waited on.
  std::vector<UInt8> bytes;
  if (FSReadRegularFile(path, &bytes, nullptr) != noErr) return;
  readTags(path, bytes.data(), bytes.size(), record);
}

void JpegTagReader::readTags(const std::string& path, const UInt8* bytes, size_t length, ExImageInfo* record,
                             bool inPlace) {
  if (record == nullptr) return;
  std::lock_guard<std::recursive_mutex> lock(m_pTagReaderLock);
  mDataStore = record;
  // Past what libjpeg's source can be told; no photograph comes near.
  if (bytes == nullptr || length > std::numeric_limits<unsigned long>::max()) return;

  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  ReaderErrorManager manager;
  cinfo.err = jpeg_std_error(&manager.pub);
  manager.pub.error_exit = my_error_exit;
  manager.pub.output_message = ExifJpegOutputMessage;
  manager.pub.emit_message = ExifJpegEmitMessage;
  SegmentSink sink{mDataStore, inPlace};
  cinfo.client_data = &sink;

  DecodedSize size;
  bool headerRead = runDecoder(&cinfo, &manager, bytes, length, &size);

  for (jpeg_saved_marker_ptr marker = cinfo.marker_list; marker != nullptr; marker = marker->next) {
    if (marker->marker == kAPP1) readExifSegment(marker->data, marker->data_length);
  }

  if (headerRead) {
    mDataStore->setFileSize(bitmapSize(size));
    mDataStore->setPixelWidth(size.width);
    mDataStore->setPixelHeight(size.height);
  }
  mDataStore->setFileName(path);
  FSFileAttributes attributes;
  if (FSFileAttributesAtPath(path, true, &attributes) == 0 && attributes.creationDate)
    mDataStore->setCreationDate(attributes.creationDate);

  // Destroying is enough: the finish step would only complain that no scan line was read.
  jpeg_destroy_decompress(&cinfo);

  parseAudioData();
}
