// SPDX-License-Identifier: GPL-2.0-or-later
// One writer for the whole test program, installed at the first capture (GLib takes one only).
#include "support/DebugLogCapture.h"

#include <glib.h>

#include <cstring>
#include <mutex>

namespace testsupport {
namespace {
std::mutex gMutex;
std::string* gLines = nullptr;  // while a capture is open

GLogWriterOutput writer(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer data) {
  const char* domain = nullptr;
  const char* message = nullptr;
  for (gsize i = 0; i < count; ++i) {
    if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) domain = static_cast<const char*>(fields[i].value);
    if (std::strcmp(fields[i].key, "MESSAGE") == 0) message = static_cast<const char*>(fields[i].value);
  }
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (gLines != nullptr && domain != nullptr && std::strcmp(domain, "still2mov") == 0 && message != nullptr) {
      *gLines += message;
      *gLines += '\n';
      return G_LOG_WRITER_HANDLED;
    }
  }
  return g_log_writer_default(level, fields, count, data);
}
}  // namespace

DebugLogCapture::DebugLogCapture() {
  static std::once_flag installed;
  std::call_once(installed, [] { g_log_set_writer_func(writer, nullptr, nullptr); });
  std::lock_guard<std::mutex> lock(gMutex);
  delete gLines;
  gLines = new std::string;
}

DebugLogCapture::~DebugLogCapture() {
  std::lock_guard<std::mutex> lock(gMutex);
  delete gLines;
  gLines = nullptr;
}

std::string DebugLogCapture::text() const {
  std::lock_guard<std::mutex> lock(gMutex);
  return gLines != nullptr ? *gLines : std::string();
}

}  // namespace testsupport
