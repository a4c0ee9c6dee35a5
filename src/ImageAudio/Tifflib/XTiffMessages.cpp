// SPDX-License-Identifier: GPL-2.0-or-later
// The TIFF library's message handlers: silent by default (its own print to standard error),
// printing "module: text" lines when asked.
#include "ImageAudio/Tifflib/XTiffMessages.h"

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>

namespace {
bool policyChosen = false;

void silent(const char*, const char*, va_list) {}

void printError(const char* module, const char* fmt, va_list ap) {
  if (module != nullptr) std::fprintf(stderr, "%s: ", module);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
}

void printWarning(const char* module, const char* fmt, va_list ap) {
  if (module != nullptr) std::fprintf(stderr, "%s: ", module);
  std::fputs("Warning, ", stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
}

void install(bool show) {
  policyChosen = true;
  TIFFSetErrorHandler(show ? printError : silent);
  TIFFSetWarningHandler(show ? printWarning : silent);
  TIFFSetErrorHandlerExt(nullptr);
  TIFFSetWarningHandlerExt(nullptr);
}

// Silence holds from start-up, before anyone opens a TIFF stream.
[[maybe_unused]] const bool silencedAtStart = (XTIFFEnsureMessagePolicy(), true);
}  // namespace

void XTIFFShowMessages(bool show) { install(show); }

void XTIFFEnsureMessagePolicy() {
  if (!policyChosen) install(false);
}
