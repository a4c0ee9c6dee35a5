// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: the whole conversion, as fuzz_conversion, writing an MP4 (H.264 and AAC through
// libav*) instead of a QuickTime movie. Its seeds are the conversion target's.
#define STILL2MOV_FUZZ_FORMAT "mp4"
#include "fuzz_conversion.cpp"
