// SPDX-License-Identifier: GPL-2.0-or-later
// The stored preferences every entry point reads: their domain and keys, and how each is read
// back, so that the command line needs nothing of the desktop application to honour them.
#pragma once
#include "toolbox/Core/MacTypes.h"

namespace outputs {
struct Output;
}

inline constexpr const char* kPreferenceDomain = "com.vantor.camera.prefs";
inline constexpr const char* kResizePreferenceKey = "Resize_QT_Image";
// The kind of file conversions write: a name from the table of outputs; mov when unset.
inline constexpr const char* kMovieFormatPreferenceKey = "Movie_Format";
// The width the movie's picture is scaled to when the resize preference is on.
inline constexpr SInt32 kResizeWidth = 600;

// The stored resize preference: true when it is unset or holds no boolean.
bool readResizePreference();
// The stored format preference: mov when it is unset or names no format.
const outputs::Output& readMovieFormatPreference();
// What the driver is asked to scale to: the width, or 0 for the picture's natural size.
constexpr SInt32 resizeTargetFor(bool resize) { return resize ? kResizeWidth : 0; }
