// SPDX-License-Identifier: GPL-2.0-or-later
// Shared by the TIFF layer tests: open a built stream through the memory stream, and capture
// the library's messages as "module: text" lines.
#pragma once
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ImageAudio/Tifflib/MemoryStream.h"
#include "ImageAudio/Tifflib/XTiffExtension.h"
#include "ImageAudio/Tifflib/XTiffMessages.h"

namespace tifftest {
inline std::vector<std::string>& messages() {
  static std::vector<std::string> m;
  return m;
}

inline void capture(const char* kind, const char* module, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  messages().push_back(std::string(kind) + (module ? module : "") + ": " + text);
}
inline void captureError(const char* module, const char* fmt, va_list ap) { capture("E ", module, fmt, ap); }
inline void captureWarning(const char* module, const char* fmt, va_list ap) { capture("W ", module, fmt, ap); }

// Captures messages while alive; silence again afterwards.
struct MessageCapture {
  MessageCapture() {
    XTIFFInitialize();
    messages().clear();
    TIFFSetErrorHandler(captureError);
    TIFFSetWarningHandler(captureWarning);
  }
  ~MessageCapture() { XTIFFShowMessages(false); }
  int count(const std::string& line) const {
    int n = 0;
    for (const std::string& m : messages()) n += m == line;
    return n;
  }
  std::string all() const {
    std::string s;
    for (const std::string& m : messages()) s += m + "\n";
    return s;
  }
};

// A writer's block as it was when its stream was closed; the test frees it.
inline void*& closedBlock() {
  static void* block = nullptr;
  return block;
}
inline int closeKeepingBlock(thandle_t h) {
  int32_t size = 0;
  mfs_map(static_cast<int32_t>(reinterpret_cast<intptr_t>(h)), &closedBlock(), &size);
  return mfs_close(h);
}

// A stream over bytes that outlive it; the handle owns the stream once opened.
struct OpenStream {
  explicit OpenStream(const std::string& bytes, const char* mode = "r") : data(bytes) {
    writer = mode[0] != 'r';
    fd = writer ? mfs_open(nullptr, 0, mode) : mfs_open(data.empty() ? &empty : data.data(), int32_t(data.size()), mode);
    tif = XTIFFClientOpenNoRead("APP1", mode, mfs_handle(fd), mfs_read, mfs_write, mfs_lseek,
                                writer ? closeKeepingBlock : static_cast<TIFFCloseProc>(mfs_close), mfs_size, mfs_map, mfs_unmap);
  }
  ~OpenStream() {
    closedBlock() = nullptr;
    XTIFFClose(tif);
    if (writer) std::free(closedBlock());
  }
  bool writer = false;
  std::string data;
  char empty = 0;
  int32_t fd = -1;
  TIFF* tif = nullptr;
};
}  // namespace tifftest
