// Resampling a region of a picture to an exact size, and turning a picture by quarter turns.
// Reduction averages the covered area; enlargement interpolates bilinearly.
#pragma once
#include "toolbox/Core/MacTypes.h"
#include "toolbox/Movies/PixelImage.h"

// The region [x0, x1) by [y0, y1), in source pixels (fractions allowed), scaled to
// outWidth by outHeight. paramErr for an empty region, a region outside the picture, or a
// non-positive output size.
OSErr ResampleRegion(const PixelImage& src, double x0, double y0, double x1, double y1, int outWidth, int outHeight,
                     PixelImage* out);

// Output pixel (x, y) takes source pixel (sx, sy): without transpose sx = x, sy = y; with it
// sx = y, sy = x; then flipX mirrors sx and flipY mirrors sy within the source.
void OrientImage(const PixelImage& src, bool transpose, bool flipX, bool flipY, PixelImage* out);
