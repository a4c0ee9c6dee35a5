// SPDX-License-Identifier: GPL-2.0-or-later
// The entry points of LibRaw's module: what RawPreview asks of LibRaw, as plain functions that a
// loader finds by name. Each answers a RawPreviewOutcome and never throws.
#pragma once
#include <cstddef>
#include <cstdint>

#include "media/RawPreview.h"

// The module's file name, and where it is installed relative to the program's folder (set by the
// build).
#define STILL2MOV_LIBRAW_MODULE_NAME "still2mov-libraw.so"
#ifndef STILL2MOV_LIBRAW_MODULE
#define STILL2MOV_LIBRAW_MODULE STILL2MOV_LIBRAW_MODULE_NAME
#endif

// Weak: a binary that links the module's code in (the fuzz target) calls it directly; the program
// loads the module instead.
extern "C" {
// The preview as LibRaw hands it over: a JPEG's stream unchecked (the caller reads its frame
// header and sets its size), or an 8-bit bitmap checked whole.
__attribute__((weak)) int Still2movLibRawPreview(const std::uint8_t* data, std::size_t size, media::RawPreview* out);
__attribute__((weak)) int Still2movLibRawIdentify(const std::uint8_t* data, std::size_t size);
}
